// Bytes handed to the JPEG decoder in chunks of a chosen size, as a file would be.
#pragma once
#include "codec/jpeg_decode.h"
#include <cstring>

struct FuzzChunks {
    const uint8_t *data;
    size_t size;
    size_t at;
    size_t chunk;  // most bytes one read returns
};

inline bool fuzz_read_chunk(void *context, uint8_t *out, size_t cap, size_t *got)
{
    auto *c = (FuzzChunks *)context;
    size_t n = c->size - c->at;
    if (n > cap) n = cap;
    if (n > c->chunk) n = c->chunk;
    memcpy(out, c->data + c->at, n);
    c->at += n;
    *got = n;
    return true;
}

inline JpegDecodeStatus fuzz_decode(const uint8_t *data, size_t size, size_t chunk, uint32_t min_w, uint32_t min_h,
                                    bool boxed, JpegDecoded *out)
{
    FuzzChunks chunks = {data, size, 0, chunk};
    JpegInput input = {&chunks, fuzz_read_chunk};
    return jpeg_decode_input(&input, min_w, min_h, boxed, out);
}
