// libjpeg's system memory layer, in place of its plain malloc one. Large buffers
// (an optimised encode keeps every coefficient of the picture) are kept after use
// and handed to the next request of the same size: writing fresh memory costs
// about 3 ms per MB here, memory already in use almost nothing.
#include "codec/codec_jpeg.h"
#include <cstdlib>
#include <mutex>
#include <jpeglib.h>
#include <jerror.h>

namespace {

constexpr size_t kPooledMin = 1u << 20;
constexpr size_t kPoolMaxBytes = 256u << 20;
constexpr int kPoolSlots = 6;

struct Pooled {
    void *block;
    size_t size;
};

std::mutex g_pool_lock;
Pooled g_pool[kPoolSlots];  // oldest first
size_t g_pool_bytes;

void *pool_take(size_t size)
{
    std::lock_guard<std::mutex> hold(g_pool_lock);
    for (int i = 0; i < kPoolSlots; ++i) {
        if (g_pool[i].block && g_pool[i].size == size) {
            void *block = g_pool[i].block;
            g_pool[i] = Pooled{};
            g_pool_bytes -= size;
            return block;
        }
    }
    return nullptr;
}

void pool_evict_oldest_locked()
{
    for (int i = 0; i < kPoolSlots; ++i) {
        if (g_pool[i].block) {
            free(g_pool[i].block);
            g_pool_bytes -= g_pool[i].size;
            for (int j = i; j + 1 < kPoolSlots; ++j) g_pool[j] = g_pool[j + 1];
            g_pool[kPoolSlots - 1] = Pooled{};
            return;
        }
    }
}

void pool_put(void *block, size_t size)
{
    if (size > kPoolMaxBytes) {
        free(block);
        return;
    }
    std::lock_guard<std::mutex> hold(g_pool_lock);
    for (;;) {
        int used = 0;
        for (const Pooled &p : g_pool) used += p.block ? 1 : 0;
        if (used < kPoolSlots && g_pool_bytes + size <= kPoolMaxBytes) break;
        pool_evict_oldest_locked();
    }
    // Compact towards the front so that the newest sits last.
    int n = 0;
    for (int i = 0; i < kPoolSlots; ++i)
        if (g_pool[i].block) g_pool[n++] = g_pool[i];
    for (int i = n; i < kPoolSlots; ++i) g_pool[i] = Pooled{};
    g_pool[n] = Pooled{block, size};
    g_pool_bytes += size;
}

}  // namespace

void jpeg_release_buffers()
{
    std::lock_guard<std::mutex> hold(g_pool_lock);
    for (Pooled &p : g_pool) {
        free(p.block);
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
    if (size >= kPooledMin)
        if (void *block = pool_take(size)) return block;
    return malloc(size);
}

void jpeg_free_large(j_common_ptr, void *object, size_t size)
{
    if (object && size >= kPooledMin)
        pool_put(object, size);
    else
        free(object);
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
