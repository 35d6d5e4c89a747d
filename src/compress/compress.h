// Compression to a target file size.
#pragma once
#include "codec/codec.h"

struct CompressParams {
    int32_t target_kb;          // <= 0: no limit
    uint32_t allow_downscale;
    uint32_t min_side;
    int32_t min_quality;
    int32_t max_quality;
    // The file the picture was loaded from, given only while the picture is unchanged:
    // when it is already in the target's format and within the limit its bytes are
    // kept, since encoding again could only make it larger and a generation worse.
    const WCHAR *keep_path;
};

struct CompressResult {
    int32_t bytes;
    uint32_t width;
    uint32_t height;
    uint32_t quality;
    int32_t downscaled;
    int32_t target_missed;
    int32_t kept_source;  // 1: out holds keep_path's own bytes (quality 0)
};

int compress_run(const Image *src, const WCHAR *ext, const CompressParams *params,
                 const WCHAR *exif_src_path, CompressResult *result, Blob *out_blob,
                 WCHAR *err, int err_cap);

// Observes every trial encoding of compress_run on the calling thread: quality,
// bytes (-1 when the encoding failed) and the size of the picture encoded; for
// measurement and tests. Null removes it.
struct CompressTrial {
    int quality;
    int32_t bytes;
    uint32_t width;
    uint32_t height;
    const uint8_t *data;  // the encoded bytes, valid during the call only; null when it failed
    int bound_only;       // 1: sure to miss the limit, so not written: bytes is a lower bound, data null
};
using CompressTrialHook = void (*)(const CompressTrial *trial, void *ctx);
void compress_set_trial_hook(CompressTrialHook hook, void *ctx);
