// JPEG encoding through libjpeg-turbo (WIC's JPEG encoder ignores quality under Wine).
#pragma once
#include "codec/codec.h"
#include <vector>

// Encodes an opaque 24-bit JPEG of image (alpha must already be flattened by the caller);
// app1 (may be null or empty) is written as an APP1 marker. Returns S_OK or a failure HRESULT.
HRESULT jpeg_encode(const Image *image, int quality, const std::vector<uint8_t> *app1,
                    std::vector<uint8_t> *out);
