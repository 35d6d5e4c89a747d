// Orientation read from a JPEG's EXIF block, and camera facts carried into saved JPEGs.
#include <gtest/gtest.h>
#include "codec/codec.h"
#include "codec/exif.h"
#include "support/codec_fixture.h"
#include "support/test_support.h"
#include <libexif/exif-data.h>
#include <cstring>
#include <map>
#include <algorithm>
#include <array>
#include <iterator>
#include <string>

namespace {

constexpr int kCap = 600;

class Files : public CodecFolderTest {
protected:
    Files() : CodecFolderTest(L"exif") {}
};

using TagMap = std::map<unsigned, std::string>;

// Every entry of an EXIF block (a JPEG file or a bare APP1 payload), as libexif reads it back.
TagMap tags_of(const std::vector<uint8_t> &bytes)
{
    TagMap tags;
    if (bytes.empty()) return tags;
    // Read as stored: libexif's "fixing" would add entries of its own.
    ExifData *data = exif_data_new();
    if (!data) return tags;
    exif_data_unset_option(data, EXIF_DATA_OPTION_FOLLOW_SPECIFICATION);
    exif_data_load_data(data, bytes.data(), (unsigned)bytes.size());
    for (int ifd = 0; ifd < EXIF_IFD_COUNT; ++ifd) {
        ExifContent *c = data->ifd[ifd];
        for (unsigned i = 0; c && i < c->count; ++i) {
            std::string value(65536, '\0');
            exif_entry_get_value(c->entries[i], &value[0], (unsigned)value.size());
            tags[c->entries[i]->tag] = value.c_str();
        }
    }
    exif_data_unref(data);
    return tags;
}

TagMap tags_of_file(const std::wstring &path)
{
    return tags_of(read_file_bytes(path));
}

constexpr unsigned kCarried[] = {271, 272, 305, 306, 315, 33432, 36867, 36868, 33434, 33437, 34855, 37386, 42036};

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

void expect_iphone_facts(const TagMap &tags)
{
    EXPECT_EQ(tags.at(271), "Apple");
    EXPECT_EQ(tags.at(272), "iPhone 6");
    EXPECT_EQ(tags.at(305), "8.3");
    EXPECT_EQ(tags.at(36867), "2015:04:10 20:12:23");
    EXPECT_EQ(tags.at(33434), "1/40 sec.");
    EXPECT_EQ(tags.at(33437), "f/2.2");
    EXPECT_EQ(tags.at(34855), "32");
    EXPECT_EQ(tags.at(37386), "4.2 mm");
    EXPECT_EQ(tags.at(42036), "iPhone 6 back camera 4.15mm f/2.2");
    EXPECT_EQ(tags.at(274), "Top-left");
    // Nothing beyond the carried items and the pointer to their IFD: no GPS, maker notes or thumbnails.
    for (auto &[tag, value] : tags)
        EXPECT_TRUE(tag == 274 || tag == 34665 || std::count(std::begin(kCarried), std::end(kCarried), tag))
            << "unexpected tag " << tag;
}

TEST_F(Files, PhonePhotoCarriesItsCameraFacts)
{
    NEEDS_TESTDATA();
    std::wstring src = testdata_path(L"camera/iphone6.jpg");
    TagMap source = tags_of_file(src);
    int present = 0;
    for (unsigned tag : kCarried) present += (int)source.count(tag);
    ASSERT_GE(present, 9);

    std::vector<uint8_t> app1;
    ASSERT_EQ(exif_build_carry_over(src.c_str(), &app1), present + 1);
    ASSERT_GT(app1.size(), 14u);
    EXPECT_LE(app1.size(), 65533u);
    EXPECT_EQ(0, memcmp(app1.data(), "Exif\0\0", 6));
    std::vector<uint8_t> bytes = read_file_bytes(src);
    auto at = std::search(bytes.begin(), bytes.end(), app1.begin(), app1.begin() + 6);
    ASSERT_LT(at + 6, bytes.end());
    EXPECT_EQ(app1[6], at[6]);  // the source's byte order
    TagMap built = tags_of(app1);
    expect_iphone_facts(built);
    for (unsigned tag : kCarried) EXPECT_EQ(built.count(tag), source.count(tag)) << tag;

    // The same facts reach a saved JPEG, and the listing shows them with Orientation first.
    WCHAR err[kCap];
    Image *img = codec_load(src.c_str(), err, kCap);
    ASSERT_NE(img, nullptr) << err;
    std::wstring out = file(L"copy.jpg");
    ASSERT_TRUE(codec_save(img, out.c_str(), 85, src.c_str(), err, kCap)) << err;
    image_free(img);
    expect_iphone_facts(tags_of_file(out));
    WCHAR listing[4096];
    EXPECT_EQ(exif_list_carried(out.c_str(), listing, 4096), present + 1);
    std::wstring text = listing;
    EXPECT_EQ(text.rfind(L"274=Top-left\n", 0), 0u);
    EXPECT_NE(text.find(L"\n271=Apple\n"), std::wstring::npos);
    EXPECT_NE(text.find(L"\n33437=f/2.2\n"), std::wstring::npos);
    EXPECT_EQ(exif_list_carried(out.c_str(), listing, 20), 1);  // only whole lines fit
    EXPECT_STREQ(listing, L"274=Top-left\n");
}

TEST_F(Files, TurnedPhotoIsSavedUprightWithOrientationOne)
{
    NEEDS_TESTDATA();
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
    NEEDS_TESTDATA();
    // Sources named as PNG, BMP or GIF are not read at all, whatever they hold.
    std::wstring phone = testdata_path(L"camera/iphone6.jpg");
    std::vector<uint8_t> app1 = {1, 2, 3};
    for (const wchar_t *name : {L"photo.PNG", L"photo.bmp", L"photo.gif", L"photo.jpeg"}) {
        ASSERT_TRUE(CopyFileW(phone.c_str(), file(name).c_str(), FALSE));
        int carried = exif_build_carry_over(file(name).c_str(), &app1);
        bool excluded = wcscmp(name, L"photo.jpeg") != 0;
        EXPECT_EQ(carried == 0, excluded) << carried;
        EXPECT_EQ(app1.empty(), excluded);
    }
    EXPECT_EQ(exif_build_carry_over(L"", &app1), 0);
    EXPECT_EQ(exif_build_carry_over(nullptr, &app1), 0);
    EXPECT_EQ(exif_build_carry_over(file(L"moved-away.jpg").c_str(), &app1), 0);
    EXPECT_TRUE(app1.empty());

    // A picture loaded from a PNG and saved as JPEG gets no EXIF block, nor does one from a JPEG without EXIF.
    WCHAR err[kCap];
    Image *img = make_gradient(20, 20, false);
    ASSERT_TRUE(codec_save(img, file(L"src.png").c_str(), 90, nullptr, err, kCap)) << err;
    ASSERT_TRUE(codec_save(img, file(L"out.jpg").c_str(), 90, file(L"src.png").c_str(), err, kCap)) << err;
    EXPECT_FALSE(has_exif_block(file(L"out.jpg")));
    EXPECT_EQ(exif_build_carry_over(file(L"out.jpg").c_str(), &app1), 0);
    EXPECT_TRUE(app1.empty());
    image_free(img);
}

TEST_F(Files, SavingOverTheSourceKeepsItsExif)
{
    NEEDS_TESTDATA();
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

TEST_F(Files, OrientationComesFromTheFirstExifBlockBeforeThePixels)
{
    NEEDS_TESTDATA();
    for (int i = 0; i <= 8; ++i) {
        std::wstring name = L"orientation/Landscape_" + std::to_wstring(i) + L".jpg";
        EXPECT_EQ(exif_read_orientation(testdata_path(name.c_str()).c_str()), i == 0 ? 1 : i) << i;
    }
    EXPECT_EQ(exif_read_orientation(testdata_path(L"camera/olympus_corrupted.jpg").c_str()), 1);
    EXPECT_EQ(exif_read_orientation(L""), 1);
    EXPECT_EQ(exif_read_orientation(file(L"missing.jpg").c_str()), 1);

    // A 32-bit value counts; an APP1 that is not EXIF is passed over; one after the scan start is not read.
    std::vector<uint8_t> app1 = jpeg_with_app1(tiff_ifd({{274, 4, 1, 8}}, 0));
    std::vector<uint8_t> xmp = {0xFF, 0xD8, 0xFF, 0xE1, 0x00, 0x08, 'h', 't', 't', 'p', ':', '/'};
    xmp.insert(xmp.end(), app1.begin() + 2, app1.end());
    std::vector<uint8_t> late = {0xFF, 0xD8, 0xFF, 0xDA, 0x00, 0x02};
    late.insert(late.end(), app1.begin() + 2, app1.end());
    ASSERT_TRUE(write_file_bytes(file(L"long.jpg"), app1.data(), app1.size()));
    ASSERT_TRUE(write_file_bytes(file(L"xmp.jpg"), xmp.data(), xmp.size()));
    ASSERT_TRUE(write_file_bytes(file(L"late.jpg"), late.data(), late.size()));
    EXPECT_EQ(exif_read_orientation(file(L"long.jpg").c_str()), 8);
    EXPECT_EQ(exif_read_orientation(file(L"xmp.jpg").c_str()), 8);
    EXPECT_EQ(exif_read_orientation(file(L"late.jpg").c_str()), 1);
}

TEST_F(Files, ItemsThatWouldOverfillTheBlockAreSkipped)
{
    // Artist and Copyright share one 40000-byte text in the source; both copies cannot fit in 65533 bytes.
    std::vector<uint8_t> tiff = tiff_ifd({{271, 2, 4, 0x00636241}, {315, 2, 40000, 64}, {33432, 2, 40000, 64}}, 0, 64);
    tiff.resize(64 + 40000, 'a');
    tiff.back() = 0;
    std::vector<uint8_t> jpeg = jpeg_with_app1(tiff);
    ASSERT_TRUE(write_file_bytes(file(L"big.jpg"), jpeg.data(), jpeg.size()));
    std::vector<uint8_t> app1;
    EXPECT_EQ(exif_build_carry_over(file(L"big.jpg").c_str(), &app1), 3);
    EXPECT_LE(app1.size(), 65533u);
    TagMap tags = tags_of(app1);
    EXPECT_EQ(tags[271], "Abc");
    EXPECT_EQ(tags[315].size(), 39999u);
    EXPECT_EQ(tags.count(33432), 0u);
    EXPECT_EQ(tags[274], "Top-left");
}

TEST_F(Files, DamagedCameraExifStillSaves)
{
    NEEDS_TESTDATA();
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

// Copyright is "photographer\0editor\0"; a text with no NUL at all (which libexif
// 0.6.24 cannot format without stepping a null pointer) has no editor part.
TEST_F(Files, CopyrightIsListedWithItsPhotographerAndEditor)
{
    const struct {
        std::string text;
        const wchar_t *line;
    } cases[] = {
        {std::string("Jane Roe\0Ed Poe\0", 16), L"33432=Jane Roe (Photographer) - Ed Poe (Editor)\n"},
        {"Jane Roe, 2024", L"33432=Jane Roe, 2024 (Photographer) - [None] (Editor)\n"},
        {"        ", L"33432=[None] (Photographer) - [None] (Editor)\n"},
    };
    for (const auto &c : cases) {
        std::vector<uint8_t> tiff = tiff_ifd({{33432, 2, (uint32_t)c.text.size(), 64}}, 0, 64 + c.text.size());
        std::copy(c.text.begin(), c.text.end(), tiff.begin() + 64);
        std::vector<uint8_t> jpeg = jpeg_with_app1(tiff);
        std::wstring path = file(L"copyright.jpg");
        ASSERT_TRUE(write_file_bytes(path, jpeg.data(), jpeg.size()));
        WCHAR listing[512];
        EXPECT_EQ(exif_list_carried(path.c_str(), listing, 512), 1);
        EXPECT_STREQ(listing, c.line);
    }
}

}  // namespace
