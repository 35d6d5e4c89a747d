// JPEG in and out through libjpeg-turbo: WIC's encoder ignores "ImageQuality"
// under Wine, and its decoder is the slow reference one with no scaled decode.
#include "codec/codec_jpeg.h"
#include "codec/jpeg_gather.h"
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <jpeglib.h>
#include <jerror.h>

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

}  // namespace

void jpeg_encode_setup(j_compress_ptr cinfo, uint32_t width, uint32_t height, int quality)
{
    cinfo->image_width = width;
    cinfo->image_height = height;
    cinfo->input_components = 4;
    cinfo->in_color_space = JCS_EXT_BGRX;  // the alpha byte is skipped
    jpeg_set_defaults(cinfo);
    jpeg_set_quality(cinfo, quality, TRUE);
}

namespace {

// Plain C frame: nothing with a destructor lives across setjmp.
int jpeg_encode_raw(const Image *image, int quality, const uint8_t *app1, size_t app1_size, unsigned char **out,
                    unsigned long *out_size)
{
    jpeg_compress_struct cinfo;
    memset(&cinfo, 0, sizeof cinfo);
    JpegError err = {};
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
    jpeg_encode_setup(&cinfo, image->width, image->height, quality);
    cinfo.optimize_coding = TRUE;
    jpeg_start_compress(&cinfo, TRUE);
    JpegGather gather;
    jpeg_gather_install(&cinfo, &gather);
    if (app1 && app1_size > 0) jpeg_write_marker(&cinfo, JPEG_APP0 + 1, app1, (unsigned int)app1_size);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = (JSAMPROW)(image->data + (size_t)cinfo.next_scanline * image->stride);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return 1;
}

bool read_file(void *context, uint8_t *out, size_t cap, size_t *got)
{
    DWORD n = 0;
    if (!ReadFile((HANDLE)context, out, (DWORD)cap, &n, nullptr)) return false;
    *got = n;
    return true;
}

}  // namespace

static JpegDecodeStatus decode_file(const WCHAR *path, uint32_t min_w, uint32_t min_h, bool boxed,
                                    JpegDecoded *out)
{
    *out = JpegDecoded{};
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) return kJpegRefused;
    JpegInput input = {file, read_file};
    JpegDecodeStatus status = jpeg_decode_input(&input, min_w, min_h, boxed, out);
    CloseHandle(file);
    return status;
}

JpegDecodeStatus jpeg_decode_file(const WCHAR *path, uint32_t min_w, uint32_t min_h, JpegDecoded *out)
{
    return decode_file(path, min_w, min_h, false, out);
}

JpegDecodeStatus jpeg_decode_box(const WCHAR *path, uint32_t box_w, uint32_t box_h, JpegDecoded *out)
{
    return decode_file(path, box_w, box_h, true, out);
}

HRESULT jpeg_encode_blob(const Image *image, int quality, const std::vector<uint8_t> *app1, Blob *blob)
{
    if (!image || !image->data || !blob) return E_FAIL;
    if (quality < 1) quality = 1;
    if (quality > 100) quality = 100;
    const uint8_t *marker = app1 && !app1->empty() && app1->size() <= 65533 ? app1->data() : nullptr;
    unsigned char *bytes = nullptr;
    unsigned long size = 0;
    if (!jpeg_encode_raw(image, quality, marker, marker ? app1->size() : 0, &bytes, &size)) return E_FAIL;
    if (size == 0 || size > 0x7FFFFFFF) {
        free(bytes);
        return E_FAIL;
    }
    blob->data = bytes;  // libjpeg's memory destination allocates with malloc
    blob->size = (int32_t)size;
    return S_OK;
}
