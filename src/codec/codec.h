// Pictures in and out: WIC for the platform formats, libwebp for .webp, libheif for HEIC and AVIF,
// libjpeg-turbo for JPEG encoding. Messages follow the err/err_cap convention.
#pragma once
#include <windows.h>
#include <wincodec.h>
#include "image/image.h"

struct Blob {
    uint8_t *data;  // general heap (malloc); null when empty
    int32_t size;
};

IWICImagingFactory *codec_factory();
void codec_shutdown();
// Frees the large buffers kept for reuse between decodes and encodes; for the end
// of a compression run and idle moments. codec_shutdown does it too.
void codec_release_buffers();
int codec_ext_supported(const WCHAR *path);

Image *codec_load(const WCHAR *path, WCHAR *err, int err_cap);
Image *codec_load_thumb(const WCHAR *path, uint32_t max_side, WCHAR *err, int err_cap);
int codec_save(const Image *image, const WCHAR *path, int quality, const WCHAR *exif_src_path,
               WCHAR *err, int err_cap);
int codec_encode_mem(const Image *image, const WCHAR *ext, int quality, const WCHAR *exif_src_path,
                     Blob *blob, WCHAR *err, int err_cap);
int codec_write_blob(const WCHAR *path, const Blob *blob, WCHAR *err, int err_cap);
Blob *blob_free(Blob *blob);

// Shared by the codec modules: formats into err (cleared/terminated per the convention).
void set_err(WCHAR *err, int err_cap, const WCHAR *format, ...);
void clear_err(WCHAR *err, int err_cap);
// The damaged-file and out-of-memory messages every decoder gives.
void codec_set_damaged(const WCHAR *path, WCHAR *err, int err_cap);
void codec_set_no_memory(uint32_t width, uint32_t height, WCHAR *err, int err_cap);
// File-name part of a path, for "%s" in messages.
const WCHAR *codec_file_part(const WCHAR *path);
// The extension with its dot, or the end of the path when there is none; as
// PathFindExtensionW, without loading shlwapi into a console run.
const WCHAR *codec_file_ext(const WCHAR *path);
// Writes bytes to path through a temporary file in the same folder, replacing
// path only once everything is on disk. Returns S_OK or a failure HRESULT.
HRESULT codec_replace_file(const WCHAR *path, const void *bytes, size_t size);
