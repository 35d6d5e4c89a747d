// Crash reports: an exception that no handler takes leaves a text report and a
// minidump in a folder named crash beside the executable, then the process ends.
#pragma once
#include <windows.h>

// The process's unhandled-exception filter; always EXCEPTION_EXECUTE_HANDLER.
LONG WINAPI ps_crash_filter(EXCEPTION_POINTERS *ep);
// Installs ps_crash_filter: the first thing start-up does after zeroing the record.
void crash_install();
