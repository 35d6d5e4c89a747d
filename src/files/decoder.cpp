// The decode worker: a wanted list under a lock, one picture at a time,
// below the window's priority so that a picture the user asks for wins.
#include "files/decoder.h"
#include "codec/codec.h"
#include "files/pic_cache.h"
#include <objbase.h>
#include <cstdlib>
#include <cwchar>

struct Decoder {
    HANDLE thread;
    HANDLE wake;    // set when the list changes or the worker must stop
    HANDLE posted;  // set after each result
    SRWLOCK lock;
    WCHAR want[kDecoderWantMax][260];
    int32_t want_count;
    WCHAR current[260];  // being decoded, empty when idle
    uint32_t generation;
    volatile LONG stop;
    HWND hwnd;
    UINT msg;
    uint32_t max_side;
    int32_t fit_w, fit_h;  // the box whole pictures are also fitted into
    void *scratch;  // the resampler's rows, for the reduced copies
    size_t scratch_cap;
};

void decoded_free(Decoded *d)
{
    if (!d) return;
    image_free(d->image);
    image_pyramid_free(&d->copies);
    free(d);
}

static bool wanted_locked(const Decoder *d, const WCHAR *path, uint32_t generation)
{
    if (d->generation == generation) return true;
    for (int i = 0; i < d->want_count; ++i)
        if (!_wcsicmp(d->want[i], path)) return true;
    return false;
}

// Takes the first wanted path into current; false when there is none.
static bool next_job(Decoder *d, WCHAR *path, uint32_t *generation)
{
    AcquireSRWLockExclusive(&d->lock);
    bool any = d->want_count > 0;
    if (any) {
        lstrcpynW(path, d->want[0], 260);
        lstrcpynW(d->current, path, 260);
        *generation = d->generation;
        --d->want_count;
        memmove(d->want[0], d->want[1], (size_t)d->want_count * sizeof d->want[0]);
    }
    ReleaseSRWLockExclusive(&d->lock);
    return any;
}

static void decode_one(Decoder *d, const WCHAR *path, uint32_t generation)
{
    auto *r = (Decoded *)calloc(1, sizeof(Decoded));
    if (!r) return;
    lstrcpynW(r->path, path, 260);
    r->stamp = pic_file_stamp(path);
    WCHAR err[300];
    r->image = d->max_side ? codec_load_thumb(path, d->max_side, err, 300) : codec_load(path, err, 300);
    // The viewer draws a large picture from its reduced copies and first shows it fitted:
    // made here, they cost the window nothing.
    if (r->image && !d->max_side) {
        AcquireSRWLockShared(&d->lock);
        int box_w = d->fit_w, box_h = d->fit_h;
        ReleaseSRWLockShared(&d->lock);
        image_pyramid_build_fit(r->image, &r->copies, box_w, box_h, &d->scratch, &d->scratch_cap);
    }
    AcquireSRWLockExclusive(&d->lock);
    bool keep = !d->stop && wanted_locked(d, path, generation);
    r->generation = d->generation;
    d->current[0] = 0;
    ReleaseSRWLockExclusive(&d->lock);
    if (!keep || !PostMessageW(d->hwnd, d->msg, 0, (LPARAM)r)) decoded_free(r);
    SetEvent(d->posted);
}

static DWORD WINAPI decoder_proc(void *arg)
{
    auto *d = (Decoder *)arg;
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    WCHAR path[260];
    uint32_t generation;
    while (!d->stop) {
        if (!next_job(d, path, &generation)) {
            WaitForSingleObject(d->wake, INFINITE);
            continue;
        }
        decode_one(d, path, generation);
    }
    CoUninitialize();
    return 0;
}

Decoder *decoder_start(HWND hwnd, UINT msg, uint32_t max_side)
{
    auto *d = (Decoder *)calloc(1, sizeof(Decoder));
    if (!d) return nullptr;
    InitializeSRWLock(&d->lock);
    d->hwnd = hwnd;
    d->msg = msg;
    d->max_side = max_side;
    d->wake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    d->posted = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    d->thread = d->wake && d->posted ? CreateThread(nullptr, 0, decoder_proc, d, 0, nullptr) : nullptr;
    if (!d->thread) {
        if (d->wake) CloseHandle(d->wake);
        if (d->posted) CloseHandle(d->posted);
        free(d);
        return nullptr;
    }
    SetThreadPriority(d->thread, THREAD_PRIORITY_BELOW_NORMAL);
    return d;
}

void decoder_want(Decoder *d, const WCHAR *const *paths, int n, uint32_t generation)
{
    if (!d) return;
    if (n > kDecoderWantMax) n = kDecoderWantMax;
    AcquireSRWLockExclusive(&d->lock);
    d->want_count = 0;
    for (int i = 0; i < n; ++i)
        if (paths[i] && paths[i][0] && _wcsicmp(paths[i], d->current))
            lstrcpynW(d->want[d->want_count++], paths[i], 260);
    d->generation = generation;
    ReleaseSRWLockExclusive(&d->lock);
    SetEvent(d->wake);
}

void decoder_set_fit(Decoder *d, int box_w, int box_h)
{
    if (!d) return;
    AcquireSRWLockExclusive(&d->lock);
    d->fit_w = box_w;
    d->fit_h = box_h;
    ReleaseSRWLockExclusive(&d->lock);
}

int decoder_busy_with(Decoder *d, const WCHAR *path)
{
    if (!d || !path) return 0;
    AcquireSRWLockShared(&d->lock);
    bool busy = !_wcsicmp(d->current, path);
    for (int i = 0; !busy && i < d->want_count; ++i) busy = !_wcsicmp(d->want[i], path);
    ReleaseSRWLockShared(&d->lock);
    return busy;
}

int decoder_wait_for(Decoder *d, const WCHAR *path, DWORD ms)
{
    if (!d || !path) return 0;
    DWORD start = GetTickCount();
    for (;;) {
        AcquireSRWLockShared(&d->lock);
        bool current = !_wcsicmp(d->current, path);
        ReleaseSRWLockShared(&d->lock);
        if (!current) return 0;
        DWORD spent = GetTickCount() - start;
        if (spent >= ms) return 0;
        if (WaitForSingleObject(d->posted, ms - spent) == WAIT_OBJECT_0) {
            AcquireSRWLockShared(&d->lock);
            bool done = _wcsicmp(d->current, path) != 0;
            ReleaseSRWLockShared(&d->lock);
            if (done) return 1;
        }
    }
}

void decoder_stop(Decoder *d)
{
    if (!d) return;
    InterlockedExchange(&d->stop, 1);
    SetEvent(d->wake);
    WaitForSingleObject(d->thread, INFINITE);
    CloseHandle(d->thread);
    CloseHandle(d->wake);
    CloseHandle(d->posted);
    free(d->scratch);
    free(d);
}
