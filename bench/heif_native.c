/* Native decoding time of one HEIC or AVIF with the system's libheif, as heif-convert
   decodes for PNG output: the file read, the primary image, interleaved 8-bit RGB(A).
   Built and run by scripts/bench-heif.sh, never by the test run. */
#include <libheif/heif.h>
#include <stdio.h>
#include <time.h>

static double now_ms(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000.0 + t.tv_nsec / 1e6;
}

int main(int argc, char **argv)
{
    if (argc < 2) return 2;
    double t0 = now_ms();
    struct heif_context *ctx = heif_context_alloc();
    struct heif_image_handle *handle = NULL;
    struct heif_image *img = NULL;
    if (heif_context_read_from_file(ctx, argv[1], NULL).code ||
        heif_context_get_primary_image_handle(ctx, &handle).code)
        return 1;
    struct heif_decoding_options *options = heif_decoding_options_alloc();
    options->convert_hdr_to_8bit = 1;
    enum heif_chroma chroma =
        heif_image_handle_has_alpha_channel(handle) ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB;
    if (heif_decode_image(handle, &img, heif_colorspace_RGB, chroma, options).code) return 1;
    double t1 = now_ms();
    printf("%.1f\n", t1 - t0);
    heif_image_release(img);
    heif_decoding_options_free(options);
    heif_image_handle_release(handle);
    heif_context_free(ctx);
    return 0;
}
