// Listing a folder's pictures into a queue, on the caller's thread or on a
// worker that hands the sorted result to a window with a message.
#pragma once
#include "state/queue.h"

// lParam: a ListingResult the receiver frees with listing_result_free.
constexpr UINT WM_LISTING_DONE = WM_APP + 0x50;

int files_is_image_ext(const WCHAR *path);
// "folder\*" into out (cap units); 0 with out empty when it would not fit with its terminator.
int files_list_pattern(const WCHAR *folder, WCHAR *out, int cap);
// Adds the folder's pictures to q and sorts it; the entry count, or -1 when the folder
// cannot be listed or cancel became nonzero. Names that would make a path longer than
// kQueuePathMax are skipped.
int listing_run(const WCHAR *folder, FileQueue *q, const volatile LONG *cancel);

struct ListingResult {
    uint32_t generation;
    int32_t ok;
    FileQueue queue;
    WCHAR folder[260];
};
void listing_result_free(ListingResult *r);

struct ListingJob;
// Lists folder on a new thread and posts WM_LISTING_DONE to hwnd; null when no thread could start.
ListingJob *listing_start(const WCHAR *folder, HWND hwnd, uint32_t generation);
// Lets go of the job; a run still going stops at its next file and posts nothing.
void listing_cancel(ListingJob *job);
// Waits for the worker to end (for tests and shutdown); 1 when it ended within ms.
int listing_wait(ListingJob *job, DWORD ms);

// The folder part of path into folder (260 units); 0 when path has none.
int listing_folder_of(const WCHAR *path, WCHAR *folder);
// The queue for an opened picture: path itself and its folder's pictures, sorted; *index is
// path's entry (-1 when it was refused). Returns the count; the queue holds path alone when
// the folder cannot be listed.
int listing_scan_file(const WCHAR *path, FileQueue *q, int *index);
