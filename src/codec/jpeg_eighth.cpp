#include "codec/jpeg_eighth.h"
#include "codec/jpeg_order.h"
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <jerror.h>

// The private module interfaces below are those of libjpeg-turbo 2.1.5, which
// the build pins; another version could lay them out differently.
static_assert(LIBJPEG_TURBO_VERSION_NUMBER == 2001005, "check the entropy and marker interfaces");

struct jpeg_entropy_decoder {
    void (*start_pass)(j_decompress_ptr cinfo);
    boolean (*decode_mcu)(j_decompress_ptr cinfo, JBLOCKROW *MCU_data);
    boolean insufficient_data;
};

struct jpeg_marker_reader {
    void (*reset_marker_reader)(j_decompress_ptr cinfo);
    int (*read_markers)(j_decompress_ptr cinfo);
    jpeg_marker_parser_method read_restart_marker;
    boolean saw_SOI;
    boolean saw_SOF;
    int next_restart_num;
    unsigned int discarded_bytes;
};

// Lookahead bits of the tables, and of libjpeg's own.
constexpr int kLook = 12;
constexpr int kLibjpegLook = 8;

struct EighthTable {
    int32_t maxcode[18];    // largest code of each length, -1 if none; [17] is a sentinel
    int32_t valoffset[18];  // symbol index minus code, per length
    const UINT8 *symbols;
    // Per kLook-bit prefix, 0 where the code is longer:
    int32_t code_look[1 << kLook];  // a code and, where they fit, its value bits
    // libjpeg's own 8-bit lookahead: code length << 8 | symbol, 0 where the code is longer
    uint16_t look8[1 << kLibjpegLook];
    // AC codes with their value bits: length | coefficients passed << 4 | ended the block << 12
    // | where the last code starts << 16
    uint32_t skip_look[1 << kLook];
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

namespace {

constexpr uint32_t kSkipEob = 1 << 12;
// Lookup entry flags beside length (bits 0-4), run (5-8), value bits still to read (9-12), value (16-31).
constexpr int32_t kEob = 1 << 13;
constexpr int32_t kZrl = 1 << 14;
// libjpeg keeps at least this many bits loaded when it can (a 64-bit buffer).
constexpr int kMinGetBits = 57;

std::atomic<int> g_enabled{1};
std::atomic<long> g_installs;

// The bit reader, held in locals for one MCU and written back after it.
struct Reader {
    j_decompress_ptr cinfo;
    const JOCTET *next;
    size_t avail;
    uint64_t bits;
    int left;
};

inline int next_byte(Reader *r)
{
    if (r->avail == 0) {
        r->cinfo->src->next_input_byte = r->next;
        r->cinfo->src->bytes_in_buffer = 0;
        (*r->cinfo->src->fill_input_buffer)(r->cinfo);
        r->next = r->cinfo->src->next_input_byte;
        r->avail = r->cinfo->src->bytes_in_buffer;
    }
    --r->avail;
    return *r->next++;
}

// As libjpeg fills its bit buffer: bytes up to the next marker, then, once a
// request reaches past it, one warning and zero bits.
void fill(Reader *r, int wanted)
{
    j_decompress_ptr cinfo = r->cinfo;
    // Eight bytes free of 0xFF (so neither stuffed bytes nor markers): the bytes
    // the loop below would take, in one go.
    if (cinfo->unread_marker == 0 && r->avail >= 8 && r->left < kMinGetBits) {
        uint64_t raw;
        memcpy(&raw, r->next, 8);
        uint64_t inverted = ~raw;
        if (((inverted - 0x0101010101010101ull) & ~inverted & 0x8080808080808080ull) == 0) {
            int n = (kMinGetBits - r->left + 7) >> 3;
            uint64_t ahead = __builtin_bswap64(raw);
            r->bits = n == 8 ? ahead : (r->bits << (8 * n)) | (ahead >> (64 - 8 * n));
            r->left += 8 * n;
            r->next += n;
            r->avail -= (size_t)n;
            return;
        }
    }
    while (cinfo->unread_marker == 0 && r->left < kMinGetBits) {
        int c = next_byte(r);
        if (c == 0xFF) {
            do c = next_byte(r);
            while (c == 0xFF);
            if (c != 0) {
                cinfo->unread_marker = c;
                break;
            }
            c = 0xFF;
        }
        r->bits = (r->bits << 8) | (uint64_t)c;
        r->left += 8;
    }
    if (cinfo->unread_marker != 0 && wanted > r->left) {
        if (!cinfo->entropy->insufficient_data) {
            WARNMS(cinfo, JWRN_HIT_MARKER);
            cinfo->entropy->insufficient_data = TRUE;
        }
        r->bits <<= kMinGetBits - r->left;
        r->left = kMinGetBits;
    }
}

inline int take(Reader *r, int n)
{
    if (r->left < n) fill(r, n);
    r->left -= n;
    return (int)(r->bits >> r->left) & ((1 << n) - 1);
}

// A code bit by bit from its first l bits, as libjpeg does past its lookahead.
int symbol_slow(Reader *r, const EighthTable *t, int l)
{
    int32_t code = take(r, l);
    while (code > t->maxcode[l]) {
        code = (code << 1) | take(r, 1);
        ++l;
    }
    if (l > 16) {
        WARNMS(r->cinfo, JWRN_HUFF_BAD_CODE);
        return 0;
    }
    return t->symbols[code + t->valoffset[l]];
}

inline int extend(int v, int size)
{
    return v < (1 << (size - 1)) ? v - (1 << size) + 1 : v;
}

// A code as a lookup entry, for codes decoded bit by bit (nothing consumed yet).
int32_t entry_of(int sym, bool ac, int consumed, int value, bool value_read)
{
    int run = ac ? sym >> 4 : 0, size = sym & 15;
    int32_t e = consumed | run << 5;
    if (ac && !size) return e | (run == 15 ? kZrl : kEob);
    if (value_read) return e | (int32_t)((uint32_t)(value & 0xFFFF) << 16);
    return e | size << 9;
}

// A code the table could not give from the bits loaded (at least 8): found as
// libjpeg finds it, by its 8-bit lookahead or bit by bit from 9 bits on, which
// refills when fewer than 9 are loaded.
int32_t code_past_table(Reader *r, const EighthTable *t, bool ac)
{
    unsigned look = t->look8[(r->bits >> (r->left - kLibjpegLook)) & ((1u << kLibjpegLook) - 1)];
    if (look) {
        r->left -= (int)(look >> 8);
        return entry_of((int)(look & 0xFF), ac, 0, 0, false);
    }
    return entry_of(symbol_slow(r, t, kLibjpegLook + 1), ac, 0, 0, false);
}

// One code and, where the table holds them, its value bits. The bit buffer is
// refilled only where libjpeg's slow path refills it (below 8 bits for a code,
// below the value's size for its bits): a file's end is then reached at the
// same code, and the bytes left over at a restart marker are the same.
inline int32_t next_code(Reader *r, const EighthTable *t, bool ac)
{
    if (r->left < kLibjpegLook) {
        fill(r, 0);
        if (r->left < kLibjpegLook) return entry_of(symbol_slow(r, t, 1), ac, 0, 0, false);
    }
    // Below kLook bits the lookup sees zeros past the loaded ones: its entry
    // holds only if it lies within them.
    uint64_t window = r->left >= kLook ? r->bits >> (r->left - kLook) : r->bits << (kLook - r->left);
    int32_t e = t->code_look[window & ((1u << kLook) - 1)];
    if (e && (e & 31) <= r->left) {
        r->left -= e & 31;
        return e;
    }
    return code_past_table(r, t, ac);
}

inline int value_of(Reader *r, int32_t e)
{
    int size = (e >> 9) & 15;
    return size ? extend(take(r, size), size) : e >> 16;
}

int dc_difference(Reader *r, const EighthTable *t)
{
    return value_of(r, next_code(r, t, false));
}

void read_ac(Reader *r, const EighthTable *t, JCOEF *block)
{
    for (int k = 1; k < DCTSIZE2; ++k) {
        int32_t e = next_code(r, t, true);
        if (e & (kEob | kZrl)) {
            if (e & kEob) return;
            k += 15;
            continue;
        }
        k += (e >> 5) & 15;
        block[kJpegNaturalOrder[k]] = (JCOEF)value_of(r, e);
    }
}

void skip_ac(Reader *r, const EighthTable *t)
{
    // The bit buffer in registers: this loop is nearly all of the work.
    uint64_t bits = r->bits;
    int left = r->left;
    for (int k = 1; k < DCTSIZE2;) {
        // Several codes at once, as long as none of them can end the block early
        // and libjpeg would not refill before any of them (fewer than 8 bits left).
        if (left >= kLook) {
            uint32_t e = t->skip_look[(bits >> (left - kLook)) & ((1u << kLook) - 1)];
            int passed = (e >> 4) & 0xFF;
            if (e && k + passed < DCTSIZE2 && left >= (int)(e >> 16) + kLibjpegLook) {
                left -= e & 15;
                if (e & kSkipEob) break;
                k += passed;
                continue;
            }
        }
        r->bits = bits;
        r->left = left;
        int32_t code = next_code(r, t, true);
        if (code & kEob) return;
        value_of(r, code);
        bits = r->bits;
        left = r->left;
        k += code & kZrl ? 16 : ((code >> 5) & 15) + 1;
    }
    r->bits = bits;
    r->left = left;
}

// For each lookahead, the AC codes and value bits it holds whole, up to and
// including an end of block: bits used, coefficients passed, whether it ended,
// where the last code starts.
void build_skips(EighthTable *t)
{
    for (unsigned look = 0; look < (1u << kLook); ++look) {
        int used = 0, passed = 0, last = 0;
        bool eob = false;
        while (used < kLook) {
            int32_t e = t->code_look[(look << used) & ((1u << kLook) - 1)];
            int consumed = e & 31;
            // Bits past the lookahead are unknown: the code and its value must lie inside.
            if (!e || (e >> 9) & 15 || used + consumed > kLook) break;
            last = used;
            used += consumed;
            if (e & kEob) {
                eob = true;
                break;
            }
            passed += e & kZrl ? 16 : ((e >> 5) & 15) + 1;
        }
        t->skip_look[look] = used ? (uint32_t)(used | passed << 4 | (eob ? kSkipEob : 0) | last << 16) : 0;
    }
}

void build_table(EighthTable *t, const JHUFF_TBL *h, bool ac)
{
    int p = 0;
    int32_t code = 0;
    for (int l = 1; l <= 16; ++l) {
        int n = h->bits[l];
        t->maxcode[l] = -1;
        if (n) {
            t->valoffset[l] = p - code;
            code += n;
            p += n;
            t->maxcode[l] = code - 1;
        }
        code <<= 1;
    }
    t->maxcode[17] = 0xFFFFF;  // ends the bit-by-bit search on garbage
    t->symbols = h->huffval;
    memset(t->look8, 0, sizeof t->look8);
    memset(t->code_look, 0, sizeof t->code_look);
    p = 0;
    code = 0;
    for (int l = 1; l <= 16 && l <= kLook; ++l, code <<= 1) {
        for (int i = 0; i < h->bits[l]; ++i, ++code, ++p) {
            int sym = h->huffval[p], size = sym & 15;
            bool has_value = size != 0;
            // Every lookahead whose first l bits are this code; the value bits that
            // follow are taken with it when they fit.
            if (l <= kLibjpegLook)
                for (int j = 0; j < 1 << (kLibjpegLook - l); ++j)
                    t->look8[(code << (kLibjpegLook - l)) + j] = (uint16_t)(l << 8 | sym);
            int first = code << (kLook - l), count = 1 << (kLook - l);
            for (int j = 0; j < count; ++j) {
                unsigned look = (unsigned)(first + j);
                if (has_value && l + size <= kLook) {
                    int v = (int)(look >> (kLook - l - size)) & ((1 << size) - 1);
                    t->code_look[look] = entry_of(sym, ac, l + size, extend(v, size), true);
                } else {
                    t->code_look[look] = entry_of(sym, ac, l, 0, !has_value);
                }
            }
        }
    }
    if (ac) build_skips(t);
}

bool restart(j_decompress_ptr cinfo, JpegEighth *st)
{
    cinfo->marker->discarded_bytes += (unsigned)st->bits_left / 8;
    st->bits_left = 0;
    if (!(*cinfo->marker->read_restart_marker)(cinfo)) return false;
    for (int ci = 0; ci < cinfo->comps_in_scan; ++ci) st->last_dc[ci] = 0;
    st->restarts_to_go = cinfo->restart_interval;
    if (cinfo->unread_marker == 0) cinfo->entropy->insufficient_data = FALSE;
    return true;
}

boolean decode_mcu(j_decompress_ptr cinfo, JBLOCKROW *MCU_data)
{
    JpegEighth *st = (JpegEighth *)cinfo->client_data;
    if (cinfo->restart_interval && st->restarts_to_go == 0 && !restart(cinfo, st)) return FALSE;
    // Once the data ran out, the rest of the segment stays zero (uniform grey).
    if (!cinfo->entropy->insufficient_data) {
        Reader r = {cinfo, cinfo->src->next_input_byte, cinfo->src->bytes_in_buffer, st->bits, st->bits_left};
        for (int b = 0; b < cinfo->blocks_in_MCU; ++b) {
            JCOEF *block = MCU_data ? MCU_data[b][0] : nullptr;
            int diff = dc_difference(&r, st->dc_of_block[b]);
            if (st->dc_needed[b]) {
                int ci = cinfo->MCU_membership[b];
                int dc = (int)((unsigned)st->last_dc[ci] + (unsigned)diff);
                st->last_dc[ci] = dc;
                if (block) block[0] = (JCOEF)dc;
            }
            if (st->ac_needed[b] && block)
                read_ac(&r, st->ac_of_block[b], block);
            else
                skip_ac(&r, st->ac_of_block[b]);
        }
        cinfo->src->next_input_byte = r.next;
        cinfo->src->bytes_in_buffer = r.avail;
        st->bits = r.bits;
        st->bits_left = r.left;
    }
    if (cinfo->restart_interval) --st->restarts_to_go;
    return TRUE;
}

bool takes_over(j_decompress_ptr cinfo)
{
    if (!g_enabled.load(std::memory_order_relaxed)) return false;
    if (cinfo->progressive_mode || cinfo->arith_code || cinfo->buffered_image) return false;
    // Several scans were all read by libjpeg inside jpeg_start_decompress.
    if (jpeg_has_multiple_scans(cinfo)) return false;
    if (cinfo->comps_in_scan != cinfo->num_components || cinfo->blocks_in_MCU > D_MAX_BLOCKS_IN_MCU) return false;
    if (!cinfo->entropy || !cinfo->marker || !cinfo->marker->saw_SOF || cinfo->entropy->insufficient_data)
        return false;
    if (cinfo->min_DCT_scaled_size != 1) return false;
    for (int ci = 0; ci < cinfo->comps_in_scan; ++ci) {
        const jpeg_component_info *c = cinfo->cur_comp_info[ci];
        if (!cinfo->dc_huff_tbl_ptrs[c->dc_tbl_no] || !cinfo->ac_huff_tbl_ptrs[c->ac_tbl_no]) return false;
    }
    return true;
}

}  // namespace

JpegEighth *jpeg_eighth_install(j_decompress_ptr cinfo)
{
    if (!takes_over(cinfo)) return nullptr;
    // Every field a decode reads is set below, so the tables need no clearing.
    JpegEighth *st = (JpegEighth *)malloc(sizeof(JpegEighth));
    if (!st) return nullptr;
    bool built_dc[NUM_HUFF_TBLS] = {}, built_ac[NUM_HUFF_TBLS] = {};
    for (int ci = 0; ci < cinfo->comps_in_scan; ++ci) {
        const jpeg_component_info *c = cinfo->cur_comp_info[ci];
        if (!built_dc[c->dc_tbl_no]) build_table(&st->dc[c->dc_tbl_no], cinfo->dc_huff_tbl_ptrs[c->dc_tbl_no], false);
        if (!built_ac[c->ac_tbl_no]) build_table(&st->ac[c->ac_tbl_no], cinfo->ac_huff_tbl_ptrs[c->ac_tbl_no], true);
        built_dc[c->dc_tbl_no] = built_ac[c->ac_tbl_no] = true;
        st->last_dc[ci] = 0;
    }
    for (int b = 0; b < cinfo->blocks_in_MCU; ++b) {
        const jpeg_component_info *c = cinfo->cur_comp_info[cinfo->MCU_membership[b]];
        st->dc_of_block[b] = &st->dc[c->dc_tbl_no];
        st->ac_of_block[b] = &st->ac[c->ac_tbl_no];
        st->dc_needed[b] = c->component_needed != 0;
        st->ac_needed[b] = c->component_needed && c->DCT_scaled_size > 1;
    }
    st->bits = 0;
    st->bits_left = 0;
    st->restarts_to_go = cinfo->restart_interval;
    cinfo->client_data = st;
    cinfo->entropy->decode_mcu = decode_mcu;
    g_installs.fetch_add(1, std::memory_order_relaxed);
    return st;
}

void jpeg_eighth_free(JpegEighth *state)
{
    free(state);
}

void jpeg_eighth_set_enabled(int enabled)
{
    g_enabled.store(enabled ? 1 : 0);
}

long jpeg_eighth_installs()
{
    return g_installs.load();
}
