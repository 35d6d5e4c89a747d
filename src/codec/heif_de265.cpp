// The same steps and output as libheif's libde265 decoder (planes copied as they are,
// the bitstream's colour description attached), so libheif's colour conversion gives
// the same bytes whichever decoder ran; or, when asked, that conversion made here.
#include "codec/heif_de265.h"
#include "image/worker.h"
#include <libde265/de265.h>
#include <libheif/heif.h>
#include <libheif/heif_plugin.h>
#include <emmintrin.h>
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

thread_local bool t_rgb_wanted;
thread_local HeifRgbRequest t_rgb;

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

struct Coefficients {
    float r_cr, g_cb, g_cr, b_cb;
};

// libheif's coefficients for a matrix (its float arithmetic, step for step); false for
// the matrices it converts by other formulas or from the primaries.
bool coefficients(int matrix, Coefficients *out)
{
    float kr = 0, kb = 0;
    switch (matrix) {
    case 0:
    case 8:
    case 12:
    case 13: return false;  // other formulas, or coefficients from the primaries
    case 1: kr = 0.2126f, kb = 0.0722f; break;
    case 4: kr = 0.30f, kb = 0.11f; break;
    case 5:
    case 6: kr = 0.299f, kb = 0.114f; break;
    case 7: kr = 0.212f, kb = 0.087f; break;
    case 9:
    case 10: kr = 0.2627f, kb = 0.0593f; break;
    default:  // libheif's defaults
        out->r_cr = 1.402f, out->g_cb = -0.344136f, out->g_cr = -0.714136f, out->b_cb = 1.772f;
        return true;
    }
    out->r_cr = 2 * (-kr + 1);
    out->g_cb = 2 * kb * (-kb + 1) / (kb + kr - 1);
    out->g_cr = 2 * kr * (-kr + 1) / (kb + kr - 1);
    out->b_cb = 2 * (-kb + 1);
    return true;
}

// libheif's float conversion of one 8-bit pixel row, operation for operation, so
// that every rounding falls the same way.
struct RgbJob {
    Coefficients c;
    int width;
    const uint8_t *y, *cb, *cr;
    int y_stride, c_stride, shift_x, shift_y;
    uint8_t *out[3];
    int out_stride[3];
};

inline uint8_t clip_u8(float f)
{
    long v = (long)(f + 0.5f);
    return (uint8_t)(v < 0 ? 0 : v > 255 ? 255 : v);
}

// Four pixels of one channel: the same float operations in the same order, rounded
// and clipped as libheif's scalar code does it.
inline __m128i round_clip(__m128 f)
{
    return _mm_cvttps_epi32(_mm_add_ps(f, _mm_set1_ps(0.5f)));
}

inline void store_channel(uint8_t *dst, __m128i a, __m128i b, __m128i c, __m128i d)
{
    _mm_storeu_si128((__m128i *)dst, _mm_packus_epi16(_mm_packs_epi32(a, b), _mm_packs_epi32(c, d)));
}

// Sixteen pixels sharing eight chroma samples across (4:2:0 and 4:2:2).
void convert_16(const Coefficients *c, const uint8_t *ys, const uint8_t *cbs, const uint8_t *crs, uint8_t *r,
                uint8_t *g, uint8_t *b)
{
    const __m128i zero = _mm_setzero_si128(), half_range = _mm_set1_epi16(128);
    __m128i yw = _mm_loadu_si128((const __m128i *)ys);
    __m128i cb8 = _mm_loadl_epi64((const __m128i *)cbs), cr8 = _mm_loadl_epi64((const __m128i *)crs);
    // Each chroma sample twice, less 128, as 16-bit lanes for the low and high eight pixels.
    __m128i cb16 = _mm_sub_epi16(_mm_unpacklo_epi8(_mm_unpacklo_epi8(cb8, cb8), zero), half_range);
    __m128i cbh16 = _mm_sub_epi16(_mm_unpackhi_epi8(_mm_unpacklo_epi8(cb8, cb8), zero), half_range);
    __m128i cr16 = _mm_sub_epi16(_mm_unpacklo_epi8(_mm_unpacklo_epi8(cr8, cr8), zero), half_range);
    __m128i crh16 = _mm_sub_epi16(_mm_unpackhi_epi8(_mm_unpacklo_epi8(cr8, cr8), zero), half_range);
    __m128i y16[2] = {_mm_unpacklo_epi8(yw, zero), _mm_unpackhi_epi8(yw, zero)};
    __m128i cbs16[2] = {cb16, cbh16}, crs16[2] = {cr16, crh16};
    __m128 rc = _mm_set1_ps(c->r_cr), gcb = _mm_set1_ps(c->g_cb), gcr = _mm_set1_ps(c->g_cr), bc = _mm_set1_ps(c->b_cb);
    __m128i ro[4], go[4], bo[4];
    for (int q = 0; q < 4; ++q) {
        __m128i yi = q & 1 ? _mm_unpackhi_epi16(y16[q >> 1], zero) : _mm_unpacklo_epi16(y16[q >> 1], zero);
        // Sign-extended chroma: the high half of each lane taken from a compare with zero.
        __m128i cbw = cbs16[q >> 1], crw = crs16[q >> 1];
        __m128i cbsign = _mm_cmpgt_epi16(zero, cbw), crsign = _mm_cmpgt_epi16(zero, crw);
        __m128i cbi = q & 1 ? _mm_unpackhi_epi16(cbw, cbsign) : _mm_unpacklo_epi16(cbw, cbsign);
        __m128i cri = q & 1 ? _mm_unpackhi_epi16(crw, crsign) : _mm_unpacklo_epi16(crw, crsign);
        __m128 yv = _mm_cvtepi32_ps(yi), cb = _mm_cvtepi32_ps(cbi), cr = _mm_cvtepi32_ps(cri);
        ro[q] = round_clip(_mm_add_ps(yv, _mm_mul_ps(rc, cr)));
        go[q] = round_clip(_mm_add_ps(_mm_add_ps(yv, _mm_mul_ps(gcb, cb)), _mm_mul_ps(gcr, cr)));
        bo[q] = round_clip(_mm_add_ps(yv, _mm_mul_ps(bc, cb)));
    }
    store_channel(r, ro[0], ro[1], ro[2], ro[3]);
    store_channel(g, go[0], go[1], go[2], go[3]);
    store_channel(b, bo[0], bo[1], bo[2], bo[3]);
}

void convert_rows(const RgbJob *j, int y0, int y1)
{
    const Coefficients *c = &j->c;
    for (int y = y0; y < y1; ++y) {
        const uint8_t *ys = j->y + (size_t)y * j->y_stride;
        const uint8_t *cbs = j->cb + (size_t)(y >> j->shift_y) * j->c_stride;
        const uint8_t *crs = j->cr + (size_t)(y >> j->shift_y) * j->c_stride;
        uint8_t *r = j->out[0] + (size_t)y * j->out_stride[0], *g = j->out[1] + (size_t)y * j->out_stride[1],
                *b = j->out[2] + (size_t)y * j->out_stride[2];
        int x = 0;
        if (j->shift_x == 1)
            for (; x + 16 <= j->width; x += 16) convert_16(c, ys + x, cbs + x / 2, crs + x / 2, r + x, g + x, b + x);
        for (; x < j->width; ++x) {
            float yv = (float)ys[x];
            float cb = (float)(cbs[x >> j->shift_x] - 128);
            float cr = (float)(crs[x >> j->shift_x] - 128);
            r[x] = clip_u8(yv + c->r_cr * cr);
            g[x] = clip_u8(yv + c->g_cb * cb + c->g_cr * cr);
            b[x] = clip_u8(yv + c->b_cb * cb);
        }
    }
}

struct RgbHalf {
    const RgbJob *job;
    int y1;
};

void convert_top(void *arg)
{
    const RgbHalf *h = (const RgbHalf *)arg;
    convert_rows(h->job, 0, h->y1);
}

// The requested conversion into a new planar RGB picture; false (out untouched) when
// the decoded picture is not the one asked for or libheif would convert it otherwise.
bool convert_to_rgb(const de265_image *src, const HeifRgbRequest *c, heif_image **out)
{
    de265_chroma chroma = de265_get_chroma_format(src);
    if (chroma == de265_chroma_mono || de265_get_image_width(src, 0) != c->width ||
        de265_get_image_height(src, 0) != c->height)
        return false;
    for (int p = 0; p < 3; ++p)
        if (de265_get_bits_per_pixel(src, p) != 8) return false;
    if (de265_get_image_width(src, 1) != de265_get_image_width(src, 2)) return false;
    bool full = c->has_box ? c->box_full_range : de265_get_image_full_range_flag(src) != 0;
    int matrix = c->has_box ? c->box_matrix : de265_get_image_matrix_coefficients(src);
    RgbJob job = {};
    job.width = c->width;
    if (!full || !coefficients(matrix, &job.c)) return false;
    heif_image *img = nullptr;
    if (heif_image_create(c->width, c->height, heif_colorspace_RGB, heif_chroma_444, &img).code) return false;
    static constexpr heif_channel kRgb[] = {heif_channel_R, heif_channel_G, heif_channel_B};
    for (int p = 0; p < 3; ++p) {
        if (heif_image_add_plane(img, kRgb[p], c->width, c->height, 8).code) {
            heif_image_release(img);
            return false;
        }
        job.out[p] = heif_image_get_plane(img, kRgb[p], &job.out_stride[p]);
    }
    int cb_stride = 0, cr_stride = 0;
    job.y = de265_get_image_plane(src, 0, &job.y_stride);
    job.cb = de265_get_image_plane(src, 1, &cb_stride);
    job.cr = de265_get_image_plane(src, 2, &cr_stride);
    if (cb_stride != cr_stride) {
        heif_image_release(img);
        return false;
    }
    job.c_stride = cb_stride;
    job.shift_x = chroma == de265_chroma_444 ? 0 : 1;
    job.shift_y = chroma == de265_chroma_420 ? 1 : 0;
    RgbHalf top = {&job, c->height / 2};
    std::thread helper;
    bool split = std::thread::hardware_concurrency() > 1 && worker_start(&helper, convert_top, &top);
    convert_rows(&job, split ? top.y1 : 0, c->height);
    if (split) helper.join();
    *out = img;
    return true;
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
        *out = nullptr;
        if (t_rgb_wanted && convert_to_rgb(picture, &t_rgb, out)) {
            t_rgb_wanted = false;
        } else {
            e = copy_planes(picture, out);
            if (e.code) return e;
            attach_colour(picture, *out);
        }
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

void heif_de265_request_rgb(const HeifRgbRequest *request)
{
    t_rgb_wanted = request != nullptr;
    if (request) t_rgb = *request;
}
