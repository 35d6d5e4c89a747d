// Resampling: the filters' behaviour, a double-precision reference, the same
// bytes from every vectorised path, and the size presets.
#include <gtest/gtest.h>
#include "image/resize.h"
#include "image/resize_internal.h"
#include "support/test_support.h"
#include <cmath>
#include <cstring>
#include <thread>
#include <vector>

namespace {

// A photo-like picture: smooth shapes, fine texture and some transparency.
Image *photo_like(uint32_t w, uint32_t h, bool alpha)
{
    Image *img = image_new(w, h);
    uint32_t seed = 99;
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            seed = seed * 1664525u + 1013904223u;
            uint8_t *p = img->data + (size_t)y * img->stride + (size_t)x * 4;
            double fx = (double)x / w, fy = (double)y / h;
            p[0] = (uint8_t)(127 + 100 * std::sin(fx * 9) * std::cos(fy * 7) + (seed >> 29));
            p[1] = (uint8_t)((x / 7 + y / 5) % 2 ? 200 : 40);
            p[2] = (uint8_t)(255 * fx * fy);
            p[3] = alpha ? (uint8_t)((x * 3 + y) % 256) : 255;
        }
    image_detect_alpha(img);
    return img;
}

double ref_kernel(int f, double t)
{
    const double pi = 3.141592653589793;
    switch (f) {
    case 1: return t <= 0.5 ? 1 : 0;
    case 2: return t < 1 ? 1 - t : 0;
    case 3: return t < 1 ? (1.5 * t - 2.5) * t * t + 1 : t < 2 ? ((-0.5 * t + 2.5) * t - 4) * t + 2 : 0;
    default: return t < 1e-9 ? 1 : t >= 3 ? 0 : 3 * std::sin(pi * t) * std::sin(pi * t / 3) / (pi * pi * t * t);
    }
}

struct RefAxis {
    std::vector<int> first;
    std::vector<std::vector<double>> w;
};

RefAxis ref_axis(int src, int dst, int f)
{
    const double radius[] = {0, 0.5, 1, 2, 3};
    double c = (double)src / dst, s = std::max(c, 1.0), b = radius[f] * s;
    int taps = (int)std::ceil(2 * b) + 2;
    RefAxis a;
    for (int i = 0; i < dst; ++i) {
        double h = (i + 0.5) * c;
        int left = std::max((int)std::ceil(h - b - 0.5), 0), right = std::min((int)(h + b - 0.5), src - 1);
        int first = left, count = right - left + 1;
        if (right < left) first = std::min((int)h, src - 1), count = 1;
        count = std::min(count, taps);
        std::vector<double> w;
        double sum = 0;
        for (int j = 0; j < count; ++j) {
            w.push_back(ref_kernel(f, std::fabs((first + j + 0.5 - h) / s)));
            sum += w.back();
        }
        if (sum == 0) {
            w = {1.0};
        } else {
            for (double &v : w) v /= sum;
        }
        a.first.push_back(first);
        a.w.push_back(w);
    }
    return a;
}

// Straightforward separable resampling in double precision on premultiplied values.
std::vector<uint8_t> reference_resize(const Image *src, int dw, int dh, int f)
{
    RefAxis ax = ref_axis((int)src->width, dw, f), ay = ref_axis((int)src->height, dh, f);
    std::vector<double> horiz((size_t)src->height * dw * 4);
    for (uint32_t y = 0; y < src->height; ++y)
        for (int x = 0; x < dw; ++x)
            for (size_t k = 0; k < ax.w[x].size(); ++k) {
                const uint8_t *p = src->data + (size_t)y * src->stride + (size_t)(ax.first[x] + k) * 4;
                double a = p[3] / 255.0;
                double *o = &horiz[((size_t)y * dw + x) * 4];
                for (int c = 0; c < 3; ++c) o[c] += ax.w[x][k] * p[c] * a;
                o[3] += ax.w[x][k] * a;
            }
    std::vector<uint8_t> out((size_t)dw * dh * 4);
    auto byte = [](double v) { return (uint8_t)std::min(255.0, std::max(0.0, std::trunc(v + 0.5))); };
    for (int y = 0; y < dh; ++y)
        for (int x = 0; x < dw; ++x) {
            double s[4] = {};
            for (size_t k = 0; k < ay.w[y].size(); ++k)
                for (int c = 0; c < 4; ++c) s[c] += ay.w[y][k] * horiz[((size_t)(ay.first[y] + k) * dw + x) * 4 + c];
            uint8_t *o = &out[((size_t)y * dw + x) * 4];
            o[3] = byte(255 * s[3]);
            for (int c = 0; c < 3; ++c) o[c] = s[3] > 1e-6 ? byte(s[c] / s[3]) : 0;
        }
    return out;
}

class Resize : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override
    {
        image_resize_set_path(kResizeAuto);
        image_resize_set_threads(0);
    }
    void TearDown() override
    {
        image_resize_set_path(kResizeAuto);
        image_resize_set_threads(0);
    }
};

TEST(ResizeContrib, ShrinkingFourToOneWidensLanczosToTwentySixTaps)
{
    Contrib c;
    ASSERT_TRUE(contrib_build(&c, 4000, 1000, kFilterLanczos3));
    EXPECT_EQ(c.taps, 26);  // s = 4, radius 12
    EXPECT_EQ(c.count[500], 24u);
    double sum = 0;
    for (uint32_t k = 0; k < c.count[500]; ++k) sum += c.weights[500 * c.taps + k];
    EXPECT_NEAR(sum, 1.0, 1e-6);
    EXPECT_EQ(c.first[0], 0);  // clipped at the left edge
    contrib_free(&c);

    ASSERT_TRUE(contrib_build(&c, 100, 200, kFilterBox));
    EXPECT_EQ(c.taps, 3);
    for (int i = 0; i < 200; ++i) {
        ASSERT_EQ(c.count[i], 1u) << i;  // enlarging with the box: one source pixel each
        EXPECT_EQ(c.first[i], i / 2);
    }
    contrib_free(&c);
}

TEST(ResizeBasics, RejectsBadSizesAndCopiesTheSameSize)
{
    Image *img = photo_like(37, 23, true);
    EXPECT_EQ(image_resize(img, 0, 10, 4), nullptr);
    EXPECT_EQ(image_resize(img, 10, 0, 4), nullptr);
    EXPECT_EQ(image_resize(img, -5, 10, 4), nullptr);
    EXPECT_EQ(image_resize(nullptr, 10, 10, 4), nullptr);
    Image *same = image_resize(img, 37, 23, kFilterLanczos3);
    ASSERT_NE(same, nullptr);
    EXPECT_EQ(0, memcmp(same->data, img->data, (size_t)img->stride * img->height));
    EXPECT_EQ(same->has_alpha, 1);
    image_free(same);
    image_free(img);
}

TEST(ResizeBasics, OpaqueStaysOpaqueAndTransparentColourDoesNotBleed)
{
    Image *opaque = photo_like(64, 48, false);
    Image *r = image_resize(opaque, 20, 90, 0);
    EXPECT_EQ(r->has_alpha, 0);
    image_free(r);
    image_free(opaque);

    Image *clear = image_new(16, 16);
    for (size_t i = 0; i < 256; ++i) clear->data[i * 4] = 255;  // blue under alpha 0
    image_detect_alpha(clear);
    for (int f = 1; f <= 4; ++f) {
        Image *out = image_resize(clear, 7, 33, f);
        for (size_t i = 0; i < 7 * 33 * 4; ++i) ASSERT_EQ(out->data[i], 0) << f;
        EXPECT_EQ(out->has_alpha, 1);
        image_free(out);
    }
    // Half transparent red beside opaque green: no red shows through the green.
    Image *edge = image_new(8, 1);
    for (int x = 0; x < 8; ++x) {
        uint8_t *p = edge->data + x * 4;
        p[2] = x < 4 ? 255 : 0;
        p[1] = x < 4 ? 0 : 255;
        p[3] = x < 4 ? 0 : 255;
    }
    image_detect_alpha(edge);
    Image *e = image_resize(edge, 4, 1, kFilterTriangle);
    EXPECT_EQ(e->data[2 * 4 + 2], 0);  // the pixel mixing both has green only
    image_free(e);
    image_free(edge);
    image_free(clear);
}

TEST(ResizeBasics, RingingIsClampedAtHardEdges)
{
    Image *img = image_new(10, 4);
    for (uint32_t y = 0; y < 4; ++y)
        for (uint32_t x = 0; x < 10; ++x) {
            memset(img->data + (size_t)y * img->stride + x * 4, x < 5 ? 0 : 255, 3);
            img->data[(size_t)y * img->stride + x * 4 + 3] = 255;
        }
    for (int f : {kFilterCatmullRom, kFilterLanczos3}) {
        Image *big = image_resize(img, 73, 9, f);
        std::vector<uint8_t> ref = reference_resize(img, 73, 9, f);
        // Overshoots exist in the maths and are clamped to 0 and 255.
        bool saw_black = false, saw_white = false;
        for (size_t i = 0; i < ref.size(); ++i) {
            saw_black |= big->data[i] == 0;
            saw_white |= big->data[i] == 255;
            EXPECT_NEAR(big->data[i], ref[i], 1);
        }
        EXPECT_TRUE(saw_black && saw_white);
        image_free(big);
    }
    image_free(img);
}

TEST(ResizeBasics, BoxEnlargementIsNearestNeighbour)
{
    Image *img = photo_like(9, 5, true);
    Image *big = image_resize(img, 18, 10, kFilterBox);
    for (uint32_t y = 0; y < 10; ++y)
        for (uint32_t x = 0; x < 18; ++x) {
            const uint8_t *a = big->data + (size_t)y * big->stride + x * 4;
            const uint8_t *b = img->data + (size_t)(y / 2) * img->stride + (x / 2) * 4;
            EXPECT_EQ(a[3], b[3]);
            if (b[3] == 0) continue;
            for (int c = 0; c < 3; ++c) EXPECT_NEAR(a[c], b[c], 1) << x << "," << y;
        }
    image_free(big);
    image_free(img);
}

TEST(ResizeBasics, AutomaticChoiceFollowsTheDirection)
{
    Image *img = photo_like(40, 30, false);
    struct Case {
        int w, h, same_as;
    } cases[] = {{20, 30, kFilterLanczos3}, {40, 10, kFilterLanczos3}, {80, 60, kFilterCatmullRom},
                 {40, 61, kFilterCatmullRom}, {50, 20, kFilterLanczos3}};
    for (const Case &c : cases) {
        Image *a = image_resize(img, c.w, c.h, kFilterAuto);
        Image *b = image_resize(img, c.w, c.h, c.same_as);
        EXPECT_EQ(0, memcmp(a->data, b->data, (size_t)a->stride * a->height)) << c.w << "x" << c.h;
        image_free(a);
        image_free(b);
    }
    Image *a = image_resize(img, 20, 15, 9);  // above 4 resamples like Lanczos3
    Image *b = image_resize(img, 20, 15, kFilterLanczos3);
    EXPECT_EQ(0, memcmp(a->data, b->data, (size_t)a->stride * a->height));
    image_free(a);
    image_free(b);
    image_free(img);
}

TEST_P(Resize, MatchesADoublePrecisionReference)
{
    ASSERT_TRUE(image_resize_set_path(kResizeScalar));
    int filter = GetParam();
    Image *img = photo_like(301, 217, true);
    for (auto [w, h] : {std::pair{97, 61}, std::pair{640, 403}, std::pair{301, 50}, std::pair{1, 1}}) {
        Image *out = image_resize(img, w, h, filter);
        ASSERT_NE(out, nullptr);
        std::vector<uint8_t> ref = reference_resize(img, w, h, filter);
        int worst = 0;
        for (size_t i = 0; i < ref.size(); ++i) worst = std::max(worst, std::abs((int)out->data[i] - ref[i]));
        EXPECT_LE(worst, 1) << filter_name(filter) << " " << w << "x" << h;
        image_free(out);
    }
    image_free(img);
}

TEST_P(Resize, EveryVectorPathGivesTheSameBytes)
{
    int filter = GetParam();
    struct Case {
        uint32_t sw, sh;
        int dw, dh;
        bool alpha;
    } cases[] = {{301, 217, 97, 61, true},  {301, 217, 700, 433, true}, {1, 40, 7, 13, false},
                 {40, 1, 3, 1, true},        {13, 11, 13, 3, false},      {999, 3, 17, 1, true},
                 {250, 250, 1, 1, true},     {31, 29, 64, 128, false}};
    for (const Case &c : cases) {
        Image *img = photo_like(c.sw, c.sh, c.alpha);
        std::vector<std::vector<uint8_t>> results;
        for (int path : {kResizeScalar, kResizeSse2, kResizeAvx2}) {
            if (!image_resize_set_path(path)) continue;  // no AVX2 on this processor
            Image *out = image_resize(img, c.dw, c.dh, filter);
            ASSERT_NE(out, nullptr);
            results.emplace_back(out->data, out->data + (size_t)out->stride * out->height);
            image_free(out);
        }
        for (size_t i = 1; i < results.size(); ++i)
            EXPECT_EQ(results[i], results[0]) << "path " << i << " " << c.sw << "x" << c.sh << " -> " << c.dw << "x"
                                              << c.dh;
        image_free(img);
    }
}

TEST_P(Resize, TwoThreadsGiveTheSameBytesAsOne)
{
    int filter = GetParam();
    struct Case {
        uint32_t sw, sh;
        int dw, dh;
        bool alpha;
        int threads;  // 0: chosen by size
    } cases[] = {{301, 217, 97, 61, true, 2},   {301, 217, 700, 433, true, 2}, {1, 40, 7, 13, false, 2},
                 {40, 2, 3, 2, true, 2},        {13, 11, 13, 3, false, 2},     {999, 3, 17, 2, true, 2},
                 {250, 250, 1, 2, true, 2},     {31, 29, 64, 127, false, 2},   {17, 9, 5, 9, true, 2},
                 {1203, 907, 611, 457, true, 0}, {640, 480, 1283, 961, false, 0}};
    for (const Case &c : cases) {
        Image *img = photo_like(c.sw, c.sh, c.alpha);
        image_resize_set_threads(1);
        Image *one = image_resize(img, c.dw, c.dh, filter);
        image_resize_set_threads(c.threads);
        Image *two = image_resize(img, c.dw, c.dh, filter);
        ASSERT_TRUE(one && two);
        EXPECT_EQ(two->has_alpha, one->has_alpha);
        EXPECT_EQ(0, memcmp(one->data, two->data, (size_t)one->stride * one->height))
            << c.sw << "x" << c.sh << " -> " << c.dw << "x" << c.dh;
        image_free(one);
        image_free(two);
        image_free(img);
    }
}

// Batch workers resize at the same time: one of them gets the helper, all get the same bytes.
TEST_P(Resize, ResizesOnSeveralThreadsAtOnceGiveTheSameBytes)
{
    int filter = GetParam();
    Image *img = photo_like(517, 389, true);
    image_resize_set_threads(1);
    Image *one = image_resize(img, 263, 201, filter);
    image_resize_set_threads(2);
    Image *outs[3] = {};
    std::thread workers[3];
    for (int i = 0; i < 3; ++i) workers[i] = std::thread([&, i] { outs[i] = image_resize(img, 263, 201, filter); });
    for (std::thread &w : workers) w.join();
    for (Image *out : outs) {
        ASSERT_NE(out, nullptr);
        EXPECT_EQ(0, memcmp(one->data, out->data, (size_t)one->stride * one->height));
        image_free(out);
    }
    image_free(one);
    image_free(img);
}

INSTANTIATE_TEST_SUITE_P(Filters, Resize, ::testing::Values(1, 2, 3, 4));

TEST(SizePresets, NineCommonSizesInTwoGroups)
{
    EXPECT_EQ(preset_count(), 9u);
    EXPECT_EQ(preset_at(9), nullptr);
    EXPECT_EQ(preset_at(0xFFFFFFFF), nullptr);
    const SizePreset *p = preset_at(5);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->width, 295);
    EXPECT_EQ(p->height, 413);
    EXPECT_EQ(p->group, 1);
    EXPECT_STREQ(p->size_text, L"295 × 413");
    EXPECT_STREQ(p->label, L"一寸");
    EXPECT_STREQ(preset_at(0)->label, L"方图 · 朋友圈/小红书");
    EXPECT_STREQ(preset_at(0)->size_text, L"1080 \u00D7 1080");
    EXPECT_STREQ(preset_at(3)->label, L"公众号头图");
    EXPECT_EQ(preset_at(3)->height, 628);
    for (uint32_t i = 0; i < 9; ++i) EXPECT_EQ(preset_at(i)->group, i < 5 ? 0 : 1) << i;

    EXPECT_STREQ(filter_name(0), L"自动");
    EXPECT_STREQ(filter_name(1), L"方框（最快）");
    EXPECT_STREQ(filter_name(2), L"双线性（快）");
    EXPECT_STREQ(filter_name(3), L"Catmull-Rom（锐）");
    EXPECT_STREQ(filter_name(4), L"Lanczos3（最佳）");
    EXPECT_STREQ(filter_name(5), L"自动");
}

}  // namespace
