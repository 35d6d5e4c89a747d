// JPEG through libjpeg-turbo: encoding (WIC's JPEG encoder ignores quality under
// Wine) and decoding (Wine's WIC decoder is the slow reference one and cannot scale).
#pragma once
#include "codec/codec.h"
#include "codec/jpeg_decode.h"
#include <vector>

// Encodes an opaque 24-bit JPEG of image (alpha must already be flattened by the caller)
// straight into blob (general heap); app1 (may be null or empty) is written as an APP1
// marker. Returns S_OK or a failure HRESULT.
HRESULT jpeg_encode_blob(const Image *image, int quality, const std::vector<uint8_t> *app1, Blob *blob);

// Decodes a JPEG file to BGRA. With min_w and min_h nonzero the largest DCT scale
// (1/2, 1/4, 1/8) whose output still covers min_w x min_h is used.
JpegDecodeStatus jpeg_decode_file(const WCHAR *path, uint32_t min_w, uint32_t min_h, JpegDecoded *out);
// Decodes at the DCT scale for box_w x box_h and, when the scaled rows are three
// times the size or more, box-averages them a band at a time as they come to exactly
// box_w x box_h: a thumbnail without the scaled picture. Otherwise as jpeg_decode_file.
JpegDecodeStatus jpeg_decode_box(const WCHAR *path, uint32_t box_w, uint32_t box_h, JpegDecoded *out);
