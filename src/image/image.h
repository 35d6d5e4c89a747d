// The in-memory picture: 32-bit BGRA, straight alpha, rows never padded.
// Free of Windows headers so the core also builds natively (benchmarks).
#pragma once
#include <cstdint>

struct Image {
    uint8_t *data;      // height rows of stride bytes, top row first
    uint32_t width;
    uint32_t height;
    uint32_t stride;    // always width * 4
    int32_t has_alpha;  // 1 when some alpha byte is not 255
};

constexpr uint64_t kImageMaxPixels = 100000000ull;

Image *image_new(uint32_t width, uint32_t height);
void image_free(Image *image);
Image *image_clone(const Image *image);
void image_detect_alpha(Image *image);
void image_flatten_alpha(Image *image, uint8_t r, uint8_t g, uint8_t b);
Image *image_thumb(const Image *image, uint32_t max_side);
Image *image_crop(const Image *image, int32_t x, int32_t y, int32_t w, int32_t h);
Image *image_transform(const Image *image, int code);
// Frees the few large pixel buffers kept for reuse after their pictures were freed.
void image_release_buffers();
// Bytes held by those kept buffers.
uint64_t image_kept_bytes();
