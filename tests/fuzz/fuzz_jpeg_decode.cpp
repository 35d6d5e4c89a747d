// The JPEG decode as the program runs it: full size, at the scale a thumbnail
// box asks for, and box-averaged into it. Inputs choose the box from their last
// bytes. Besides memory errors: a decoded picture has the size it was asked for.
#include "fuzz_check.h"
#include "fuzz_jpeg_input.h"
#include "fuzz_jpeg_support.h"
#include <cstdio>
#include <cstdlib>
#include <initializer_list>

namespace {

constexpr uint64_t kMaxPixels = 1u << 22;  // larger pictures only cost time

// The declared size, as libjpeg reads it; 0 when it cannot.
uint64_t declared_pixels(const uint8_t *data, size_t size)
{
    jpeg_decompress_struct cinfo;
    FuzzJpegError err;
    fuzz_jpeg_error_init(&err);
    cinfo.err = &err.mgr;
    jpeg_create_decompress(&cinfo);
    uint64_t pixels = 0;
    if (setjmp(err.jump) == 0) {
        jpeg_mem_src(&cinfo, data, (unsigned long)size);
        jpeg_read_header(&cinfo, TRUE);
        pixels = (uint64_t)cinfo.image_width * cinfo.image_height;
    }
    jpeg_destroy_decompress(&cinfo);
    return pixels;
}

void check(bool ok, const char *what)
{
    fuzz_check(ok, "decode", what);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Larger pictures only cost time (a full decode of 100 million grey pixels).
    if (size < 4 || declared_pixels(data, size) > kMaxPixels) return 0;
    uint32_t box_w = 1 + data[size - 2] % 200, box_h = 1 + data[size - 1] % 200;
    size_t chunk = 1 + (size_t)data[size - 3] * 64;
    JpegDecoded full;
    JpegDecodeStatus status = fuzz_decode(data, size, chunk, 0, 0, false, &full);
    if (status == kJpegDecoded) {
        check(full.image && full.image->width == full.width && full.image->height == full.height,
              "full decode of another size than declared");
    }
    image_free(full.image);
    if (status == kJpegTooLarge) return 0;
    for (bool boxed : {false, true}) {
        JpegDecoded thumb;
        if (fuzz_decode(data, size, chunk, box_w, box_h, boxed, &thumb) == kJpegDecoded) {
            check(thumb.image != nullptr, "decoded without a picture");
            // Exactly the box when averaged into it; otherwise scaled no further than covers the box.
            uint32_t w = thumb.image->width, h = thumb.image->height;
            bool exact = boxed && w == box_w && h == box_h;
            bool covers = w >= (box_w < thumb.width ? box_w : thumb.width) &&
                          h >= (box_h < thumb.height ? box_h : thumb.height);
            check(exact || covers, "scaled picture smaller than the box");
            bool boxable = w >= box_w && h >= box_h && (w >= 3 * box_w || h >= 3 * box_h);
            if (boxed) check(exact || !boxable, "box not filled though the rows were three times its size");
        }
        image_free(thumb.image);
    }
    return 0;
}
