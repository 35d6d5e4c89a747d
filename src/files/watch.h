// Watching the open folder for pictures that other programs add, remove,
// rename or rewrite; each change reaches the window as a message.
#pragma once
#include <windows.h>
#include <cstdint>

// lParam: a FolderChange the receiver frees with free().
constexpr UINT WM_FOLDER_CHANGE = WM_APP + 0x51;

enum : int32_t { kChangeAdded = 1, kChangeRemoved = 2, kChangeModified = 3, kChangeLost = 4 };

struct FolderChange {
    uint32_t generation;
    int32_t kind;      // kChangeLost: changes were missed, list the folder again
    WCHAR path[260];   // the picture's full path; empty for kChangeLost
};

struct FolderWatch;
// Watches folder on a new thread; null when the folder cannot be watched.
FolderWatch *watch_start(const WCHAR *folder, HWND hwnd, uint32_t generation);
void watch_stop(FolderWatch *w);
