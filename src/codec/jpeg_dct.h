// One picture encoded at many qualities: colour conversion, subsampling and the
// forward DCT do not depend on quality, so they run once and each encoding only
// quantises and writes. The bytes are those of jpeg_encode_blob at that quality.
#pragma once
#include "codec/codec.h"
#include <vector>

struct JpegDct;

// Null when the picture cannot be prepared (no memory, or a libjpeg build whose
// DCT stage is not the one this relies on): encode the plain way instead.
// image must be opaque (flattened by the caller).
JpegDct *jpeg_dct_prepare(const Image *image);
// The bytes jpeg_encode_blob would give at quality. When the entropy-coded data alone
// (a lower bound of the file's size) already passes limit, stops before writing:
// S_FALSE, *floor set, blob untouched. Otherwise S_OK or a failure HRESULT. Safe to
// call from several threads on one JpegDct.
HRESULT jpeg_dct_encode_within(const JpegDct *dct, int quality, const std::vector<uint8_t> *app1, int64_t limit,
                               Blob *blob, int64_t *floor);
void jpeg_dct_free(JpegDct *dct);
