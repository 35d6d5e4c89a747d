// The size estimate behind the export dialog: what a compression or a
// conversion of a picture would weigh. Safe on any thread: it reads only its
// arguments and allocates its own buffers.
#pragma once
#include <windows.h>
#include <cstdint>
#include "image/image.h"

// Compress (mode 0) or convert (mode 1) estimate; 1 on success, 0 on failure
// (its message is discarded). The outputs are set in every case. keep_path: the
// picture's file while the picture is unchanged (null otherwise); a compression
// that keeps it as it is reports quality 0.
int app_export_estimate_job(uint32_t mode, const Image *picture, int32_t target_kb, uint32_t format,
                            uint32_t quality, uint32_t allow_downscale, const WCHAR *src_path,
                            const WCHAR *keep_path, uint32_t *out_bytes, uint32_t *out_width, uint32_t *out_height,
                            uint32_t *out_quality);

// File size of a format whose size does not depend on the content (PNG, BMP,
// TIFF in conversion); 1 and the bytes for those formats, 0 for the others.
int export_formula_bytes(uint32_t format, uint32_t width, uint32_t height, uint32_t *bytes);

// Encoder extension of a format index (".jpg" for an unknown index).
const WCHAR *export_format_ext(uint32_t format);
