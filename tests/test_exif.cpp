// WebP through libwebp, and camera facts carried into saved JPEGs.
#include <gtest/gtest.h>
#include "codec/codec.h"
#include "codec/codec_webp.h"
#include "codec/exif.h"
#include "support/test_support.h"
#include <libexif/exif-data.h>
#include <cstring>
#include <map>
#include <algorithm>
#include <array>
#include <string>

namespace {

constexpr int kCap = 600;

class Files : public ::testing::Test {
protected:
    void SetUp() override
    {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        dir_ = temp_dir_create(L"exif");
    }
    void TearDown() override
    {
        temp_dir_remove(dir_);
        codec_shutdown();
        CoUninitialize();
    }
    std::wstring file(const wchar_t *name) const { return dir_ + L"\\" + name; }
    std::wstring dir_;
};

using TagMap = std::map<unsigned, std::string>;

// Every entry of a JPEG's EXIF block, as libexif reads it back.
TagMap tags_of_file(const std::wstring &path)
{
    TagMap tags;
    std::vector<uint8_t> bytes = read_file_bytes(path);
    if (bytes.empty()) return tags;
    // Read as stored: libexif's "fixing" would add entries of its own.
    ExifData *data = exif_data_new();
    if (!data) return tags;
    exif_data_unset_option(data, EXIF_DATA_OPTION_FOLLOW_SPECIFICATION);
    exif_data_load_data(data, bytes.data(), (unsigned)bytes.size());
    for (int ifd = 0; ifd < EXIF_IFD_COUNT; ++ifd) {
        ExifContent *c = data->ifd[ifd];
        for (unsigned i = 0; c && i < c->count; ++i) {
            char value[256] = "";
            exif_entry_get_value(c->entries[i], value, sizeof value);
            tags[c->entries[i]->tag] = value;
        }
    }
    exif_data_unref(data);
    return tags;
}

bool has_exif_block(const std::wstring &path)
{
    std::vector<uint8_t> bytes = read_file_bytes(path);
    const char sig[] = "Exif\0\0";
    return std::search(bytes.begin(), bytes.end(), sig, sig + 6) != bytes.end();
}

// A JPEG whose APP1 carries the given TIFF bytes.
std::vector<uint8_t> jpeg_with_app1(const std::vector<uint8_t> &tiff)
{
    std::vector<uint8_t> out = {0xFF, 0xD8, 0xFF, 0xE1};
    size_t len = tiff.size() + 8;
    out.push_back((uint8_t)(len >> 8));
    out.push_back((uint8_t)len);
    const char header[] = "Exif\0\0";
    out.insert(out.end(), header, header + 6);
    out.insert(out.end(), tiff.begin(), tiff.end());
    return out;
}

void put16(std::vector<uint8_t> &v, size_t at, uint16_t x)
{
    v[at] = (uint8_t)x;
    v[at + 1] = (uint8_t)(x >> 8);
}

void put32(std::vector<uint8_t> &v, size_t at, uint32_t x)
{
    for (int i = 0; i < 4; ++i) v[at + i] = (uint8_t)(x >> (8 * i));
}

// Little-endian TIFF with IFD0 at 8 holding the given 12-byte entries, then a next-IFD offset.
std::vector<uint8_t> tiff_ifd(const std::vector<std::array<uint32_t, 4>> &entries, uint32_t next_ifd,
                              size_t total = 0)
{
    std::vector<uint8_t> v(8 + 2 + 12 * entries.size() + 4);
    v[0] = 'I';
    v[1] = 'I';
    put16(v, 2, 42);
    put32(v, 4, 8);
    put16(v, 8, (uint16_t)entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        size_t at = 10 + 12 * i;
        put16(v, at, (uint16_t)entries[i][0]);
        put16(v, at + 2, (uint16_t)entries[i][1]);
        put32(v, at + 4, entries[i][2]);
        put32(v, at + 8, entries[i][3]);
    }
    put32(v, 10 + 12 * entries.size(), next_ifd);
    if (total > v.size()) v.resize(total);
    return v;
}

TEST_F(Files, WebpRoundTripKeepsAlphaAndColour)
{
    WCHAR err[kCap];
    for (bool alpha : {false, true}) {
        Image *img = make_gradient(61, 37, alpha);
        std::wstring path = file(alpha ? L"clear.webp" : L"opaque.WEBP");
        ASSERT_TRUE(codec_save(img, path.c_str(), 90, nullptr, err, kCap)) << err;
        std::vector<uint8_t> bytes = read_file_bytes(path);
        ASSERT_GT(bytes.size(), 20u);
        EXPECT_EQ(0, memcmp(bytes.data(), "RIFF", 4));
        EXPECT_EQ(0, memcmp(bytes.data() + 8, "WEBP", 4));
        Image *back = codec_load(path.c_str(), err, kCap);
        ASSERT_NE(back, nullptr) << err;
        EXPECT_EQ(back->width, 61u);
        EXPECT_EQ(back->height, 37u);
        EXPECT_EQ(back->has_alpha, alpha ? 1 : 0);
        double diff = 0;
        size_t n = (size_t)img->stride * img->height;
        for (size_t i = 0; i < n; ++i) diff += std::abs((int)back->data[i] - (int)img->data[i]);
        EXPECT_LT(diff / n, 8.0);  // lossy, but the same picture
        image_free(back);
        image_free(img);
    }
}

TEST_F(Files, WebpIsAlwaysLossyAndQualityIsClamped)
{
    Image *img = make_gradient(80, 60, false);
    WCHAR err[kCap];
    auto encode = [&](int q) {
        Blob blob = {};
        EXPECT_TRUE(codec_encode_mem(img, L".webp", q, nullptr, &blob, err, kCap)) << err;
        std::vector<uint8_t> bytes(blob.data, blob.data + blob.size);
        blob_free(&blob);
        return bytes;
    };
    std::vector<uint8_t> q100 = encode(100);
    ASSERT_GT(q100.size(), 16u);
    EXPECT_EQ(0, memcmp(q100.data() + 12, "VP8 ", 4));  // not "VP8L"
    EXPECT_EQ(encode(0), encode(1));
    EXPECT_EQ(encode(500), q100);
    EXPECT_LT(encode(5).size(), q100.size());
    image_free(img);
}

TEST_F(Files, WebpLoadMessages)
{
    WCHAR err[kCap];
    Image *img = make_gradient(10, 10, false);
    ASSERT_TRUE(codec_save(img, file(L"real.png").c_str(), 90, nullptr, err, kCap));
    image_free(img);
    ASSERT_TRUE(CopyFileW(file(L"real.png").c_str(), file(L"x.webp").c_str(), FALSE));
    EXPECT_EQ(codec_load(file(L"x.webp").c_str(), err, kCap), nullptr);
    EXPECT_STREQ(err, L"「x.webp」不是有效的 WebP 图片，或者文件已经损坏。");

    ASSERT_TRUE(write_file_bytes(file(L"empty.webp"), "", 0));
    EXPECT_EQ(codec_load(file(L"empty.webp").c_str(), err, kCap), nullptr);
    EXPECT_STREQ(err, L"无法读取「empty.webp」。\n\n文件可能正被其它程序占用，或者没有访问权限。");
    EXPECT_EQ(codec_load_thumb(file(L"missing.webp").c_str(), 96, err, kCap), nullptr);
    EXPECT_STREQ(err, L"无法读取「missing.webp」。\n\n文件可能正被其它程序占用，或者没有访问权限。");

    Blob blob = {};
    EXPECT_FALSE(webp_encode_mem(nullptr, 90, &blob, err, kCap));
    EXPECT_STREQ(err, L"");
}

TEST_F(Files, FailedWebpWriteLeavesTheOldFile)
{
    WCHAR err[kCap];
    std::wstring target = file(L"keep.webp");
    ASSERT_TRUE(write_file_bytes(target, "old picture", 11));
    HANDLE holder = CreateFileW(target.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    Image *img = make_gradient(50, 50, true);
    EXPECT_FALSE(webp_write_file(target.c_str(), img, 80, err, kCap));
    EXPECT_STREQ(err, L"无法写入「keep.webp」。\n\n文件可能正被其它程序打开，或者目录没有写入权限。");
    CloseHandle(holder);
    std::vector<uint8_t> after = read_file_bytes(target);
    EXPECT_EQ(std::string(after.begin(), after.end()), "old picture");
    ASSERT_TRUE(webp_write_file(target.c_str(), img, 80, err, kCap)) << err;
    image_free(img);
}

TEST_F(Files, IphonePhotoKeepsItsCameraFactsUpright)
{
    WCHAR err[kCap];
    std::wstring src = testdata_path(L"camera/iphone6.jpg");
    Image *img = codec_load(src.c_str(), err, kCap);
    ASSERT_NE(img, nullptr) << err;
    std::wstring out = file(L"copy.jpg");
    ASSERT_TRUE(codec_save(img, out.c_str(), 85, src.c_str(), err, kCap)) << err;
    image_free(img);

    TagMap tags = tags_of_file(out);
    EXPECT_EQ(tags[271], "Apple");
    EXPECT_EQ(tags[272], "iPhone 6");
    EXPECT_EQ(tags[305], "8.3");
    EXPECT_EQ(tags[36867], "2015:04:10 20:12:23");
    EXPECT_EQ(tags[33434], "1/40 sec.");
    EXPECT_EQ(tags[33437], "f/2.2");
    EXPECT_EQ(tags[34855], "32");
    EXPECT_EQ(tags[37386], "4.2 mm");
    EXPECT_EQ(tags[42036], "iPhone 6 back camera 4.15mm f/2.2");
    EXPECT_EQ(tags[274], "Top-left");
    // Nothing beyond the carried items: no GPS, maker notes or thumbnails.
    for (auto &[tag, value] : tags) {
        bool carried = tag == 274 || tag == 34665 || tag == 271 || tag == 272 || tag == 305 || tag == 306 ||
                       tag == 315 || tag == 33432 || tag == 36867 || tag == 36868 || tag == 33434 ||
                       tag == 33437 || tag == 34855 || tag == 37386 || tag == 42036;
        EXPECT_TRUE(carried) << "unexpected tag " << tag;
    }
    EXPECT_EQ(tags.count(37500), 0u);  // MakerNote

    WCHAR listing[4096];
    EXPECT_GE(exif_list_carried(out.c_str(), listing, 4096), 10);
    EXPECT_NE(std::wstring(listing).find(L"271=Apple\n"), std::wstring::npos);
    EXPECT_EQ(std::wstring(listing).rfind(L"274=Top-left\n", 0), 0u);
}

TEST_F(Files, TurnedPhotoIsSavedUprightWithOrientationOne)
{
    WCHAR err[kCap];
    std::wstring src = testdata_path(L"camera/canon_sx60_orient6.jpg");
    Image *img = codec_load(src.c_str(), err, kCap);
    ASSERT_NE(img, nullptr) << err;
    std::wstring jpg = file(L"canon.jpg"), png = file(L"canon.png"), tif = file(L"canon.tif");
    ASSERT_TRUE(codec_save(img, jpg.c_str(), 80, src.c_str(), err, kCap)) << err;
    ASSERT_TRUE(codec_save(img, png.c_str(), 80, src.c_str(), err, kCap)) << err;
    ASSERT_TRUE(codec_save(img, tif.c_str(), 80, src.c_str(), err, kCap)) << err;
    image_free(img);

    EXPECT_EQ(exif_read_orientation(jpg.c_str()), 1);
    TagMap tags = tags_of_file(jpg);
    EXPECT_EQ(tags[271], "Canon");
    EXPECT_EQ(tags[272], "Canon PowerShot SX60 HS");
    EXPECT_EQ(tags[34855], "800");
    Image *back = codec_load(jpg.c_str(), err, kCap);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->width, 1536u);  // not turned a second time
    EXPECT_EQ(back->height, 2048u);
    image_free(back);

    EXPECT_FALSE(has_exif_block(png));
    EXPECT_FALSE(has_exif_block(tif));
}

TEST_F(Files, SourcesWithoutExifCarryNothing)
{
    std::vector<uint8_t> app1 = {1, 2, 3};
    EXPECT_EQ(exif_build_carry_over(L"photo.png", &app1), 0);
    EXPECT_TRUE(app1.empty());
    EXPECT_EQ(exif_build_carry_over(L"", &app1), 0);
    EXPECT_EQ(exif_build_carry_over(nullptr, &app1), 0);
    EXPECT_EQ(exif_build_carry_over(file(L"moved-away.jpg").c_str(), &app1), 0);
    EXPECT_TRUE(app1.empty());

    // A picture loaded from a PNG and saved as JPEG gets no EXIF items at all.
    WCHAR err[kCap];
    Image *img = make_gradient(20, 20, false);
    ASSERT_TRUE(codec_save(img, file(L"src.png").c_str(), 90, nullptr, err, kCap));
    ASSERT_TRUE(codec_save(img, file(L"out.jpg").c_str(), 90, file(L"src.png").c_str(), err, kCap));
    EXPECT_FALSE(has_exif_block(file(L"out.jpg")));
    image_free(img);
}

TEST_F(Files, SavingOverTheSourceKeepsItsExif)
{
    WCHAR err[kCap];
    std::wstring photo = file(L"nikon.jpg");
    ASSERT_TRUE(CopyFileW(testdata_path(L"camera/nikon_e950.jpg").c_str(), photo.c_str(), FALSE));
    Image *img = codec_load(photo.c_str(), err, kCap);
    ASSERT_NE(img, nullptr);
    ASSERT_TRUE(codec_save(img, photo.c_str(), 80, photo.c_str(), err, kCap)) << err;
    image_free(img);
    TagMap tags = tags_of_file(photo);
    EXPECT_EQ(tags[271], "NIKON");
    EXPECT_EQ(tags[36867], "2001:04:06 11:51:40");
}

TEST_F(Files, OrientationOfEveryLandscape)
{
    for (int i = 0; i <= 8; ++i) {
        std::wstring name = L"orientation/Landscape_" + std::to_wstring(i) + L".jpg";
        EXPECT_EQ(exif_read_orientation(testdata_path(name.c_str()).c_str()), i == 0 ? 1 : i) << i;
    }
    EXPECT_EQ(exif_read_orientation(testdata_path(L"camera/olympus_corrupted.jpg").c_str()), 1);
    EXPECT_EQ(exif_read_orientation(L""), 1);
}

TEST_F(Files, DamagedCameraExifStillSaves)
{
    WCHAR err[kCap];
    std::wstring src = testdata_path(L"camera/olympus_corrupted.jpg");
    Image *img = codec_load(src.c_str(), err, kCap);
    ASSERT_NE(img, nullptr) << err;
    Image *small = image_thumb(img, 400);
    image_free(img);
    ASSERT_TRUE(codec_save(small, file(L"olympus.jpg").c_str(), 80, src.c_str(), err, kCap)) << err;
    image_free(small);
    EXPECT_EQ(tags_of_file(file(L"olympus.jpg"))[271].rfind("OLYMPUS IMAGING CORP.", 0), 0u);
}

TEST_F(Files, HostileExifBlocksNeverCrashOrHang)
{
    std::vector<std::vector<uint8_t>> blocks;
    // Orientation and Make pointing far outside the block.
    blocks.push_back(tiff_ifd({{274, 3, 1, 6}, {271, 2, 0x7FFF, 0xFFFFFF00}}, 0));
    // IFD0 whose next-IFD points back at itself, and an EXIF pointer to IFD0.
    blocks.push_back(tiff_ifd({{274, 3, 1, 3}, {34665, 4, 1, 8}}, 8));
    // A count of 0xFFFFFFFF.
    blocks.push_back(tiff_ifd({{271, 2, 0xFFFFFFFF, 20}, {274, 3, 0xFFFFFFFF, 30}}, 0, 64));
    // Entry count claims more than there is, and the block stops mid-entry.
    std::vector<uint8_t> cut = tiff_ifd({{274, 3, 1, 5}, {272, 2, 100, 40}}, 0);
    put16(cut, 8, 0xFFFF);
    cut.resize(cut.size() - 9);
    blocks.push_back(cut);
    // Orientation out of range and in a wrong type.
    blocks.push_back(tiff_ifd({{274, 3, 1, 9}}, 0));
    blocks.push_back(tiff_ifd({{274, 2, 1, 6}}, 0));

    WCHAR err[kCap];
    Image *img = make_gradient(16, 16, false);
    for (size_t i = 0; i < blocks.size(); ++i) {
        std::wstring src = file((L"hostile" + std::to_wstring(i) + L".jpg").c_str());
        ASSERT_TRUE(write_file_bytes(src, jpeg_with_app1(blocks[i]).data(), jpeg_with_app1(blocks[i]).size()));
        int orientation = exif_read_orientation(src.c_str());
        EXPECT_GE(orientation, 1) << i;
        EXPECT_LE(orientation, 8) << i;
        std::vector<uint8_t> app1;
        EXPECT_GE(exif_build_carry_over(src.c_str(), &app1), 1) << i;
        EXPECT_LE(app1.size(), 65533u);
        std::wstring out = file((L"out" + std::to_wstring(i) + L".jpg").c_str());
        EXPECT_TRUE(codec_save(img, out.c_str(), 80, src.c_str(), err, kCap)) << i;
        EXPECT_EQ(exif_read_orientation(out.c_str()), 1) << i;
    }
    EXPECT_EQ(exif_read_orientation(file(L"hostile0.jpg").c_str()), 6);
    EXPECT_EQ(exif_read_orientation(file(L"hostile4.jpg").c_str()), 1);
    EXPECT_EQ(exif_read_orientation(file(L"hostile5.jpg").c_str()), 1);

    // A segment length that runs past the end of the file.
    std::vector<uint8_t> runaway = {0xFF, 0xD8, 0xFF, 0xE1, 0xFF, 0xF0, 'E', 'x', 'i', 'f', 0, 0};
    ASSERT_TRUE(write_file_bytes(file(L"runaway.jpg"), runaway.data(), runaway.size()));
    EXPECT_EQ(exif_read_orientation(file(L"runaway.jpg").c_str()), 1);
    image_free(img);
}

}  // namespace
