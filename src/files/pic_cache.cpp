// The picture cache: a short array searched linearly (a budget holds tens of
// thumbnails or a few pictures), eviction by the oldest use.
#include "files/pic_cache.h"
#include <cstdlib>
#include <cstring>
#include <cwchar>

uint64_t pic_file_stamp(const WCHAR *path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!path || !GetFileAttributesExW(path, GetFileExInfoStandard, &data)) return 0;
    uint64_t size = ((uint64_t)data.nFileSizeHigh << 32) | data.nFileSizeLow;
    uint64_t time = ((uint64_t)data.ftLastWriteTime.dwHighDateTime << 32) | data.ftLastWriteTime.dwLowDateTime;
    uint64_t stamp = time * 0x9E3779B97F4A7C15ull ^ size;
    return stamp ? stamp : 1;
}

void pic_cache_init(PicCache *c, size_t budget)
{
    memset(c, 0, sizeof *c);
    c->budget = budget;
}

static size_t entry_bytes(const Image *image, const ImagePyramid *copies)
{
    // The record counts too, so failed decodes cannot pile up outside the budget.
    size_t bytes = sizeof(PicEntry) + (image ? (size_t)image->stride * image->height + sizeof(Image) : 0);
    return bytes + (copies ? image_pyramid_bytes(copies) : 0);
}

static void take_copies(ImagePyramid *from, ImagePyramid *to)
{
    if (to)
        *to = *from;
    else
        image_pyramid_free(from);
    *from = ImagePyramid{};
}

static int find(const PicCache *c, const WCHAR *path)
{
    for (int i = 0; i < c->count; ++i)
        if (!_wcsicmp(c->entries[i].path, path)) return i;
    return -1;
}

static void remove_at(PicCache *c, int i)
{
    c->bytes -= c->entries[i].bytes;
    image_free(c->entries[i].image);
    image_pyramid_free(&c->entries[i].copies);
    c->entries[i] = c->entries[--c->count];
}

static void evict_to(PicCache *c, size_t budget)
{
    while (c->count > 0 && c->bytes > budget) {
        int oldest = 0;
        for (int i = 1; i < c->count; ++i)
            if (c->entries[i].used < c->entries[oldest].used) oldest = i;
        remove_at(c, oldest);
    }
}

void pic_cache_clear(PicCache *c)
{
    while (c->count > 0) remove_at(c, c->count - 1);
}

void pic_cache_free(PicCache *c)
{
    pic_cache_clear(c);
    free(c->entries);
    memset(c, 0, sizeof *c);
}

void pic_cache_set_budget(PicCache *c, size_t budget)
{
    c->budget = budget;
    evict_to(c, budget);
}

int pic_cache_has(const PicCache *c, const WCHAR *path)
{
    return path && find(c, path) >= 0;
}

int pic_cache_find(PicCache *c, const WCHAR *path, uint64_t stamp, Image **out)
{
    *out = nullptr;
    int i = path ? find(c, path) : -1;
    if (i < 0) return 0;
    if (stamp && c->entries[i].stamp != stamp) {
        remove_at(c, i);
        return 0;
    }
    c->entries[i].used = ++c->clock;
    *out = c->entries[i].image;
    return 1;
}

Image *pic_cache_take(PicCache *c, const WCHAR *path, uint64_t stamp, ImagePyramid *copies)
{
    if (copies) *copies = ImagePyramid{};
    Image *image;
    if (!pic_cache_find(c, path, stamp, &image) || !image) return nullptr;
    int i = find(c, path);
    c->entries[i].image = nullptr;
    take_copies(&c->entries[i].copies, copies);
    remove_at(c, i);
    return image;
}

void pic_cache_drop(PicCache *c, const WCHAR *path)
{
    int i = path ? find(c, path) : -1;
    if (i >= 0) remove_at(c, i);
}

static int refuse(Image *image, ImagePyramid *copies)
{
    image_free(image);
    if (copies) image_pyramid_free(copies);
    return 0;
}

int pic_cache_put(PicCache *c, const WCHAR *path, uint64_t stamp, Image *image, ImagePyramid *copies)
{
    size_t bytes = entry_bytes(image, copies);
    if (!path || wcslen(path) >= 260 || bytes > c->budget) return refuse(image, copies);
    pic_cache_drop(c, path);
    evict_to(c, c->budget - bytes);
    if (c->count == c->cap) {
        int cap = c->cap ? c->cap * 2 : 16;
        auto *grown = (PicEntry *)realloc(c->entries, (size_t)cap * sizeof(PicEntry));
        if (!grown) return refuse(image, copies);
        c->entries = grown;
        c->cap = cap;
    }
    PicEntry &e = c->entries[c->count++];
    lstrcpynW(e.path, path, 260);
    e.image = image;
    e.copies = ImagePyramid{};
    if (copies) take_copies(copies, &e.copies);
    e.stamp = stamp;
    e.bytes = bytes;
    e.used = ++c->clock;
    c->bytes += bytes;
    return 1;
}
