// The plain and SSE2 row kernels. SSE2 is always there on x86-64.
#include "image/resize_internal.h"
#include <emmintrin.h>

namespace {

constexpr float kInv255 = 1.0f / 255.0f;

void premultiply_scalar(const uint8_t *src, uint32_t width, float *out)
{
    for (uint32_t x = 0; x < width; ++x, src += 4, out += 4) {
        float a = src[3] * kInv255;
        out[0] = src[0] * a;
        out[1] = src[1] * a;
        out[2] = src[2] * a;
        out[3] = a;
    }
}

void horizontal_scalar(const float *pm, const Contrib *cx, int dst_w, float *out)
{
    for (int x = 0; x < dst_w; ++x, out += 4) {
        const float *w = cx->weights + (size_t)x * cx->taps;
        const float *p = pm + (size_t)cx->first[x] * 4;
        float s[4][4] = {};
        for (uint32_t k = 0; k < cx->count[x]; ++k)
            for (int c = 0; c < 4; ++c) s[k & 3][c] = s[k & 3][c] + w[k] * p[k * 4 + c];
        for (int c = 0; c < 4; ++c) out[c] = (s[0][c] + s[1][c]) + (s[2][c] + s[3][c]);
    }
}

void vertical_scalar(const float *const *rows, const float *weights, uint32_t count, int dst_w, float *out)
{
    for (size_t i = 0; i < (size_t)dst_w * 4; ++i) {
        float sum = 0;
        for (uint32_t k = 0; k < count; ++k) sum = sum + weights[k] * rows[k][i];
        out[i] = sum;
    }
}

void premultiply_sse2(const uint8_t *src, uint32_t width, float *out)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128 inv = _mm_set1_ps(kInv255);
    for (uint32_t x = 0; x < width; ++x, src += 4, out += 4) {
        int bytes;
        __builtin_memcpy(&bytes, src, 4);
        __m128i px = _mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(bytes), zero), zero);
        __m128 v = _mm_cvtepi32_ps(px);
        __m128 a = _mm_mul_ps(_mm_shuffle_ps(v, v, _MM_SHUFFLE(3, 3, 3, 3)), inv);
        // (B, G, R, A) · (a, a, a, 1/255): the last lane is A · (1/255) = a.
        __m128 factors = _mm_move_ss(_mm_shuffle_ps(a, a, 0), inv);
        factors = _mm_shuffle_ps(factors, factors, _MM_SHUFFLE(0, 1, 1, 1));
        _mm_storeu_ps(out, _mm_mul_ps(v, factors));
    }
}

inline __m128 tap(const float *p, float w)
{
    return _mm_mul_ps(_mm_set1_ps(w), _mm_loadu_ps(p));
}

void horizontal_sse2(const float *pm, const Contrib *cx, int dst_w, float *out)
{
    for (int x = 0; x < dst_w; ++x, out += 4) {
        const float *w = cx->weights + (size_t)x * cx->taps;
        const float *p = pm + (size_t)cx->first[x] * 4;
        const uint32_t n = cx->count[x];
        __m128 s0 = _mm_setzero_ps(), s1 = s0, s2 = s0, s3 = s0;
        uint32_t k = 0;
        for (; k + 16 <= n; k += 16) {
            for (uint32_t j = k; j < k + 16; j += 4) {
                s0 = _mm_add_ps(s0, tap(p + j * 4, w[j]));
                s1 = _mm_add_ps(s1, tap(p + j * 4 + 4, w[j + 1]));
                s2 = _mm_add_ps(s2, tap(p + j * 4 + 8, w[j + 2]));
                s3 = _mm_add_ps(s3, tap(p + j * 4 + 12, w[j + 3]));
            }
        }
        for (; k + 4 <= n; k += 4) {
            s0 = _mm_add_ps(s0, tap(p + k * 4, w[k]));
            s1 = _mm_add_ps(s1, tap(p + k * 4 + 4, w[k + 1]));
            s2 = _mm_add_ps(s2, tap(p + k * 4 + 8, w[k + 2]));
            s3 = _mm_add_ps(s3, tap(p + k * 4 + 12, w[k + 3]));
        }
        if (k < n) s0 = _mm_add_ps(s0, tap(p + k * 4, w[k])), ++k;
        if (k < n) s1 = _mm_add_ps(s1, tap(p + k * 4, w[k])), ++k;
        if (k < n) s2 = _mm_add_ps(s2, tap(p + k * 4, w[k])), ++k;
        _mm_storeu_ps(out, _mm_add_ps(_mm_add_ps(s0, s1), _mm_add_ps(s2, s3)));
    }
}

void vertical_sse2(const float *const *rows, const float *weights, uint32_t count, int dst_w, float *out)
{
    size_t n = (size_t)dst_w * 4, i = 0;
    for (; i + 8 <= n; i += 8) {
        __m128 a = _mm_setzero_ps(), b = a;
        for (uint32_t k = 0; k < count; ++k) {
            __m128 w = _mm_set1_ps(weights[k]);
            a = _mm_add_ps(a, _mm_mul_ps(w, _mm_loadu_ps(rows[k] + i)));
            b = _mm_add_ps(b, _mm_mul_ps(w, _mm_loadu_ps(rows[k] + i + 4)));
        }
        _mm_storeu_ps(out + i, a);
        _mm_storeu_ps(out + i + 4, b);
    }
    for (; i < n; i += 4) {
        __m128 a = _mm_setzero_ps();
        for (uint32_t k = 0; k < count; ++k)
            a = _mm_add_ps(a, _mm_mul_ps(_mm_set1_ps(weights[k]), _mm_loadu_ps(rows[k] + i)));
        _mm_storeu_ps(out + i, a);
    }
}

}  // namespace

const ResizeKernels kResizeScalarKernels = {premultiply_scalar, horizontal_scalar, vertical_scalar};
const ResizeKernels kResizeSse2Kernels = {premultiply_sse2, horizontal_sse2, vertical_sse2};
