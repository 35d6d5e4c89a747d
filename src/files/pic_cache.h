// Decoded pictures kept by path within a byte budget; the least recently used
// go first. Used on one thread (the window's); workers hand results over by message.
#pragma once
#include <windows.h>
#include "image/image.h"
#include "image/pyramid.h"

struct PicEntry {
    WCHAR path[260];
    Image *image;     // owned; null records a file that could not be decoded
    ImagePyramid copies;  // owned: the picture's reduced copies, when they were made with it
    uint64_t stamp;   // pic_file_stamp when decoding began
    size_t bytes;
    uint64_t used;    // the cache's clock at the last use
};

struct PicCache {
    PicEntry *entries;
    int32_t count, cap;
    size_t bytes, budget;
    uint64_t clock;
};

// Size and last-write time of a file folded into one number; 0 when it cannot be read.
uint64_t pic_file_stamp(const WCHAR *path);
void pic_cache_init(PicCache *c, size_t budget);
void pic_cache_free(PicCache *c);
// Frees entries beyond a new budget.
void pic_cache_set_budget(PicCache *c, size_t budget);
// 1 when path is held (with *out the picture, borrowed; null for a failed decode), 0 when not.
// A stamp other than 0 that differs from the entry's drops the entry (the file changed).
int pic_cache_find(PicCache *c, const WCHAR *path, uint64_t stamp, Image **out);
// Takes the picture out of the cache: ownership passes to the caller, with its reduced copies
// when copies is given (freed otherwise); null when absent or stale.
Image *pic_cache_take(PicCache *c, const WCHAR *path, uint64_t stamp, ImagePyramid *copies = nullptr);
// Takes ownership of image (null: a failed decode) and of the copies when given; they count
// against the budget together. What does not fit the budget is freed; 0 then.
int pic_cache_put(PicCache *c, const WCHAR *path, uint64_t stamp, Image *image, ImagePyramid *copies = nullptr);
void pic_cache_drop(PicCache *c, const WCHAR *path);
void pic_cache_clear(PicCache *c);
int pic_cache_has(const PicCache *c, const WCHAR *path);
