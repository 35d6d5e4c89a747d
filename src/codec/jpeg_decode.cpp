// JPEG decoding through libjpeg-turbo, from any byte source: scaled decodes,
// box-averaged thumbnails and the 1/8-scale entropy decoder's take-over. No
// Windows calls, so the fuzz targets run it natively as the program runs it.
#include "codec/jpeg_decode.h"
#include "codec/codec_box.h"
#include "codec/jpeg_eighth.h"
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <jpeglib.h>
#include <jerror.h>

namespace {

// Progressive files with thousands of tiny scans cost minutes for nothing.
constexpr int kMaxScans = 1000;
constexpr size_t kSourceBuffer = 65536;

struct JpegError {
    jpeg_error_mgr base;
    jmp_buf jump;
    int status;  // JpegDecodeStatus to report when the jump is taken
};

void on_jpeg_error(j_common_ptr cinfo)
{
    JpegError *err = (JpegError *)cinfo->err;
    if (err->base.msg_code == JERR_OUT_OF_MEMORY) err->status = kJpegNoMemory;
    longjmp(err->jump, 1);
}

// A file cut short is grey below the cut: another decoder gets it instead. Damaged
// entropy data inside a whole file (a marker where data should be, restart markers
// out of step) is not: libjpeg resynchronises at the next restart marker, which is
// all any decoder can do, so its picture stands.
void on_jpeg_message(j_common_ptr cinfo, int level)
{
    JpegError *err = (JpegError *)cinfo->err;
    if (level >= 0) return;
    if (err->base.msg_code == JWRN_JPEG_EOF) longjmp(err->jump, 1);
    ++err->base.num_warnings;
}

void on_jpeg_progress(j_common_ptr cinfo)
{
    if (((j_decompress_ptr)cinfo)->input_scan_number > kMaxScans) {
        ((JpegError *)cinfo->err)->status = kJpegDamaged;
        longjmp(((JpegError *)cinfo->err)->jump, 1);
    }
}

// Reads the input in large blocks; its end is reported as a warning (then a
// fake EOI marker ends the stream, as libjpeg's own sources do).
struct FileSource {
    jpeg_source_mgr base;
    const JpegInput *input;
    JOCTET buffer[kSourceBuffer];
};

void source_init(j_decompress_ptr) {}
void source_term(j_decompress_ptr) {}

boolean source_fill(j_decompress_ptr cinfo)
{
    FileSource *src = (FileSource *)cinfo->src;
    size_t got = 0;
    if (!src->input->read(src->input->context, src->buffer, kSourceBuffer, &got) || got == 0) {
        WARNMS(cinfo, JWRN_JPEG_EOF);
        src->buffer[0] = 0xFF;
        src->buffer[1] = JPEG_EOI;
        got = 2;
    }
    src->base.next_input_byte = src->buffer;
    src->base.bytes_in_buffer = got;
    return TRUE;
}

void source_skip(j_decompress_ptr cinfo, long count)
{
    jpeg_source_mgr *src = cinfo->src;
    if (count <= 0) return;
    while (count > (long)src->bytes_in_buffer) {
        count -= (long)src->bytes_in_buffer;
        source_fill(cinfo);
    }
    src->next_input_byte += count;
    src->bytes_in_buffer -= (size_t)count;
}

// Everything the decode touches after setjmp lives here, not in locals.
struct DecodeJob {
    jpeg_decompress_struct cinfo;
    JpegError err;
    jpeg_progress_mgr progress;
    FileSource source;
    uint32_t min_w, min_h;  // smallest output wanted from the DCT scaling
    uint32_t box_w, box_h;  // nonzero: rows are box-averaged to this size as they come
    Image *image;
    uint8_t *band;          // box mode: the source rows of one output row
    uint32_t *cols;         // box mode: column cells, from and to
    JpegEighth *eighth;     // the 1/8-scale entropy decoder, when it took over
};

// The largest reduction whose output still covers the wanted size.
int scale_denominator(uint32_t w, uint32_t h, uint32_t min_w, uint32_t min_h)
{
    if (!min_w || !min_h) return 1;
    for (int d : {8, 4, 2})
        if ((w + d - 1) / d >= min_w && (h + d - 1) / d >= min_h) return d;
    return 1;
}

// Adobe writes CMYK inverted (0 = full ink); others store it plain.
void cmyk_row_to_bgra(uint8_t *row, uint32_t width, bool inverted)
{
    for (uint32_t x = 0; x < width; ++x, row += 4) {
        uint32_t c = row[0], m = row[1], y = row[2], k = row[3];
        if (!inverted) {
            c = 255 - c;
            m = 255 - m;
            y = 255 - y;
            k = 255 - k;
        }
        row[0] = (uint8_t)((y * k + 127) / 255);
        row[1] = (uint8_t)((m * k + 127) / 255);
        row[2] = (uint8_t)((c * k + 127) / 255);
        row[3] = 255;
    }
}

// Reads rows until the decoder stands at row `end`; row r goes to rows[r - first].
void read_into(DecodeJob *job, uint8_t *base, uint32_t first, uint32_t end, uint32_t stride)
{
    jpeg_decompress_struct *cinfo = &job->cinfo;
    while (cinfo->output_scanline < end) {
        JSAMPROW rows[16];
        uint32_t n = end - cinfo->output_scanline;
        if (n > 16) n = 16;
        for (uint32_t i = 0; i < n; ++i) {
            uint32_t r = cinfo->output_scanline + i;
            rows[i] = base + (size_t)(r >= first ? r - first : 0) * stride;
        }
        uint32_t got = jpeg_read_scanlines(cinfo, rows, n);
        if (cinfo->out_color_space == JCS_CMYK)
            for (uint32_t i = 0; i < got; ++i) cmyk_row_to_bgra(rows[i], cinfo->output_width, cinfo->saw_Adobe_marker);
    }
}

// Box mode: each output row averages its band of decoded rows.
bool read_boxed(DecodeJob *job)
{
    jpeg_decompress_struct *cinfo = &job->cinfo;
    uint32_t w = cinfo->output_width, h = cinfo->output_height, bw = job->box_w, bh = job->box_h;
    uint32_t band_rows = h / bh + 2;
    job->band = (uint8_t *)malloc((size_t)band_rows * w * 4);
    job->cols = (uint32_t *)malloc(sizeof(uint32_t) * 2 * bw);
    if (!job->band || !job->cols) return false;
    for (uint32_t j = 0; j < bw; ++j) codec_box_range(j, w, bw, &job->cols[j], &job->cols[bw + j]);
    for (uint32_t i = 0; i < bh; ++i) {
        uint32_t r0, r1;
        codec_box_range(i, h, bh, &r0, &r1);
        read_into(job, job->band, r0, r1, w * 4);
        codec_box_row(job->band, r1 - r0, w, job->cols, job->cols + bw, bw, job->image->data + (size_t)i * bw * 4);
    }
    return true;
}

void free_job_buffers(DecodeJob *job)
{
    free(job->band);
    free(job->cols);
    jpeg_eighth_free(job->eighth);
    job->band = nullptr;
    job->cols = nullptr;
    job->eighth = nullptr;
}

// Plain C frame: nothing with a destructor lives across setjmp.
int decode_raw(DecodeJob *job, uint32_t *width, uint32_t *height)
{
    jpeg_decompress_struct *cinfo = &job->cinfo;
    cinfo->err = jpeg_std_error(&job->err.base);
    job->err.base.error_exit = on_jpeg_error;
    job->err.base.emit_message = on_jpeg_message;
    job->err.status = kJpegRefused;
    if (setjmp(job->err.jump)) {
        jpeg_destroy_decompress(cinfo);
        image_free(job->image);
        job->image = nullptr;
        free_job_buffers(job);
        return job->err.status;
    }
    jpeg_create_decompress(cinfo);
    job->progress.progress_monitor = on_jpeg_progress;
    cinfo->progress = &job->progress;
    job->source.base.init_source = source_init;
    job->source.base.fill_input_buffer = source_fill;
    job->source.base.skip_input_data = source_skip;
    job->source.base.resync_to_restart = jpeg_resync_to_restart;
    job->source.base.term_source = source_term;
    cinfo->src = &job->source.base;
    jpeg_read_header(cinfo, TRUE);
    *width = cinfo->image_width;
    *height = cinfo->image_height;
    if ((uint64_t)cinfo->image_width * cinfo->image_height > kImageMaxPixels) {
        jpeg_destroy_decompress(cinfo);
        return kJpegTooLarge;
    }
    bool cmyk = cinfo->jpeg_color_space == JCS_CMYK || cinfo->jpeg_color_space == JCS_YCCK;
    cinfo->out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGRA;
    cinfo->scale_num = 1;
    cinfo->scale_denom =
        (unsigned)scale_denominator(cinfo->image_width, cinfo->image_height, job->min_w, job->min_h);
    jpeg_start_decompress(cinfo);
    job->eighth = jpeg_eighth_install(cinfo);
    // With three or more scaled pixels per thumbnail pixel a box average serves;
    // below that the caller gets the scaled picture for a finer filter.
    bool boxed = job->box_w && job->box_h && cinfo->output_width >= job->box_w &&
                 cinfo->output_height >= job->box_h &&
                 (cinfo->output_width >= 3 * job->box_w || cinfo->output_height >= 3 * job->box_h);
    job->image = boxed ? image_new(job->box_w, job->box_h) : image_new(cinfo->output_width, cinfo->output_height);
    bool ok = job->image != nullptr;
    if (ok && boxed)
        ok = read_boxed(job);
    else if (ok)
        read_into(job, job->image->data, 0, cinfo->output_height, job->image->stride);
    // The picture is complete; whatever follows the last row needed does not matter.
    jpeg_destroy_decompress(cinfo);
    free_job_buffers(job);
    if (ok) return kJpegDecoded;
    image_free(job->image);
    job->image = nullptr;
    return kJpegNoMemory;
}

}  // namespace

JpegDecodeStatus jpeg_decode_input(const JpegInput *input, uint32_t min_w, uint32_t min_h, bool boxed,
                                   JpegDecoded *out)
{
    *out = JpegDecoded{};
    DecodeJob *job = (DecodeJob *)calloc(1, sizeof(DecodeJob));
    if (!job) return kJpegNoMemory;
    job->source.input = input;
    job->min_w = min_w;
    job->min_h = min_h;
    job->box_w = boxed ? min_w : 0;
    job->box_h = boxed ? min_h : 0;
    int status = decode_raw(job, &out->width, &out->height);
    out->image = job->image;
    out->warnings = (uint32_t)job->err.base.num_warnings;
    free(job);
    return (JpegDecodeStatus)status;
}
