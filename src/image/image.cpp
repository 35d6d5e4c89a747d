#include "image/image.h"
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

// Large pixel buffers are kept for a moment after their picture is freed: the next
// picture of the same or a somewhat smaller byte size (the next photo of a folder,
// a picture turned a quarter, each smaller copy of a shrinking chain, a photo and its
// halves) reuses memory already in use, which is far cheaper to write than fresh.
namespace {

constexpr size_t kPooledMin = 4u << 20;
constexpr size_t kPooledMax = 160u << 20;
constexpr int kPoolSlots = 4;  // a photo and its two largest halves, and one more
// A block of pooled size may later hold a smaller picture, and a picture only knows
// its own size: the block's real size is kept in front of the pixels.
constexpr size_t kBlockHeader = 64;

struct PooledPixels {
    uint8_t *data;
    size_t capacity;
};

std::mutex g_pixel_lock;
PooledPixels g_pixel_pool[kPoolSlots];

bool pooled_size(size_t size)
{
    return size >= kPooledMin && size <= kPooledMax;
}

uint8_t *block_new(size_t capacity)
{
    uint8_t *base = (uint8_t *)calloc(kBlockHeader + capacity, 1);
    if (!base) return nullptr;
    memcpy(base, &capacity, sizeof capacity);
    return base + kBlockHeader;
}

size_t block_capacity(const uint8_t *data)
{
    size_t capacity;
    memcpy(&capacity, data - kBlockHeader, sizeof capacity);
    return capacity;
}

void block_free(uint8_t *data)
{
    if (data) free(data - kBlockHeader);
}

// The smallest kept block that holds size and is at most twice it. On a miss the blocks
// too large for what pictures need now go; smaller ones may still serve their halves.
uint8_t *pool_take(size_t size)
{
    std::lock_guard<std::mutex> hold(g_pixel_lock);
    PooledPixels *best = nullptr;
    for (PooledPixels &p : g_pixel_pool) {
        bool fits = p.data && p.capacity >= size && p.capacity / 2 <= size;
        if (fits && (!best || p.capacity < best->capacity)) best = &p;
    }
    if (best) {
        uint8_t *found = best->data;
        *best = PooledPixels{};
        return found;
    }
    for (PooledPixels &p : g_pixel_pool) {
        if (p.data && p.capacity / 2 > size) {
            block_free(p.data);
            p = PooledPixels{};
        }
    }
    return nullptr;
}

void pool_put(uint8_t *data)
{
    size_t capacity = block_capacity(data);
    std::lock_guard<std::mutex> hold(g_pixel_lock);
    for (PooledPixels &p : g_pixel_pool) {
        if (!p.data) {
            p = PooledPixels{data, capacity};
            return;
        }
    }
    // Full: the smallest block goes, the new one included, as large ones are the dearest to make.
    PooledPixels *smallest = &g_pixel_pool[0];
    for (PooledPixels &p : g_pixel_pool)
        if (p.capacity < smallest->capacity) smallest = &p;
    if (smallest->capacity >= capacity) {
        block_free(data);
        return;
    }
    block_free(smallest->data);
    *smallest = PooledPixels{data, capacity};
}

uint8_t *pixels_new(size_t size)
{
    if (!pooled_size(size)) return (uint8_t *)calloc(size, 1);
    if (uint8_t *reused = pool_take(size)) {
        memset(reused, 0, size);
        return reused;
    }
    return block_new(size);
}

// The picture's byte size tells which allocator its pixels came from, as in pixels_new.
void pixels_free(uint8_t *data, size_t size)
{
    if (!data) return;
    if (pooled_size(size))
        pool_put(data);
    else
        free(data);
}

}  // namespace

void image_release_buffers()
{
    std::lock_guard<std::mutex> hold(g_pixel_lock);
    for (PooledPixels &p : g_pixel_pool) {
        block_free(p.data);
        p = PooledPixels{};
    }
}

uint64_t image_kept_bytes()
{
    std::lock_guard<std::mutex> hold(g_pixel_lock);
    uint64_t bytes = 0;
    for (const PooledPixels &p : g_pixel_pool) bytes += p.data ? p.capacity : 0;
    return bytes;
}

Image *image_new(uint32_t width, uint32_t height)
{
    if (width == 0 || height == 0) return nullptr;
    if ((uint64_t)width * height > kImageMaxPixels) return nullptr;
    Image *img = (Image *)calloc(1, sizeof(Image));
    if (!img) return nullptr;
    img->data = pixels_new((size_t)width * height * 4);
    if (!img->data) {
        free(img);
        return nullptr;
    }
    img->width = width;
    img->height = height;
    img->stride = width * 4;
    return img;
}

void image_free(Image *image)
{
    if (!image) return;
    pixels_free(image->data, (size_t)image->stride * image->height);
    free(image);
}

Image *image_clone(const Image *image)
{
    if (!image || !image->data) return nullptr;
    Image *copy = image_new(image->width, image->height);
    if (!copy) return nullptr;
    memcpy(copy->data, image->data, (size_t)image->stride * image->height);
    copy->has_alpha = image->has_alpha;
    return copy;
}

void image_detect_alpha(Image *image)
{
    if (!image) return;
    image->has_alpha = 0;
    if (!image->data) return;
    const uint8_t *p = image->data;
    size_t count = (size_t)image->width * image->height;
    for (size_t i = 0; i < count; ++i) {
        if (p[i * 4 + 3] != 255) {
            image->has_alpha = 1;
            return;
        }
    }
}

void image_flatten_alpha(Image *image, uint8_t r, uint8_t g, uint8_t b)
{
    if (!image || !image->data || !image->has_alpha) return;
    const uint32_t bg[3] = {b, g, r};
    uint8_t *p = image->data;
    size_t count = (size_t)image->width * image->height;
    for (size_t i = 0; i < count; ++i, p += 4) {
        uint32_t a = p[3];
        if (a == 255) continue;
        for (int c = 0; c < 3; ++c)
            p[c] = (uint8_t)((p[c] * a + bg[c] * (255 - a) + 127) / 255);
        p[3] = 255;
    }
    image->has_alpha = 0;
}

// Box bounds of one output cell along an axis: [from, to) in source pixels, never empty.
static void box_range(uint32_t i, uint32_t src_len, uint32_t dst_len, uint32_t *from, uint32_t *to)
{
    uint32_t a = (uint32_t)((double)i * src_len / dst_len);
    uint32_t b = (uint32_t)((double)(i + 1) * src_len / dst_len);
    if (a >= src_len) a = src_len - 1;
    if (b > src_len) b = src_len;
    if (b <= a) b = a + 1;
    *from = a;
    *to = b;
}

static uint32_t thumb_side(uint32_t side, uint32_t target, uint32_t longer)
{
    uint32_t v = (uint32_t)((double)side * target / longer + 0.5);
    return v ? v : 1;
}

Image *image_thumb(const Image *image, uint32_t max_side)
{
    if (!image || !image->data || !image->width || !image->height) return nullptr;
    uint32_t t = max_side ? max_side : 96;
    uint32_t w = image->width, h = image->height;
    if (t >= (w > h ? w : h)) return image_clone(image);
    uint32_t ow = w < h ? thumb_side(w, t, h) : t;
    uint32_t oh = w < h ? t : thumb_side(h, t, w);
    Image *out = image_new(ow, oh);
    if (!out) return nullptr;

    std::vector<uint32_t> col_from(ow), col_to(ow);
    for (uint32_t j = 0; j < ow; ++j) box_range(j, w, ow, &col_from[j], &col_to[j]);
    // One running sum per output column and channel, fed row by row so that the
    // source is read once, in order.
    std::vector<uint32_t> sums((size_t)ow * 4);
    for (uint32_t i = 0; i < oh; ++i) {
        uint32_t row_from, row_to;
        box_range(i, h, oh, &row_from, &row_to);
        std::fill(sums.begin(), sums.end(), 0u);
        for (uint32_t y = row_from; y < row_to; ++y) {
            const uint8_t *src = image->data + (size_t)y * image->stride;
            for (uint32_t j = 0; j < ow; ++j) {
                const uint8_t *p = src + (size_t)col_from[j] * 4;
                const uint8_t *end = src + (size_t)col_to[j] * 4;
                uint32_t s0 = 0, s1 = 0, s2 = 0, s3 = 0;
                for (; p + 16 <= end; p += 16) {
                    s0 += p[0] + p[4] + p[8] + p[12];
                    s1 += p[1] + p[5] + p[9] + p[13];
                    s2 += p[2] + p[6] + p[10] + p[14];
                    s3 += p[3] + p[7] + p[11] + p[15];
                }
                for (; p < end; p += 4) {
                    s0 += p[0];
                    s1 += p[1];
                    s2 += p[2];
                    s3 += p[3];
                }
                uint32_t *s = &sums[(size_t)j * 4];
                s[0] += s0;
                s[1] += s1;
                s[2] += s2;
                s[3] += s3;
            }
        }
        uint8_t *dst = out->data + (size_t)i * out->stride;
        uint32_t rows = row_to - row_from;
        for (uint32_t j = 0; j < ow; ++j) {
            uint32_t n = rows * (col_to[j] - col_from[j]);
            for (int c = 0; c < 4; ++c) dst[j * 4 + c] = (uint8_t)(sums[(size_t)j * 4 + c] / n);
        }
    }
    image_detect_alpha(out);
    return out;
}

Image *image_crop(const Image *image, int32_t x, int32_t y, int32_t w, int32_t h)
{
    if (!image || !image->data || w <= 0 || h <= 0) return nullptr;
    int64_t left = x > 0 ? x : 0, top = y > 0 ? y : 0;
    if (left >= image->width || top >= image->height) return nullptr;
    int64_t right = (int64_t)x + w, bottom = (int64_t)y + h;
    if (right > image->width) right = image->width;
    if (bottom > image->height) bottom = image->height;
    if (right <= left || bottom <= top) return nullptr;

    Image *out = image_new((uint32_t)(right - left), (uint32_t)(bottom - top));
    if (!out) return nullptr;
    for (uint32_t row = 0; row < out->height; ++row)
        memcpy(out->data + (size_t)row * out->stride,
               image->data + (size_t)(top + row) * image->stride + (size_t)left * 4, out->stride);
    out->has_alpha = image->has_alpha;
    return out;
}

// Source pixel (row, column) for output (i, j) of an orientation code.
static void transform_source(int code, uint32_t w, uint32_t h, uint32_t i, uint32_t j, uint32_t *row,
                             uint32_t *col)
{
    switch (code) {
    case 2: *row = i; *col = w - 1 - j; break;
    case 3: *row = h - 1 - i; *col = w - 1 - j; break;
    case 4: *row = h - 1 - i; *col = j; break;
    case 5: *row = j; *col = i; break;
    case 6: *row = h - 1 - j; *col = i; break;
    case 7: *row = h - 1 - j; *col = w - 1 - i; break;
    default: *row = j; *col = w - 1 - i; break;  // 8
    }
}

Image *image_transform(const Image *image, int code)
{
    if (!image || !image->data) return nullptr;
    if (code < 2 || code > 8) return image_clone(image);
    uint32_t w = image->width, h = image->height;
    bool swap = code >= 5;
    Image *out = image_new(swap ? h : w, swap ? w : h);
    if (!out) return nullptr;
    // Along an output row the source moves by a fixed step; tiles keep a quarter turn
    // from walking whole source columns through the cache.
    uint32_t r0, c0, r1, c1;
    transform_source(code, w, h, 0, 0, &r0, &c0);
    transform_source(code, w, h, 0, 1 < out->width ? 1 : 0, &r1, &c1);
    ptrdiff_t step = out->width > 1 ? ((ptrdiff_t)r1 - (ptrdiff_t)r0) * (ptrdiff_t)(image->stride / 4) +
                                          ((ptrdiff_t)c1 - (ptrdiff_t)c0)
                                    : 0;
    const uint32_t *src = (const uint32_t *)image->data;
    constexpr uint32_t kTile = 16;
    for (uint32_t ti = 0; ti < out->height; ti += kTile) {
        uint32_t i_end = ti + kTile < out->height ? ti + kTile : out->height;
        for (uint32_t tj = 0; tj < out->width; tj += kTile) {
            uint32_t j_end = tj + kTile < out->width ? tj + kTile : out->width;
            for (uint32_t i = ti; i < i_end; ++i) {
                uint32_t row, col;
                transform_source(code, w, h, i, tj, &row, &col);
                const uint32_t *from = src + (size_t)row * (image->stride / 4) + col;
                uint32_t *dst = (uint32_t *)(out->data + (size_t)i * out->stride);
                for (uint32_t j = tj; j < j_end; ++j, from += step) dst[j] = *from;
            }
        }
    }
    out->has_alpha = image->has_alpha;
    return out;
}
