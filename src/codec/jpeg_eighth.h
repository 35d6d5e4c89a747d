// Entropy decoding for pictures decoded at 1/8 scale. There libjpeg uses only the
// DC value of each full-resolution block, yet walks every AC code one lookup at a
// time, which is nearly all of a thumbnail's cost. Here a wider table takes an AC
// code and the bits that follow it in one step. Blocks, warnings and the handling
// of damaged data and restart markers are libjpeg's own.
#pragma once
#include <cstdio>
#include <jpeglib.h>

struct JpegEighth;

// Call right after jpeg_start_decompress. Takes over a single sequential Huffman
// scan decoded at 1/8 scale and returns its state, to free (jpeg_eighth_free)
// once the decode is over; returns null and changes nothing otherwise.
JpegEighth *jpeg_eighth_install(j_decompress_ptr cinfo);
void jpeg_eighth_free(JpegEighth *state);

// For tests: 0 leaves libjpeg's own entropy decoder in place; how many decodes
// this one took over.
void jpeg_eighth_set_enabled(int enabled);
long jpeg_eighth_installs();
