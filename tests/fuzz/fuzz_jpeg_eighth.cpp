// The 1/8-scale entropy decoder against libjpeg-turbo's own, both through the
// program's decode (same source, same error handling). libjpeg's reference is
// its slow path: fed one byte at a time it never takes its fast path, which
// differs from its slow path on some damaged data (after FF FF 00 it leaves
// stray coefficients and drops the bad-code warning). Ours must also come to the
// same result however the bytes arrive. Any difference in outcome, size,
// pixels or warning count is a finding.
#include "codec/jpeg_eighth.h"
#include "fuzz_jpeg_input.h"
#include "fuzz_jpeg_support.h"
#include <cstdio>
#include <cstdlib>

namespace {

// Larger pictures only cost time: the entropy data is the same at any size.
constexpr uint64_t kMaxPixels = 1u << 22;

bool small_enough(const uint8_t *data, size_t size)
{
    jpeg_decompress_struct cinfo;
    FuzzJpegError err;
    fuzz_jpeg_error_init(&err);
    cinfo.err = &err.mgr;
    jpeg_create_decompress(&cinfo);
    bool ok = false;
    if (setjmp(err.jump) == 0) {
        jpeg_mem_src(&cinfo, data, (unsigned long)size);
        jpeg_read_header(&cinfo, TRUE);
        ok = (uint64_t)cinfo.image_width * cinfo.image_height <= kMaxPixels;
    }
    jpeg_destroy_decompress(&cinfo);
    return ok;
}

struct Outcome {
    JpegDecodeStatus status;
    JpegDecoded d;
};

Outcome decode_eighth(const uint8_t *data, size_t size, size_t chunk, bool ours)
{
    jpeg_eighth_set_enabled(ours);
    Outcome o;
    o.status = fuzz_decode(data, size, chunk, 1, 1, false, &o.d);
    return o;
}

void same(const Outcome &a, const Outcome &b, const char *what)
{
    const char *differs = nullptr;
    if (a.status != b.status)
        differs = "outcome";
    else if (a.d.warnings != b.d.warnings)
        differs = "warning count";
    else if (!a.d.image != !b.d.image ||
             (a.d.image && (a.d.image->width != b.d.image->width || a.d.image->height != b.d.image->height)))
        differs = "size";
    else if (a.d.image && memcmp(a.d.image->data, b.d.image->data, (size_t)a.d.image->stride * a.d.image->height))
        differs = "pixels";
    if (!differs) return;
    fprintf(stderr, "eighth mismatch: %s differs (%s): status %d/%d, warnings %u/%u\n", differs, what, a.status,
            b.status, a.d.warnings, b.d.warnings);
    abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 4 || !small_enough(data, size)) return 0;
    long installs = jpeg_eighth_installs();
    Outcome ours = decode_eighth(data, size, 65536, true);
    // Where ours does not take over (progressive, several scans, ...) both runs
    // would be libjpeg's own, whose paths differ by themselves.
    if (jpeg_eighth_installs() != installs) {
        Outcome libjpeg = decode_eighth(data, size, 1, false);
        same(ours, libjpeg, "ours against libjpeg's slow path");
        Outcome chunked = decode_eighth(data, size, 1 + data[size - 1] % 64, true);
        same(ours, chunked, "ours in 64 KiB against ours in small chunks");
        image_free(libjpeg.d.image);
        image_free(chunked.d.image);
    }
    image_free(ours.d.image);
    return 0;
}
