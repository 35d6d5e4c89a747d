// Entropy decoding for pictures decoded at 1/8 scale. There libjpeg uses only the
// DC value of each full-resolution block, yet walks every AC code one lookup at a
// time, which is nearly all of a thumbnail's cost. Here a wider table takes an AC
// code and the bits that follow it in one step. Blocks, warnings and the handling
// of damaged data and restart markers are libjpeg's own.
#pragma once
#include <cstdint>
#include <cstdio>
#include <jpeglib.h>

constexpr int kEighthLookBits = 12;

struct EighthTable {
    int32_t maxcode[18];    // largest code of each length, -1 if none; [17] is a sentinel
    int32_t valoffset[18];  // symbol index minus code, per length
    const UINT8 *symbols;
    // Per kEighthLookBits-bit prefix, 0 where the code is longer:
    int32_t code_look[1 << kEighthLookBits];  // a code and, where they fit, its value bits
    // AC codes with their value bits: length | coefficients passed << 4 | ended the block << 12
    uint16_t skip_look[1 << kEighthLookBits];
};

struct JpegEighth {
    EighthTable dc[NUM_HUFF_TBLS];
    EighthTable ac[NUM_HUFF_TBLS];
    const EighthTable *dc_of_block[D_MAX_BLOCKS_IN_MCU];
    const EighthTable *ac_of_block[D_MAX_BLOCKS_IN_MCU];
    bool dc_needed[D_MAX_BLOCKS_IN_MCU];
    bool ac_needed[D_MAX_BLOCKS_IN_MCU];  // subsampled colour scaled up by the inverse DCT
    int last_dc[MAX_COMPS_IN_SCAN];
    uint64_t bits;
    int bits_left;
    unsigned int restarts_to_go;
};

// Call right after jpeg_start_decompress. Takes over a single sequential Huffman
// scan decoded at 1/8 scale; returns false (and changes nothing) otherwise. state
// must outlive the decode.
bool jpeg_eighth_install(j_decompress_ptr cinfo, JpegEighth *state);

// For tests: 0 leaves libjpeg's own entropy decoder in place; how many decodes
// this one took over.
void jpeg_eighth_set_enabled(int enabled);
long jpeg_eighth_installs();
