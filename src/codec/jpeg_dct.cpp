// The DCT of a picture is taken once through libjpeg's own pipeline (its colour
// conversion, subsampling and SIMD DCT, with quantisation made the identity), then
// every quality quantises it as libjpeg's SIMD code does and writes it through the
// transcoding path with the optimal tables counted here: the same bytes, a third
// of the work.
#include "codec/jpeg_dct.h"
#include "codec/jpeg_gather.h"
#include "image/worker.h"
#include <csetjmp>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <jerror.h>
#include <emmintrin.h>

// libjpeg's forward-DCT module: the public part, then (in this libjpeg-turbo
// build) the private DCT, sample conversion and quantisation routines.
struct jpeg_forward_dct {
    void (*start_pass)(j_compress_ptr cinfo);
    void (*forward_DCT)(j_compress_ptr cinfo, jpeg_component_info *compptr, JSAMPARRAY sample_data,
                        JBLOCKROW coef_blocks, JDIMENSION start_row, JDIMENSION start_col, JDIMENSION num_blocks);
};

// The coefficient stage's interface.
struct jpeg_c_coef_controller {
    void (*start_pass)(j_compress_ptr cinfo, int pass_mode);
    boolean (*compress_data)(j_compress_ptr cinfo, JSAMPIMAGE input_buf);
};

using QuantizeFn = void (*)(JCOEFPTR coef_block, short *divisors, short *workspace);

struct FdctModule {
    jpeg_forward_dct pub;
    void (*dct)(short *data);
    void *convsamp;
    QuantizeFn quantize;
};

extern "C" {
void jsimd_fdct_islow(short *data);
void jsimd_quantize(JCOEFPTR coef_block, short *divisors, short *workspace);
void *jpeg_get_large(j_common_ptr cinfo, size_t size);
void jpeg_free_large(j_common_ptr cinfo, void *object, size_t size);
}

namespace {

struct Plane {
    JCOEF *blocks;  // unquantised, 64 per block in block order, real blocks only
    uint32_t w_blocks, h_blocks;
    int mcu_w, mcu_h;  // blocks per MCU across and down
    int quant_tbl, dc_tbl, ac_tbl;
};

}  // namespace

struct JpegDct {
    uint32_t width, height;
    int planes_used;
    Plane planes[MAX_COMPS_IN_SCAN];
    uint32_t mcus_per_row, mcu_rows;
    void *storage;
    size_t storage_bytes;
};

namespace {

struct DctError {
    jpeg_error_mgr base;
    jmp_buf jump;
};

void on_error(j_common_ptr cinfo)
{
    longjmp(((DctError *)cinfo->err)->jump, 1);
}

void no_message(j_common_ptr) {}

void use_error(jpeg_compress_struct *cinfo, DctError *err)
{
    cinfo->err = jpeg_std_error(&err->base);
    err->base.error_exit = on_error;
    err->base.output_message = no_message;
}

// The DCT pass writes only the file's first bytes before it is abandoned.
struct NullDest {
    jpeg_destination_mgr base;
    JOCTET buffer[4096];
};

void null_reset(j_compress_ptr cinfo)
{
    NullDest *d = (NullDest *)cinfo->dest;
    d->base.next_output_byte = d->buffer;
    d->base.free_in_buffer = sizeof d->buffer;
}

boolean null_empty(j_compress_ptr cinfo)
{
    null_reset(cinfo);
    return TRUE;
}

void null_term(j_compress_ptr) {}

void use_null_dest(j_compress_ptr cinfo, NullDest *dest)
{
    dest->base.init_destination = null_reset;
    dest->base.empty_output_buffer = null_empty;
    dest->base.term_destination = null_term;
    cinfo->dest = &dest->base;
}

void identity_quantize(JCOEFPTR coef_block, short *, short *workspace)
{
    memcpy(coef_block, workspace, DCTSIZE2 * sizeof(JCOEF));
}

// One band of MCU rows; its own encoder numbers them from first_mcu_row.
struct Capture {
    JpegDct *dct;
    uint32_t first_mcu_row;
    uint32_t next_mcu;
};

// Called for every MCU in order, with blocks past the picture's edge included.
boolean capture_mcu(j_compress_ptr cinfo, JBLOCKROW *MCU_data)
{
    Capture *cap = (Capture *)cinfo->client_data;
    JpegDct *dct = cap->dct;
    uint32_t row = cap->first_mcu_row + cap->next_mcu / dct->mcus_per_row, col = cap->next_mcu % dct->mcus_per_row;
    cap->next_mcu++;
    int blkn = 0;
    for (int ci = 0; ci < dct->planes_used; ++ci) {
        const Plane &p = dct->planes[ci];
        for (int y = 0; y < p.mcu_h; ++y) {
            for (int x = 0; x < p.mcu_w; ++x, ++blkn) {
                uint32_t by = row * p.mcu_h + y, bx = col * p.mcu_w + x;
                if (by < p.h_blocks && bx < p.w_blocks)
                    memcpy(p.blocks + ((size_t)by * p.w_blocks + bx) * DCTSIZE2, MCU_data[blkn][0],
                           DCTSIZE2 * sizeof(JCOEF));
            }
        }
    }
    return TRUE;
}

void capture_finish(j_compress_ptr) {}

// One interleaved scan holding every component, in order: the layout captured here.
bool plain_scan(j_compress_ptr cinfo)
{
    if (cinfo->comps_in_scan != cinfo->num_components || cinfo->num_components > MAX_COMPS_IN_SCAN) return false;
    for (int ci = 0; ci < cinfo->comps_in_scan; ++ci)
        if (cinfo->cur_comp_info[ci] != &cinfo->comp_info[ci]) return false;
    return !cinfo->progressive_mode && !cinfo->arith_code && !cinfo->restart_interval && !cinfo->restart_in_rows;
}

bool layout_known(j_compress_ptr cinfo)
{
    const FdctModule *fdct = (const FdctModule *)cinfo->fdct;
    return fdct && fdct->dct == jsimd_fdct_islow && fdct->quantize == jsimd_quantize;
}

bool plan_planes(j_compress_ptr cinfo, JpegDct *dct)
{
    dct->planes_used = cinfo->comps_in_scan;
    dct->mcus_per_row = cinfo->MCUs_per_row;
    dct->mcu_rows = cinfo->MCU_rows_in_scan;
    size_t blocks = 0;
    for (int ci = 0; ci < dct->planes_used; ++ci) {
        const jpeg_component_info *c = cinfo->cur_comp_info[ci];
        Plane &p = dct->planes[ci];
        p.w_blocks = c->width_in_blocks;
        p.h_blocks = c->height_in_blocks;
        p.mcu_w = c->MCU_width;
        p.mcu_h = c->MCU_height;
        p.quant_tbl = c->quant_tbl_no;
        p.dc_tbl = c->dc_tbl_no;
        p.ac_tbl = c->ac_tbl_no;
        blocks += (size_t)p.w_blocks * p.h_blocks;
    }
    dct->storage_bytes = blocks * DCTSIZE2 * sizeof(JCOEF);
    dct->storage = jpeg_get_large(nullptr, dct->storage_bytes);
    if (!dct->storage) return false;
    JCOEF *at = (JCOEF *)dct->storage;
    for (int ci = 0; ci < dct->planes_used; ++ci) {
        dct->planes[ci].blocks = at;
        at += (size_t)dct->planes[ci].w_blocks * dct->planes[ci].h_blocks * DCTSIZE2;
    }
    return true;
}

// Below this a second thread costs more than it saves.
constexpr uint64_t kBandsMinPixels = 1000000;

void capture_into(jpeg_compress_struct *cinfo, Capture *cap)
{
    ((FdctModule *)cinfo->fdct)->quantize = identity_quantize;
    cinfo->client_data = cap;
    cinfo->entropy->encode_mcu = capture_mcu;
    cinfo->entropy->finish_pass = capture_finish;
}

void feed_rows(jpeg_compress_struct *cinfo, const Image *image, uint32_t first, uint32_t end)
{
    while (cinfo->next_scanline < end - first) {
        JSAMPROW row = (JSAMPROW)(image->data + (size_t)(first + cinfo->next_scanline) * image->stride);
        jpeg_write_scanlines(cinfo, &row, 1);
    }
}

struct Band {
    const Image *image;
    JpegDct *dct;
    uint32_t first_row;  // pixel row where the band starts, on an MCU row boundary
    uint32_t first_mcu_row;
    bool ok;
};

// The rows from first_row to the bottom, as a picture of their own: MCU rows share
// no pixels, so its blocks are those of the whole picture. Plain C frame.
void capture_lower_band(Band *band)
{
    jpeg_compress_struct cinfo;
    memset(&cinfo, 0, sizeof cinfo);
    DctError err;
    use_error(&cinfo, &err);
    NullDest dest;
    Capture cap = {band->dct, band->first_mcu_row, 0};
    band->ok = false;
    if (setjmp(err.jump)) {
        jpeg_destroy_compress(&cinfo);
        return;
    }
    jpeg_create_compress(&cinfo);
    use_null_dest(&cinfo, &dest);
    jpeg_encode_setup(&cinfo, band->image->width, band->image->height - band->first_row, 75);
    jpeg_start_compress(&cinfo, TRUE);
    if (layout_known(&cinfo) && plain_scan(&cinfo) && cinfo.MCUs_per_row == band->dct->mcus_per_row) {
        capture_into(&cinfo, &cap);
        feed_rows(&cinfo, band->image, band->first_row, band->image->height);
        band->ok = band->first_mcu_row + cinfo.MCU_rows_in_scan == band->dct->mcu_rows &&
                   cap.next_mcu == cinfo.MCU_rows_in_scan * cinfo.MCUs_per_row;
    }
    jpeg_destroy_compress(&cinfo);
}

void lower_band_thread(void *arg)
{
    capture_lower_band((Band *)arg);
}

void join(std::thread *thread)
{
    if (thread->joinable()) thread->join();
}

// Plans the planes from the whole picture and captures it, the lower half of a
// large picture on a second thread. Plain C frame.
bool run_capture(const Image *image, JpegDct *dct)
{
    jpeg_compress_struct cinfo;
    memset(&cinfo, 0, sizeof cinfo);
    DctError err;
    use_error(&cinfo, &err);
    NullDest dest;
    Capture cap = {dct, 0, 0};
    Band lower = {image, dct, image->height, 0, true};
    std::thread helper;
    if (setjmp(err.jump)) {
        join(&helper);
        jpeg_destroy_compress(&cinfo);
        return false;
    }
    jpeg_create_compress(&cinfo);
    use_null_dest(&cinfo, &dest);
    jpeg_encode_setup(&cinfo, image->width, image->height, 75);
    jpeg_start_compress(&cinfo, TRUE);
    bool ok = layout_known(&cinfo) && plain_scan(&cinfo) && plan_planes(&cinfo, dct);
    if (ok) {
        uint32_t mcu_rows_above = dct->mcu_rows / 2;
        if ((uint64_t)image->width * image->height >= kBandsMinPixels && mcu_rows_above > 0) {
            lower.first_mcu_row = mcu_rows_above;
            lower.first_row = mcu_rows_above * (uint32_t)(cinfo.max_v_samp_factor * DCTSIZE);
            if (!worker_start(&helper, lower_band_thread, &lower)) capture_lower_band(&lower);
        }
        capture_into(&cinfo, &cap);
        feed_rows(&cinfo, image, 0, lower.first_row);
        join(&helper);
        uint32_t rows_here = lower.first_row < image->height ? lower.first_mcu_row : dct->mcu_rows;
        ok = lower.ok && cap.next_mcu == rows_here * dct->mcus_per_row;
    }
    jpeg_destroy_compress(&cinfo);
    return ok;
}
// libjpeg-turbo's reciprocal division for a quantiser q: (|x| + corr) * recip * scale >> 32.
struct Divisors {
    alignas(16) uint16_t recip[DCTSIZE2];
    alignas(16) uint16_t corr[DCTSIZE2];
    alignas(16) uint16_t scale[DCTSIZE2];
};

void make_divisors(const JQUANT_TBL *table, Divisors *d)
{
    for (int i = 0; i < DCTSIZE2; ++i) {
        uint32_t divisor = (uint32_t)table->quantval[i] << 3;  // the DCT's scaling
        int b = 31 - __builtin_clz(divisor);
        int r = 16 + b;
        uint64_t fq = ((uint64_t)1 << r) / divisor, fr = ((uint64_t)1 << r) % divisor;
        uint32_t c = divisor / 2;
        if (fr == 0) {
            fq >>= 1;
            --r;
        } else if (fr <= divisor / 2) {
            ++c;
        } else {
            ++fq;
        }
        d->recip[i] = (uint16_t)fq;
        d->corr[i] = (uint16_t)c;
        d->scale[i] = (uint16_t)(1u << (32 - r));
    }
}

void quantize_block(const JCOEF *in, JCOEF *out, const Divisors *d)
{
    for (int i = 0; i < DCTSIZE2; i += 8) {
        __m128i x = _mm_loadu_si128((const __m128i *)(in + i));
        __m128i sign = _mm_srai_epi16(x, 15);
        __m128i a = _mm_sub_epi16(_mm_xor_si128(x, sign), sign);
        a = _mm_add_epi16(a, _mm_load_si128((const __m128i *)(d->corr + i)));
        a = _mm_mulhi_epu16(a, _mm_load_si128((const __m128i *)(d->recip + i)));
        a = _mm_mulhi_epu16(a, _mm_load_si128((const __m128i *)(d->scale + i)));
        _mm_storeu_si128((__m128i *)(out + i), _mm_sub_epi16(_mm_xor_si128(a, sign), sign));
    }
}

struct Counts {
    long dc[NUM_HUFF_TBLS][257];
    long ac[NUM_HUFF_TBLS][257];
};

// One encoding's state: the quantisers, and one MCU's blocks as they are written.
struct Trial {
    const JpegDct *dct;
    Divisors div[MAX_COMPS_IN_SCAN];
    int plane_of[C_MAX_BLOCKS_IN_MCU];
    int blocks_in_mcu;
    uint32_t next_row;  // the writing pass's next MCU row
    JBLOCK blocks[C_MAX_BLOCKS_IN_MCU];
    JBLOCKROW rows[C_MAX_BLOCKS_IN_MCU];
};

bool trial_setup(Trial *t, const JpegDct *dct, j_compress_ptr cinfo)
{
    t->dct = dct;
    t->blocks_in_mcu = 0;
    t->next_row = 0;
    for (int ci = 0; ci < dct->planes_used; ++ci) {
        const Plane &p = dct->planes[ci];
        make_divisors(cinfo->quant_tbl_ptrs[p.quant_tbl], &t->div[ci]);
        for (int b = 0; b < p.mcu_w * p.mcu_h; ++b) {
            if (t->blocks_in_mcu == C_MAX_BLOCKS_IN_MCU) return false;
            t->plane_of[t->blocks_in_mcu++] = ci;
        }
    }
    for (int b = 0; b < C_MAX_BLOCKS_IN_MCU; ++b) t->rows[b] = &t->blocks[b];
    return true;
}

// The MCU's blocks in writing order: real ones quantised, past the picture's edge
// zero with the DC of the block before, as libjpeg pads.
void fill_mcu(Trial *t, uint32_t row, uint32_t col)
{
    const JpegDct *dct = t->dct;
    int blkn = 0;
    for (int ci = 0; ci < dct->planes_used; ++ci) {
        const Plane &p = dct->planes[ci];
        for (int y = 0; y < p.mcu_h; ++y) {
            uint32_t by = row * p.mcu_h + y;
            for (int x = 0; x < p.mcu_w; ++x, ++blkn) {
                uint32_t bx = col * p.mcu_w + x;
                JCOEF *out = t->blocks[blkn];
                if (by < p.h_blocks && bx < p.w_blocks) {
                    quantize_block(p.blocks + ((size_t)by * p.w_blocks + bx) * DCTSIZE2, out, &t->div[ci]);
                } else {
                    memset(out, 0, sizeof(JBLOCK));
                    out[0] = blkn > 0 ? t->blocks[blkn - 1][0] : 0;
                }
            }
        }
    }
}

void count_all(j_compress_ptr cinfo, Trial *t, Counts *counts)
{
    const JpegDct *dct = t->dct;
    int last_dc[MAX_COMPS_IN_SCAN] = {};
    for (uint32_t row = 0; row < dct->mcu_rows; ++row) {
        for (uint32_t col = 0; col < dct->mcus_per_row; ++col) {
            fill_mcu(t, row, col);
            for (int b = 0; b < t->blocks_in_mcu; ++b) {
                int ci = t->plane_of[b];
                const Plane &p = dct->planes[ci];
                jpeg_gather_count_block(cinfo, t->blocks[b], last_dc[ci], counts->dc[p.dc_tbl], counts->ac[p.ac_tbl]);
                last_dc[ci] = t->blocks[b][0];
            }
        }
    }
}

// Stands in for the transcoder's coefficient stage: libjpeg asks for one MCU row
// at a time and gets it quantised from the kept DCT, without a whole-picture buffer.
boolean write_mcu_row(j_compress_ptr cinfo, JSAMPIMAGE)
{
    Trial *t = (Trial *)cinfo->client_data;
    uint32_t row = t->next_row++;
    for (uint32_t col = 0; col < t->dct->mcus_per_row; ++col) {
        fill_mcu(t, row, col);
        if (!cinfo->entropy->encode_mcu(cinfo, t->rows)) return FALSE;
    }
    return TRUE;
}

void install_tables(j_compress_ptr cinfo, const JpegDct *dct, Counts *counts)
{
    int dc[MAX_COMPS_IN_SCAN], ac[MAX_COMPS_IN_SCAN];
    for (int ci = 0; ci < dct->planes_used; ++ci) {
        dc[ci] = dct->planes[ci].dc_tbl;
        ac[ci] = dct->planes[ci].ac_tbl;
    }
    jpeg_gather_build_tables(cinfo, dc, ac, dct->planes_used, counts->dc, counts->ac);
}

// Bits of entropy-coded data under a table: each symbol's code plus the magnitude
// bits it carries (the low four bits of the symbol).
int64_t table_bits(const JHUFF_TBL *table, const long *freq)
{
    int64_t bits = 0;
    int i = 0;
    for (int len = 1; len <= 16; ++len) {
        for (int n = 0; n < table->bits[len]; ++n, ++i) {
            int symbol = table->huffval[i];
            bits += (int64_t)freq[symbol] * (len + (symbol & 15));
        }
    }
    return bits;
}

int64_t coded_bits(j_compress_ptr cinfo, const JpegDct *dct, const Counts *counts)
{
    bool did_dc[NUM_HUFF_TBLS] = {}, did_ac[NUM_HUFF_TBLS] = {};
    int64_t bits = 0;
    for (int ci = 0; ci < dct->planes_used; ++ci) {
        int dc = dct->planes[ci].dc_tbl, ac = dct->planes[ci].ac_tbl;
        if (!did_dc[dc]) bits += table_bits(cinfo->dc_huff_tbl_ptrs[dc], counts->dc[dc]);
        if (!did_ac[ac]) bits += table_bits(cinfo->ac_huff_tbl_ptrs[ac], counts->ac[ac]);
        did_dc[dc] = did_ac[ac] = true;
    }
    return bits;
}

struct Scratch {
    Counts counts;
    Counts kept;  // the table builder consumes its counts
    Trial trial;
};

enum EncodeOutcome { kEncodeFailed, kEncoded, kEncodeOver };

// The encoding's bytes in one malloc block: it doubles when full like libjpeg's own
// memory destination, but is sized once the symbols are counted, so a trial's
// output is seldom copied.
struct GrowDest {
    jpeg_destination_mgr base;
    unsigned char *bytes;
    size_t capacity;
};

constexpr size_t kFirstCapacity = 64 * 1024;

void grow_to(j_compress_ptr cinfo, size_t capacity)
{
    GrowDest *d = (GrowDest *)cinfo->dest;
    size_t used = d->capacity - d->base.free_in_buffer;
    unsigned char *bigger = (unsigned char *)realloc(d->bytes, capacity);
    if (!bigger) ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 10);
    d->bytes = bigger;
    d->capacity = capacity;
    d->base.next_output_byte = bigger + used;
    d->base.free_in_buffer = capacity - used;
}

void grow_init(j_compress_ptr cinfo)
{
    GrowDest *d = (GrowDest *)cinfo->dest;
    d->capacity = 0;
    d->base.free_in_buffer = 0;
    grow_to(cinfo, kFirstCapacity);
}

boolean grow_empty(j_compress_ptr cinfo)
{
    grow_to(cinfo, ((GrowDest *)cinfo->dest)->capacity * 2);
    return TRUE;
}

void grow_term(j_compress_ptr) {}

// Room for what is written already and the coded data with a margin for stuffed bytes.
void reserve_for(j_compress_ptr cinfo, int64_t coded_bytes)
{
    GrowDest *d = (GrowDest *)cinfo->dest;
    size_t want = (d->capacity - d->base.free_in_buffer) + (size_t)coded_bytes + (size_t)coded_bytes / 32 + 4096;
    if (want > d->capacity) grow_to(cinfo, want);
}

// Plain C frame: nothing with a destructor lives across setjmp. Stops before
// writing when the coded data alone, without headers and stuffed bytes, passes limit.
EncodeOutcome encode_from_dct(const JpegDct *dct, int quality, const uint8_t *app1, size_t app1_size, int64_t limit,
                              Scratch *scratch, int64_t *floor, unsigned char **out, unsigned long *out_size)
{
    jpeg_compress_struct cinfo;
    memset(&cinfo, 0, sizeof cinfo);
    DctError err;
    use_error(&cinfo, &err);
    GrowDest dest = {};
    dest.base.init_destination = grow_init;
    dest.base.empty_output_buffer = grow_empty;
    dest.base.term_destination = grow_term;
    *out = nullptr;
    *out_size = 0;
    if (setjmp(err.jump)) {
        jpeg_destroy_compress(&cinfo);
        free(dest.bytes);
        return kEncodeFailed;
    }
    jpeg_create_compress(&cinfo);
    cinfo.dest = &dest.base;
    jpeg_encode_setup(&cinfo, dct->width, dct->height, quality);
    cinfo.optimize_coding = FALSE;  // the tables are counted here
    // The transcoder wants coefficient arrays; its reading stage is replaced below,
    // so token ones do.
    jvirt_barray_ptr arrays[MAX_COMPS_IN_SCAN] = {};
    for (int ci = 0; ci < dct->planes_used; ++ci)
        arrays[ci] = cinfo.mem->request_virt_barray((j_common_ptr)&cinfo, JPOOL_IMAGE, FALSE, 1, 1, 1);
    jpeg_write_coefficients(&cinfo, arrays);
    if (app1 && app1_size > 0) jpeg_write_marker(&cinfo, JPEG_APP0 + 1, app1, (unsigned int)app1_size);
    Trial *t = &scratch->trial;
    if (!trial_setup(t, dct, &cinfo)) ERREXIT(&cinfo, JERR_BAD_MCU_SIZE);
    memset(&scratch->counts, 0, sizeof scratch->counts);
    count_all(&cinfo, t, &scratch->counts);
    scratch->kept = scratch->counts;
    install_tables(&cinfo, dct, &scratch->counts);
    *floor = (coded_bits(&cinfo, dct, &scratch->kept) + 7) / 8;
    if (*floor > limit) {
        jpeg_destroy_compress(&cinfo);
        free(dest.bytes);
        return kEncodeOver;
    }
    reserve_for(&cinfo, *floor);
    cinfo.client_data = t;
    cinfo.coef->compress_data = write_mcu_row;
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    *out = dest.bytes;
    *out_size = (unsigned long)(dest.capacity - dest.base.free_in_buffer);
    return t->next_row == dct->mcu_rows ? kEncoded : kEncodeFailed;
}

}  // namespace

JpegDct *jpeg_dct_prepare(const Image *image)
{
    if (!image || !image->data || image->width == 0 || image->height == 0) return nullptr;
    JpegDct *dct = (JpegDct *)calloc(1, sizeof(JpegDct));
    if (!dct) return nullptr;
    dct->width = image->width;
    dct->height = image->height;
    if (!run_capture(image, dct)) {
        jpeg_dct_free(dct);
        return nullptr;
    }
    return dct;
}

HRESULT jpeg_dct_encode_within(const JpegDct *dct, int quality, const std::vector<uint8_t> *app1, int64_t limit,
                               Blob *blob, int64_t *floor)
{
    if (!dct || !blob) return E_FAIL;
    if (quality < 1) quality = 1;
    if (quality > 100) quality = 100;
    const uint8_t *marker = app1 && !app1->empty() && app1->size() <= 65533 ? app1->data() : nullptr;
    Scratch *scratch = (Scratch *)malloc(sizeof(Scratch));
    if (!scratch) return E_OUTOFMEMORY;
    unsigned char *bytes = nullptr;
    unsigned long size = 0;
    EncodeOutcome outcome =
        encode_from_dct(dct, quality, marker, marker ? app1->size() : 0, limit, scratch, floor, &bytes, &size);
    free(scratch);
    if (outcome == kEncodeOver) return S_FALSE;
    if (outcome != kEncoded || size == 0 || size > 0x7FFFFFFF) {
        free(bytes);
        return E_FAIL;
    }
    blob->data = bytes;
    blob->size = (int32_t)size;
    return S_OK;
}

void jpeg_dct_free(JpegDct *dct)
{
    if (!dct) return;
    if (dct->storage) jpeg_free_large(nullptr, dct->storage, dct->storage_bytes);
    free(dct);
}
