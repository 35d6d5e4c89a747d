// WebP through libwebp: always lossy, alpha kept exactly, quality clamped, messages, safe replacement.
#include <gtest/gtest.h>
#include "codec/codec.h"
#include "codec/codec_webp.h"
#include "support/codec_fixture.h"
#include "support/test_support.h"
#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int kCap = 600;

class Webp : public CodecFolderTest {
protected:
    Webp() : CodecFolderTest(L"webp") {}
};

std::vector<uint8_t> encode(const Image *img, int quality)
{
    WCHAR err[kCap];
    Blob blob = {};
    EXPECT_TRUE(webp_encode_mem(img, quality, &blob, err, kCap)) << err;
    std::vector<uint8_t> bytes(blob.data, blob.data + blob.size);
    blob_free(&blob);
    return bytes;
}

bool contains(const std::vector<uint8_t> &bytes, const char *four)
{
    for (size_t i = 0; i + 4 <= bytes.size(); ++i)
        if (!memcmp(bytes.data() + i, four, 4)) return true;
    return false;
}

TEST_F(Webp, RoundTripKeepsPixelsAlphaAndHiddenColour)
{
    WCHAR err[kCap];
    for (bool alpha : {false, true}) {
        Image *img = make_gradient(61, 37, alpha);
        // Every alpha level, and fully transparent rows whose colour must survive as well.
        for (uint32_t y = 0; alpha && y < img->height; ++y)
            for (uint32_t x = 0; x < img->width; ++x)
                img->data[y * img->stride + x * 4 + 3] = y < 16 ? 0 : (uint8_t)(x * 7 + y * 13);
        std::wstring path = file(alpha ? L"clear.webp" : L"opaque.WEBP");
        ASSERT_TRUE(webp_write_file(path.c_str(), img, 90, err, kCap)) << err;
        EXPECT_STREQ(err, L"");
        std::vector<uint8_t> bytes = read_file_bytes(path);
        ASSERT_GT(bytes.size(), 20u);
        EXPECT_TRUE(!memcmp(bytes.data(), "RIFF", 4) && !memcmp(bytes.data() + 8, "WEBP", 4));
        Image *back = alpha ? webp_load(path.c_str(), err, kCap) : codec_load(path.c_str(), err, kCap);
        ASSERT_NE(back, nullptr) << err;
        ASSERT_EQ(back->width, 61u);
        ASSERT_EQ(back->height, 37u);
        EXPECT_EQ(back->has_alpha, alpha ? 1 : 0);
        double colour_diff = 0, hidden_diff = 0;
        int alpha_diff = 0;
        for (size_t i = 0; i < (size_t)img->stride * img->height; ++i) {
            int d = std::abs((int)back->data[i] - (int)img->data[i]);
            if (i % 4 == 3) alpha_diff = std::max(alpha_diff, d);
            else colour_diff += d;
            if (alpha && i % 4 != 3 && i < 16 * img->stride) hidden_diff += d;
        }
        EXPECT_LT(colour_diff / (img->width * img->height * 3), 8.0);  // lossy, but the same picture
        EXPECT_EQ(alpha_diff, 0);
        EXPECT_LT(hidden_diff / (16 * img->width * 3), 8.0);
        image_free(back);
        image_free(img);
    }
}

TEST_F(Webp, AlwaysLossyWithQualityClampedIntoOneToHundred)
{
    for (bool alpha : {false, true}) {
        Image *img = make_gradient(80, 60, alpha);
        std::vector<uint8_t> q100 = encode(img, 100);
        EXPECT_TRUE(contains(q100, "VP8 ")) << alpha;
        EXPECT_FALSE(contains(q100, "VP8L")) << alpha;
        EXPECT_EQ(encode(img, 0), encode(img, 1));
        EXPECT_EQ(encode(img, -7), encode(img, 1));
        EXPECT_EQ(encode(img, 500), q100);
        EXPECT_LT(encode(img, 5).size(), q100.size());
        image_free(img);
    }
    WCHAR err[kCap] = L"old";
    Blob blob = {};
    EXPECT_FALSE(webp_encode_mem(nullptr, 90, &blob, err, kCap));
    EXPECT_STREQ(err, L"");
    EXPECT_FALSE(webp_encode_mem(nullptr, 90, nullptr, err, kCap));
    EXPECT_FALSE(webp_write_file(file(L"none.webp").c_str(), nullptr, 90, err, kCap));
    EXPECT_STREQ(err, L"");
    EXPECT_FALSE(file_exists(file(L"none.webp")));
}

TEST_F(Webp, LoadMessagesTellUnreadableFromDamaged)
{
    WCHAR err[kCap];
    Image *img = make_gradient(10, 10, false);
    ASSERT_TRUE(codec_save(img, file(L"real.png").c_str(), 90, nullptr, err, kCap)) << err;
    image_free(img);
    std::vector<uint8_t> png = read_file_bytes(file(L"real.png"));
    ASSERT_TRUE(write_file_bytes(file(L"x.webp"), png.data(), png.size()));
    EXPECT_EQ(webp_load(file(L"x.webp").c_str(), err, kCap), nullptr);
    EXPECT_STREQ(err, L"「x.webp」不是有效的 WebP 图片，或者文件已经损坏。");

    ASSERT_TRUE(write_file_bytes(file(L"x.webp"), "", 0));
    EXPECT_EQ(webp_load(file(L"x.webp").c_str(), err, kCap), nullptr);
    EXPECT_STREQ(err, L"无法读取「x.webp」。\n\n文件可能正被其它程序占用，或者没有访问权限。");
    EXPECT_EQ(codec_load(file(L"missing.webp").c_str(), err, kCap), nullptr);
    EXPECT_STREQ(err, L"无法读取「missing.webp」。\n\n文件可能正被其它程序占用，或者没有访问权限。");
}

TEST_F(Webp, FailedWriteLeavesTheOldFileAndNoLeftovers)
{
    WCHAR err[kCap];
    std::wstring target = file(L"keep.webp");
    ASSERT_TRUE(write_file_bytes(target, "old picture", 11));
    Image *img = make_gradient(50, 50, true);
    HANDLE holder = CreateFileW(target.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(webp_write_file(target.c_str(), img, 80, err, kCap));
    EXPECT_STREQ(err, L"无法写入「keep.webp」。\n\n文件可能正被其它程序打开，或者目录没有写入权限。");
    CloseHandle(holder);
    std::vector<uint8_t> after = read_file_bytes(target);
    EXPECT_EQ(std::string(after.begin(), after.end()), "old picture");
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(file(L"*").c_str(), &found);
    int entries = 0;
    for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &found)) ++entries;
    if (search != INVALID_HANDLE_VALUE) FindClose(search);
    EXPECT_EQ(entries, 3);  // ".", ".." and the old file: no temporary left behind

    EXPECT_FALSE(webp_write_file(file(L"no-such-folder\\a.webp").c_str(), img, 80, err, kCap));
    EXPECT_STREQ(err, L"无法写入「a.webp」。\n\n文件可能正被其它程序打开，或者目录没有写入权限。");

    ASSERT_TRUE(webp_write_file(target.c_str(), img, 80, err, kCap)) << err;
    EXPECT_EQ(read_file_bytes(target), encode(img, 80));
    image_free(img);
}

}  // namespace
