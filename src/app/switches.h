// Command-line switches the setup program runs Veldmoor.exe with: they do one job
// without a window and end, through the same code as the menu items.
#pragma once
#include <windows.h>

enum : int { kSwitchNone = 0, kSwitchAddOpenWith = 1, kSwitchRemoveOpenWith = 2 };

// The switch an argument list (argv[0] included) asks for; only a lone first argument counts.
int switch_from_args(int argc, WCHAR **argv);
// Does the switch's job; returns the exit code, 0 when done.
int switch_run(int which);
// Start-up: 1 and the exit code when this process's command line was a switch, else 0.
int switch_take_command_line(int *exit_code);
