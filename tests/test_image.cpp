// The pixel buffer: limits, alpha, thumbnails, crop and orientation transforms.
#include <gtest/gtest.h>
#include "image/image.h"
#include "support/test_support.h"
#include <cstring>

namespace {

// Every pixel holds its own coordinates, so any misplaced pixel is visible.
Image *coordinates(uint32_t w, uint32_t h)
{
    Image *img = image_new(w, h);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            uint8_t *p = img->data + (size_t)y * img->stride + x * 4;
            p[0] = (uint8_t)x;
            p[1] = (uint8_t)y;
            p[2] = (uint8_t)(x ^ y);
            p[3] = 255;
        }
    return img;
}

const uint8_t *px(const Image *img, uint32_t x, uint32_t y)
{
    return img->data + (size_t)y * img->stride + (size_t)x * 4;
}

TEST(ImageNew, SizeLimitsAndZeroedPixels)
{
    Image *big = image_new(10000, 10000);
    ASSERT_NE(big, nullptr);
    EXPECT_EQ(big->stride, 40000u);
    image_free(big);
    EXPECT_EQ(image_new(10000, 10001), nullptr);
    EXPECT_EQ(image_new(0, 5), nullptr);
    EXPECT_EQ(image_new(5, 0), nullptr);
    EXPECT_EQ(image_new(0xFFFFFFFF, 0xFFFFFFFF), nullptr);  // overflows 32 bits

    Image *img = image_new(3, 2);
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(img->has_alpha, 0);  // although every alpha byte is 0
    for (size_t i = 0; i < 24; ++i) EXPECT_EQ(img->data[i], 0);
    image_detect_alpha(img);
    EXPECT_EQ(img->has_alpha, 1);
    image_free(img);
    image_free(nullptr);
}

// Large pixel buffers are reused once freed: a picture of the same byte size,
// whatever its shape, still starts all zero.
TEST(ImageNew, ReusedBuffersStartZeroed)
{
    Image *first = image_new(3000, 2000);
    ASSERT_NE(first, nullptr);
    memset(first->data, 0xAB, (size_t)first->stride * first->height);
    first->has_alpha = 1;
    image_free(first);
    Image *turned = image_new(2000, 3000);
    ASSERT_NE(turned, nullptr);
    EXPECT_EQ(turned->has_alpha, 0);
    size_t bytes = (size_t)turned->stride * turned->height, nonzero = 0;
    for (size_t i = 0; i < bytes; ++i) nonzero += turned->data[i] != 0;
    EXPECT_EQ(nonzero, 0u);
    image_free(turned);
    image_release_buffers();
}

// A freed buffer also serves a picture down to half its size, whole: it comes back
// with its full size, and the best fitting of the kept ones is taken.
TEST(ImageNew, SmallerPicturesReuseLargerBuffers)
{
    image_release_buffers();
    Image *a = image_new(3000, 2000), *b = image_new(2000, 2000);
    ASSERT_TRUE(a && b);
    uint8_t *block_a = a->data, *block_b = b->data;
    memset(a->data, 0xAB, 24000000);
    memset(b->data, 0xAB, 16000000);
    image_free(a);
    image_free(b);
    EXPECT_EQ(image_kept_bytes(), 40000000u);
    struct Step {
        uint32_t w, h;
        uint8_t *block;
        uint64_t kept_after_free;
    } steps[] = {
        {1900, 2000, block_b, 40000000},  // both fit: the smaller one is taken
        {2400, 2400, block_a, 40000000},  // only the larger one holds it
        {3000, 1999, block_a, 40000000},  // the block went back with its full size
        {2000, 1000, block_b, 40000000},  // exactly half
        {1999, 1000, nullptr, 7996000},   // under half of both: they go, a fresh block comes
    };
    for (const Step &s : steps) {
        Image *p = image_new(s.w, s.h);
        ASSERT_NE(p, nullptr);
        if (s.block) {
            EXPECT_EQ(p->data, s.block) << s.w << "x" << s.h;
        }
        size_t bytes = (size_t)p->stride * p->height, nonzero = 0;
        for (size_t i = 0; i < bytes; ++i) nonzero += p->data[i] != 0;
        EXPECT_EQ(nonzero, 0u) << s.w << "x" << s.h;
        memset(p->data, 0xCD, bytes);
        image_free(p);
        EXPECT_EQ(image_kept_bytes(), s.kept_after_free) << s.w << "x" << s.h;
    }
    image_release_buffers();
    EXPECT_EQ(image_kept_bytes(), 0u);
}

// Paging frees a photo with its halves and decodes the next: a miss lets go only of blocks too
// large for it, the smaller ones serve the next photo's halves, and a full pool keeps the largest.
TEST(ImageNew, APhotoAndItsHalvesReuseTheBlocksOfTheLastOne)
{
    image_release_buffers();
    Image *photo = image_new(4000, 3000), *half = image_new(2000, 1500);
    ASSERT_TRUE(photo && half);
    uint8_t *photo_block = photo->data, *half_block = half->data;
    image_free(photo);
    image_free(half);
    Image *next = image_new(6000, 4000);
    ASSERT_NE(next, nullptr);
    EXPECT_EQ(image_kept_bytes(), 60000000u);
    Image *next_half = image_new(3000, 2000), *next_quarter = image_new(1500, 1000);
    ASSERT_TRUE(next_half && next_quarter);
    EXPECT_EQ(next_half->data, photo_block);
    EXPECT_EQ(next_quarter->data, half_block);
    Image *other = image_new(2500, 1000), *smallest = image_new(1250, 1000);
    ASSERT_TRUE(other && smallest);
    for (Image *img : {next, next_half, next_quarter, other, smallest}) image_free(img);
    EXPECT_EQ(image_kept_bytes(), 96000000u + 48000000u + 12000000u + 10000000u);
    image_release_buffers();
}

TEST(ImageAlpha, DetectAndFlatten)
{
    Image *img = coordinates(4, 4);
    image_detect_alpha(img);
    EXPECT_EQ(img->has_alpha, 0);
    uint8_t *p = img->data + (size_t)2 * img->stride + 3 * 4;  // the last pixel scanned matters too
    p[0] = 0;
    p[1] = 0;
    p[2] = 255;
    p[3] = 128;
    Image *copy = image_clone(img);
    image_flatten_alpha(copy, 255, 255, 255);  // has_alpha still 0: nothing changes
    EXPECT_EQ(0, memcmp(copy->data, img->data, 64));
    image_free(copy);

    image_detect_alpha(img);
    EXPECT_EQ(img->has_alpha, 1);
    Image *before = image_clone(img);
    image_flatten_alpha(img, 255, 255, 255);
    EXPECT_EQ(img->has_alpha, 0);
    EXPECT_EQ(p[0], 127);
    EXPECT_EQ(p[1], 127);
    EXPECT_EQ(p[2], 255);
    EXPECT_EQ(p[3], 255);
    p[0] = before->data[(size_t)2 * before->stride + 12];
    p[1] = before->data[(size_t)2 * before->stride + 13];
    p[2] = before->data[(size_t)2 * before->stride + 14];
    p[3] = 128;
    // Opaque pixels are untouched.
    before->data[(size_t)2 * before->stride + 15] = 128;
    EXPECT_EQ(0, memcmp(img->data, before->data, 64));
    image_free(before);

    Image *dark = image_new(1, 1);
    dark->data[0] = 200;  // blue under alpha 0
    dark->has_alpha = 1;
    image_flatten_alpha(dark, 10, 20, 30);
    EXPECT_EQ(dark->data[0], 30);  // blue background byte
    EXPECT_EQ(dark->data[1], 20);
    EXPECT_EQ(dark->data[2], 10);
    image_free(dark);
    image_free(img);
}

TEST(ImageThumb, SizesFollowTheLongerSide)
{
    struct Case {
        uint32_t w, h, max, tw, th;
    } cases[] = {{4000, 3000, 96, 96, 72}, {1, 500, 96, 1, 96}, {500, 1, 96, 96, 1},
                 {300, 300, 0, 96, 96},    {97, 13, 96, 96, 13}, {200, 100, 50, 50, 25}};
    for (const Case &c : cases) {
        Image *img = image_new(c.w, c.h);
        Image *t = image_thumb(img, c.max);
        ASSERT_NE(t, nullptr);
        EXPECT_EQ(t->width, c.tw) << c.w << "x" << c.h;
        EXPECT_EQ(t->height, c.th) << c.w << "x" << c.h;
        image_free(t);
        image_free(img);
    }
    Image *small = make_gradient(50, 40, true);
    Image *same = image_thumb(small, 96);
    EXPECT_EQ(0, memcmp(same->data, small->data, (size_t)small->stride * small->height));
    EXPECT_EQ(same->has_alpha, 1);
    image_free(same);
    image_free(small);
    EXPECT_EQ(image_thumb(nullptr, 96), nullptr);
}

TEST(ImageThumb, BoxAveragesTruncateAndCoverTheWholeSource)
{
    // 10 x 4 → 5 x 2: each output pixel averages a 2 x 2 box.
    Image *img = image_new(10, 4);
    for (uint32_t y = 0; y < 4; ++y)
        for (uint32_t x = 0; x < 10; ++x) {
            uint8_t *p = img->data + (size_t)y * img->stride + x * 4;
            p[0] = (uint8_t)(x * 20 + y);  // box of x=0,1 y=0,1: 0,20,1,21 → 42/4 = 10
            p[1] = 255;
            p[2] = (uint8_t)(y == 3 && x == 9 ? 3 : 0);
            p[3] = (uint8_t)(x == 0 && y == 0 ? 0 : 255);
        }
    Image *t = image_thumb(img, 5);
    ASSERT_NE(t, nullptr);
    ASSERT_EQ(t->width, 5u);
    ASSERT_EQ(t->height, 2u);
    EXPECT_EQ(px(t, 0, 0)[0], 10);
    EXPECT_EQ(px(t, 0, 0)[3], 191);  // (0 + 255 * 3) / 4
    EXPECT_EQ(px(t, 4, 1)[0], (162 + 182 + 163 + 183) / 4);  // x = 8, 9 and y = 2, 3
    EXPECT_EQ(px(t, 4, 1)[2], 0);  // 3 / 4 truncates
    EXPECT_EQ(t->has_alpha, 1);
    image_free(t);
    image_free(img);

    // Uneven boxes: 7 → 3 takes columns [0,2), [2,4), [4,7).
    Image *row = image_new(7, 1);
    for (uint32_t x = 0; x < 7; ++x) {
        row->data[x * 4] = (uint8_t)(x * 10);
        row->data[x * 4 + 3] = 255;
    }
    Image *r = image_thumb(row, 3);
    ASSERT_EQ(r->width, 3u);
    EXPECT_EQ(r->data[0], 5);
    EXPECT_EQ(r->data[4], 25);
    EXPECT_EQ(r->data[8], 50);
    EXPECT_EQ(r->has_alpha, 0);
    image_free(r);
    image_free(row);
}

TEST(ImageCrop, IntersectsWithThePicture)
{
    Image *img = coordinates(100, 80);
    img->has_alpha = 1;  // copied, not recomputed
    Image *c = image_crop(img, -10, -10, 50, 50);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->width, 40u);
    EXPECT_EQ(c->height, 40u);
    EXPECT_EQ(c->has_alpha, 1);
    EXPECT_EQ(px(c, 0, 0)[0], 0);
    EXPECT_EQ(px(c, 39, 39)[0], 39);
    image_free(c);

    c = image_crop(img, 90, 70, 50, 50);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->width, 10u);
    EXPECT_EQ(c->height, 10u);
    EXPECT_EQ(px(c, 0, 0)[0], 90);
    EXPECT_EQ(px(c, 0, 0)[1], 70);
    image_free(c);

    EXPECT_EQ(image_crop(img, 100, 0, 5, 5), nullptr);
    EXPECT_EQ(image_crop(img, 0, 80, 5, 5), nullptr);
    EXPECT_EQ(image_crop(img, -20, 0, 10, 5), nullptr);
    EXPECT_EQ(image_crop(img, 0, 0, 0, 5), nullptr);
    EXPECT_EQ(image_crop(img, 0, 0, 5, -1), nullptr);
    EXPECT_EQ(image_crop(img, 2147483000, 0, 2147483000, 5), nullptr);
    image_free(img);
}

TEST(ImageTransform, EveryOrientationMapsPixelsAsTheTableSays)
{
    // Small, and larger than the copy's tiles with ragged edges.
    static constexpr uint32_t kSizes[][2] = {{5, 3}, {37, 21}, {1, 40}};
    for (const auto &size : kSizes) {
        const uint32_t w = size[0], h = size[1];
        Image *src = coordinates(w, h);
        src->has_alpha = 1;
        for (int code = 1; code <= 8; ++code) {
            Image *out = image_transform(src, code);
            ASSERT_NE(out, nullptr);
            bool swapped = code >= 5;
            ASSERT_EQ(out->width, swapped ? h : w) << code;
            ASSERT_EQ(out->height, swapped ? w : h) << code;
            EXPECT_EQ(out->has_alpha, 1);
            for (uint32_t i = 0; i < out->height; ++i)
                for (uint32_t j = 0; j < out->width; ++j) {
                    uint32_t r = 0, c = 0;
                    switch (code) {
                    case 1: r = i; c = j; break;
                    case 2: r = i; c = w - 1 - j; break;
                    case 3: r = h - 1 - i; c = w - 1 - j; break;
                    case 4: r = h - 1 - i; c = j; break;
                    case 5: r = j; c = i; break;
                    case 6: r = h - 1 - j; c = i; break;
                    case 7: r = h - 1 - j; c = w - 1 - i; break;
                    case 8: r = j; c = w - 1 - i; break;
                    }
                    ASSERT_EQ(0, memcmp(px(out, j, i), px(src, c, r), 4)) << "code " << code << " at " << j << "," << i;
                }
            image_free(out);
        }
        image_free(src);
    }
}

TEST(ImageTransform, TurnsAndCopies)
{
    Image *src = coordinates(3, 2);
    Image *right = image_transform(src, 6);
    ASSERT_EQ(right->width, 2u);
    ASSERT_EQ(right->height, 3u);
    EXPECT_EQ(0, memcmp(px(right, 0, 0), px(src, 0, 1), 4));  // the source's bottom-left
    // Four quarter turns, or a turn each way, give the picture back.
    Image *back = image_transform(right, 8);
    EXPECT_EQ(0, memcmp(back->data, src->data, 24));
    for (int code : {1, 0, 9, -3}) {
        Image *copy = image_transform(src, code);
        ASSERT_NE(copy, nullptr);
        EXPECT_EQ(copy->width, 3u);
        EXPECT_EQ(0, memcmp(copy->data, src->data, 24)) << code;
        image_free(copy);
    }
    EXPECT_EQ(image_transform(nullptr, 6), nullptr);
    image_free(back);
    image_free(right);
    image_free(src);
}

}  // namespace
