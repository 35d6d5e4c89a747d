// JPEG decoding from any byte source, free of Windows headers (codec_jpeg
// reads files through it; the fuzz targets feed it bytes).
#pragma once
#include <cstddef>
#include <cstdint>
#include "image/image.h"

enum JpegDecodeStatus {
    kJpegDecoded,
    kJpegTooLarge,  // declared size over the pixel limit: nothing was allocated
    kJpegNoMemory,  // within the limit, but the pixels could not be had
    kJpegDamaged,   // a stream no decoder should grind through
    kJpegRefused,   // not decodable here (or cut short): another decoder may try
};

struct JpegDecoded {
    Image *image;     // as stored (no orientation applied), alpha opaque
    uint32_t width;   // declared size at full scale
    uint32_t height;
    uint32_t warnings;  // damaged data libjpeg read past (restart markers out of step, bad codes)
};

// The bytes to decode, in order. read fills up to cap bytes and sets *got;
// a read of 0 bytes is the end, a false return a read error (both end the data).
struct JpegInput {
    void *context;
    bool (*read)(void *context, uint8_t *out, size_t cap, size_t *got);
};

// Decodes to BGRA. With min_w and min_h nonzero the largest DCT scale (1/2, 1/4,
// 1/8) whose output still covers min_w x min_h is used; boxed then box-averages
// the scaled rows to exactly min_w x min_h when they are three times the size or more.
JpegDecodeStatus jpeg_decode_input(const JpegInput *input, uint32_t min_w, uint32_t min_h, bool boxed,
                                   JpegDecoded *out);

// Large libjpeg work buffers are kept between encodes and decodes (fresh memory is
// slow to touch); this frees them. Bounded in any case.
void jpeg_release_buffers();
