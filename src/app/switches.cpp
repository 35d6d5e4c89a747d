// Open-with registration as the setup program asks for it. The registry writes
// stay in shell/assoc, shared with the menu items.
#include "app/switches.h"
#include "shell/assoc.h"
#include <shellapi.h>

namespace {
struct SwitchName {
    const WCHAR *text;
    int which;
};
constexpr SwitchName kSwitchNames[] = {{L"--add-open-with", kSwitchAddOpenWith},
                                       {L"--remove-open-with", kSwitchRemoveOpenWith}};
}  // namespace

int switch_from_args(int argc, WCHAR **argv)
{
    // With anything beside it, a switch-like name is left to the picture arguments.
    if (argc != 2 || !argv || !argv[1]) return kSwitchNone;
    for (const SwitchName &name : kSwitchNames)
        if (lstrcmpiW(argv[1], name.text) == 0) return name.which;
    return kSwitchNone;
}

int switch_run(int which)
{
    switch (which) {
    case kSwitchAddOpenWith: return assoc_install() ? 0 : 1;
    case kSwitchRemoveOpenWith: return assoc_remove() ? 0 : 1;
    default: return 1;
    }
}

int switch_take_command_line(int *exit_code)
{
    int argc = 0;
    WCHAR **argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv) return 0;
    int which = switch_from_args(argc, argv);
    LocalFree(argv);
    if (which == kSwitchNone) return 0;
    *exit_code = switch_run(which);
    return 1;
}
