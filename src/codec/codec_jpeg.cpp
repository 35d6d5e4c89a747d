// WIC's JPEG encoder under Wine ignores "ImageQuality", so JPEG is written here.
#include "codec/codec_jpeg.h"
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <jpeglib.h>

namespace {

struct JpegError {
    jpeg_error_mgr base;
    jmp_buf jump;
};

void on_jpeg_error(j_common_ptr cinfo)
{
    longjmp(((JpegError *)cinfo->err)->jump, 1);
}

void ignore_jpeg_message(j_common_ptr) {}

// Plain C frame: nothing with a destructor lives across setjmp.
int jpeg_encode_raw(const Image *image, int quality, const uint8_t *app1, size_t app1_size, unsigned char **out,
                    unsigned long *out_size)
{
    jpeg_compress_struct cinfo;
    memset(&cinfo, 0, sizeof cinfo);
    JpegError err;
    cinfo.err = jpeg_std_error(&err.base);
    err.base.error_exit = on_jpeg_error;
    err.base.output_message = ignore_jpeg_message;
    *out = nullptr;
    *out_size = 0;
    if (setjmp(err.jump)) {
        // A grown output buffer is known only to the destination, which hands it
        // over when terminated; *out may point at an already freed first buffer.
        if (cinfo.dest && *out) cinfo.dest->term_destination(&cinfo);
        jpeg_destroy_compress(&cinfo);
        free(*out);
        *out = nullptr;
        return 0;
    }
    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, out, out_size);
    cinfo.image_width = image->width;
    cinfo.image_height = image->height;
    cinfo.input_components = 4;
    cinfo.in_color_space = JCS_EXT_BGRX;  // the alpha byte is skipped
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    cinfo.optimize_coding = TRUE;
    jpeg_start_compress(&cinfo, TRUE);
    if (app1 && app1_size > 0) jpeg_write_marker(&cinfo, JPEG_APP0 + 1, app1, (unsigned int)app1_size);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = (JSAMPROW)(image->data + (size_t)cinfo.next_scanline * image->stride);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return 1;
}

}  // namespace

HRESULT jpeg_encode(const Image *image, int quality, const std::vector<uint8_t> *app1, std::vector<uint8_t> *out)
{
    if (!image || !image->data || !out) return E_FAIL;
    if (quality < 1) quality = 1;
    if (quality > 100) quality = 100;
    // An APP1 marker holds at most 65533 payload bytes.
    const uint8_t *marker = app1 && !app1->empty() && app1->size() <= 65533 ? app1->data() : nullptr;
    unsigned char *bytes = nullptr;
    unsigned long size = 0;
    if (!jpeg_encode_raw(image, quality, marker, marker ? app1->size() : 0, &bytes, &size)) return E_FAIL;
    out->assign(bytes, bytes + size);
    free(bytes);
    return S_OK;
}
