// Headers that declare more than any picture may hold are refused before a
// decoder allocates for them, at a small cost in memory.
#define PSAPI_VERSION 2
#include <gtest/gtest.h>
#include "codec/codec.h"
#include "codec/codec_probe.h"
#include "support/codec_fixture.h"
#include "support/test_support.h"
#include <psapi.h>
#include <cstring>
#include <string>
#include <vector>
#include <jpeglib.h>

namespace {

constexpr int kCap = 600;
constexpr wchar_t kNoMemory[] = L"内存不足，无法载入这张 %u×%u 的图片。\n\n请先把它缩小一点再试。";

std::wstring no_memory(uint32_t w, uint32_t h)
{
    WCHAR text[200];
    swprintf(text, 200, kNoMemory, w, h);
    return text;
}

void put_be16(std::vector<uint8_t> &b, size_t at, uint32_t v)
{
    b[at] = (uint8_t)(v >> 8);
    b[at + 1] = (uint8_t)v;
}

void put_be32(std::vector<uint8_t> &b, size_t at, uint32_t v)
{
    put_be16(b, at, v >> 16);
    put_be16(b, at + 2, v & 0xFFFF);
}

void put_le16(std::vector<uint8_t> &b, size_t at, uint32_t v)
{
    b[at] = (uint8_t)v;
    b[at + 1] = (uint8_t)(v >> 8);
}

void put_le32(std::vector<uint8_t> &b, size_t at, uint32_t v)
{
    put_le16(b, at, v & 0xFFFF);
    put_le16(b, at + 2, v >> 16);
}

uint32_t crc32(const uint8_t *p, size_t n)
{
    uint32_t c = 0xFFFFFFFFu;
    for (size_t i = 0; i < n; ++i) {
        c ^= p[i];
        for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
    }
    return ~c;
}

std::vector<uint8_t> encoded(const wchar_t *ext, bool progressive = false)
{
    if (progressive) {  // written with libjpeg itself
        jpeg_compress_struct cinfo;
        jpeg_error_mgr jerr;
        cinfo.err = jpeg_std_error(&jerr);
        jpeg_create_compress(&cinfo);
        unsigned char *out = nullptr;
        unsigned long size = 0;
        jpeg_mem_dest(&cinfo, &out, &size);
        cinfo.image_width = cinfo.image_height = 16;
        cinfo.input_components = 3;
        cinfo.in_color_space = JCS_RGB;
        jpeg_set_defaults(&cinfo);
        jpeg_simple_progression(&cinfo);
        jpeg_start_compress(&cinfo, TRUE);
        uint8_t row[16 * 3] = {};
        while (cinfo.next_scanline < 16) {
            JSAMPROW r = row;
            jpeg_write_scanlines(&cinfo, &r, 1);
        }
        jpeg_finish_compress(&cinfo);
        jpeg_destroy_compress(&cinfo);
        std::vector<uint8_t> bytes(out, out + size);
        free(out);
        return bytes;
    }
    Image *img = make_gradient(16, 16, false);
    Blob blob = {};
    WCHAR err[kCap];
    EXPECT_TRUE(codec_encode_mem(img, ext, 90, nullptr, &blob, err, kCap)) << err;
    std::vector<uint8_t> bytes(blob.data, blob.data + blob.size);
    blob_free(&blob);
    image_free(img);
    return bytes;
}

// A real small JPEG whose frame header is made to declare w x h.
std::vector<uint8_t> jpeg_declaring(uint32_t w, uint32_t h, bool progressive)
{
    std::vector<uint8_t> b = encoded(L".jpg", progressive);
    for (size_t i = 2; i + 9 < b.size(); i += 2 + (b[i + 2] << 8 | b[i + 3])) {
        if (b[i + 1] == 0xC0 || b[i + 1] == 0xC2) {
            put_be16(b, i + 5, h);
            put_be16(b, i + 7, w);
            break;
        }
    }
    return b;
}

std::vector<uint8_t> png_declaring(uint32_t w, uint32_t h)
{
    std::vector<uint8_t> b = encoded(L".png");
    put_be32(b, 16, w);
    put_be32(b, 20, h);
    put_be32(b, 29, crc32(&b[12], 17));
    return b;
}

// Both the logical screen and the first frame declare the size.
std::vector<uint8_t> gif_declaring(uint32_t w, uint32_t h)
{
    std::vector<uint8_t> b = encoded(L".gif");
    put_le16(b, 6, w);
    put_le16(b, 8, h);
    for (size_t i = 13 + (b[10] & 0x80 ? 3u << ((b[10] & 7) + 1) : 0); i + 9 < b.size();) {
        if (b[i] == 0x2C) {
            put_le16(b, i + 5, w);
            put_le16(b, i + 7, h);
            break;
        }
        i += 2;  // extension: introducer, label, then sub-blocks
        while (i < b.size() && b[i]) i += 1 + b[i];
        ++i;
    }
    return b;
}

// 38 bytes of lossless WebP header: 14 bits each for width - 1 and height - 1.
std::vector<uint8_t> webp_lossless_declaring(uint32_t w, uint32_t h)
{
    std::vector<uint8_t> b(38, 0);
    memcpy(&b[0], "RIFF", 4);
    put_le32(b, 4, 30);
    memcpy(&b[8], "WEBPVP8L", 8);
    put_le32(b, 16, 18);
    b[20] = 0x2F;
    put_le32(b, 21, (w - 1) | (h - 1) << 14);
    return b;
}

std::vector<uint8_t> bmp_declaring(int32_t w, int32_t h)
{
    std::vector<uint8_t> b(54 + 16, 0);
    b[0] = 'B';
    b[1] = 'M';
    put_le32(b, 2, (uint32_t)b.size());
    put_le32(b, 10, 54);
    put_le32(b, 14, 40);
    put_le32(b, 18, (uint32_t)w);
    put_le32(b, 22, (uint32_t)h);
    put_le16(b, 26, 1);
    put_le16(b, 28, 24);
    return b;
}

// A small RGB TIFF whose single tile is declared tile_w x tile_h.
std::vector<uint8_t> tiff_with_tiles(uint32_t w, uint32_t h, uint32_t tile_w, uint32_t tile_h)
{
    struct Entry {
        uint16_t tag, type;
        uint32_t value;
    };
    const Entry entries[] = {{256, 4, w},   {257, 4, h},      {258, 3, 8},      {259, 3, 1},  {262, 3, 2},
                             {277, 3, 3},   {322, 4, tile_w}, {323, 4, tile_h}, {324, 4, 200}, {325, 4, 64}};
    std::vector<uint8_t> b(264, 0);
    memcpy(&b[0], "II*\0", 4);
    put_le32(b, 4, 8);
    put_le16(b, 8, (uint32_t)std::size(entries));
    for (size_t i = 0; i < std::size(entries); ++i) {
        size_t at = 10 + 12 * i;
        put_le16(b, at, entries[i].tag);
        put_le16(b, at + 2, entries[i].type);
        put_le32(b, at + 4, 1);
        if (entries[i].type == 3)
            put_le16(b, at + 8, entries[i].value);
        else
            put_le32(b, at + 8, entries[i].value);
    }
    return b;
}

class Bombs : public CodecFolderTest {
protected:
    Bombs() : CodecFolderTest(L"bombs") {}
};

struct Bomb {
    const wchar_t *name;
    std::vector<uint8_t> bytes;
    std::wstring message;  // as codec_load gives it; "%s" already filled in
};

TEST_F(Bombs, OversizedHeadersAreRefusedBeforeDecodingAtSmallCost)
{
    const std::wstring damaged = L"」不是有效的图片，或者文件已经损坏。\n\n（错误码 0x88982F60）";
    const Bomb bombs[] = {
        {L"huge.jpg", jpeg_declaring(30000, 30000, false), no_memory(30000, 30000)},
        {L"huge_progressive.jpg", jpeg_declaring(30000, 30000, true), no_memory(30000, 30000)},
        {L"wrapping.jpg", jpeg_declaring(65500, 21858, false), no_memory(65500, 21858)},
        {L"huge.png", png_declaring(30000, 30000), no_memory(30000, 30000)},
        {L"wrapping.png", png_declaring(65536, 16384), no_memory(65536, 16384)},
        {L"huge.gif", gif_declaring(30000, 30000), no_memory(30000, 30000)},
        {L"huge.bmp", bmp_declaring(30000, -30000), no_memory(30000, 30000)},
        {L"png_inside.jpg", png_declaring(30000, 30000), no_memory(30000, 30000)},
        {L"huge.webp", webp_lossless_declaring(16384, 16384), L"内存不足，无法载入这张 16384×16384 的图片。"},
        {L"tiles.tif", tiff_with_tiles(1000, 1000, 65536, 65536), L"「tiles.tif" + damaged},
    };
    for (const Bomb &b : bombs) {
        SCOPED_TRACE(testing::Message() << b.bytes.size() << " bytes");
        std::wstring path = file(b.name);
        ASSERT_TRUE(write_file_bytes(path, b.bytes.data(), b.bytes.size()));
        WCHAR err[kCap] = L"";
        Image *img = codec_load(path.c_str(), err, kCap);
        EXPECT_EQ(img, nullptr);
        image_free(img);
        EXPECT_EQ(std::wstring(err), b.message);
        img = codec_load_thumb(path.c_str(), 96, err, kCap);
        EXPECT_EQ(img, nullptr);
        image_free(img);
        EXPECT_EQ(std::wstring(err), b.message);
    }
    PROCESS_MEMORY_COUNTERS counters = {sizeof counters};
    ASSERT_TRUE(GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters));
    EXPECT_LT(counters.PeakWorkingSetSize, 100u << 20);
}

TEST(Probe, ReadsDeclaredSizesAndJudgesThem)
{
    struct Case {
        std::vector<uint8_t> bytes;
        ProbeFormat format;
        ProbeVerdict verdict;
        uint32_t w, h;
    };
    const Case cases[] = {
        {jpeg_declaring(6000, 4000, false), kProbeJpeg, kProbeFine, 6000, 4000},
        {jpeg_declaring(10000, 10000, true), kProbeJpeg, kProbeFine, 10000, 10000},  // exactly at the limit
        {jpeg_declaring(10000, 10001, true), kProbeJpeg, kProbeTooLarge, 10000, 10001},
        {png_declaring(4000, 3000), kProbePng, kProbeFine, 4000, 3000},
        {gif_declaring(640, 480), kProbeGif, kProbeFine, 640, 480},
        {bmp_declaring(-20, 30), kProbeBmp, kProbeFine, 20, 30},
        {webp_lossless_declaring(100, 50), kProbeWebp, kProbeFine, 100, 50},
        {tiff_with_tiles(1000, 1000, 256, 256), kProbeTiff, kProbeFine, 1000, 1000},
        {tiff_with_tiles(1000, 1000, 65536, 16384), kProbeTiff, kProbeDamaged, 1000, 1000},
        {std::vector<uint8_t>{'h', 'e', 'l', 'l', 'o'}, kProbeUnknown, kProbeFine, 0, 0},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case &c = cases[i];
        ProbeResult r = codec_probe_bytes(c.bytes.data(), c.bytes.size());
        EXPECT_EQ(r.format, c.format) << i;
        EXPECT_EQ(r.verdict, c.verdict) << i;
        EXPECT_EQ(r.width, c.w) << i;
        EXPECT_EQ(r.height, c.h) << i;
    }
    // Cut anywhere, a header never reads past its end.
    std::vector<uint8_t> tiff = tiff_with_tiles(1000, 1000, 65536, 65536);
    for (size_t n = 0; n < tiff.size(); n += 7)  // the tile length entry ends at byte 106
        EXPECT_EQ(codec_probe_bytes(tiff.data(), n).verdict, n >= 106 ? kProbeDamaged : kProbeFine) << n;
}

}  // namespace
