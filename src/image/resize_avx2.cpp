// AVX2 row kernels: two pixels per register. Built with -mavx2 and called only
// when the processor has it. No fused multiply-add, so the bytes match the plain path.
#include "image/resize_internal.h"
#include <immintrin.h>

namespace {

constexpr float kInv255 = 1.0f / 255.0f;

void premultiply_avx2(const uint8_t *src, uint32_t width, float *out)
{
    const __m256 inv = _mm256_set1_ps(kInv255);
    uint32_t x = 0;
    for (; x + 2 <= width; x += 2, src += 8, out += 8) {
        long long bytes;
        __builtin_memcpy(&bytes, src, 8);
        __m256 v = _mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(_mm_cvtsi64_si128(bytes)));
        __m256 a = _mm256_mul_ps(_mm256_permute_ps(v, _MM_SHUFFLE(3, 3, 3, 3)), inv);
        __m256 factors = _mm256_blend_ps(a, inv, 0x88);  // (a, a, a, 1/255) per pixel
        _mm256_storeu_ps(out, _mm256_mul_ps(v, factors));
    }
    if (x < width) kResizeSse2Kernels.premultiply(src, width - x, out);
}

inline __m256 pair_weights(float w0, float w1)
{
    return _mm256_set_m128(_mm_set1_ps(w1), _mm_set1_ps(w0));
}

inline __m128 tap(const float *p, float w)
{
    return _mm_mul_ps(_mm_set1_ps(w), _mm_loadu_ps(p));
}

void horizontal_avx2(const float *pm, const Contrib *cx, int dst_w, float *out)
{
    for (int x = 0; x < dst_w; ++x, out += 4) {
        const float *w = cx->weights + (size_t)x * cx->taps;
        const float *p = pm + (size_t)cx->first[x] * 4;
        const uint32_t n = cx->count[x];
        __m256 s01 = _mm256_setzero_ps(), s23 = s01;  // accumulators 0|1 and 2|3
        uint32_t k = 0;
        for (; k + 16 <= n; k += 16) {
            for (uint32_t j = k; j < k + 16; j += 4) {
                s01 = _mm256_add_ps(s01, _mm256_mul_ps(pair_weights(w[j], w[j + 1]), _mm256_loadu_ps(p + j * 4)));
                s23 = _mm256_add_ps(s23,
                                    _mm256_mul_ps(pair_weights(w[j + 2], w[j + 3]), _mm256_loadu_ps(p + j * 4 + 8)));
            }
        }
        for (; k + 4 <= n; k += 4) {
            s01 = _mm256_add_ps(s01, _mm256_mul_ps(pair_weights(w[k], w[k + 1]), _mm256_loadu_ps(p + k * 4)));
            s23 = _mm256_add_ps(s23, _mm256_mul_ps(pair_weights(w[k + 2], w[k + 3]), _mm256_loadu_ps(p + k * 4 + 8)));
        }
        __m128 s0 = _mm256_castps256_ps128(s01), s1 = _mm256_extractf128_ps(s01, 1);
        __m128 s2 = _mm256_castps256_ps128(s23), s3 = _mm256_extractf128_ps(s23, 1);
        if (k < n) s0 = _mm_add_ps(s0, tap(p + k * 4, w[k])), ++k;
        if (k < n) s1 = _mm_add_ps(s1, tap(p + k * 4, w[k])), ++k;
        if (k < n) s2 = _mm_add_ps(s2, tap(p + k * 4, w[k])), ++k;
        _mm_storeu_ps(out, _mm_add_ps(_mm_add_ps(s0, s1), _mm_add_ps(s2, s3)));
    }
}

void vertical_avx2(const float *const *rows, const float *weights, uint32_t count, int dst_w, float *out)
{
    size_t n = (size_t)dst_w * 4, i = 0;
    for (; i + 16 <= n; i += 16) {
        __m256 a = _mm256_setzero_ps(), b = a;
        for (uint32_t k = 0; k < count; ++k) {
            __m256 w = _mm256_set1_ps(weights[k]);
            a = _mm256_add_ps(a, _mm256_mul_ps(w, _mm256_loadu_ps(rows[k] + i)));
            b = _mm256_add_ps(b, _mm256_mul_ps(w, _mm256_loadu_ps(rows[k] + i + 8)));
        }
        _mm256_storeu_ps(out + i, a);
        _mm256_storeu_ps(out + i + 8, b);
    }
    for (; i < n; ++i) {
        float sum = 0;
        for (uint32_t k = 0; k < count; ++k) sum = sum + weights[k] * rows[k][i];
        out[i] = sum;
    }
}

}  // namespace

const ResizeKernels kResizeAvx2Kernels = {premultiply_avx2, horizontal_avx2, vertical_avx2};
