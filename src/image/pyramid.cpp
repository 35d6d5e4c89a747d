#include "image/pyramid.h"
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iterator>

namespace {

struct Span {
    int32_t first, count;
};

// Same source ranges as image_resize's box filter: every source pixel whose
// centre lies within half a destination pixel counts once.
void box_spans(uint32_t src_len, int dst_len, int from, int count, Span *out)
{
    double scale = (double)src_len / dst_len;
    double b = 0.5 * (scale > 1.0 ? scale : 1.0);
    for (int i = from; i < from + count; ++i, ++out) {
        double h = (i + 0.5) * scale;
        double left_d = std::ceil(h - b - 0.5);
        int64_t left = left_d > 0 ? (int64_t)left_d : 0;
        int64_t right = (int64_t)(h + b - 0.5);
        if (right > (int64_t)src_len - 1) right = (int64_t)src_len - 1;
        if (right < left) {
            int64_t only = std::min((int64_t)h, (int64_t)src_len - 1);
            *out = {(int32_t)only, 1};
            continue;
        }
        // The edge pixels count only when the kernel, evaluated as the filter does, reaches them.
        int64_t first = left, last = right;
        auto inside = [&](int64_t j) { return std::fabs((j + 0.5 - h) / (b * 2)) <= 0.5; };
        while (first <= last && !inside(first)) ++first;
        while (last >= first && !inside(last)) --last;
        if (first > last)
            *out = {(int32_t)left, 1};
        else
            *out = {(int32_t)first, (int32_t)(last - first + 1)};
    }
}

// Opaque pictures average the bytes; pictures with alpha average premultiplied.
template <typename Acc, bool kAlpha>
void box_rows(const Image *src, uint8_t *dst, int w, int h, const Span *sx, const Span *sy, Acc *acc)
{
    for (int y = 0; y < h; ++y) {
        std::memset(acc, 0, sizeof(Acc) * 4 * (size_t)w);
        for (int j = 0; j < sy[y].count; ++j) {
            const uint8_t *row = src->data + (size_t)(sy[y].first + j) * src->stride;
            Acc *a = acc;
            for (int x = 0; x < w; ++x, a += 4) {
                const uint8_t *p = row + (size_t)sx[x].first * 4;
                Acc s0 = 0, s1 = 0, s2 = 0, s3 = 0;
                for (int k = 0; k < sx[x].count; ++k, p += 4) {
                    if (kAlpha) {
                        Acc al = p[3];
                        s0 += p[0] * al, s1 += p[1] * al, s2 += p[2] * al, s3 += al;
                    } else {
                        s0 += p[0], s1 += p[1], s2 += p[2];
                    }
                }
                a[0] += s0, a[1] += s1, a[2] += s2, a[3] += s3;
            }
        }
        // Reciprocals instead of integer divisions: four divisions a pixel cost more than the sums.
        uint8_t *out = dst + (size_t)y * w * 4;
        const Acc *a = acc;
        for (int x = 0; x < w; ++x, a += 4, out += 4) {
            float inv_n = 1.0f / ((float)sx[x].count * sy[y].count);
            if (kAlpha) {
                out[3] = (uint8_t)(a[3] * inv_n + 0.5f);
                float inv_a = a[3] ? 1.0f / a[3] : 0.0f;
                for (int c = 0; c < 3; ++c) out[c] = (uint8_t)std::min(a[c] * inv_a + 0.5f, 255.0f);
            } else {
                for (int c = 0; c < 3; ++c) out[c] = (uint8_t)(a[c] * inv_n + 0.5f);
                out[3] = 255;
            }
        }
    }
}


// The common first step of the pyramid: an opaque picture with even sides,
// each output pixel the rounded mean of a 2 x 2 block (what the box filter gives).
void halve_opaque(const Image *src, Image *dst)
{
    for (uint32_t y = 0; y < dst->height; ++y) {
        const uint8_t *a = src->data + (size_t)(2 * y) * src->stride, *b = a + src->stride;
        uint8_t *out = dst->data + (size_t)y * dst->stride;
        for (uint32_t x = 0; x < dst->width; ++x, a += 8, b += 8, out += 4) {
            for (int c = 0; c < 3; ++c) out[c] = (uint8_t)((a[c] + a[c + 4] + b[c] + b[c + 4] + 2) >> 2);
            out[3] = 255;
        }
    }
}

}  // namespace


int image_disp_len(uint32_t n, double zoom)
{
    double v = (double)n * zoom + 0.5;
    if (!(v > 0)) return 0;
    return v > (double)(1 << 30) ? (1 << 30) : (int)v;
}

double image_fit_zoom(uint32_t w, uint32_t h, int box_w, int box_h)
{
    return std::min({(double)box_w / w, (double)box_h / h, 1.0});
}

int image_box_resample(const Image *src, int full_w, int full_h, int x, int y, int w, int h, uint8_t *dst,
                        void **scratch, size_t *scratch_cap)
{
    if (!src || !src->data || !dst || w <= 0 || h <= 0 || x < 0 || y < 0 || x + w > full_w || y + h > full_h)
        return 0;
    size_t need = sizeof(Span) * ((size_t)w + h) + sizeof(uint64_t) * 4 * (size_t)w;
    if (*scratch_cap < need) {
        void *grown = realloc(*scratch, need);
        if (!grown) return 0;
        *scratch = grown;
        *scratch_cap = need;
    }
    Span *sx = (Span *)*scratch, *sy = sx + w;
    void *acc = sy + h;
    box_spans(src->width, full_w, x, w, sx);
    box_spans(src->height, full_h, y, h, sy);
    int most_x = 0, most_y = 0;
    for (int i = 0; i < w; ++i) most_x = std::max(most_x, sx[i].count);
    for (int i = 0; i < h; ++i) most_y = std::max(most_y, sy[i].count);
    // Premultiplied sums fit 32 bits while a box holds fewer than 66051 pixels.
    if (src->has_alpha && (int64_t)most_x * most_y < 66000)
        box_rows<uint32_t, true>(src, dst, w, h, sx, sy, (uint32_t *)acc);
    else if (src->has_alpha)
        box_rows<uint64_t, true>(src, dst, w, h, sx, sy, (uint64_t *)acc);
    else
        box_rows<uint32_t, false>(src, dst, w, h, sx, sy, (uint32_t *)acc);
    return 1;
}

void image_pyramid_build(const Image *src, ImagePyramid *p, void **scratch, size_t *scratch_cap)
{
    const Image *above = p->levels ? p->level[p->levels - 1] : src;
    while (p->levels < (int)std::size(p->level) && std::max(above->width, above->height) > kPyramidFloor) {
        uint32_t w = (above->width + 1) / 2, h = (above->height + 1) / 2;
        Image *next = image_new(w, h);
        if (!next) return;
        next->has_alpha = above->has_alpha;
        int ok = 1;
        if (!above->has_alpha && above->width % 2 == 0 && above->height % 2 == 0)
            halve_opaque(above, next);
        else
            ok = image_box_resample(above, (int)w, (int)h, 0, 0, (int)w, (int)h, next->data, scratch, scratch_cap);
        if (!ok) {
            image_free(next);
            return;
        }
        p->level[p->levels++] = next;
        above = next;
    }
}

void image_pyramid_build_fit(const Image *src, ImagePyramid *p, int box_w, int box_h, void **scratch,
                             size_t *scratch_cap)
{
    image_pyramid_build(src, p, scratch, scratch_cap);
    if (src->has_alpha || p->fit_px || box_w <= 0 || box_h <= 0) return;
    double zoom = image_fit_zoom(src->width, src->height, box_w, box_h);
    int w = image_disp_len(src->width, zoom), h = image_disp_len(src->height, zoom);
    if (zoom >= 1.0 || w <= 0 || h <= 0) return;
    auto *px = (uint8_t *)malloc((size_t)w * h * 4);
    if (!px) return;
    if (!image_box_resample(image_pyramid_source(src, p, w, h), w, h, 0, 0, w, h, px, scratch, scratch_cap)) {
        free(px);
        return;
    }
    p->fit_px = px;
    p->fit_w = w;
    p->fit_h = h;
}

void image_pyramid_free(ImagePyramid *p)
{
    for (int i = 0; i < p->levels; ++i) image_free(p->level[i]);
    free(p->fit_px);
    *p = ImagePyramid{};
}

size_t image_pyramid_bytes(const ImagePyramid *p)
{
    size_t bytes = p->fit_px ? (size_t)p->fit_w * p->fit_h * 4 : 0;
    for (int i = 0; i < p->levels; ++i) bytes += (size_t)p->level[i]->stride * p->level[i]->height;
    return bytes;
}

const Image *image_pyramid_source(const Image *src, const ImagePyramid *p, int w, int h)
{
    const Image *best = src;
    for (int i = 0; i < p->levels; ++i)
        if ((int)p->level[i]->width >= w && (int)p->level[i]->height >= h) best = p->level[i];
    return best;
}
