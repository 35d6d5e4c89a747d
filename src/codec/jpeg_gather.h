// A faster statistics pass for libjpeg's optimised Huffman tables: the library's
// own pass tests every coefficient with a branch and costs more than the DCT and
// the output pass together. The tables and bytes that result are the same.
#pragma once
#include <cstdint>
#include <cstdio>
#include <jpeglib.h>

// libjpeg's entropy module interface (its internal header is not installed).
struct jpeg_entropy_encoder {
    void (*start_pass)(j_compress_ptr cinfo, boolean gather_statistics);
    boolean (*encode_mcu)(j_compress_ptr cinfo, JBLOCKROW *MCU_data);
    void (*finish_pass)(j_compress_ptr cinfo);
};

struct JpegGather {
    long dc_counts[NUM_HUFF_TBLS][257];  // 257 entries: the table builder reserves the last
    long ac_counts[NUM_HUFF_TBLS][257];
    int last_dc[MAX_COMPS_IN_SCAN];
    void *saved_client_data;
};

// Call right after jpeg_start_compress of a sequential Huffman encode with
// optimize_coding set (otherwise nothing changes). gather must outlive the pass.
void jpeg_gather_install(j_compress_ptr cinfo, JpegGather *gather);

extern "C" void jpeg_gen_optimal_table(j_compress_ptr cinfo, JHUFF_TBL *htbl, long freq[]);

// Counts one block's symbols: the DC difference from last_dc and the AC run/size pairs.
void jpeg_gather_count_block(j_compress_ptr cinfo, const JCOEF *block, int last_dc, long *dc_counts, long *ac_counts);

// Builds each table the components use once from its counts, which the builder
// consumes, as libjpeg's own statistics pass does.
void jpeg_gather_build_tables(j_compress_ptr cinfo, const int *dc_tbl, const int *ac_tbl, int components,
                              long (*dc_counts)[257], long (*ac_counts)[257]);

// The parameters every encode here uses: BGRX in, libjpeg's defaults, quality.
void jpeg_encode_setup(j_compress_ptr cinfo, uint32_t width, uint32_t height, int quality);

// For tests: 0 leaves libjpeg's own statistics pass in place.
void jpeg_gather_set_enabled(int enabled);
