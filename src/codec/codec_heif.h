// HEIC and AVIF through libheif (libde265 for HEVC, dav1d for AV1), chosen by
// content: the probe's kProbeHeif. Messages follow the err/err_cap convention.
#pragma once
#include "codec/codec.h"
#include <vector>

// The primary picture with its rotation, mirroring and crop applied, 8 bits per channel.
Image *heif_load(const WCHAR *path, WCHAR *err, int err_cap);
// The file's own thumbnail item when it has one at least max_side on its longer
// side, scaled to fit; null (err empty) when there is none and the picture must be decoded.
Image *heif_load_thumb_item(const WCHAR *path, uint32_t max_side);
// The primary picture's EXIF block as a JPEG APP1 payload ("Exif\0\0" + TIFF); false when it has none.
bool heif_exif_payload(const WCHAR *path, std::vector<uint8_t> *payload);
