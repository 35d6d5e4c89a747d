// The header probe on any bytes. Besides memory errors, a size that differs from
// the one the decoder reads from a header it accepts is a finding (JPEG through
// libjpeg, WebP through libwebp; the other formats are decoded by Wine only).
#include "fuzz_check.h"
#include "codec/codec_probe_core.h"
#include "fuzz_jpeg_support.h"
#include <webp/decode.h>
#include <cstdlib>
#include <cstring>

namespace {

struct Bytes {
    const uint8_t *data;
    size_t size;
};

bool read_bytes(void *context, uint64_t offset, uint8_t *out, size_t n, size_t *got)
{
    auto *b = (const Bytes *)context;
    size_t left = offset < b->size ? b->size - (size_t)offset : 0;
    *got = n < left ? n : left;
    memcpy(out, b->data + (offset < b->size ? offset : 0), *got);
    return true;
}

void check(bool ok, const char *what)
{
    fuzz_check(ok, "probe", what);
}

void compare_jpeg(const uint8_t *data, size_t size, const ProbeResult &probe)
{
    jpeg_decompress_struct cinfo;
    FuzzJpegError err;
    fuzz_jpeg_error_init(&err);
    cinfo.err = &err.mgr;
    jpeg_create_decompress(&cinfo);
    if (setjmp(err.jump) == 0) {
        jpeg_mem_src(&cinfo, data, (unsigned long)size);
        jpeg_read_header(&cinfo, TRUE);
        check(probe.width == cinfo.image_width && probe.height == cinfo.image_height, "JPEG size differs from libjpeg's");
    }
    jpeg_destroy_decompress(&cinfo);
}

void compare_webp(const uint8_t *data, size_t size, const ProbeResult &probe)
{
    WebPBitstreamFeatures features;
    if (WebPGetFeatures(data, size, &features) != VP8_STATUS_OK || features.width <= 0 || features.height <= 0) return;
    check(probe.width == (uint32_t)features.width && probe.height == (uint32_t)features.height,
          "WebP size differs from libwebp's");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    ProbeResult probe = codec_probe_bytes(data, size);
    // The file path reads through a window; it must come to the same answer.
    Bytes bytes = {data, size};
    ProbeSource source = {&bytes, size, read_bytes};
    ProbeResult windowed = codec_probe_source(&source);
    check(!memcmp(&probe, &windowed, sizeof probe), "windowed reads differ from memory");
    if (probe.format == kProbeJpeg) compare_jpeg(data, size, probe);
    if (probe.format == kProbeWebp) compare_webp(data, size, probe);
    return 0;
}
