// Listing, watching, thumbnails and decoding ahead for the open folder.
#include "files/browse.h"
#include <cstdlib>
#include <cwchar>
#include <initializer_list>

static constexpr size_t kAheadFloor = 32u << 20;  // room for two pictures of at least this size
static constexpr DWORD kAheadWaitMs = 5000;

static size_t quarter_of_memory()
{
    MEMORYSTATUSEX m = {sizeof m};
    if (!GlobalMemoryStatusEx(&m)) return 256u << 20;
    uint64_t quarter = m.ullTotalPhys / 4;
    return quarter > SIZE_MAX ? SIZE_MAX : (size_t)quarter;
}

FolderWork *browse_work(App *app)
{
    if (app->folder) return app->folder;
    auto *w = (FolderWork *)calloc(1, sizeof(FolderWork));
    if (!w) return nullptr;
    pic_cache_init(&w->thumb_cache, kThumbBudget);
    pic_cache_init(&w->ahead_cache, 2 * kAheadFloor);
    w->step = 1;
    app->folder = w;
    return w;
}

static void list_here(App *app);

static void stop_folder_workers(FolderWork *w)
{
    w->list_pending = 0;
    listing_cancel(w->listing);
    w->listing = nullptr;
    watch_stop(w->watch);
    w->watch = nullptr;
}

void browse_open(App *app, const WCHAR *path)
{
    FolderWork *w = browse_work(app);
    if (w) {
        stop_folder_workers(w);
        ++w->generation;
        w->ahead_largest = 0;
        if (w->thumbs) decoder_want(w->thumbs, nullptr, 0, w->generation);
        if (w->ahead) decoder_want(w->ahead, nullptr, 0, w->generation);
    }
    queue_clear(&app->queue);
    app->queue_index = -1;
    if (!listing_folder_of(path, app->queue_dir)) return;
    app->queue_index = queue_add(&app->queue, path);
    // The opened picture shows first: a big folder's listing would slow its decoding and paint.
    if (w && app->hwnd && SetTimer(app->hwnd, kTimerListing, USER_TIMER_MINIMUM, nullptr)) {
        w->list_pending = 1;
        return;
    }
    list_here(app);
}

// Lists the folder on this thread (no window, or no worker could start).
static void list_here(App *app)
{
    WCHAR shown[kPathMax];
    lstrcpynW(shown, queue_path(&app->queue, app->queue_index), kPathMax);
    listing_run(app->queue_dir, &app->queue, nullptr);
    app->queue_index = queue_find(&app->queue, shown);
    if (app->queue_index < 0 && app->queue.count > 0) app->queue_index = 0;
}

static void start_listing(App *app, FolderWork *w)
{
    w->gone_count = 0;
    w->listing = listing_start(app->queue_dir, app->hwnd, w->generation);
}

int browse_listing_timer(App *app)
{
    KillTimer(app->hwnd, kTimerListing);
    FolderWork *w = app->folder;
    if (!w || !w->list_pending) return kBrowseNothing;
    w->list_pending = 0;
    // Watched first: what changes while the listing runs is seen too.
    w->watch = watch_start(app->queue_dir, app->hwnd, w->generation);
    start_listing(app, w);
    if (w->listing) return kBrowseNothing;
    list_here(app);
    return kBrowseQueue;
}

int browse_listing(const App *app)
{
    return app->folder && (app->folder->listing || app->folder->list_pending);
}

// The listing's sorted queue replaces what was known; entries known only here (other
// folders' files opened together, pictures that arrived meanwhile) follow it.
static int take_listing(App *app, FolderWork *w, ListingResult *r)
{
    listing_cancel(w->listing);
    w->listing = nullptr;
    if (!r->ok) return kBrowseQueue;
    // A picture removed after the listing passed it would come back with it.
    for (int i = 0; i < w->gone_count && i < kGoneMax; ++i) {
        int at = queue_find(&r->queue, w->gone[i]);
        if (at >= 0 && GetFileAttributesW(w->gone[i]) == INVALID_FILE_ATTRIBUTES) queue_remove(&r->queue, at);
    }
    if (w->gone_count > kGoneMax) start_listing(app, w);  // too many to follow: the folder again
    w->gone_count = 0;
    WCHAR shown[kPathMax];
    lstrcpynW(shown, queue_path(&app->queue, app->queue_index), kPathMax);
    for (int i = 0; i < app->queue.count; ++i) queue_add(&r->queue, queue_path(&app->queue, i));
    queue_move(&app->queue, &r->queue);
    app->queue_index = shown[0] ? queue_find(&app->queue, shown) : (app->queue.count ? 0 : -1);
    return kBrowseQueue;
}

static int picture_removed(App *app, FolderWork *w, const WCHAR *path)
{
    if (w->listing) {
        if (w->gone_count < kGoneMax) lstrcpynW(w->gone[w->gone_count], path, kPathMax);
        if (w->gone_count <= kGoneMax) ++w->gone_count;
    }
    int index = queue_find(&app->queue, path);
    browse_forget(app, path);
    if (index < 0) return kBrowseNothing;
    bool shown = index == app->queue_index;
    queue_remove(&app->queue, index);
    if (app->queue.count == 0)
        app->queue_index = -1;
    else if (shown)
        app->queue_index = index < app->queue.count ? index : 0;  // the next one takes its place
    else if (app->queue_index > index)
        --app->queue_index;
    return shown ? kBrowseQueue | kBrowseShownGone : kBrowseQueue;
}

static int folder_change(App *app, FolderWork *w, const FolderChange *c)
{
    switch (c->kind) {
    case kChangeAdded: {
        if (queue_find(&app->queue, c->path) >= 0) return kBrowseNothing;
        int index = queue_insert_sorted(&app->queue, c->path);
        if (index >= 0 && index <= app->queue_index) ++app->queue_index;
        return index >= 0 ? kBrowseQueue : kBrowseNothing;
    }
    case kChangeRemoved: return picture_removed(app, w, c->path);
    case kChangeModified: browse_forget(app, c->path); return kBrowseThumb;
    case kChangeLost:
        if (!w->listing) start_listing(app, w);
        return kBrowseNothing;
    }
    return kBrowseNothing;
}

static size_t picture_bytes(const Image *image, const ImagePyramid *copies)
{
    return image ? (size_t)image->stride * image->height + (copies ? image_pyramid_bytes(copies) : 0) : 0;
}

// Room for two of the largest pictures seen in this folder (with their copies), so that
// a large next picture never pushes out the other neighbour; within a quarter of memory.
static size_t ahead_budget(const App *app, const FolderWork *w)
{
    size_t shown = picture_bytes(app->image, &app->view_pyramid.copies);
    size_t one = shown > w->ahead_largest ? shown : w->ahead_largest;
    size_t two = 2 * (one > kAheadFloor ? one : kAheadFloor) + (2u << 20);
    size_t cap = quarter_of_memory();
    return two < cap ? two : cap;
}

static void fit_ahead_budget(const App *app, FolderWork *w, const Image *incoming, const ImagePyramid *copies)
{
    size_t bytes = picture_bytes(incoming, copies);
    if (bytes > w->ahead_largest) w->ahead_largest = bytes;
    pic_cache_set_budget(&w->ahead_cache, ahead_budget(app, w));
}

int browse_message(App *app, UINT msg, LPARAM lp)
{
    if (msg != WM_LISTING_DONE && msg != WM_FOLDER_CHANGE && msg != WM_THUMB_DONE && msg != WM_AHEAD_DONE)
        return -1;
    FolderWork *w = app->folder;
    int result = kBrowseNothing;
    if (msg == WM_LISTING_DONE) {
        auto *r = (ListingResult *)lp;
        if (w && r->generation == w->generation) result = take_listing(app, w, r);
        listing_result_free(r);
    } else if (msg == WM_FOLDER_CHANGE) {
        auto *c = (FolderChange *)lp;
        if (w && c->generation == w->generation) result = folder_change(app, w, c);
        free(c);
    } else {
        auto *d = (Decoded *)lp;
        if (w) {
            if (msg == WM_THUMB_DONE) {
                pic_cache_put(&w->thumb_cache, d->path, d->stamp, d->image);
            } else {
                fit_ahead_budget(app, w, d->image, &d->copies);
                pic_cache_put(&w->ahead_cache, d->path, d->stamp, d->image, &d->copies);
            }
            d->image = nullptr;
            result = msg == WM_THUMB_DONE ? kBrowseThumb : kBrowseNothing;
        }
        decoded_free(d);
    }
    // The neighbours may be others now (or known for the first time).
    if ((result & kBrowseQueue) && !(result & kBrowseShownGone) && app->image) browse_after_show(app);
    return result;
}

// Results the worker has posted but the window has not yet read.
static void take_posted(App *app, UINT msg)
{
    MSG m;
    while (PeekMessageW(&m, app->hwnd, msg, msg, PM_REMOVE)) browse_message(app, msg, m.lParam);
}

Image *browse_take_ahead(App *app, const WCHAR *path, uint64_t stamp, ImagePyramid *copies)
{
    *copies = ImagePyramid{};
    FolderWork *w = app->folder;
    if (!w || !path || !path[0]) return nullptr;
    take_posted(app, WM_AHEAD_DONE);
    Image *image = pic_cache_take(&w->ahead_cache, path, stamp, copies);
    if (image || !w->ahead) return image;
    // Half decoded already: finishing it beats starting again.
    if (!decoder_wait_for(w->ahead, path, kAheadWaitMs)) return nullptr;
    take_posted(app, WM_AHEAD_DONE);
    return pic_cache_take(&w->ahead_cache, path, stamp, copies);
}

void browse_keep_shown(App *app, const WCHAR *path, uint64_t stamp, Image *image, ImagePyramid *copies)
{
    FolderWork *w = app->folder;
    if (!w || w->ahead_off || !stamp || !path || !path[0]) {
        image_free(image);
        image_pyramid_free(copies);
        return;
    }
    fit_ahead_budget(app, w, image, copies);
    pic_cache_put(&w->ahead_cache, path, stamp, image, copies);
}

// Keeps only the neighbours' entries: the cache holds what the next step needs.
static void keep_only(PicCache *cache, const WCHAR *const *paths, int n)
{
    for (int i = cache->count - 1; i >= 0; --i) {
        bool wanted = false;
        for (int k = 0; k < n && !wanted; ++k) wanted = !_wcsicmp(cache->entries[i].path, paths[k]);
        if (!wanted) pic_cache_drop(cache, cache->entries[i].path);
    }
}

// The entries next to the one shown, the paging direction's first; how many differ from it.
static int neighbours(const App *app, const FolderWork *w, WCHAR *next, WCHAR *prev)
{
    int n = app->queue.count, index = app->queue_index;
    lstrcpynW(next, queue_path(&app->queue, ((index + w->step) % n + n) % n), kPathMax);
    lstrcpynW(prev, queue_path(&app->queue, ((index - w->step) % n + n) % n), kPathMax);
    return n > 2 ? 2 : 1;
}

void browse_after_show(App *app)
{
    FolderWork *w = browse_work(app);
    if (!w || !app->hwnd || w->ahead_off || app->queue.count < 2 || app->queue_index < 0) return;
    // What is no longer a neighbour goes now; the new work waits for the paint.
    WCHAR next[kPathMax], prev[kPathMax];
    const WCHAR *around[2] = {next, prev};
    keep_only(&w->ahead_cache, around, neighbours(app, w, next, prev));
    if (w->ahead) decoder_want(w->ahead, nullptr, 0, w->generation);
    SetTimer(app->hwnd, kTimerAhead, USER_TIMER_MINIMUM, nullptr);
}

void browse_ahead_timer(App *app)
{
    KillTimer(app->hwnd, kTimerAhead);
    FolderWork *w = app->folder;
    if (!w || w->ahead_off || app->queue.count < 2 || app->queue_index < 0) return;
    if (!w->ahead) w->ahead = decoder_start(app->hwnd, WM_AHEAD_DONE, 0);
    if (!w->ahead) return;
    decoder_set_fit(w->ahead, app->rc_canvas.right - app->rc_canvas.left, app->rc_canvas.bottom - app->rc_canvas.top);
    WCHAR next[kPathMax], prev[kPathMax];
    const WCHAR *around[2] = {next, prev};
    int count = neighbours(app, w, next, prev);
    keep_only(&w->ahead_cache, around, count);
    pic_cache_set_budget(&w->ahead_cache, ahead_budget(app, w));
    const WCHAR *want[2];
    int m = 0;
    for (int k = 0; k < count; ++k)
        if (!pic_cache_has(&w->ahead_cache, around[k])) want[m++] = around[k];
    decoder_want(w->ahead, want, m, w->generation);
}

void browse_forget(App *app, const WCHAR *path)
{
    FolderWork *w = app->folder;
    if (!w || !path) return;
    pic_cache_drop(&w->thumb_cache, path);
    pic_cache_drop(&w->ahead_cache, path);
}

const Image *browse_thumb(App *app, int index)
{
    FolderWork *w = app->folder;
    Image *image = nullptr;
    if (w && index >= 0 && index < app->queue.count)
        pic_cache_find(&w->thumb_cache, queue_path(&app->queue, index), 0, &image);
    return image;
}

void browse_want_thumbs(App *app, int first, int n)
{
    FolderWork *w = browse_work(app);
    if (!w || !app->hwnd || n <= 0) return;
    if (w->thumb_first == first && w->thumb_count == n && !browse_listing(app)) {
        bool all = true;  // nothing new to ask for
        for (int i = first; i < first + n && all; ++i) all = pic_cache_has(&w->thumb_cache, queue_path(&app->queue, i));
        if (all) return;
    }
    w->thumb_first = first;
    w->thumb_count = n;
    if (!w->thumbs) w->thumbs = decoder_start(app->hwnd, WM_THUMB_DONE, kThumbSide);
    if (!w->thumbs) return;
    // The visible slots from the middle out, then the margins nearest first.
    const WCHAR *want[kDecoderWantMax];
    int m = 0, mid = first + n / 2;
    for (int d = 0; d <= n / 2 + kThumbMargin && m < kDecoderWantMax; ++d) {
        for (int i : {mid + d, mid - d - 1}) {
            if (i < 0 || i >= app->queue.count) continue;
            if (i < first - kThumbMargin || i >= first + n + kThumbMargin) continue;
            const WCHAR *path = queue_path(&app->queue, i);
            if (!pic_cache_has(&w->thumb_cache, path) && m < kDecoderWantMax) want[m++] = path;
        }
    }
    decoder_want(w->thumbs, want, m, w->generation);
}

void browse_close(App *app)
{
    FolderWork *w = app->folder;
    if (!w) return;
    stop_folder_workers(w);
    decoder_stop(w->thumbs);
    decoder_stop(w->ahead);
    pic_cache_free(&w->thumb_cache);
    pic_cache_free(&w->ahead_cache);
    free(w);
    app->folder = nullptr;
}
