// HEIC and AVIF through libheif. The file is read whole and handed over from
// memory, as libheif opens paths through the ANSI code page and would miss
// Chinese names. Sizes were judged by the header probe before this runs.
#include "codec/codec_heif.h"
#include "codec/heif_de265.h"
#include "image/worker.h"
#include <libheif/heif.h>
#include <emmintrin.h>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <thread>

namespace {

constexpr DWORD kMaxHeifFileBytes = 0x40000000;
// libheif refuses any picture wider or taller than this before decoding it.
constexpr int kMaxSide = 65535;
// Below this a second thread costs more to start than it saves.
constexpr uint64_t kSplitMinPixels = 1000000;

struct FileBytes {
    uint8_t *data = nullptr;
    DWORD size = 0;
    ~FileBytes() { free(data); }
};

struct Context {
    heif_context *ctx = heif_context_alloc();
    heif_image_handle *primary = nullptr;
    ~Context()
    {
        if (primary) heif_image_handle_release(primary);
        if (ctx) heif_context_free(ctx);
    }
};

struct HandleRef {
    heif_image_handle *h = nullptr;
    ~HandleRef()
    {
        if (h) heif_image_handle_release(h);
    }
};

struct PictureRef {
    heif_image *img = nullptr;
    ~PictureRef()
    {
        if (img) heif_image_release(img);
    }
};

struct OptionsRef {
    heif_decoding_options *o = heif_decoding_options_alloc();
    ~OptionsRef()
    {
        if (o) heif_decoding_options_free(o);
    }
};

bool read_whole_file(const WCHAR *path, FileBytes *out)
{
    HANDLE f = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    DWORD high = 0;
    DWORD low = GetFileSize(f, &high);
    bool ok = low != INVALID_FILE_SIZE && high == 0 && low > 0 && low <= kMaxHeifFileBytes;
    out->data = ok ? (uint8_t *)malloc(low) : nullptr;
    DWORD got = 0;
    ok = out->data && ReadFile(f, out->data, low, &got, nullptr) && got == low;
    CloseHandle(f);
    out->size = ok ? low : 0;
    return ok;
}

// Opens the file's context and its primary item; false on an unreadable or damaged file.
bool open_primary(const FileBytes &file, Context *c)
{
    if (!c->ctx) return false;
    heif_de265_register();
    heif_context_set_maximum_image_size_limit(c->ctx, kMaxSide);
    heif_error e = heif_context_read_from_memory_without_copy(c->ctx, file.data, file.size, nullptr);
    if (e.code != heif_error_Ok) return false;
    e = heif_context_get_primary_image_handle(c->ctx, &c->primary);
    return e.code == heif_error_Ok && c->primary;
}

// libheif's planar RGB, the step before its interleaved output, into our BGRA rows.
struct Planes {
    const uint8_t *r, *g, *b;
    int r_stride, g_stride, b_stride;
    Image *out;
};

void interleave_rows(const Planes *p, uint32_t y0, uint32_t y1)
{
    const __m128i opaque = _mm_set1_epi8((char)0xFF);
    uint32_t w = p->out->width;
    for (uint32_t y = y0; y < y1; ++y) {
        const uint8_t *r = p->r + (size_t)y * p->r_stride, *g = p->g + (size_t)y * p->g_stride,
                      *b = p->b + (size_t)y * p->b_stride;
        uint8_t *d = p->out->data + (size_t)y * p->out->stride;
        uint32_t x = 0;
        for (; x + 16 <= w; x += 16) {
            __m128i vb = _mm_loadu_si128((const __m128i *)(b + x)), vg = _mm_loadu_si128((const __m128i *)(g + x)),
                    vr = _mm_loadu_si128((const __m128i *)(r + x));
            __m128i bg_lo = _mm_unpacklo_epi8(vb, vg), bg_hi = _mm_unpackhi_epi8(vb, vg);
            __m128i ra_lo = _mm_unpacklo_epi8(vr, opaque), ra_hi = _mm_unpackhi_epi8(vr, opaque);
            __m128i *o = (__m128i *)(d + (size_t)x * 4);
            _mm_storeu_si128(o, _mm_unpacklo_epi16(bg_lo, ra_lo));
            _mm_storeu_si128(o + 1, _mm_unpackhi_epi16(bg_lo, ra_lo));
            _mm_storeu_si128(o + 2, _mm_unpacklo_epi16(bg_hi, ra_hi));
            _mm_storeu_si128(o + 3, _mm_unpackhi_epi16(bg_hi, ra_hi));
        }
        for (; x < w; ++x) {
            d[x * 4] = b[x];
            d[x * 4 + 1] = g[x];
            d[x * 4 + 2] = r[x];
            d[x * 4 + 3] = 255;
        }
    }
}

struct Half {
    const Planes *planes;
    uint32_t y0, y1;
};

void interleave_half(void *arg)
{
    const Half *h = (const Half *)arg;
    interleave_rows(h->planes, h->y0, h->y1);
}

// The top half on a helper thread when the picture is large, the rest here.
void interleave(const Planes *p)
{
    uint32_t h = p->out->height;
    Half top = {p, 0, h / 2};
    std::thread helper;
    bool split = (uint64_t)p->out->width * h >= kSplitMinPixels && std::thread::hardware_concurrency() > 1 &&
                 worker_start(&helper, interleave_half, &top);
    interleave_rows(p, split ? top.y1 : 0, h);
    if (split) helper.join();
}

bool planar_rgb8(const heif_image *img, Planes *p)
{
    if (heif_image_get_colorspace(img) != heif_colorspace_RGB || heif_image_get_chroma_format(img) != heif_chroma_444)
        return false;
    for (heif_channel c : {heif_channel_R, heif_channel_G, heif_channel_B})
        if (heif_image_get_bits_per_pixel_range(img, c) != 8) return false;
    p->r = heif_image_get_plane_readonly(img, heif_channel_R, &p->r_stride);
    p->g = heif_image_get_plane_readonly(img, heif_channel_G, &p->g_stride);
    p->b = heif_image_get_plane_readonly(img, heif_channel_B, &p->b_stride);
    return p->r && p->g && p->b;
}

Image *new_picture(const heif_image *img, heif_channel channel, heif_error *e)
{
    int w = heif_image_get_width(img, channel), h = heif_image_get_height(img, channel);
    Image *out = w > 0 && h > 0 ? image_new((uint32_t)w, (uint32_t)h) : nullptr;
    if (!out) e->code = w > 0 && h > 0 ? heif_error_Memory_allocation_error : heif_error_Decoder_plugin_error;
    return out;
}

// The HEVC decoder makes libheif's colour conversion itself, on two threads, from the
// item's colour box or, without one, from the bitstream's description as libheif would.
void request_rgb(heif_image_handle *handle)
{
    HeifRgbRequest request = {heif_image_handle_get_width(handle), heif_image_handle_get_height(handle)};
    heif_color_profile_nclx *nclx = nullptr;
    if (heif_image_handle_get_nclx_color_profile(handle, &nclx).code == heif_error_Ok && nclx) {
        request.has_box = true;
        request.box_full_range = nclx->full_range_flag != 0;
        request.box_matrix = nclx->matrix_coefficients;
        heif_nclx_color_profile_free(nclx);
    }
    heif_de265_request_rgb(&request);
}

// An opaque 8-bit picture: libheif converts YCbCr to planar RGB and would then
// interleave it into fresh memory on one thread; we interleave straight into our
// rows instead. Null with e Ok when the planes are not the expected ones.
Image *decode_planar(heif_image_handle *handle, const heif_decoding_options *options, heif_error *e)
{
    request_rgb(handle);
    PictureRef pic;
    *e = heif_decode_image(handle, &pic.img, heif_colorspace_undefined, heif_chroma_undefined, options);
    heif_de265_request_rgb(nullptr);
    if (e->code != heif_error_Ok || !pic.img) return nullptr;
    Planes planes = {};
    if (!planar_rgb8(pic.img, &planes)) return nullptr;
    planes.out = new_picture(pic.img, heif_channel_R, e);
    if (planes.out) interleave(&planes);
    return planes.out;
}

// Colours stored multiplied by their alpha, brought back to our straight alpha.
void unpremultiply(Image *img)
{
    for (uint32_t y = 0; y < img->height; ++y) {
        uint8_t *d = img->data + (size_t)y * img->stride;
        for (uint32_t x = 0; x < img->width; ++x, d += 4) {
            uint32_t a = d[3];
            if (a == 255) continue;
            for (int c = 0; c < 3; ++c) d[c] = a ? (uint8_t)std::min<uint32_t>(255, (d[c] * 255u + a / 2) / a) : 0;
        }
    }
}

// Interleaved RGB(A) from libheif into our BGRA rows, 10 and 12 bits brought to 8 by libheif.
Image *decode_interleaved(heif_image_handle *handle, const heif_decoding_options *options, bool alpha,
                          heif_error *e)
{
    PictureRef pic;
    *e = heif_decode_image(handle, &pic.img, heif_colorspace_RGB,
                           alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, options);
    if (e->code != heif_error_Ok || !pic.img) return nullptr;
    int stride = 0;
    const uint8_t *src = heif_image_get_plane_readonly(pic.img, heif_channel_interleaved, &stride);
    if (!src || heif_image_get_bits_per_pixel_range(pic.img, heif_channel_interleaved) != 8) {
        e->code = heif_error_Decoder_plugin_error;
        return nullptr;
    }
    Image *img = new_picture(pic.img, heif_channel_interleaved, e);
    if (!img) return nullptr;
    int step = alpha ? 4 : 3;
    for (uint32_t y = 0; y < img->height; ++y) {
        const uint8_t *s = src + (size_t)y * stride;
        uint8_t *d = img->data + (size_t)y * img->stride;
        for (uint32_t x = 0; x < img->width; ++x, s += step, d += 4) {
            d[0] = s[2];
            d[1] = s[1];
            d[2] = s[0];
            d[3] = alpha ? s[3] : 255;
        }
    }
    if (alpha && (heif_image_is_premultiplied_alpha(pic.img) || heif_image_handle_is_premultiplied_alpha(handle)))
        unpremultiply(img);
    if (alpha) image_detect_alpha(img);
    return img;
}

Image *decode_handle(heif_image_handle *handle, heif_error *e)
{
    OptionsRef options;
    if (!options.o) return nullptr;
    options.o->convert_hdr_to_8bit = 1;
    bool alpha = heif_image_handle_has_alpha_channel(handle) != 0;
    if (!alpha && heif_image_handle_get_luma_bits_per_pixel(handle) == 8 &&
        heif_image_handle_get_chroma_bits_per_pixel(handle) == 8) {
        Image *img = decode_planar(handle, options.o, e);
        // Anything but planar RGB (a monochrome picture) takes libheif's whole way.
        if (img || e->code != heif_error_Ok) return img;
    }
    return decode_interleaved(handle, options.o, alpha, e);
}

// The largest thumbnail item; null when there is none.
heif_image_handle *largest_thumbnail(heif_image_handle *primary)
{
    int n = heif_image_handle_get_number_of_thumbnails(primary);
    if (n <= 0) return nullptr;
    heif_item_id ids[16];
    n = heif_image_handle_get_list_of_thumbnail_IDs(primary, ids, n < 16 ? n : 16);
    heif_image_handle *best = nullptr;
    for (int i = 0; i < n; ++i) {
        heif_image_handle *t = nullptr;
        if (heif_image_handle_get_thumbnail(primary, ids[i], &t).code != heif_error_Ok || !t) continue;
        int side = heif_image_handle_get_width(t) > heif_image_handle_get_height(t) ? heif_image_handle_get_width(t)
                                                                                    : heif_image_handle_get_height(t);
        int best_side = !best ? -1
                        : heif_image_handle_get_width(best) > heif_image_handle_get_height(best)
                            ? heif_image_handle_get_width(best)
                            : heif_image_handle_get_height(best);
        if (side > best_side) {
            if (best) heif_image_handle_release(best);
            best = t;
        } else {
            heif_image_handle_release(t);
        }
    }
    return best;
}

}  // namespace

Image *heif_load(const WCHAR *path, WCHAR *err, int err_cap)
{
    clear_err(err, err_cap);
    FileBytes file;
    if (!path || !read_whole_file(path, &file)) {
        set_err(err, err_cap, L"无法读取「%s」。\n\n文件可能正被其它程序占用，或者没有访问权限。", codec_file_part(path));
        return nullptr;
    }
    Context c;
    if (!open_primary(file, &c)) {
        codec_set_damaged(path, err, err_cap);
        return nullptr;
    }
    heif_error e = {};
    Image *img = decode_handle(c.primary, &e);
    if (img) return img;
    if (e.code == heif_error_Memory_allocation_error)
        codec_set_no_memory((uint32_t)heif_image_handle_get_width(c.primary),
                            (uint32_t)heif_image_handle_get_height(c.primary), err, err_cap);
    else
        codec_set_damaged(path, err, err_cap);
    return nullptr;
}

Image *heif_load_thumb_item(const WCHAR *path, uint32_t max_side)
{
    FileBytes file;
    Context c;
    if (!path || !read_whole_file(path, &file) || !open_primary(file, &c)) return nullptr;
    HandleRef thumb = {largest_thumbnail(c.primary)};
    if (!thumb.h) return nullptr;
    uint32_t w = (uint32_t)heif_image_handle_get_width(thumb.h), h = (uint32_t)heif_image_handle_get_height(thumb.h);
    if ((w > h ? w : h) < max_side) return nullptr;  // too small to stand in for the picture
    heif_error e = {};
    Image *img = decode_handle(thumb.h, &e);
    if (!img) return nullptr;
    Image *fitted = image_thumb(img, max_side);
    image_free(img);
    if (fitted) fitted->has_alpha = 0;  // thumbnails are only drawn
    return fitted;
}

bool heif_exif_payload(const WCHAR *path, std::vector<uint8_t> *payload)
{
    FileBytes file;
    Context c;
    if (!path || !read_whole_file(path, &file) || !open_primary(file, &c)) return false;
    heif_item_id id = 0;
    if (heif_image_handle_get_list_of_metadata_block_IDs(c.primary, "Exif", &id, 1) < 1) return false;
    size_t size = heif_image_handle_get_metadata_size(c.primary, id);
    if (size < 4 || size > 0x10000000) return false;
    std::vector<uint8_t> block(size);
    if (heif_image_handle_get_metadata(c.primary, id, block.data()).code != heif_error_Ok) return false;
    // The block opens with the offset of the TIFF header from just after those four bytes.
    uint32_t offset = (uint32_t)block[0] << 24 | (uint32_t)block[1] << 16 | (uint32_t)block[2] << 8 | block[3];
    if (offset > size - 4 || size - 4 - offset < 8) return false;
    const uint8_t *tiff = block.data() + 4 + offset;
    payload->assign({'E', 'x', 'i', 'f', 0, 0});
    payload->insert(payload->end(), tiff, (const uint8_t *)block.data() + size);
    return true;
}
