// Resampling internals shared by the row kernels, the tests and the benchmark.
#pragma once
#include <cstdint>

struct Contrib {
    int32_t *first;    // first contributing source pixel, per destination pixel
    uint32_t *count;   // contributors, per destination pixel
    float *weights;    // taps per destination pixel, normalised, zero past count
    int32_t taps;
};

int contrib_build(Contrib *c, uint32_t src_len, uint32_t dst_len, int filter);
void contrib_free(Contrib *c);

// Row kernels. Every variant performs the same float operations in the same
// order per value, so all of them give the same bytes:
// - premultiply: (B·a, G·a, R·a, a) with a = A · (1/255);
// - horizontal: tap k adds w·p into accumulator k mod 4, then (s0 + s1) + (s2 + s3);
// - vertical: taps added one after another into one sum per channel.
struct ResizeKernels {
    void (*premultiply)(const uint8_t *src, uint32_t width, float *out);
    void (*horizontal)(const float *pm, const Contrib *cx, int dst_w, float *out);
    void (*vertical)(const float *const *rows, const float *weights, uint32_t count, int dst_w, float *out);
};

enum ResizePath { kResizeAuto = 0, kResizeScalar = 1, kResizeSse2 = 2, kResizeAvx2 = 3 };

// Chooses the kernels for later calls (tests and benchmarks); returns 0 when the
// processor cannot run the requested path.
int image_resize_set_path(int path);
int image_resize_avx2_available();
// Threads for later resizes: 0 chooses by size (at most 2), 1 or 2 forces that many.
void image_resize_set_threads(int threads);

extern const ResizeKernels kResizeScalarKernels;
extern const ResizeKernels kResizeSse2Kernels;
extern const ResizeKernels kResizeAvx2Kernels;
