// The hand-over block's layout, built and read without any Windows call.
#include "app/handover_block.h"
#include <cstdlib>
#include <cstring>

static constexpr uint32_t kHeaderBytes = 12;

static uint32_t path_bytes(const HandoverChar *path)
{
    uint32_t n = 0;
    while (path[n]) ++n;
    return 2u * n + 2u;
}

int handover_block_build(const HandoverChar *const *paths, int count, int max_paths, uint8_t **block, uint32_t *size)
{
    *block = nullptr;
    *size = 0;
    if (count <= 0 || count > max_paths) return 0;
    uint32_t total = kHeaderBytes + 4u * (uint32_t)count;
    for (int i = 0; i < count; ++i)
        total += path_bytes(paths[i]);
    auto *data = (uint8_t *)calloc(1, total);
    if (!data) return 0;

    const uint32_t header[3] = {kHandoverMagic, kHandoverVersion, (uint32_t)count};
    memcpy(data, header, sizeof header);
    uint32_t at = kHeaderBytes + 4u * (uint32_t)count;
    for (int i = 0; i < count; ++i) {
        memcpy(data + kHeaderBytes + 4u * i, &at, 4);
        uint32_t bytes = path_bytes(paths[i]);
        memcpy(data + at, paths[i], bytes);
        at += bytes;
    }
    *block = data;
    *size = total;
    return 1;
}

static uint32_t read_u32(const uint8_t *p)
{
    uint32_t v;
    memcpy(&v, p, 4);
    return v;
}

// Copies the string at offset; it must end with a NUL inside the block, which
// is never read past. A longer path is cut to the buffer.
static int copy_block_string(const uint8_t *data, uint32_t size, uint32_t offset, HandoverChar *out, int path_max)
{
    int n = 0;
    for (uint32_t at = offset; at + 2 <= size; at += 2) {
        uint16_t c;
        memcpy(&c, data + at, 2);
        if (c == 0) {
            out[n < path_max ? n : path_max - 1] = 0;
            return 1;
        }
        if (n < path_max - 1) out[n++] = (HandoverChar)c;
    }
    return 0;
}

int handover_block_parse(const void *block, uint32_t size, HandoverChar *out, int max_paths, int path_max)
{
    auto *data = (const uint8_t *)block;
    if (!data || size < 16) return 0;
    if (read_u32(data) != kHandoverMagic || read_u32(data + 4) != kHandoverVersion) return 0;
    uint32_t count = read_u32(data + 8);
    if (count == 0) return 0;
    if (count > (uint32_t)max_paths) count = (uint32_t)max_paths;
    if (kHeaderBytes + 4ull * count > size) return 0;
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t offset = read_u32(data + kHeaderBytes + 4 * i);
        if (offset >= size || (uint64_t)offset + 2 > size) return 0;
        if (!copy_block_string(data, size, offset, out + (size_t)i * path_max, path_max)) return 0;
    }
    return (int)count;
}
