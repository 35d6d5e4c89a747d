// The folder watch: overlapped ReadDirectoryChangesW on a worker thread that
// waits on its result and on a stop event. A rename arrives as its two halves.
#include "files/watch.h"
#include "files/listing.h"
#include <cstdlib>
#include <cwchar>

struct FolderWatch {
    HANDLE thread;
    HANDLE stop;
    HANDLE armed;  // set once the first read is issued: changes from then on are seen
    HANDLE dir;
    HWND hwnd;
    uint32_t generation;
    WCHAR folder[260];
};

static void post_change(FolderWatch *w, int32_t kind, const WCHAR *name, size_t name_len)
{
    auto *c = (FolderChange *)calloc(1, sizeof(FolderChange));
    if (!c) return;
    c->generation = w->generation;
    c->kind = kind;
    if (name) {
        size_t folder_len = wcslen(w->folder);
        bool slash = folder_len && w->folder[folder_len - 1] == L'\\';
        if (folder_len + 1 + name_len > 259) {  // never cut into another file's name
            free(c);
            return;
        }
        wmemcpy(c->path, w->folder, folder_len);
        if (!slash) c->path[folder_len++] = L'\\';
        wmemcpy(c->path + folder_len, name, name_len);
        c->path[folder_len + name_len] = 0;
        if (!files_is_image_ext(c->path)) {
            free(c);
            return;
        }
    }
    if (!PostMessageW(w->hwnd, WM_FOLDER_CHANGE, 0, (LPARAM)c)) free(c);
}

static int32_t kind_of(DWORD action)
{
    switch (action) {
    case FILE_ACTION_ADDED:
    case FILE_ACTION_RENAMED_NEW_NAME: return kChangeAdded;
    case FILE_ACTION_REMOVED:
    case FILE_ACTION_RENAMED_OLD_NAME: return kChangeRemoved;
    case FILE_ACTION_MODIFIED: return kChangeModified;
    default: return 0;
    }
}

static void post_all(FolderWatch *w, const uint8_t *buffer, DWORD bytes)
{
    if (!bytes) {  // the system's buffer overflowed: changes were lost
        post_change(w, kChangeLost, nullptr, 0);
        return;
    }
    for (DWORD at = 0; at + sizeof(FILE_NOTIFY_INFORMATION) <= bytes;) {
        auto *info = (const FILE_NOTIFY_INFORMATION *)(buffer + at);
        if (at + offsetof(FILE_NOTIFY_INFORMATION, FileName) + info->FileNameLength > bytes) break;
        int32_t kind = kind_of(info->Action);
        if (kind) post_change(w, kind, info->FileName, info->FileNameLength / sizeof(WCHAR));
        if (!info->NextEntryOffset) break;
        at += info->NextEntryOffset;
    }
}

static DWORD WINAPI watch_proc(void *arg)
{
    auto *w = (FolderWatch *)arg;
    static constexpr DWORD kFilter = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_SIZE |
                                     FILE_NOTIFY_CHANGE_LAST_WRITE;
    static constexpr DWORD kBufferBytes = 32768;
    auto *buffer = (uint8_t *)malloc(kBufferBytes);
    OVERLAPPED ov = {};
    ov.hEvent = buffer ? CreateEventW(nullptr, TRUE, FALSE, nullptr) : nullptr;
    if (!ov.hEvent) {
        free(buffer);
        return 0;
    }
    for (;;) {
        ResetEvent(ov.hEvent);
        BOOL issued = ReadDirectoryChangesW(w->dir, buffer, kBufferBytes, FALSE, kFilter, nullptr, &ov, nullptr);
        SetEvent(w->armed);
        if (!issued) break;
        HANDLE waits[2] = {w->stop, ov.hEvent};
        if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0 + 1) {
            CancelIo(w->dir);
            DWORD ignored;
            GetOverlappedResult(w->dir, &ov, &ignored, TRUE);
            break;
        }
        DWORD bytes = 0;
        if (!GetOverlappedResult(w->dir, &ov, &bytes, FALSE)) break;
        post_all(w, buffer, bytes);
    }
    CloseHandle(ov.hEvent);
    free(buffer);
    return 0;
}

FolderWatch *watch_start(const WCHAR *folder, HWND hwnd, uint32_t generation)
{
    if (!folder || !folder[0] || wcslen(folder) >= 259) return nullptr;
    auto *w = (FolderWatch *)calloc(1, sizeof(FolderWatch));
    if (!w) return nullptr;
    w->hwnd = hwnd;
    w->generation = generation;
    lstrcpynW(w->folder, folder, 260);
    w->dir = CreateFileW(folder, FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr);
    w->stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    w->armed = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (w->dir != INVALID_HANDLE_VALUE && w->stop && w->armed)
        w->thread = CreateThread(nullptr, 0, watch_proc, w, 0, nullptr);
    if (!w->thread) {
        if (w->dir != INVALID_HANDLE_VALUE) CloseHandle(w->dir);
        if (w->stop) CloseHandle(w->stop);
        if (w->armed) CloseHandle(w->armed);
        free(w);
        return nullptr;
    }
    // The caller lists the folder next: a picture added before the first read would be missed.
    WaitForSingleObject(w->armed, 1000);
    return w;
}

void watch_stop(FolderWatch *w)
{
    if (!w) return;
    SetEvent(w->stop);
    WaitForSingleObject(w->thread, INFINITE);
    CloseHandle(w->thread);
    CloseHandle(w->dir);
    CloseHandle(w->stop);
    CloseHandle(w->armed);
    free(w);
}
