// WebP through libwebp: always lossy, alpha kept, no metadata.
#include "codec/codec_webp.h"
#include <webp/decode.h>
#include <webp/encode.h>
#include <cstdlib>
#include <cstring>

static constexpr DWORD kMaxWebpFileBytes = 0x20000000;
// Encoder interface version asked for; libwebp accepts any minor version of its major one.
static constexpr int kWebpEncoderAbi = 0x0210;

static int clamp_quality(int quality)
{
    return quality < 1 ? 1 : quality > 100 ? 100 : quality;
}

// Reads the whole file; false on any failure.
static bool read_whole_file(const WCHAR *path, uint8_t **bytes, DWORD *size)
{
    *bytes = nullptr;
    *size = 0;
    HANDLE f = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    DWORD high = 0;
    DWORD low = GetFileSize(f, &high);
    bool ok = low != INVALID_FILE_SIZE && high == 0 && low > 0 && low <= kMaxWebpFileBytes;
    uint8_t *buffer = ok ? (uint8_t *)malloc(low) : nullptr;
    DWORD got = 0;
    ok = buffer && ReadFile(f, buffer, low, &got, nullptr) && got == low;
    CloseHandle(f);
    if (!ok) {
        free(buffer);
        return false;
    }
    *bytes = buffer;
    *size = low;
    return true;
}

Image *webp_load(const WCHAR *path, WCHAR *err, int err_cap)
{
    clear_err(err, err_cap);
    uint8_t *file = nullptr;
    DWORD size = 0;
    if (!path || !read_whole_file(path, &file, &size)) {
        set_err(err, err_cap, L"无法读取「%s」。\n\n文件可能正被其它程序占用，或者没有访问权限。", codec_file_part(path));
        return nullptr;
    }
    // The declared size is judged before anything is allocated for it, and the
    // pixels are decoded straight into the picture.
    WebPBitstreamFeatures features;
    bool readable = WebPGetFeatures(file, size, &features) == VP8_STATUS_OK && features.width > 0 &&
                    features.height > 0;
    int w = readable ? features.width : 0, h = readable ? features.height : 0;
    Image *img = readable ? image_new((uint32_t)w, (uint32_t)h) : nullptr;
    if (readable && !img) {
        free(file);
        set_err(err, err_cap, L"内存不足，无法载入这张 %d×%d 的图片。", w, h);
        return nullptr;
    }
    bool decoded = img && WebPDecodeBGRAInto(file, size, img->data, (size_t)img->stride * img->height,
                                             (int)img->stride) != nullptr;
    free(file);
    if (!decoded) {
        image_free(img);
        set_err(err, err_cap, L"「%s」不是有效的 WebP 图片，或者文件已经损坏。", codec_file_part(path));
        return nullptr;
    }
    image_detect_alpha(img);
    return img;
}

static int webp_encode(const Image *image, int quality, Blob *blob, WCHAR *err, int err_cap)
{
    int q = clamp_quality(quality);
    WebPConfig config;
    if (!WebPConfigInitInternal(&config, WEBP_PRESET_DEFAULT, 75.f, kWebpEncoderAbi)) {
        set_err(err, err_cap, L"WebP 编码器初始化失败。");
        return 0;
    }
    config.lossless = 0;
    config.quality = (float)q;
    config.alpha_quality = 100;
    config.exact = 1;  // colour under fully transparent pixels stays as it was
    if (!WebPValidateConfig(&config)) {
        set_err(err, err_cap, L"WebP 编码参数不合法（质量 %d）。", q);
        return 0;
    }
    WebPPicture picture;
    if (!WebPPictureInitInternal(&picture, kWebpEncoderAbi)) {
        set_err(err, err_cap, L"WebP 编码器初始化失败。");
        return 0;
    }
    WebPMemoryWriter writer;
    WebPMemoryWriterInit(&writer);
    picture.use_argb = 1;
    picture.width = (int)image->width;
    picture.height = (int)image->height;
    picture.writer = WebPMemoryWrite;
    picture.custom_ptr = &writer;

    int ok = 0;
    if (!WebPPictureImportBGRA(&picture, image->data, (int)image->stride)) {
        set_err(err, err_cap, L"WebP 编码失败：图像数据导入出错。");
    } else if (!WebPEncode(&config, &picture)) {
        set_err(err, err_cap, L"WebP 编码失败（编码器错误码 %d）。", (int)picture.error_code);
    } else if (writer.size == 0) {
        set_err(err, err_cap, L"WebP 编码结果为空。");
    } else if (writer.size > 0x7FFFFFFF || !(blob->data = (uint8_t *)malloc(writer.size))) {
        set_err(err, err_cap, L"内存不足，无法完成 WebP 编码。");
    } else {
        memcpy(blob->data, writer.mem, writer.size);
        blob->size = (int32_t)writer.size;
        ok = 1;
    }
    WebPPictureFree(&picture);
    WebPMemoryWriterClear(&writer);
    return ok;
}

int webp_encode_mem(const Image *image, int quality, Blob *blob, WCHAR *err, int err_cap)
{
    clear_err(err, err_cap);
    if (!blob) return 0;
    blob_free(blob);
    if (!image || !image->data) return 0;
    return webp_encode(image, quality, blob, err, err_cap);
}

int webp_write_file(const WCHAR *path, const Image *image, int quality, WCHAR *err, int err_cap)
{
    clear_err(err, err_cap);
    if (!image || !image->data) return 0;
    Blob blob = {};
    if (!webp_encode(image, quality, &blob, err, err_cap)) return 0;
    // Replaced only by a complete file, so a failed write never destroys the old one.
    HRESULT hr = codec_replace_file(path, blob.data, (size_t)blob.size);
    blob_free(&blob);
    if (SUCCEEDED(hr)) return 1;
    if (hr == HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED) || hr == HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION) ||
        hr == HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND) || hr == HRESULT_FROM_WIN32(ERROR_INVALID_NAME))
        set_err(err, err_cap, L"无法写入「%s」。\n\n文件可能正被其它程序打开，或者目录没有写入权限。", codec_file_part(path));
    else
        set_err(err, err_cap, L"写入「%s」失败。", codec_file_part(path));
    return 0;
}
