// The same steps and output as libheif's libde265 decoder (planes copied as they are,
// the bitstream's colour description attached), so libheif's colour conversion gives
// the same bytes whichever decoder ran.
#include "codec/heif_de265.h"
#include <libde265/de265.h>
#include <libheif/heif.h>
#include <libheif/heif_plugin.h>
#include <cstring>
#include <new>
#include <thread>

namespace {

// Above libheif's own libde265 decoder (100).
constexpr int kPriority = 110;
// A 12 MP photo is a few megabytes, a phone's grid tile some tens of kilobytes.
constexpr size_t kThreadedBytes = 256 * 1024;
constexpr int kMaxThreads = 4;
constexpr char kOk[] = "Success";
constexpr char kNone[] = "";

struct Decoder {
    de265_decoder_context *ctx;
    size_t pushed;
};

heif_error fail(heif_error_code code, heif_suberror_code sub)
{
    return {code, sub, kNone};
}

const char *plugin_name()
{
    return "libde265 HEVC decoder, threaded";
}

void plugin_init()
{
    de265_init();
}

void plugin_deinit()
{
    de265_free();
}

int supports(heif_compression_format format)
{
    return format == heif_compression_HEVC ? kPriority : 0;
}

heif_error new_decoder(void **out)
{
    Decoder *d = new (std::nothrow) Decoder{de265_new_decoder(), 0};
    if (d && !d->ctx) {
        delete d;
        d = nullptr;
    }
    *out = d;
    return d ? heif_error{heif_error_Ok, heif_suberror_Unspecified, kOk}
             : fail(heif_error_Memory_allocation_error, heif_suberror_Unspecified);
}

void free_decoder(void *raw)
{
    Decoder *d = (Decoder *)raw;
    de265_free_decoder(d->ctx);
    delete d;
}

// NAL units, each after its 4-byte big-endian length.
heif_error push_data(void *raw, const void *data, size_t size)
{
    Decoder *d = (Decoder *)raw;
    const uint8_t *p = (const uint8_t *)data;
    for (size_t at = 0; at < size;) {
        if (size - at < 4) return fail(heif_error_Decoder_plugin_error, heif_suberror_End_of_data);
        uint32_t n = (uint32_t)p[at] << 24 | (uint32_t)p[at + 1] << 16 | (uint32_t)p[at + 2] << 8 | p[at + 3];
        at += 4;
        if (n > size - at) return fail(heif_error_Decoder_plugin_error, heif_suberror_End_of_data);
        de265_push_NAL(d->ctx, p + at, n, 0, nullptr);
        at += n;
    }
    d->pushed += size;
    return {heif_error_Ok, heif_suberror_Unspecified, kOk};
}

heif_error copy_planes(const de265_image *src, heif_image **out)
{
    bool mono = de265_get_chroma_format(src) == de265_chroma_mono;
    heif_error e = heif_image_create(de265_get_image_width(src, 0), de265_get_image_height(src, 0),
                                     mono ? heif_colorspace_monochrome : heif_colorspace_YCbCr,
                                     (heif_chroma)de265_get_chroma_format(src), out);
    if (e.code) return e;
    static constexpr heif_channel kChannels[] = {heif_channel_Y, heif_channel_Cb, heif_channel_Cr};
    int bpp = de265_get_bits_per_pixel(src, 0);
    for (int c = 0; c < (mono ? 1 : 3); ++c) {
        int w = de265_get_image_width(src, c), h = de265_get_image_height(src, c);
        if (de265_get_bits_per_pixel(src, c) != bpp)
            e = fail(heif_error_Unsupported_feature, heif_suberror_Unsupported_color_conversion);
        else if (w <= 0 || h <= 0)
            e = fail(heif_error_Decoder_plugin_error, heif_suberror_Invalid_image_size);
        else
            e = heif_image_add_plane(*out, kChannels[c], w, h, bpp);
        if (e.code) {
            heif_image_release(*out);
            *out = nullptr;
            return e;
        }
        int src_stride = 0, dst_stride = 0;
        const uint8_t *s = de265_get_image_plane(src, c, &src_stride);
        uint8_t *d = heif_image_get_plane(*out, kChannels[c], &dst_stride);
        size_t row = (size_t)w * ((bpp + 7) / 8);
        for (int y = 0; y < h; ++y) memcpy(d + (size_t)y * dst_stride, s + (size_t)y * src_stride, row);
    }
    return e;
}

// Values libheif does not know become "unspecified", as its own decoder leaves them.
void attach_colour(const de265_image *src, heif_image *img)
{
    heif_color_profile_nclx *nclx = heif_nclx_color_profile_alloc();
    if (!nclx) return;
    heif_nclx_color_profile_set_color_primaries(nclx, (uint16_t)de265_get_image_colour_primaries(src));
    heif_nclx_color_profile_set_transfer_characteristics(nclx,
                                                         (uint16_t)de265_get_image_transfer_characteristics(src));
    heif_nclx_color_profile_set_matrix_coefficients(nclx, (uint16_t)de265_get_image_matrix_coefficients(src));
    nclx->full_range_flag = (uint8_t)(de265_get_image_full_range_flag(src) != 0);
    heif_image_set_nclx_color_profile(img, nclx);
    heif_nclx_color_profile_free(nclx);
}

// libde265 worker threads for a bitstream of this many bytes: none for grid tiles and
// small pictures (libheif already decodes tiles side by side, and a thread per tile
// costs more than it gives), one per core up to four for a large picture.
int worker_threads(size_t bitstream_bytes)
{
    if (bitstream_bytes < kThreadedBytes) return 0;
    int cores = (int)std::thread::hardware_concurrency();
    return cores < 1 ? 1 : cores > kMaxThreads ? kMaxThreads : cores;
}

heif_error decode_image(void *raw, heif_image **out)
{
    Decoder *d = (Decoder *)raw;
    *out = nullptr;
    // Started only now that the bitstream's size tells whether threads pay; without
    // any, libde265 decodes on the calling thread.
    de265_start_worker_threads(d->ctx, worker_threads(d->pushed));
    de265_flush_data(d->ctx);
    heif_error e = {heif_error_Ok, heif_suberror_Unspecified, kOk};
    int more = 0;
    do {
        more = 0;
        if (de265_decode(d->ctx, &more) != DE265_OK) break;
        const de265_image *picture = de265_get_next_picture(d->ctx);
        if (!picture) continue;
        if (*out) heif_image_release(*out);  // the last picture of the stream is the one
        e = copy_planes(picture, out);
        if (e.code) return e;
        attach_colour(picture, *out);
        de265_release_next_picture(d->ctx);
    } while (more);
    return e;
}

constexpr heif_decoder_plugin kPlugin = {1,           plugin_name,  plugin_init, plugin_deinit, supports,
                                         new_decoder, free_decoder, push_data,   decode_image};

}  // namespace

void heif_de265_register()
{
    static const bool registered = heif_register_decoder_plugin(&kPlugin).code == heif_error_Ok;
    (void)registered;
}
