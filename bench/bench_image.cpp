// Times the image core on a generated 6000 x 4000 RGBA picture. Builds natively
// (the core has no Windows headers) and for Windows.
#include "image/image.h"
#include "image/resize.h"
#include "image/resize_internal.h"
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace {

Image *generated(uint32_t w, uint32_t h)
{
    Image *img = image_new(w, h);
    uint32_t seed = 1;
    for (size_t i = 0; i < (size_t)w * h; ++i) {
        seed = seed * 1664525u + 1013904223u;
        uint32_t x = (uint32_t)(i % w), y = (uint32_t)(i / w);
        img->data[i * 4 + 0] = (uint8_t)(x / 23 + (seed >> 28));
        img->data[i * 4 + 1] = (uint8_t)(y / 17);
        img->data[i * 4 + 2] = (uint8_t)((x + y) / 31);
        img->data[i * 4 + 3] = (uint8_t)(200 + (seed >> 27));
    }
    image_detect_alpha(img);
    return img;
}

template <typename F> double best_of(int runs, F f)
{
    double best = 1e9;
    for (int i = 0; i < runs; ++i) {
        auto t0 = std::chrono::steady_clock::now();
        Image *out = f();
        double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        image_free(out);
        if (s < best) best = s;
    }
    return best;
}

// Target-size compression shrinks its picture stage by stage by about 0.93 a side,
// freeing each copy once the next one is made.
Image *shrink_chain(const Image *src, int stages)
{
    const Image *p = src;
    for (int i = 0; i < stages; ++i) {
        int w = (int)(p->width * 0.93 + 0.5), h = (int)(p->height * 0.93 + 0.5);
        Image *next = image_resize(p, w, h, kFilterLanczos3);
        if (p != src) image_free((Image *)p);
        p = next;
    }
    return (Image *)p;
}

}  // namespace

int main(int argc, char **argv)
{
    int runs = argc > 1 ? atoi(argv[1]) : 5;
    const char *raw_out = argc > 2 ? argv[2] : nullptr;
    Image *big = generated(6000, 4000);
    Image *mid = generated(1500, 1000);
    Image *photo = generated(3264, 2448);
    if (raw_out) {  // the same pixels for the peer to load
        FILE *f = fopen(raw_out, "wb");
        if (f) {
            for (const Image *img : {big, mid, photo}) fwrite(img->data, 1, (size_t)img->stride * img->height, f);
            fclose(f);
        }
    }
    const char *path = image_resize_avx2_available() ? "avx2" : "sse2";
    printf("path %s\n", path);
    printf("lanczos3_6000x4000_to_1500x1000 %.4f\n",
           best_of(runs, [&] { return image_resize(big, 1500, 1000, kFilterLanczos3); }));
    printf("box_6000x4000_to_2000x1333 %.4f\n", best_of(runs, [&] { return image_resize(big, 2000, 1333, kFilterBox); }));
    printf("catmullrom_1500x1000_to_3000x2000 %.4f\n",
           best_of(runs, [&] { return image_resize(mid, 3000, 2000, kFilterCatmullRom); }));
    for (int threads : {1, 2}) {
        image_resize_set_threads(threads);
        printf("lanczos3_3264x2448_to_2488x1866_%dthread %.4f\n", threads,
               best_of(runs, [&] { return image_resize(photo, 2488, 1866, kFilterLanczos3); }));
        printf("lanczos3_6000x4000_to_3000x2000_%dthread %.4f\n", threads,
               best_of(runs, [&] { return image_resize(big, 3000, 2000, kFilterLanczos3); }));
        printf("chain5_3264x2448_%dthread %.4f\n", threads, best_of(runs, [&] {
            image_release_buffers();  // a compression run starts with no kept buffers
            return shrink_chain(photo, 5);
        }));
    }
    image_resize_set_threads(0);
    image_free(photo);
    printf("thumb_6000x4000_to_96 %.4f\n", best_of(runs, [&] { return image_thumb(big, 96); }));
    image_resize_set_path(kResizeSse2);
    printf("lanczos3_sse2_path %.4f\n", best_of(runs, [&] { return image_resize(big, 1500, 1000, kFilterLanczos3); }));
    image_resize_set_path(kResizeScalar);
    printf("lanczos3_plain_path %.4f\n", best_of(runs > 2 ? 2 : runs, [&] {
               return image_resize(big, 1500, 1000, kFilterLanczos3);
           }));
    image_free(big);
    image_free(mid);
    return 0;
}
