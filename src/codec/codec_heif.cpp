// HEIC and AVIF through libheif. The file is read whole and handed over from
// memory, as libheif opens paths through the ANSI code page and would miss
// Chinese names. Sizes were judged by the header probe before this runs.
#include "codec/codec_heif.h"
#include <libheif/heif.h>
#include <cstdlib>
#include <cstring>

namespace {

constexpr DWORD kMaxHeifFileBytes = 0x40000000;
// libheif refuses any picture wider or taller than this before decoding it.
constexpr int kMaxSide = 65535;

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
    heif_context_set_maximum_image_size_limit(c->ctx, kMaxSide);
    heif_error e = heif_context_read_from_memory_without_copy(c->ctx, file.data, file.size, nullptr);
    if (e.code != heif_error_Ok) return false;
    e = heif_context_get_primary_image_handle(c->ctx, &c->primary);
    return e.code == heif_error_Ok && c->primary;
}

// Interleaved RGB(A) from libheif into our BGRA rows, 10 and 12 bits brought to 8 by libheif.
// An opaque picture comes as RGB: a quarter less for libheif to write into fresh memory.
Image *decode_handle(heif_image_handle *handle, heif_error *e)
{
    OptionsRef options;
    if (!options.o) return nullptr;
    options.o->convert_hdr_to_8bit = 1;
    bool alpha = heif_image_handle_has_alpha_channel(handle) != 0;
    PictureRef pic;
    *e = heif_decode_image(handle, &pic.img, heif_colorspace_RGB,
                           alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, options.o);
    if (e->code != heif_error_Ok || !pic.img) return nullptr;
    int w = heif_image_get_width(pic.img, heif_channel_interleaved);
    int h = heif_image_get_height(pic.img, heif_channel_interleaved);
    int stride = 0;
    const uint8_t *src = heif_image_get_plane_readonly(pic.img, heif_channel_interleaved, &stride);
    if (!src || w <= 0 || h <= 0 || heif_image_get_bits_per_pixel_range(pic.img, heif_channel_interleaved) != 8) {
        e->code = heif_error_Decoder_plugin_error;
        return nullptr;
    }
    Image *img = image_new((uint32_t)w, (uint32_t)h);
    if (!img) {
        e->code = heif_error_Memory_allocation_error;
        return nullptr;
    }
    int step = alpha ? 4 : 3;
    for (int y = 0; y < h; ++y) {
        const uint8_t *s = src + (size_t)y * stride;
        uint8_t *d = img->data + (size_t)y * img->stride;
        for (int x = 0; x < w; ++x, s += step, d += 4) {
            d[0] = s[2];
            d[1] = s[1];
            d[2] = s[0];
            d[3] = alpha ? s[3] : 255;
        }
    }
    img->has_alpha = 0;
    if (alpha) image_detect_alpha(img);
    return img;
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
