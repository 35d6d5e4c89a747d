// HEVC decoding for libheif through libde265, as libheif's own decoder does it, but
// with a large picture's rows decoded on every core: libheif's gives every picture,
// grid tiles included, one worker thread.
#pragma once

// Makes libheif choose this decoder for HEVC; safe to call from any thread, any
// number of times, before each use of libheif.
void heif_de265_register();

// libheif's YCbCr to planar RGB conversion, done by the decoder on two threads for
// the next picture of width x height it decodes on this thread, instead of by libheif
// on one: the picture then leaves libheif as planar RGB with the same bytes.
struct HeifRgbRequest {
    int width, height;
    // The item's colour box when it has one; else libheif goes by the bitstream's.
    bool has_box, box_full_range;
    int box_matrix;
};
// Null clears the request; it is also dropped once used. Pictures libheif would
// convert another way (limited range, some matrices) are left to libheif.
void heif_de265_request_rgb(const HeifRgbRequest *request);
