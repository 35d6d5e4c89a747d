// Pictures in and out through WIC; ".webp" goes to libwebp, JPEG to libjpeg-turbo,
// HEIC and AVIF (by content) to libheif.
// Every header is judged before a decoder sees the file.
#include "codec/codec.h"
#include "codec/codec_box.h"
#include "codec/codec_gif.h"
#include "codec/codec_heif.h"
#include "codec/codec_jpeg.h"
#include "codec/codec_probe.h"
#include "codec/codec_webp.h"
#include "codec/exif.h"
#include "codec/temp_file.h"
#include "image/resize.h"
#include <cstdarg>
#include <cstdlib>
#include <cwchar>
#include <vector>

static IWICImagingFactory *volatile g_wic;
static CO_MTA_USAGE_COOKIE volatile g_mta;  // held with g_wic

namespace {

constexpr const WCHAR *kSupportedExt[] = {L".jpg", L".jpeg", L".jpe", L".png", L".gif", L".bmp",
                                          L".tif", L".tiff", L".ico", L".webp", L".heic", L".heif",
                                          L".hif", L".avif"};
constexpr const WCHAR *kBuiltinDecoderExt[] = {L".jpg", L".jpeg", L".jpe", L".png", L".gif",
                                               L".bmp", L".tif", L".tiff", L".ico"};

enum Container { kJpeg, kPng, kBmp, kGif, kTiff };

struct ContainerInfo {
    const WCHAR *ext;
    Container container;
};

constexpr ContainerInfo kEncoderByExt[] = {
    {L".jpg", kJpeg}, {L".jpeg", kJpeg}, {L".jpe", kJpeg}, {L".png", kPng},  {L".bmp", kBmp},
    {L".tif", kTiff}, {L".tiff", kTiff}, {L".gif", kGif},
};

template <typename T> void release(T *&p)
{
    if (p) p->Release();
    p = nullptr;
}

// WIC needs COM on the calling thread: a thread with an apartment keeps it, any
// other gets a multithreaded one for the length of the call.
struct ComScope {
    HRESULT hr;
    ComScope() : hr(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
    ~ComScope()
    {
        if (SUCCEEDED(hr)) CoUninitialize();
    }
};

bool ext_in(const WCHAR *ext, const WCHAR *const *list, size_t n)
{
    if (!ext || !*ext) return false;
    for (size_t i = 0; i < n; ++i)
        if (!_wcsicmp(ext, list[i])) return true;
    return false;
}

bool is_webp(const WCHAR *ext)
{
    return ext && !_wcsicmp(ext, L".webp");
}

// Formats read here but never written: a name ending so would hold another format's bytes.
bool read_only_ext(const WCHAR *ext)
{
    static constexpr const WCHAR *kReadOnly[] = {L".heic", L".heif", L".hif", L".avif"};
    return ext_in(ext, kReadOnly, std::size(kReadOnly));
}

Container container_for(const WCHAR *ext)
{
    if (ext)
        for (const ContainerInfo &info : kEncoderByExt)
            if (!_wcsicmp(ext, info.ext)) return info.container;
    return kJpeg;
}

HRESULT last_error_code()
{
    DWORD e = GetLastError();
    return (int32_t)e > 0 ? HRESULT_FROM_WIN32(e) : (HRESULT)e;
}

bool is_nonempty_file(const WCHAR *path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path, GetFileExInfoStandard, &data)) return false;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return false;
    return data.nFileSizeHigh != 0 || data.nFileSizeLow != 0;
}

}  // namespace

void clear_err(WCHAR *err, int err_cap)
{
    if (err && err_cap > 0) err[0] = 0;
}

void set_err(WCHAR *err, int err_cap, const WCHAR *format, ...)
{
    if (!err || err_cap <= 0) return;
    va_list args;
    va_start(args, format);
    int n = _vsnwprintf(err, (size_t)err_cap - 1, format, args);
    va_end(args);
    if (n < 0 || n >= err_cap - 1) err[err_cap - 1] = 0;
}

const WCHAR *codec_file_part(const WCHAR *path)
{
    if (!path) return L"";
    // After the last separator that has something other than a separator behind it.
    const WCHAR *name = path;
    for (const WCHAR *c = path; *c; ++c)
        if ((*c == L'\\' || *c == L'/' || *c == L':') && c[1] && c[1] != L'\\' && c[1] != L'/') name = c + 1;
    return name;
}

const WCHAR *codec_file_ext(const WCHAR *path)
{
    if (!path) return nullptr;
    // As the shell finds it: a backslash or a space ends a candidate extension.
    const WCHAR *dot = nullptr, *c = path;
    for (; *c; ++c) {
        if (*c == L'\\' || *c == L' ') dot = nullptr;
        else if (*c == L'.') dot = c;
    }
    return dot ? dot : c;
}

IWICImagingFactory *codec_factory()
{
    IWICImagingFactory *factory = g_wic;
    if (factory) return factory;
    ComScope com;
    // The factory is free-threaded, so it outlives this call's apartment; a share
    // in the multithreaded apartment keeps COM loaded until codec_shutdown, so
    // nobody has to initialise COM up front for pictures that never need WIC.
    CO_MTA_USAGE_COOKIE mta = nullptr;
    if (FAILED(CoIncrementMTAUsage(&mta))) mta = nullptr;
    if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                (void **)&factory))) {
        if (mta) CoDecrementMTAUsage(mta);
        return nullptr;
    }
    // Two threads may race to create it: the loser releases its own.
    IWICImagingFactory *prior =
        (IWICImagingFactory *)InterlockedCompareExchangePointer((void *volatile *)&g_wic, factory, nullptr);
    if (prior) {
        factory->Release();
        if (mta) CoDecrementMTAUsage(mta);
        return prior;
    }
    g_mta = mta;
    return factory;
}

void codec_release_buffers()
{
    jpeg_release_buffers();
    image_release_buffers();
}

void codec_shutdown()
{
    codec_release_buffers();
    IWICImagingFactory *factory =
        (IWICImagingFactory *)InterlockedExchangePointer((void *volatile *)&g_wic, nullptr);
    if (factory) factory->Release();
    auto mta = (CO_MTA_USAGE_COOKIE)InterlockedExchangePointer((void *volatile *)&g_mta, nullptr);
    if (mta) CoDecrementMTAUsage(mta);
}

int codec_ext_supported(const WCHAR *path)
{
    return path && ext_in(codec_file_ext(path), kSupportedExt, std::size(kSupportedExt)) ? 1 : 0;
}

Blob *blob_free(Blob *blob)
{
    if (!blob) return nullptr;
    free(blob->data);
    blob->data = nullptr;
    blob->size = 0;
    return blob;
}

static void describe_load_error(HRESULT code, const WCHAR *path, WCHAR *err, int err_cap)
{
    const WCHAR *name = codec_file_part(path);
    const WCHAR *ext = codec_file_ext(path);
    if (!_wcsicmp(ext, L".heic") || !_wcsicmp(ext, L".heif"))
        set_err(err, err_cap, L"打不开「%s」。\n\n这是 iPhone 的 HEIC 格式，Windows 默认不带解码器。\n请在微软商店安装「HEIF 图像扩展」后重试。", name);
    else if (code == (HRESULT)0x80070002 || code == (HRESULT)0x80070003)
        set_err(err, err_cap, L"找不到文件「%s」。", name);
    else if (code == (HRESULT)0x80070005 || code == (HRESULT)0x80070020)
        set_err(err, err_cap, L"无法读取「%s」。\n\n文件可能正被其它程序占用，或者没有访问权限。", name);
    else if (ext_in(ext, kBuiltinDecoderExt, std::size(kBuiltinDecoderExt)) && is_nonempty_file(path))
        set_err(err, err_cap, L"「%s」不是有效的图片，或者文件已经损坏。\n\n（错误码 0x%08X）", name, (unsigned)code);
    else if (ext_in(ext, kBuiltinDecoderExt, std::size(kBuiltinDecoderExt)))
        set_err(err, err_cap, L"打不开「%s」。\n\n错误码 0x%08X", name, (unsigned)code);
    else
        set_err(err, err_cap, L"打不开「%s」。\n\n系统缺少这种格式的解码器。\n（错误码 0x%08X）", name, (unsigned)code);
}

static void describe_save_error(HRESULT code, const WCHAR *path, WCHAR *err, int err_cap)
{
    const WCHAR *name = codec_file_part(path);
    if (code == (HRESULT)0x80070003 || code == (HRESULT)0x8007007B)
        set_err(err, err_cap, L"保存路径不存在：「%s」。", name);
    else if (code == (HRESULT)0x80070005 || code == (HRESULT)0x80070020)
        set_err(err, err_cap, L"无法写入「%s」。\n\n文件可能正被其它程序打开，或者目录没有写入权限。", name);
    else if (code == WINCODEC_ERR_COMPONENTNOTFOUND)
        set_err(err, err_cap, L"系统不支持保存为这种格式。\n\n（错误码 0x%08X）", (unsigned)WINCODEC_ERR_COMPONENTNOTFOUND);
    else
        set_err(err, err_cap, L"保存「%s」失败。\n\n错误码 0x%08X", name, (unsigned)code);
}

// Only a JPEG container's EXIF orientation counts; WIC's query reader is
// empty for JPEG under Wine, so the APP1 block is read directly.
static int read_exif_orientation(IWICBitmapDecoder *decoder, const WCHAR *path)
{
    GUID format;
    if (FAILED(decoder->GetContainerFormat(&format)) || format != GUID_ContainerFormatJpeg) return 1;
    int orientation = exif_read_orientation(path);
    return orientation >= 1 && orientation <= 8 ? orientation : 1;
}

static int file_orientation(const WCHAR *path)
{
    int orientation = exif_read_orientation(path);
    return orientation >= 1 && orientation <= 8 ? orientation : 1;
}

void codec_set_no_memory(uint32_t w, uint32_t h, WCHAR *err, int err_cap)
{
    set_err(err, err_cap, L"内存不足，无法载入这张 %u×%u 的图片。\n\n请先把它缩小一点再试。", w, h);
}

void codec_set_damaged(const WCHAR *path, WCHAR *err, int err_cap)
{
    set_err(err, err_cap, L"「%s」不是有效的图片，或者文件已经损坏。\n\n（错误码 0x%08X）", codec_file_part(path),
            (unsigned)WINCODEC_ERR_BADIMAGE);
}

static void set_no_memory(WCHAR *err, int err_cap, uint32_t w, uint32_t h)
{
    codec_set_no_memory(w, h, err, err_cap);
}

// False (with the message) when the header alone condemns the file.
static bool header_allows(const ProbeResult &probe, const WCHAR *path, WCHAR *err, int err_cap)
{
    if (probe.verdict == kProbeTooLarge) {
        set_no_memory(err, err_cap, probe.width, probe.height);
        return false;
    }
    if (probe.verdict == kProbeDamaged && probe.format == kProbeHeif) {
        codec_set_damaged(path, err, err_cap);  // not the missing-decoder text its extension would get
        return false;
    }
    if (probe.verdict == kProbeDamaged) {
        describe_load_error(WINCODEC_ERR_BADIMAGE, path, err, err_cap);
        return false;
    }
    return true;
}

static IWICImagingFactory *factory_for_reading(WCHAR *err, int err_cap)
{
    IWICImagingFactory *factory = codec_factory();
    if (!factory) set_err(err, err_cap, L"系统图像组件(WIC)不可用，无法读取图片。");
    return factory;
}

static HRESULT open_frame(IWICImagingFactory *factory, const WCHAR *path, IWICBitmapDecoder **decoder,
                          IWICBitmapFrameDecode **frame)
{
    *decoder = nullptr;
    *frame = nullptr;
    HRESULT hr = factory->CreateDecoderFromFilename(path, nullptr, GENERIC_READ, WICDecodeMetadataCacheOnDemand,
                                                    decoder);
    if (SUCCEEDED(hr)) hr = (*decoder)->GetFrame(0, frame);
    return hr;
}

static HRESULT convert_to_bgra(IWICImagingFactory *factory, IWICBitmapSource *source,
                               IWICFormatConverter **converter)
{
    HRESULT hr = factory->CreateFormatConverter(converter);
    if (SUCCEEDED(hr))
        hr = (*converter)->Initialize(source, GUID_WICPixelFormat32bppBGRA, WICBitmapDitherTypeNone, nullptr, 0.0,
                                      WICBitmapPaletteTypeCustom);
    return hr;
}

static Image *upright(Image *img, int orientation)
{
    if (orientation == 1) return img;
    Image *turned = image_transform(img, orientation);
    if (!turned) return img;
    image_free(img);
    return turned;
}

// Copies the source's pixels into a new Image; messages as loading gives them.
static Image *copy_source(IWICBitmapSource *source, const WCHAR *path, WCHAR *err, int err_cap)
{
    UINT w = 0, h = 0;
    if (FAILED(source->GetSize(&w, &h)) || !w || !h) {
        set_err(err, err_cap, L"「%s」的尺寸无法识别。", codec_file_part(path));
        return nullptr;
    }
    Image *img = image_new(w, h);
    if (!img) {
        set_no_memory(err, err_cap, w, h);
        return nullptr;
    }
    HRESULT hr = source->CopyPixels(nullptr, img->stride, img->stride * img->height, img->data);
    if (FAILED(hr)) {
        image_free(img);
        describe_load_error(hr, path, err, err_cap);
        return nullptr;
    }
    return img;
}

// 24-bit sources (JPEG, BMP, RGB PNG) skip the platform's format converter, which
// under Wine costs several times the copy: the rows land in the picture's own
// buffer and are widened in place, from the right so nothing unread is overwritten.
static Image *copy_source_24(IWICBitmapSource *source, const WCHAR *path, WCHAR *err, int err_cap)
{
    Image *img = copy_source(source, path, err, err_cap);
    if (!img) return nullptr;
    for (uint32_t y = 0; y < img->height; ++y) {
        uint8_t *row = img->data + (size_t)y * img->stride;
        for (uint32_t x = img->width; x-- > 0;) {
            uint8_t b = row[x * 3], g = row[x * 3 + 1], r = row[x * 3 + 2];
            row[x * 4] = b;
            row[x * 4 + 1] = g;
            row[x * 4 + 2] = r;
            row[x * 4 + 3] = 255;
        }
    }
    img->has_alpha = 0;
    return img;
}

static bool is_24bpp_bgr(IWICBitmapSource *source)
{
    WICPixelFormatGUID format;
    return SUCCEEDED(source->GetPixelFormat(&format)) && format == GUID_WICPixelFormat24bppBGR;
}

// JPEG content through libjpeg-turbo. *handled stays false when WIC should try
// instead (a stream libjpeg refuses or one cut short: WIC words those as before).
static Image *load_jpeg(const WCHAR *path, WCHAR *err, int err_cap, bool *handled)
{
    JpegDecoded d;
    JpegDecodeStatus status = jpeg_decode_file(path, 0, 0, &d);
    *handled = true;
    switch (status) {
    case kJpegDecoded: return upright(d.image, file_orientation(path));
    case kJpegTooLarge:
    case kJpegNoMemory: set_no_memory(err, err_cap, d.width, d.height); return nullptr;
    case kJpegDamaged: describe_load_error(WINCODEC_ERR_BADIMAGE, path, err, err_cap); return nullptr;
    default: *handled = false; return nullptr;
    }
}

// WebP by content, or by name when the content is of no known kind (its decoder words
// the damage); a file named .webp that holds another format goes to that format's decoder.
static bool webp_content(const ProbeResult &probe, const WCHAR *path)
{
    return probe.format == kProbeWebp || (probe.format == kProbeUnknown && is_webp(codec_file_ext(path)));
}

Image *codec_load(const WCHAR *path, WCHAR *err, int err_cap)
{
    clear_err(err, err_cap);
    if (!path) return nullptr;
    ProbeResult probe = codec_probe_file(path);
    if (webp_content(probe, path)) return webp_load(path, err, err_cap);
    if (!header_allows(probe, path, err, err_cap)) return nullptr;
    if (probe.format == kProbeHeif) return heif_load(path, err, err_cap);
    if (probe.format == kProbeJpeg) {
        bool handled = false;
        Image *img = load_jpeg(path, err, err_cap, &handled);
        if (handled) return img;
    }
    ComScope com;
    IWICImagingFactory *factory = factory_for_reading(err, err_cap);
    if (!factory) return nullptr;
    IWICBitmapDecoder *decoder = nullptr;
    IWICBitmapFrameDecode *frame = nullptr;
    IWICFormatConverter *converter = nullptr;
    int orientation = 1;
    Image *img = nullptr;
    HRESULT hr = open_frame(factory, path, &decoder, &frame);
    bool plain_24 = SUCCEEDED(hr) && is_24bpp_bgr(frame);
    if (SUCCEEDED(hr)) {
        orientation = read_exif_orientation(decoder, path);
        if (!plain_24) hr = convert_to_bgra(factory, frame, &converter);
    }
    if (FAILED(hr)) {
        describe_load_error(hr, path, err, err_cap);
    } else if (plain_24) {
        if ((img = copy_source_24(frame, path, err, err_cap))) img = upright(img, orientation);
    } else if ((img = copy_source(converter, path, err, err_cap))) {
        image_detect_alpha(img);
        img = upright(img, orientation);
    }
    release(converter);
    release(frame);
    release(decoder);
    return img;
}

static uint32_t scaled_side(uint32_t side, uint32_t target, uint32_t longer)
{
    uint32_t v = (uint32_t)((double)side * target / longer + 0.5);
    return v ? v : 1;
}

// Our own resampler to the exact size (WIC's scaler is nearest-neighbour under
// Wine): box for large reductions, Lanczos3 for the last small step. Consumes img.
static Image *resample_to(Image *img, uint32_t w, uint32_t h)
{
    if (!img || (img->width == w && img->height == h)) return img;
    bool large = img->width >= 3 * w || img->height >= 3 * h;
    Image *out = image_resize(img, (int)w, (int)h, large ? kFilterBox : kFilterLanczos3);
    image_free(img);
    if (out) out->has_alpha = 0;  // thumbnails are only drawn
    return out;
}

static void thumb_size(uint32_t w, uint32_t h, uint32_t t, uint32_t *tw, uint32_t *th)
{
    *tw = w >= h ? t : scaled_side(w, t, h);
    *th = w >= h ? scaled_side(h, t, w) : t;
}

// A big JPEG's thumbnail decodes at 1/2, 1/4 or 1/8 scale in the DCT domain,
// so it never needs the full-size pixels.
static Image *thumb_jpeg(const WCHAR *path, const ProbeResult &probe, uint32_t t)
{
    uint32_t w = probe.width, h = probe.height;
    if (!w || !h || (w <= t && h <= t)) return nullptr;
    uint32_t tw, th;
    thumb_size(w, h, t, &tw, &th);
    JpegDecoded d;
    if (jpeg_decode_box(path, tw, th, &d) != kJpegDecoded) return nullptr;
    Image *img = resample_to(d.image, tw, th);
    return img ? upright(img, file_orientation(path)) : nullptr;
}

// Other formats are box-averaged a band of rows at a time as WIC hands them
// over, so the full-size picture is never held here.
static Image *thumb_wic(IWICImagingFactory *factory, IWICBitmapFrameDecode *frame, UINT w, UINT h, uint32_t t,
                        int orientation)
{
    uint32_t tw, th;
    thumb_size(w, h, t, &tw, &th);
    IWICFormatConverter *converter = nullptr;
    Image *img = SUCCEEDED(convert_to_bgra(factory, frame, &converter)) ? image_new(tw, th) : nullptr;
    std::vector<uint32_t> col_from(tw), col_to(tw);
    for (uint32_t j = 0; j < tw; ++j) codec_box_range(j, w, tw, &col_from[j], &col_to[j]);
    std::vector<uint8_t> band;
    for (uint32_t i = 0; img && i < th; ++i) {
        uint32_t r0, r1;
        codec_box_range(i, h, th, &r0, &r1);
        band.resize((size_t)(r1 - r0) * w * 4);
        WICRect rect = {0, (INT)r0, (INT)w, (INT)(r1 - r0)};
        if (FAILED(converter->CopyPixels(&rect, w * 4, (UINT)band.size(), band.data()))) {
            image_free(img);
            img = nullptr;
            break;
        }
        codec_box_row(band.data(), r1 - r0, w, col_from.data(), col_to.data(), tw, img->data + (size_t)i * img->stride);
    }
    release(converter);
    return img ? upright(img, orientation) : nullptr;  // has_alpha stays 0: thumbnails are only drawn
}

static Image *thumb_from_full_load(const WCHAR *path, uint32_t t, WCHAR *err, int err_cap)
{
    WCHAR load_err[300];
    Image *full = codec_load(path, load_err, 300);
    if (!full) {
        if (err && err_cap > 0 && !err[0]) set_err(err, err_cap, L"%s", load_err);
        return nullptr;
    }
    Image *thumb = image_thumb(full, t);
    image_free(full);
    if (!thumb && err && err_cap > 0 && !err[0])
        set_err(err, err_cap, L"「%s」缩小失败，可能内存不足。", codec_file_part(path));
    return thumb;
}

Image *codec_load_thumb(const WCHAR *path, uint32_t max_side, WCHAR *err, int err_cap)
{
    clear_err(err, err_cap);
    if (!path) return nullptr;
    uint32_t t = max_side < 16 ? 16 : max_side;
    ProbeResult probe = codec_probe_file(path);
    if (webp_content(probe, path)) {
        Image *full = webp_load(path, err, err_cap);
        if (!full) return nullptr;
        Image *thumb = image_thumb(full, t);
        image_free(full);
        return thumb;
    }
    if (!header_allows(probe, path, err, err_cap)) return nullptr;
    if (probe.format == kProbeHeif) {
        Image *img = heif_load_thumb_item(path, t);
        return img ? img : thumb_from_full_load(path, t, err, err_cap);
    }
    if (probe.format == kProbeJpeg) {
        Image *img = thumb_jpeg(path, probe, t);
        return img ? img : thumb_from_full_load(path, t, err, err_cap);
    }
    ComScope com;
    IWICImagingFactory *factory = factory_for_reading(err, err_cap);
    if (!factory) return nullptr;
    IWICBitmapDecoder *decoder = nullptr;
    IWICBitmapFrameDecode *frame = nullptr;
    HRESULT hr = open_frame(factory, path, &decoder, &frame);
    if (FAILED(hr)) {
        describe_load_error(hr, path, err, err_cap);
        release(frame);
        release(decoder);
        return nullptr;
    }
    int orientation = read_exif_orientation(decoder, path);
    UINT w = 0, h = 0;
    if (FAILED(frame->GetSize(&w, &h)) || !w || !h) {
        set_err(err, err_cap, L"「%s」的尺寸无法识别。", codec_file_part(path));
        release(frame);
        release(decoder);
        return nullptr;
    }
    Image *img = (w > t || h > t) ? thumb_wic(factory, frame, w, h, t, orientation) : nullptr;
    release(frame);
    release(decoder);
    return img ? img : thumb_from_full_load(path, t, err, err_cap);
}

// JPEG needs no stream: libjpeg's output buffer becomes the blob, saving three copies
// per compression trial.
static HRESULT encode_jpeg_to_blob(const Image *image, int quality, const WCHAR *exif_src_path, Blob *blob)
{
    Image *flattened = nullptr;
    if (image->has_alpha && (flattened = image_clone(image))) {
        image_flatten_alpha(flattened, 255, 255, 255);
        image = flattened;
    }
    std::vector<uint8_t> app1;
    if (exif_src_path && exif_src_path[0]) exif_build_carry_over(exif_src_path, &app1);
    HRESULT hr = jpeg_encode_blob(image, quality, &app1, blob);
    image_free(flattened);
    return hr;
}

static const GUID &container_guid(Container c)
{
    switch (c) {
    case kPng: return GUID_ContainerFormatPng;
    case kBmp: return GUID_ContainerFormatBmp;
    case kGif: return GUID_ContainerFormatGif;
    case kTiff: return GUID_ContainerFormatTiff;
    default: return GUID_ContainerFormatJpeg;
    }
}

static void write_quality_option(IPropertyBag2 *options, int quality)
{
    PROPBAG2 name = {};
    name.pstrName = (LPOLESTR)L"ImageQuality";
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_R4;
    value.fltVal = (float)(quality < 1 ? 1 : quality > 100 ? 100 : quality) / 100.0f;
    options->Write(1, &name, &value);  // an encoder that refuses it still encodes
}

// The picture through a format converter into the frame's pixel format.
static HRESULT write_converted(IWICImagingFactory *factory, const Image *image, Container container,
                               IWICBitmapFrameEncode *frame)
{
    IWICBitmap *bitmap = nullptr;
    IWICFormatConverter *converter = nullptr;
    WICPixelFormatGUID format = (container != kBmp && image->has_alpha) ? GUID_WICPixelFormat32bppBGRA
                                                                        : GUID_WICPixelFormat24bppBGR;
    WICPixelFormatGUID requested = format;
    HRESULT hr = frame->SetPixelFormat(&format);
    // WIC cannot convert to a palette without one; the GIF frame builds its own
    // palette when handed the picture in the format first asked for.
    if (container == kGif) format = requested;
    if (SUCCEEDED(hr))
        hr = factory->CreateBitmapFromMemory(image->width, image->height, GUID_WICPixelFormat32bppBGRA, image->stride,
                                             image->stride * image->height, image->data, &bitmap);
    if (SUCCEEDED(hr)) hr = factory->CreateFormatConverter(&converter);
    if (SUCCEEDED(hr))
        hr = converter->Initialize(bitmap, format, WICBitmapDitherTypeNone, nullptr, 0.0, WICBitmapPaletteTypeCustom);
    if (SUCCEEDED(hr)) hr = frame->WriteSource(converter, nullptr);
    release(converter);
    release(bitmap);
    return hr;
}

// gif_transparent: the transparent palette entry a GIF's bytes must still be marked
// with, or -1.
static HRESULT encode_wic_to_stream(IWICImagingFactory *factory, const Image *image, Container container,
                                    int quality, IStream *stream, int *gif_transparent)
{
    IWICBitmapEncoder *encoder = nullptr;
    IWICBitmapFrameEncode *frame = nullptr;
    IPropertyBag2 *options = nullptr;
    *gif_transparent = -1;
    HRESULT hr = factory->CreateEncoder(container_guid(container), nullptr, &encoder);
    if (SUCCEEDED(hr)) hr = encoder->Initialize(stream, WICBitmapEncoderNoCache);
    if (SUCCEEDED(hr)) hr = encoder->CreateNewFrame(&frame, &options);
    if (SUCCEEDED(hr) && container == kTiff && options) write_quality_option(options, quality);
    if (SUCCEEDED(hr)) hr = frame->Initialize(options);
    if (SUCCEEDED(hr)) hr = frame->SetSize(image->width, image->height);
    if (SUCCEEDED(hr))
        hr = container == kGif && image->has_alpha ? gif_write_frame(factory, image, frame, gif_transparent)
                                                   : write_converted(factory, image, container, frame);
    if (SUCCEEDED(hr)) hr = frame->Commit();
    if (SUCCEEDED(hr)) hr = encoder->Commit();
    release(options);
    release(frame);
    release(encoder);
    return hr;
}

static HRESULT encode_to_stream(const Image *image, const WCHAR *ext, int quality, IStream *stream,
                                const WCHAR *exif_src_path, int *gif_transparent)
{
    IWICImagingFactory *factory = codec_factory();
    if (!factory || !image || !image->data || !stream) return E_FAIL;
    Container container = container_for(ext);
    const Image *source = image;
    Image *flattened = nullptr;
    if (container == kBmp && image->has_alpha) {
        flattened = image_clone(image);
        if (flattened) {
            image_flatten_alpha(flattened, 255, 255, 255);
            source = flattened;
        }
    }
    // JPEG never comes here: it is encoded straight into a blob.
    HRESULT hr = encode_wic_to_stream(factory, source, container, quality, stream, gif_transparent);
    image_free(flattened);
    return hr;
}

// Encodes into a growable memory stream and copies the bytes out once; the
// stream is released here.
static HRESULT encode_to_bytes(const Image *image, const WCHAR *ext, int quality, const WCHAR *exif_src_path,
                               IStream *stream, Blob *blob)
{
    int gif_transparent = -1;
    HRESULT hr = encode_to_stream(image, ext, quality, stream, exif_src_path, &gif_transparent);
    STATSTG stat = {};
    if (SUCCEEDED(hr)) hr = stream->Stat(&stat, STATFLAG_NONAME);
    if (SUCCEEDED(hr) && (stat.cbSize.QuadPart == 0 || stat.cbSize.QuadPart > 0x7FFFFFFF)) hr = E_FAIL;
    HGLOBAL memory = nullptr;
    if (SUCCEEDED(hr)) hr = GetHGlobalFromStream(stream, &memory);
    if (SUCCEEDED(hr)) {
        size_t size = (size_t)stat.cbSize.QuadPart;
        void *locked = GlobalLock(memory);
        uint8_t *copy = locked ? (uint8_t *)malloc(size) : nullptr;
        if (copy) {
            memcpy(copy, locked, size);
            blob->data = copy;
            blob->size = (int32_t)size;
        } else {
            hr = E_OUTOFMEMORY;
        }
        if (locked) GlobalUnlock(memory);
    }
    // Left unmarked, the transparent entry would still show white, never black.
    if (SUCCEEDED(hr) && gif_transparent >= 0) gif_mark_transparent(blob, gif_transparent);
    stream->Release();
    return hr;
}

static IStream *memory_stream()
{
    IStream *stream = nullptr;
    return SUCCEEDED(CreateStreamOnHGlobal(nullptr, TRUE, &stream)) ? stream : nullptr;
}

int codec_encode_mem(const Image *image, const WCHAR *ext, int quality, const WCHAR *exif_src_path, Blob *blob,
                     WCHAR *err, int err_cap)
{
    if (is_webp(ext)) return webp_encode_mem(image, quality, blob, err, err_cap);
    clear_err(err, err_cap);
    if (!blob) return 0;
    blob_free(blob);
    if (!image || !image->data) {
        set_err(err, err_cap, L"系统图像组件(WIC)不可用。");
        return 0;
    }
    HRESULT hr;
    if (container_for(ext) == kJpeg) {
        hr = encode_jpeg_to_blob(image, quality, exif_src_path, blob);  // no COM: a JPEG never needs WIC
    } else {
        ComScope com;
        if (!codec_factory()) {
            set_err(err, err_cap, L"系统图像组件(WIC)不可用。");
            return 0;
        }
        IStream *stream = memory_stream();
        if (!stream) {
            set_err(err, err_cap, L"内存不足，无法进行压缩试算。");
            return 0;
        }
        hr = encode_to_bytes(image, ext, quality, exif_src_path, stream, blob);
    }
    if (FAILED(hr)) {
        blob_free(blob);
        set_err(err, err_cap, L"编码失败（错误码 0x%08X）。", (unsigned)hr);
        return 0;
    }
    return 1;
}

int codec_save(const Image *image, const WCHAR *path, int quality, const WCHAR *exif_src_path, WCHAR *err,
               int err_cap)
{
    const WCHAR *ext = path ? codec_file_ext(path) : nullptr;
    if (is_webp(ext)) return webp_write_file(path, image, quality, err, err_cap);
    if (!image || !image->data || !path) {
        set_err(err, err_cap, L"系统图像组件(WIC)不可用，无法保存。");
        return 0;
    }
    clear_err(err, err_cap);
    if (read_only_ext(ext)) {
        describe_save_error(WINCODEC_ERR_COMPONENTNOTFOUND, path, err, err_cap);
        return 0;
    }
    // Encoded in memory first: the target is replaced only by a complete file.
    Blob blob = {};
    HRESULT hr;
    if (container_for(ext) == kJpeg) {
        hr = encode_jpeg_to_blob(image, quality, exif_src_path, &blob);
    } else {
        ComScope com;
        if (!codec_factory()) {
            set_err(err, err_cap, L"系统图像组件(WIC)不可用，无法保存。");
            return 0;
        }
        IStream *stream = memory_stream();
        hr = stream ? encode_to_bytes(image, ext, quality, exif_src_path, stream, &blob) : E_OUTOFMEMORY;
    }
    if (SUCCEEDED(hr)) hr = codec_replace_file(path, blob.data, (size_t)blob.size);
    blob_free(&blob);
    if (FAILED(hr)) {
        describe_save_error(hr, path, err, err_cap);
        return 0;
    }
    return 1;
}

int codec_write_blob(const WCHAR *path, const Blob *blob, WCHAR *err, int err_cap)
{
    clear_err(err, err_cap);
    if (!blob || !blob->data || blob->size <= 0) {
        set_err(err, err_cap, L"没有可写入的数据。");
        return 0;
    }
    HRESULT hr = codec_replace_file(path, blob->data, (size_t)blob->size);
    if (FAILED(hr)) {
        describe_save_error(hr, path, err, err_cap);
        return 0;
    }
    return 1;
}

static HRESULT write_temp_file(const WCHAR *temp, const void *bytes, size_t size)
{
    HANDLE f = CreateFileW(temp, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return last_error_code();
    DWORD written = 0;
    BOOL ok = WriteFile(f, bytes, (DWORD)size, &written, nullptr) && written == size && FlushFileBuffers(f);
    HRESULT hr = ok ? S_OK : last_error_code();
    if (ok == FALSE && SUCCEEDED(hr)) hr = STG_E_MEDIUMFULL;
    CloseHandle(f);
    return hr;
}

HRESULT codec_replace_file(const WCHAR *path, const void *bytes, size_t size)
{
    if (!path || !path[0] || !bytes || size == 0 || size > 0x7FFFFFFF) return E_INVALIDARG;
    // The folder is everything before the name, whichever slash separates them.
    size_t folder_len = (size_t)(codec_file_part(path) - path);
    if (folder_len >= MAX_PATH) return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
    WCHAR folder[MAX_PATH];
    lstrcpynW(folder, folder_len ? path : L".", folder_len ? (int)folder_len + 1 : 2);
    // Creating the file directly would report a missing folder as "path not found".
    DWORD attributes = GetFileAttributesW(folder);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
    // The temporary file sits beside the target so the final rename stays on one volume.
    codec_temp_sweep(folder);
    WCHAR temp[MAX_PATH];
    HRESULT hr = codec_temp_create(folder, temp, MAX_PATH);
    if (FAILED(hr)) return hr;
    hr = write_temp_file(temp, bytes, size);
    if (SUCCEEDED(hr) && !MoveFileExW(temp, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        hr = last_error_code();
    if (FAILED(hr)) DeleteFileW(temp);
    return hr;
}
