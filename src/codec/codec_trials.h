// One picture encoded again and again in one format, as a size search does: what
// does not depend on quality is done once. Each encoding gives exactly the bytes
// and messages of codec_encode_mem.
#pragma once
#include "codec/codec.h"

struct CodecTrials;

// Null only when out of memory. image must stay unchanged until codec_trials_end.
CodecTrials *codec_trials_begin(const Image *image, const WCHAR *ext, const WCHAR *exif_src_path);
// Safe to call from several threads at once on one CodecTrials.
int codec_trials_encode(const CodecTrials *trials, int quality, Blob *blob, WCHAR *err, int err_cap);
// As codec_trials_encode, but may stop early when the encoding is sure to be larger
// than limit bytes: then returns 2 with *floor, a lower bound of its size over limit,
// and blob empty. Formats without such a bound are encoded in full (1).
int codec_trials_encode_within(const CodecTrials *trials, int quality, int64_t limit, Blob *blob, int64_t *floor,
                               WCHAR *err, int err_cap);
void codec_trials_end(CodecTrials *trials);
