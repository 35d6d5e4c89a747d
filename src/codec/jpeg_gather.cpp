// Counts the Huffman symbols of every block as libjpeg's statistics pass does, but
// finds the non-zero coefficients with a 64-bit mask instead of 63 branches.
#include "codec/jpeg_gather.h"
#include "codec/jpeg_order.h"
#include <jerror.h>
#include <array>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <emmintrin.h>

namespace {

constexpr int kMaxCoefBits = 10;  // 8-bit samples

using ZigzagTable = std::array<std::array<uint64_t, 256>, 8>;

// For byte b of a mask in block order, the same bits in zigzag order.
constexpr ZigzagTable make_zigzag_table()
{
    int zigzag_of[64] = {};
    for (int k = 0; k < 64; ++k) zigzag_of[kJpegNaturalOrder[k]] = k;
    ZigzagTable t = {};
    for (int byte = 0; byte < 8; ++byte)
        for (int v = 0; v < 256; ++v)
            for (int bit = 0; bit < 8; ++bit)
                if (v & (1 << bit)) t[byte][v] |= uint64_t(1) << zigzag_of[byte * 8 + bit];
    return t;
}

constexpr ZigzagTable kZigzag = make_zigzag_table();

std::atomic<int> g_enabled{1};

// Bit k set when the k-th coefficient in zigzag order is not zero.
inline uint64_t nonzero_zigzag(const JCOEF *block)
{
    const __m128i zero = _mm_setzero_si128();
    uint64_t natural = 0;
    for (int i = 0; i < 4; ++i) {
        __m128i a = _mm_loadu_si128((const __m128i *)(block + i * 16));
        __m128i b = _mm_loadu_si128((const __m128i *)(block + i * 16 + 8));
        __m128i zeros = _mm_packs_epi16(_mm_cmpeq_epi16(a, zero), _mm_cmpeq_epi16(b, zero));
        natural |= (uint64_t)(uint16_t)~_mm_movemask_epi8(zeros) << (i * 16);
    }
    uint64_t zz = 0;
    for (int byte = 0; byte < 8; ++byte) zz |= kZigzag[byte][(natural >> (byte * 8)) & 0xFF];
    return zz;
}

inline int magnitude_bits(int v)
{
    unsigned a = (unsigned)(v < 0 ? -v : v);
    return a ? 32 - __builtin_clz(a) : 0;
}

void bad_coefficient(j_compress_ptr cinfo)
{
    ERREXIT(cinfo, JERR_BAD_DCT_COEF);
}

}  // namespace

void jpeg_gather_count_block(j_compress_ptr cinfo, const JCOEF *block, int last_dc, long *dc_counts, long *ac_counts)
{
    int dc_bits = magnitude_bits(block[0] - last_dc);
    if (dc_bits > kMaxCoefBits + 1) bad_coefficient(cinfo);
    dc_counts[dc_bits]++;

    uint64_t mask = nonzero_zigzag(block) & ~uint64_t(1);
    int prev = 0;
    while (mask) {
        int k = __builtin_ctzll(mask);
        mask &= mask - 1;
        int run = k - prev - 1;
        for (; run > 15; run -= 16) ac_counts[0xF0]++;
        int bits = magnitude_bits(block[kJpegNaturalOrder[k]]);
        if (bits > kMaxCoefBits) bad_coefficient(cinfo);
        ac_counts[(run << 4) + bits]++;
        prev = k;
    }
    if (prev != 63) ac_counts[0]++;  // end of block
}

namespace {

boolean gather_mcu(j_compress_ptr cinfo, JBLOCKROW *MCU_data)
{
    JpegGather *g = (JpegGather *)cinfo->client_data;
    for (int blkn = 0; blkn < cinfo->blocks_in_MCU; ++blkn) {
        int ci = cinfo->MCU_membership[blkn];
        const jpeg_component_info *comp = cinfo->cur_comp_info[ci];
        const JCOEF *block = MCU_data[blkn][0];
        jpeg_gather_count_block(cinfo, block, g->last_dc[ci], g->dc_counts[comp->dc_tbl_no], g->ac_counts[comp->ac_tbl_no]);
        g->last_dc[ci] = block[0];
    }
    return TRUE;
}

void gather_finish(j_compress_ptr cinfo)
{
    JpegGather *g = (JpegGather *)cinfo->client_data;
    int dc[MAX_COMPS_IN_SCAN], ac[MAX_COMPS_IN_SCAN];
    for (int ci = 0; ci < cinfo->comps_in_scan; ++ci) {
        dc[ci] = cinfo->cur_comp_info[ci]->dc_tbl_no;
        ac[ci] = cinfo->cur_comp_info[ci]->ac_tbl_no;
    }
    jpeg_gather_build_tables(cinfo, dc, ac, cinfo->comps_in_scan, g->dc_counts, g->ac_counts);
    cinfo->client_data = g->saved_client_data;
}

bool tables_in_range(j_compress_ptr cinfo)
{
    for (int ci = 0; ci < cinfo->comps_in_scan; ++ci) {
        const jpeg_component_info *comp = cinfo->cur_comp_info[ci];
        if (comp->dc_tbl_no < 0 || comp->dc_tbl_no >= NUM_HUFF_TBLS || comp->ac_tbl_no < 0 ||
            comp->ac_tbl_no >= NUM_HUFF_TBLS)
            return false;
    }
    return true;
}

}  // namespace

void jpeg_gather_install(j_compress_ptr cinfo, JpegGather *gather)
{
    if (!g_enabled.load(std::memory_order_relaxed) || !cinfo->optimize_coding || cinfo->progressive_mode ||
        cinfo->arith_code || cinfo->restart_interval || cinfo->restart_in_rows || !tables_in_range(cinfo))
        return;
    memset(gather->dc_counts, 0, sizeof gather->dc_counts);
    memset(gather->ac_counts, 0, sizeof gather->ac_counts);
    memset(gather->last_dc, 0, sizeof gather->last_dc);
    gather->saved_client_data = cinfo->client_data;
    cinfo->client_data = gather;
    // The statistics pass has already begun: only its per-block work and its end change.
    cinfo->entropy->encode_mcu = gather_mcu;
    cinfo->entropy->finish_pass = gather_finish;
}

void jpeg_gather_build_tables(j_compress_ptr cinfo, const int *dc_tbl, const int *ac_tbl, int components,
                              long (*dc_counts)[257], long (*ac_counts)[257])
{
    bool did_dc[NUM_HUFF_TBLS] = {}, did_ac[NUM_HUFF_TBLS] = {};
    for (int ci = 0; ci < components; ++ci) {
        int dc = dc_tbl[ci], ac = ac_tbl[ci];
        if (!did_dc[dc]) {
            if (!cinfo->dc_huff_tbl_ptrs[dc]) cinfo->dc_huff_tbl_ptrs[dc] = jpeg_alloc_huff_table((j_common_ptr)cinfo);
            jpeg_gen_optimal_table(cinfo, cinfo->dc_huff_tbl_ptrs[dc], dc_counts[dc]);
            did_dc[dc] = true;
        }
        if (!did_ac[ac]) {
            if (!cinfo->ac_huff_tbl_ptrs[ac]) cinfo->ac_huff_tbl_ptrs[ac] = jpeg_alloc_huff_table((j_common_ptr)cinfo);
            jpeg_gen_optimal_table(cinfo, cinfo->ac_huff_tbl_ptrs[ac], ac_counts[ac]);
            did_ac[ac] = true;
        }
    }
}

void jpeg_gather_set_enabled(int enabled)
{
    g_enabled.store(enabled ? 1 : 0);
}
