#include "jobs/export_job.h"
#include "compress/compress.h"
#include <iterator>

static constexpr const WCHAR *kExt5[] = {L".jpg", L".png", L".webp", L".bmp", L".tif"};
static constexpr int kEstimateErrCap = 400;

const WCHAR *export_format_ext(uint32_t format)
{
    return kExt5[format < std::size(kExt5) ? format : 0];
}

static uint32_t clamp_u32(uint64_t v)
{
    return v > 0xFFFFFFFFull ? 0xFFFFFFFFu : (uint32_t)v;
}

int export_formula_bytes(uint32_t format, uint32_t width, uint32_t height, uint32_t *bytes)
{
    uint64_t w = width, h = height;
    switch (format) {
    case 1: *bytes = clamp_u32(w * h * 9 / 4); return 1;
    case 3: *bytes = clamp_u32(((3 * w + 3) & ~3ull) * h + 54); return 1;
    case 4: *bytes = clamp_u32(w * h * 27 / 10); return 1;
    default: return 0;
    }
}

static int estimate_compress(const Image *picture, int32_t target_kb, uint32_t format, uint32_t allow_downscale,
                             const WCHAR *src_path, const WCHAR *keep_path, uint32_t *out_bytes, uint32_t *out_width,
                             uint32_t *out_height, uint32_t *out_quality)
{
    CompressParams params = {target_kb, allow_downscale, 64, 30, 95, keep_path};
    CompressResult result = {};
    Blob blob = {};
    WCHAR err[kEstimateErrCap];
    if (!compress_run(picture, export_format_ext(format), &params, src_path, &result, &blob, err, kEstimateErrCap))
        return 0;
    blob_free(&blob);
    *out_bytes = (uint32_t)result.bytes;
    *out_width = result.width;
    *out_height = result.height;
    *out_quality = result.quality;
    return 1;
}

static int estimate_convert(const Image *picture, uint32_t format, uint32_t quality, const WCHAR *src_path,
                            uint32_t *out_bytes, uint32_t *out_width, uint32_t *out_height,
                            uint32_t *out_quality)
{
    if (export_formula_bytes(format, picture->width, picture->height, out_bytes)) {
        *out_width = picture->width;
        *out_height = picture->height;
        *out_quality = 0;
        return 1;
    }
    Blob blob = {};
    WCHAR err[kEstimateErrCap];
    if (!codec_encode_mem(picture, export_format_ext(format), (int)quality, src_path, &blob, err, kEstimateErrCap))
        return 0;
    *out_bytes = (uint32_t)blob.size;
    blob_free(&blob);
    *out_width = picture->width;
    *out_height = picture->height;
    *out_quality = quality;
    return 1;
}

int app_export_estimate_job(uint32_t mode, const Image *picture, int32_t target_kb, uint32_t format,
                            uint32_t quality, uint32_t allow_downscale, const WCHAR *src_path,
                            const WCHAR *keep_path, uint32_t *out_bytes, uint32_t *out_width, uint32_t *out_height,
                            uint32_t *out_quality)
{
    *out_bytes = 0;
    *out_width = 0;
    *out_height = 0;
    *out_quality = quality;
    if (!picture || !picture->data) return 0;
    if (mode == 0)
        return estimate_compress(picture, target_kb, format, allow_downscale, src_path, keep_path, out_bytes,
                                 out_width, out_height, out_quality);
    return estimate_convert(picture, format, quality, src_path, out_bytes, out_width, out_height, out_quality);
}
