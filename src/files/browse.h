// The work that keeps the open folder's queue current and its pictures ready:
// the listing worker, the folder watch, the thumbnail worker and cache, and the
// decode-ahead worker and cache. Everything here runs on the window's thread;
// the workers reach it through the messages below.
#pragma once
#include "state/app_state.h"
#include "files/decoder.h"
#include "files/listing.h"
#include "files/pic_cache.h"
#include "files/watch.h"

constexpr UINT WM_THUMB_DONE = WM_APP + 0x53;  // lParam: a Decoded thumbnail
constexpr UINT WM_AHEAD_DONE = WM_APP + 0x54;  // lParam: a Decoded picture
constexpr uint32_t kThumbSide = 96;
constexpr size_t kThumbBudget = 6u << 20;      // about 170 thumbnails of 96 × 72
constexpr int kThumbMargin = 6;                // thumbnails made beyond each end of the strip
constexpr UINT_PTR kTimerAhead = 6;            // decoding ahead starts once the picture is painted
constexpr UINT_PTR kTimerListing = 7;          // so does listing the folder
constexpr int kGoneMax = 32;

struct FolderWork {
    ListingJob *listing;   // null when no listing runs
    int32_t list_pending;  // 1 from opening until the listing starts after the first paint
    uint32_t generation;   // of the folder being browsed; results of older ones are dropped
    FolderWatch *watch;
    Decoder *thumbs, *ahead;
    PicCache thumb_cache, ahead_cache;
    int32_t step;          // the last paging direction, +1 or -1
    int32_t ahead_off;     // 1: no decoding ahead (for comparison in the benchmark)
    size_t ahead_largest;  // bytes of the largest picture decoded ahead in this folder
    int32_t thumb_first, thumb_count;  // the strip's slots at the last paint
    // Pictures removed while a listing runs, which the listing may still hold; more than
    // fit means the folder is listed again.
    WCHAR gone[kGoneMax][kPathMax];
    int32_t gone_count;
};

// What a worker's message changed, for the window to act on.
enum : int {
    kBrowseNothing = 0,
    kBrowseQueue = 1,        // the queue changed: repaint the chrome
    kBrowseShownGone = 2,    // the picture on screen was removed from the folder
    kBrowseThumb = 4,        // a thumbnail arrived
};

FolderWork *browse_work(App *app);
// A new queue for an opened picture: path alone at once, the folder listed on the worker once
// the picture is painted (timer kTimerListing) when the record has a window, on this thread
// otherwise; the folder watched.
void browse_open(App *app, const WCHAR *path);
// kBrowse… flags, as browse_message.
int browse_listing_timer(App *app);
// 1 while the folder is still being listed.
int browse_listing(const App *app);
// Handles the workers' messages; kBrowse… flags, or -1 when msg is not one of them.
int browse_message(App *app, UINT msg, LPARAM lp);
// The decoded picture for path, stamped stamp (pic_file_stamp), if the worker made it ahead:
// ownership of it and its reduced copies passes. Waits for it when it is being decoded right
// now. Null otherwise.
Image *browse_take_ahead(App *app, const WCHAR *path, uint64_t stamp, ImagePyramid *copies);
// The picture leaving the screen, unedited and stamped when it was read, joins the pictures
// decoded ahead (it is the other neighbour now); it and its copies pass to the cache.
void browse_keep_shown(App *app, const WCHAR *path, uint64_t stamp, Image *image, ImagePyramid *copies);
// After a picture shows: its neighbours, the paging direction first, go to the worker once the
// window has painted it (timer kTimerAhead, which comes after WM_PAINT).
void browse_after_show(App *app);
void browse_ahead_timer(App *app);
// A picture changed or went (rotate, crop, save, delete): drops what the caches hold of it.
void browse_forget(App *app, const WCHAR *path);
// The thumbnail of queue entry index if it is ready (borrowed), null otherwise.
const Image *browse_thumb(App *app, int index);
// The strip shows entries first … first + n - 1: those and a margin are wanted, nearest first.
void browse_want_thumbs(App *app, int first, int n);
// Stops every worker and frees the caches.
void browse_close(App *app);
