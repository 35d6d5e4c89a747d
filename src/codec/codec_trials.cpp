#include "codec/codec_trials.h"
#include "codec/exif.h"
#include "codec/jpeg_dct.h"
#include <cstdint>
#include <iterator>
#include <new>
#include <vector>

struct CodecTrials {
    const Image *image;
    const WCHAR *ext;
    const WCHAR *exif_src;
    JpegDct *dct;                // JPEG only; null: each encoding starts from the pixels
    std::vector<uint8_t> app1;  // the metadata carried into every JPEG encoding
};

namespace {

constexpr const WCHAR *kJpegExt[] = {L".jpg", L".jpeg", L".jpe"};

bool is_jpeg(const WCHAR *ext)
{
    if (!ext) return false;
    for (const WCHAR *known : kJpegExt)
        if (!_wcsicmp(ext, known)) return true;
    return false;
}

// JPEG has no alpha: transparent parts are encoded as on white.
JpegDct *prepare_opaque(const Image *image)
{
    if (!image->has_alpha) return jpeg_dct_prepare(image);
    Image *flattened = image_clone(image);
    if (!flattened) return nullptr;
    image_flatten_alpha(flattened, 255, 255, 255);
    JpegDct *dct = jpeg_dct_prepare(flattened);
    image_free(flattened);
    return dct;
}

}  // namespace

CodecTrials *codec_trials_begin(const Image *image, const WCHAR *ext, const WCHAR *exif_src_path)
{
    CodecTrials *t = new (std::nothrow) CodecTrials{image, ext, exif_src_path, nullptr, {}};
    if (!t) return nullptr;
    if (image && image->data && is_jpeg(ext)) {
        t->dct = prepare_opaque(image);
        if (t->dct && exif_src_path && exif_src_path[0]) exif_build_carry_over(exif_src_path, &t->app1);
    }
    return t;
}

int codec_trials_encode(const CodecTrials *t, int quality, Blob *blob, WCHAR *err, int err_cap)
{
    int64_t floor = 0;
    return codec_trials_encode_within(t, quality, INT64_MAX, blob, &floor, err, err_cap);
}

int codec_trials_encode_within(const CodecTrials *t, int quality, int64_t limit, Blob *blob, int64_t *floor,
                               WCHAR *err, int err_cap)
{
    if (!t || !t->dct) return codec_encode_mem(t ? t->image : nullptr, t ? t->ext : nullptr, quality,
                                               t ? t->exif_src : nullptr, blob, err, err_cap);
    clear_err(err, err_cap);
    if (!blob) return 0;
    blob_free(blob);
    HRESULT hr = jpeg_dct_encode_within(t->dct, quality, &t->app1, limit, blob, floor);
    if (hr == S_FALSE) return 2;
    if (FAILED(hr)) {
        blob_free(blob);
        set_err(err, err_cap, L"编码失败（错误码 0x%08X）。", (unsigned)hr);
        return 0;
    }
    return 1;
}

void codec_trials_end(CodecTrials *t)
{
    if (!t) return;
    jpeg_dct_free(t->dct);
    delete t;
}
