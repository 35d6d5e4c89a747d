// The folder listing: large-fetch FindFirstFileExW, names checked against the
// path limit before they are joined, sorting on the worker.
#include "files/listing.h"
#include <shlwapi.h>
#include <cstdlib>
#include <cwchar>

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

int files_list_pattern(const WCHAR *folder, WCHAR *out, int cap)
{
    if (cap < 1) return 0;
    out[0] = 0;
    if (!folder || !folder[0]) return 0;
    size_t n = wcslen(folder);
    bool slash = folder[n - 1] == L'\\' || folder[n - 1] == L'/';
    size_t need = n + (slash ? 1 : 2) + 1;
    if (need > (size_t)cap) return 0;
    wmemcpy(out, folder, n);
    if (!slash) out[n++] = L'\\';
    out[n++] = L'*';
    out[n] = 0;
    return 1;
}

static void add_name(FileQueue *q, const WCHAR *folder, size_t folder_len, const WCHAR *name)
{
    WCHAR joined[kQueuePathMax + 1];
    size_t n = wcslen(name);
    bool slash = folder[folder_len - 1] == L'\\';
    size_t total = folder_len + (slash ? 0 : 1) + n;
    if (total > (size_t)kQueuePathMax) return;  // never cut: the stub could name another file
    wmemcpy(joined, folder, folder_len);
    size_t at = folder_len;
    if (!slash) joined[at++] = L'\\';
    wmemcpy(joined + at, name, n + 1);
    queue_add(q, joined);
}

int listing_run(const WCHAR *folder, FileQueue *q, const volatile LONG *cancel)
{
    WCHAR pattern[kQueuePathMax + 1];
    if (!files_list_pattern(folder, pattern, kQueuePathMax + 1)) return -1;
    WIN32_FIND_DATAW fd;
    HANDLE find = FindFirstFileExW(pattern, FindExInfoBasic, &fd, FindExSearchNameMatch, nullptr,
                                   FIND_FIRST_EX_LARGE_FETCH);
    if (find == INVALID_HANDLE_VALUE) return -1;
    size_t folder_len = wcslen(folder);
    do {
        if (cancel && *cancel) break;
        if ((fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || !files_is_image_ext(fd.cFileName)) continue;
        add_name(q, folder, folder_len, fd.cFileName);
    } while (FindNextFileW(find, &fd));
    FindClose(find);
    if (cancel && *cancel) return -1;
    queue_sort(q);
    return q->count;
}

void listing_result_free(ListingResult *r)
{
    if (!r) return;
    queue_free(&r->queue);
    free(r);
}

struct ListingJob {
    volatile LONG cancel;
    volatile LONG refs;  // the worker's and the window's
    HANDLE thread;
    HWND hwnd;
    uint32_t generation;
    WCHAR folder[260];
};

static void job_release(ListingJob *job)
{
    if (InterlockedDecrement(&job->refs) > 0) return;
    if (job->thread) CloseHandle(job->thread);
    free(job);
}

static DWORD WINAPI listing_proc(void *arg)
{
    auto *job = (ListingJob *)arg;
    auto *r = (ListingResult *)calloc(1, sizeof(ListingResult));
    if (r) {
        r->generation = job->generation;
        lstrcpynW(r->folder, job->folder, 260);
        r->ok = listing_run(job->folder, &r->queue, &job->cancel) >= 0;
        if (job->cancel || !PostMessageW(job->hwnd, WM_LISTING_DONE, 0, (LPARAM)r)) listing_result_free(r);
    }
    job_release(job);
    return 0;
}

ListingJob *listing_start(const WCHAR *folder, HWND hwnd, uint32_t generation)
{
    auto *job = (ListingJob *)calloc(1, sizeof(ListingJob));
    if (!job) return nullptr;
    job->refs = 2;
    job->hwnd = hwnd;
    job->generation = generation;
    lstrcpynW(job->folder, folder, 260);
    HANDLE thread = CreateThread(nullptr, 0, listing_proc, job, CREATE_SUSPENDED, nullptr);
    if (!thread) {
        free(job);
        return nullptr;
    }
    job->thread = thread;
    ResumeThread(thread);
    return job;
}

int listing_wait(ListingJob *job, DWORD ms)
{
    return job && WaitForSingleObject(job->thread, ms) == WAIT_OBJECT_0;
}

void listing_cancel(ListingJob *job)
{
    if (!job) return;
    InterlockedExchange(&job->cancel, 1);
    job_release(job);
}

int listing_folder_of(const WCHAR *path, WCHAR *folder)
{
    folder[0] = 0;
    if (!path || !path[0] || wcslen(path) > (size_t)kQueuePathMax) return 0;
    lstrcpynW(folder, path, 260);
    PathRemoveFileSpecW(folder);
    return folder[0] != 0;
}

int listing_scan_file(const WCHAR *path, FileQueue *q, int *index)
{
    queue_clear(q);
    *index = -1;
    WCHAR folder[260];
    if (!listing_folder_of(path, folder)) return 0;
    queue_add(q, path);
    listing_run(folder, q, nullptr);
    queue_sort(q);
    *index = queue_find(q, path);
    return q->count;
}
