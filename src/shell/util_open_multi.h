// The multi-selection open dialog with an explicit owner.
#pragma once
#include "app/app.h"

// Up to 32 full paths, path k in the 260-character slot at buffer + k * 260; a
// null owner means the main window. Returns 1 when at least one path came back.
int util_open_dialog_multi_owner(App *app, HWND owner, WCHAR *buffer, int capacity, int *out_count);
