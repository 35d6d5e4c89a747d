// libjpeg's system memory layer, in place of its plain malloc one. Large buffers
// (an optimised encode keeps every coefficient of the picture) are kept after use
// and handed to the next request they can hold, also from the next, smaller stage
// of a compression: writing fresh memory costs about 3 ms per MB here, memory
// already in use almost nothing.
#include "codec/jpeg_decode.h"
#include <cstdlib>
#include <mutex>
#include <jpeglib.h>
#include <jerror.h>

namespace {

constexpr size_t kPooledMin = 1u << 20;
constexpr size_t kPoolMaxBytes = 256u << 20;
constexpr int kPoolSlots = 6;
// A kept block serves requests down to a quarter of its size.
constexpr size_t kMaxWaste = 4;
// Large blocks carry their capacity in front, as libjpeg frees by requested size.
constexpr size_t kHeader = 64;

void *large_new(size_t capacity)
{
    uint8_t *p = (uint8_t *)malloc(capacity + kHeader);
    if (!p) return nullptr;
    *(size_t *)p = capacity;
    return p + kHeader;
}

size_t large_capacity(void *block)
{
    return *(size_t *)((uint8_t *)block - kHeader);
}

void large_delete(void *block)
{
    free((uint8_t *)block - kHeader);
}

struct Pooled {
    void *block;
    size_t capacity;
};

std::mutex g_pool_lock;
Pooled g_pool[kPoolSlots];  // oldest first
size_t g_pool_bytes;

// The smallest kept block that holds size without wasting most of itself.
void *pool_take(size_t size)
{
    std::lock_guard<std::mutex> hold(g_pool_lock);
    int best = -1;
    for (int i = 0; i < kPoolSlots; ++i) {
        const Pooled &p = g_pool[i];
        if (p.block && p.capacity >= size && p.capacity / kMaxWaste <= size &&
            (best < 0 || p.capacity < g_pool[best].capacity))
            best = i;
    }
    if (best < 0) return nullptr;
    void *block = g_pool[best].block;
    g_pool_bytes -= g_pool[best].capacity;
    g_pool[best] = Pooled{};
    return block;
}

void pool_evict_oldest_locked()
{
    for (int i = 0; i < kPoolSlots; ++i) {
        if (g_pool[i].block) {
            large_delete(g_pool[i].block);
            g_pool_bytes -= g_pool[i].capacity;
            for (int j = i; j + 1 < kPoolSlots; ++j) g_pool[j] = g_pool[j + 1];
            g_pool[kPoolSlots - 1] = Pooled{};
            return;
        }
    }
}

void pool_put(void *block)
{
    size_t capacity = large_capacity(block);
    if (capacity > kPoolMaxBytes) {
        large_delete(block);
        return;
    }
    std::lock_guard<std::mutex> hold(g_pool_lock);
    for (;;) {
        int used = 0;
        for (const Pooled &p : g_pool) used += p.block ? 1 : 0;
        if (used < kPoolSlots && g_pool_bytes + capacity <= kPoolMaxBytes) break;
        pool_evict_oldest_locked();
    }
    // Compact towards the front so that the newest sits last.
    int n = 0;
    for (int i = 0; i < kPoolSlots; ++i)
        if (g_pool[i].block) g_pool[n++] = g_pool[i];
    for (int i = n; i < kPoolSlots; ++i) g_pool[i] = Pooled{};
    g_pool[n] = Pooled{block, capacity};
    g_pool_bytes += capacity;
}

}  // namespace

void jpeg_release_buffers()
{
    std::lock_guard<std::mutex> hold(g_pool_lock);
    for (Pooled &p : g_pool) {
        if (p.block) large_delete(p.block);
        p = Pooled{};
    }
    g_pool_bytes = 0;
}

// The memory layer libjpeg links against (jmemsys.h); defining all of it here
// keeps the library's own malloc layer out of the link.
extern "C" {

struct backing_store_struct;

void *jpeg_get_small(j_common_ptr, size_t size)
{
    return malloc(size);
}

void jpeg_free_small(j_common_ptr, void *object, size_t)
{
    free(object);
}

void *jpeg_get_large(j_common_ptr, size_t size)
{
    if (size < kPooledMin) return malloc(size);
    void *block = pool_take(size);
    return block ? block : large_new(size);
}

// libjpeg gives back the size it asked for, which tells the two kinds apart.
void jpeg_free_large(j_common_ptr, void *object, size_t size)
{
    if (!object) return;
    if (size < kPooledMin)
        free(object);
    else
        pool_put(object);
}

size_t jpeg_mem_available(j_common_ptr cinfo, size_t, size_t max_bytes_needed, size_t already_allocated)
{
    size_t limit = (size_t)cinfo->mem->max_memory_to_use;
    if (!limit) return max_bytes_needed;
    return limit > already_allocated ? limit - already_allocated : 0;
}

void jpeg_open_backing_store(j_common_ptr cinfo, backing_store_struct *, long)
{
    ERREXIT(cinfo, JERR_NO_BACKING_STORE);
}

long jpeg_mem_init(j_common_ptr)
{
    return 0;
}

void jpeg_mem_term(j_common_ptr) {}

}  // extern "C"
