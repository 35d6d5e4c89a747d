// The usage report and the update check, run on a background thread each time the
// About box opens; a newer version is announced to the main window.
#pragma once
#include <windows.h>
#include "version.h"

// Posted to the main window when a newer version was found; wParam and lParam 0.
constexpr UINT WM_UPDATE_FOUND = WM_APP + 0x15;
constexpr int kMachineMax = 80;  // machine code units, NUL included
constexpr int kQueryMax = 2048;  // bytes of a percent-encoded query, NUL included

// Starts the report and the check on a thread of their own; 0 when refused (no window,
// a notice is pending, or a check is still running) or when the thread cannot start.
int online_start_async(HWND hwnd);
// 1 while a started check has not ended.
int online_busy();
// Takes the pending notice's version text; 0 and an empty buffer when none is pending.
int online_take_update(WCHAR *buf, int cap);
// The main window's answer to WM_UPDATE_FOUND: asks whether to open the download page.
void online_update_prompt(HWND owner);
const WCHAR *online_web();

// The update check on the calling thread: 1 and the newer version text, else 0 and "".
int online_check_update(WCHAR *buf, int cap);
// Reads the version out of an update document and compares it with ours: 1 and the
// (sanitised) text when it is newer, else 0 and "".
int online_parse_update(const char *body, WCHAR *buf, int cap);
void online_report();
// The machine code, read or made on first use.
const WCHAR *online_machine();
// Reads the stored machine code, or makes one from the volume serial (kMachineMax units).
void online_machine_read(WCHAR *out);

int winhttp_load();
// One GET; the body's byte count, the body NUL-terminated in buf.
int http_get(const WCHAR *url, char *buf, int cap);
// Appends text percent-encoded as UTF-8 to a kQueryMax-byte query at *pos.
void enc_w(char *buf, int *pos, const WCHAR *text);
