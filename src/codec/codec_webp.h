// WebP through libwebp: every path or target ending in ".webp".
#pragma once
#include "codec/codec.h"

Image *webp_load(const WCHAR *path, WCHAR *err, int err_cap);
int webp_encode_mem(const Image *image, int quality, Blob *blob, WCHAR *err, int err_cap);
int webp_write_file(const WCHAR *path, const Image *image, int quality, WCHAR *err, int err_cap);
