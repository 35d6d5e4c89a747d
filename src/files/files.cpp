// The folder queue: fixed storage inside the App record, natural file-name order.
#include "files/files.h"
#include <gdiplus.h>
#include <shlwapi.h>
#include <cstdlib>
#include <cwchar>
#include <cwctype>

static constexpr const WCHAR *kExts[] = {L".jpg", L".jpeg", L".jpe",  L".jfif", L".png", L".bmp", L".gif",
                                         L".tif", L".tiff", L".webp", L".heic", L".heif", L".hif", L".avif"};

int files_is_image_ext(const WCHAR *path)
{
    if (!path) return 0;
    const WCHAR *ext = PathFindExtensionW(path);
    if (!*ext) return 0;
    for (const WCHAR *known : kExts)
        if (!_wcsicmp(ext, known)) return 1;
    return 0;
}

int files_path_in_queue(const App *app, const WCHAR *path)
{
    if (!path) return -1;
    for (int i = 0; i < app->queue_count; ++i)
        if (!_wcsicmp(app->queue_paths[i], path)) return i;
    return -1;
}

int files_queue_add(App *app, const WCHAR *path)
{
    if (!path || !path[0]) return -1;
    // Compared as stored, so a path cut to the slot matches its own earlier copy.
    WCHAR stored[kPathMax];
    lstrcpynW(stored, path, kPathMax);
    int found = files_path_in_queue(app, stored);
    if (found >= 0) return found;
    if (app->queue_count >= kQueueMax) return -1;
    lstrcpynW(app->queue_paths[app->queue_count], stored, kPathMax);
    return app->queue_count++;
}

static bool is_digit(WCHAR c)
{
    return iswctype(c, _DIGIT) != 0;
}

static int digit_run(const WCHAR *p)
{
    int n = 0;
    while (p[n] && is_digit(p[n])) ++n;
    return n;
}

int que_cmp(const void *a, const void *b)
{
    const WCHAR *p = PathFindFileNameW((const WCHAR *)a);
    const WCHAR *q = PathFindFileNameW((const WCHAR *)b);
    for (;;) {
        if (!*p) return *q ? -1 : 0;
        if (!*q) return 1;
        if (!is_digit(*p) || !is_digit(*q)) {
            if (*p != *q) return (uint16_t)*p < (uint16_t)*q ? -1 : 1;
            ++p;
            ++q;
            continue;
        }
        while (*p == L'0') ++p;
        while (*q == L'0') ++q;
        int np = digit_run(p), nq = digit_run(q);
        if (np != nq) return np < nq ? -1 : 1;
        int c = wcsncmp(p, q, (size_t)np);
        if (c) return c;
        p += np;
        q += nq;
    }
}

void thumbs_release_one(App *app, int index)
{
    if (index < 0 || index >= kQueueMax) return;
    if (app->thumb_bitmap[index]) Gdiplus::DllExports::GdipDisposeImage(app->thumb_bitmap[index]);
    app->thumb_bitmap[index] = nullptr;
    app->thumb_ready_a[index] = 0;
    app->thumb_ready_b[index] = 0;
    app->thumb_failed[index] = 0;
}

void thumbs_release_all(App *app)
{
    for (int i = 0; i < kQueueMax; ++i) thumbs_release_one(app, i);
}

// Adds the folder's pictures until the scan's share of the queue is full.
static void list_folder(App *app, const WCHAR *folder)
{
    WCHAR pattern[kPathMax];
    _snwprintf(pattern, kPathMax - 1, L"%s\\*", folder);
    pattern[kPathMax - 1] = 0;
    WIN32_FIND_DATAW fd;
    HANDLE find = FindFirstFileW(pattern, &fd);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        if ((fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || !files_is_image_ext(fd.cFileName)) continue;
        if (app->queue_count > 62) break;
        WCHAR joined[MAX_PATH];
        if (PathCombineW(joined, folder, fd.cFileName)) files_queue_add(app, joined);
    } while (FindNextFileW(find, &fd));
    FindClose(find);
}

int files_dir_scan(App *app, const WCHAR *path)
{
    app->queue_count = 0;
    app->queue_index = -1;
    app->queue_dir[0] = 0;
    thumbs_release_all(app);
    if (!path || !path[0]) return 0;

    WCHAR folder[kPathMax];
    lstrcpynW(folder, path, kPathMax);
    PathRemoveFileSpecW(folder);
    if (!folder[0]) return 0;
    lstrcpynW(app->queue_dir, folder, kPathMax);

    app->queue_index = files_queue_add(app, path);
    list_folder(app, folder);
    if (app->queue_count > 1) qsort(app->queue_paths, (size_t)app->queue_count, sizeof app->queue_paths[0], que_cmp);

    WCHAR stored[kPathMax];
    lstrcpynW(stored, path, kPathMax);
    int index = files_path_in_queue(app, stored);
    if (index >= 0)
        app->queue_index = index;
    else if (app->queue_index < 0 && app->queue_count > 0)
        app->queue_index = 0;
    return app->queue_count;
}
