// HEIC and AVIF: our decode against native heif-convert's PNG of the same files, the header
// probe on built boxes, messages for damaged and oversized files, EXIF carried to JPEG,
// thumbnail items, and the command line on a mixed folder. The pictures come from
// tests/heif/make_pictures.sh (native heif-enc), run by CTest before these tests.
#include <gtest/gtest.h>
#include "codec/codec.h"
#include "codec/codec_heif.h"
#include "codec/codec_probe.h"
#include "codec/exif.h"
#include "codec/probe_heif.h"
#include "support/codec_fixture.h"
#include "support/test_support.h"
#include <cmath>
#include <algorithm>
#include <cstring>
#include <cwchar>
#include <string>

namespace {

constexpr int kCap = 600;
constexpr wchar_t kDamaged[] = L"」不是有效的图片，或者文件已经损坏。\n\n（错误码 0x88982F60）";

std::wstring picture(const std::wstring &name)
{
    WCHAR dir[MAX_PATH] = L"";
    GetEnvironmentVariableW(L"VELDMOOR_HEIF_PICTURES", dir, MAX_PATH);
    std::wstring path = dir[0] == L'/' ? std::wstring(L"Z:") + dir : dir;
    for (auto &c : path)
        if (c == L'/') c = L'\\';
    return path + L"\\" + name;
}

class Heif : public CodecFolderTest {
protected:
    Heif() : CodecFolderTest(L"heif") {}
    void SetUp() override
    {
        CodecFolderTest::SetUp();
        ASSERT_TRUE(file_exists(picture(L"h8.heic"))) << "run through CTest: tests/heif/make_pictures.sh makes them";
    }
    std::wstring load_error(const std::wstring &path)
    {
        WCHAR err[kCap];
        Image *img = codec_load(path.c_str(), err, kCap);
        image_free(img);
        return img ? L"" : err;
    }
};

struct Loaded {
    Image *img;
    ~Loaded() { image_free(img); }
};

Image *load(const std::wstring &path)
{
    WCHAR err[kCap];
    Image *img = codec_load(path.c_str(), err, kCap);
    EXPECT_NE(img, nullptr) << err;
    return img;
}

// Over the colour channels, and alpha as well when either side has it.
double psnr(const Image *a, const Image *b)
{
    double sum = 0;
    size_t n = 0;
    for (size_t i = 0; i < (size_t)a->stride * a->height; ++i) {
        if (i % 4 == 3 && !a->has_alpha && !b->has_alpha) continue;
        double d = (double)a->data[i] - b->data[i];
        sum += d * d;
        ++n;
    }
    return sum == 0 ? INFINITY : 10 * std::log10(255.0 * 255.0 * n / sum);
}

TEST_F(Heif, DecodeMatchesNativeHeifConvert)
{
    // 8-bit pictures go through the same libheif conversion as heif-convert: exact.
    // For 10 and 12 bits heif-convert writes a 16-bit PNG, which the platform's PNG decoder
    // brings to 8 bits by its own rounding, while ours is libheif's conversion to 8 bits.
    struct Case {
        const wchar_t *name;
        double min_psnr;  // INFINITY: every byte equal
        uint32_t w, h;
        int alpha;
    } cases[] = {
        {L"h8.heic", INFINITY, 257, 171, 0},     {L"a8.avif", INFINITY, 257, 171, 0},
        {L"h10.heic", 45, 257, 171, 0},          {L"a10.avif", 45, 257, 171, 0},
        {L"a12.avif", 45, 257, 171, 0},          {L"alpha.heic", INFINITY, 200, 131, 1},
        {L"alpha.avif", INFINITY, 200, 131, 1},  {L"rot.heic", INFINITY, 171, 257, 0},
        {L"rotmir.heic", INFINITY, 171, 257, 0}, {L"rot.avif", INFINITY, 171, 257, 0},
        {L"grid.heic", INFINITY, 500, 380, 0},      {L"even.heic", INFINITY, 256, 170, 0},
        {L"box709.heic", INFINITY, 256, 170, 0},   {L"box709limited.heic", INFINITY, 256, 170, 0},
        {L"camera.heic", INFINITY, 1632, 1224, 0}, {L"camera.avif", INFINITY, 1632, 1224, 0},
    };
    for (const Case &c : cases) {
        if (!wcsncmp(c.name, L"camera", 6) && !file_exists(picture(c.name))) continue;  // no camera photos here
        SCOPED_TRACE(std::string(c.name, c.name + wcslen(c.name)));
        Loaded ours = {load(picture(c.name))}, ref = {load(picture(std::wstring(c.name) + L".png"))};
        ASSERT_TRUE(ours.img && ref.img);
        ASSERT_EQ(ours.img->width, c.w);
        ASSERT_EQ(ours.img->height, c.h);
        ASSERT_EQ(ref.img->width, c.w);
        EXPECT_EQ(ours.img->has_alpha, c.alpha);
        double p = psnr(ours.img, ref.img);
        if (std::isinf(c.min_psnr))
            EXPECT_TRUE(std::isinf(p)) << "PSNR " << p << " dB";
        else
            EXPECT_GE(p, c.min_psnr);
    }
}

TEST_F(Heif, PhoneGridPictureOpensUprightAsHeifConvertGivesIt)
{
    NEEDS_TESTDATA();
    Loaded ours = {load(testdata_path(L"camera/iphone13.HEIC"))}, ref = {load(picture(L"iphone13.png"))};
    ASSERT_TRUE(ours.img && ref.img);
    EXPECT_EQ(ours.img->width, 3024u);  // stored 4032 x 3024, turned by its irot
    EXPECT_EQ(ours.img->height, 4032u);
    EXPECT_TRUE(std::isinf(psnr(ours.img, ref.img)));
    ProbeResult probe = codec_probe_file(testdata_path(L"camera/iphone13.HEIC").c_str());
    EXPECT_EQ(probe.format, kProbeHeif);
    EXPECT_EQ(probe.verdict, kProbeFine);
}

// Box builders for the probe table.
void put32(std::vector<uint8_t> *v, uint32_t x)
{
    for (int s = 24; s >= 0; s -= 8) v->push_back((uint8_t)(x >> s));
}

std::vector<uint8_t> box(const char *type, const std::vector<uint8_t> &body, bool full = false)
{
    std::vector<uint8_t> v;
    put32(&v, (uint32_t)(8 + (full ? 4 : 0) + body.size()));
    v.insert(v.end(), type, type + 4);
    if (full) put32(&v, 0);
    v.insert(v.end(), body.begin(), body.end());
    return v;
}

std::vector<uint8_t> cat(std::initializer_list<std::vector<uint8_t>> parts)
{
    std::vector<uint8_t> v;
    for (const auto &p : parts) v.insert(v.end(), p.begin(), p.end());
    return v;
}

std::vector<uint8_t> u16(uint32_t x) { return {(uint8_t)(x >> 8), (uint8_t)x}; }
std::vector<uint8_t> u32(uint32_t x) { return {(uint8_t)(x >> 24), (uint8_t)(x >> 16), (uint8_t)(x >> 8), (uint8_t)x}; }

std::vector<uint8_t> infe(uint32_t id, const char *type)
{
    std::vector<uint8_t> body = {2, 0, 0, 0};
    body = cat({body, u16(id), u16(0), std::vector<uint8_t>(type, type + 4), {0}});
    return box("infe", body);
}

// Item 1 is the primary: a single picture of w x h, or a grid of `tiles` items of tw x th.
std::vector<uint8_t> heif_file(const char *brand, uint32_t w, uint32_t h, bool grid = false, uint32_t tiles = 0,
                               uint32_t tw = 0, uint32_t th = 0)
{
    std::vector<uint8_t> ftyp = box("ftyp", cat({std::vector<uint8_t>(brand, brand + 4), u32(0), std::vector<uint8_t>(brand, brand + 4)}));
    std::vector<uint8_t> items = infe(1, grid ? "grid" : "hvc1");
    std::vector<uint8_t> dimg = cat({u16(1), u16(tiles)});
    std::vector<uint8_t> ipma = cat({u32(1 + tiles), u16(1), {1, 1}});
    for (uint32_t t = 2; t < tiles + 2; ++t) {
        items = cat({items, infe(t, "hvc1")});
        dimg = cat({dimg, u16(t)});
        ipma = cat({ipma, u16(t), {1, 2}});
    }
    std::vector<uint8_t> ipco = cat({box("ispe", cat({u32(w), u32(h)}), true), box("ispe", cat({u32(tw), u32(th)}), true)});
    std::vector<uint8_t> meta = box(
        "meta", cat({box("pitm", u16(1), true), box("iinf", cat({u16(1 + tiles), items}), true),
                     tiles ? box("iref", box("dimg", dimg), true) : std::vector<uint8_t>(),
                     box("iprp", cat({box("ipco", ipco), box("ipma", ipma, true)}))}),
        true);
    return cat({ftyp, meta, box("mdat", std::vector<uint8_t>(64, 0))});
}

TEST(HeifProbe, BrandSizeAndGridJudgedFromTheBoxes)
{
    struct Case {
        const char *what;
        std::vector<uint8_t> bytes;
        bool heif, damaged, too_large;
        uint32_t w, h, tiles;
    } cases[] = {
        {"heic picture", heif_file("heic", 4032, 3024), true, false, false, 4032, 3024, 0},
        {"avif picture", heif_file("avif", 640, 480), true, false, false, 640, 480, 0},
        {"mp4 brand", heif_file("mp42", 640, 480), false, false, false, 0, 0, 0},
        {"declared 40000 x 40000", heif_file("heix", 40000, 40000), true, false, true, 40000, 40000, 0},
        {"one side past the limit", heif_file("mif1", 100000001, 1), true, false, true, 100000001, 1, 0},
        {"grid of 48 tiles", heif_file("heic", 4032, 3024, true, 48, 512, 512), true, false, false, 4032, 3024, 48},
        {"grid with more tiles than it covers", heif_file("heic", 1024, 512, true, 9, 512, 512), true, true, false,
         1024, 512, 9},
        {"grid without tiles", heif_file("heic", 512, 512, true), true, true, false, 512, 512, 0},
    };
    for (const Case &c : cases) {
        HeifHeader h = codec_probe_heif(c.bytes.data(), c.bytes.size(), c.bytes.size());
        EXPECT_EQ(h.heif, c.heif) << c.what;
        EXPECT_EQ(h.damaged, c.damaged) << c.what;
        EXPECT_EQ(h.too_large, c.too_large) << c.what;
        if (!c.heif) continue;
        EXPECT_EQ(h.width, c.w) << c.what;
        EXPECT_EQ(h.height, c.h) << c.what;
        EXPECT_EQ(h.tiles, c.tiles) << c.what;
        // Every shorter prefix is judged without reading past it.
        for (size_t n = 0; n < c.bytes.size(); n += 7) {
            std::vector<uint8_t> cut(c.bytes.begin(), c.bytes.begin() + n);
            codec_probe_heif(cut.data(), cut.size(), c.bytes.size());
            codec_probe_heif(cut.data(), cut.size(), cut.size());
        }
    }
}

TEST(HeifProbe, DamagedFtypAndMetaBeyondTheFile)
{
    std::vector<uint8_t> good = heif_file("heic", 64, 64);
    struct Case {
        const char *what;
        size_t at;
        uint32_t value;
        size_t cut;
    } cases[] = {
        {"ftyp shorter than its brands", 0, 9, 0},
        {"ftyp longer than the file", 0, 0x7FFFFF00, 0},
        {"ftyp with a partial brand", 0, 22, 0},
        {"meta past the end", 20, 0x10000, 0},
        {"cut inside the meta box", 0, 20, 60},
    };
    for (const Case &c : cases) {
        std::vector<uint8_t> bytes = good;
        for (int i = 0; i < 4; ++i) bytes[c.at + i] = (uint8_t)(c.value >> (24 - 8 * i));
        if (c.cut) bytes.resize(c.cut);
        HeifHeader h = codec_probe_heif(bytes.data(), bytes.size(), bytes.size());
        EXPECT_TRUE(h.heif) << c.what;
        EXPECT_TRUE(h.damaged) << c.what;
        EXPECT_EQ(codec_probe_bytes(bytes.data(), bytes.size()).verdict, kProbeDamaged) << c.what;
    }
}

TEST_F(Heif, MetaAfterThePictureDataIsFoundInTheFile)
{
    // ftyp, a large mdat, then meta: the size is still read, from the file.
    std::vector<uint8_t> single = heif_file("heic", 50000, 50000);
    size_t meta_at = 20, meta_size = single.size() - meta_at - 72;
    std::vector<uint8_t> ftyp(single.begin(), single.begin() + meta_at);
    std::vector<uint8_t> meta(single.begin() + meta_at, single.begin() + meta_at + meta_size);
    std::vector<uint8_t> bytes = cat({ftyp, box("mdat", std::vector<uint8_t>(100000, 0)), meta});
    HeifHeader head = codec_probe_heif(bytes.data(), 16384, bytes.size());
    EXPECT_TRUE(head.meta_missing);
    EXPECT_EQ(head.resume_at, meta_at + 100008);
    ASSERT_TRUE(write_file_bytes(file(L"late.heic"), bytes.data(), bytes.size()));
    ProbeResult probe = codec_probe_file(file(L"late.heic").c_str());
    EXPECT_EQ(probe.verdict, kProbeTooLarge);
    EXPECT_EQ(probe.width, 50000u);
    EXPECT_EQ(load_error(file(L"late.heic")), L"内存不足，无法载入这张 50000×50000 的图片。\n\n请先把它缩小一点再试。");
}

TEST_F(Heif, DamagedAndOversizedFilesGetTheirMessages)
{
    NEEDS_TESTDATA();  // camera.* are made from a camera photo
    std::vector<uint8_t> good = read_file_bytes(picture(L"camera.heic"));
    ASSERT_GT(good.size(), 1000u);

    std::vector<uint8_t> cut(good.begin(), good.begin() + good.size() * 6 / 10);
    ASSERT_TRUE(write_file_bytes(file(L"cut.heic"), cut.data(), cut.size()));
    EXPECT_EQ(load_error(file(L"cut.heic")), L"「cut.heic" + std::wstring(kDamaged));

    std::vector<uint8_t> huge = good;
    auto ispe = std::search(huge.begin(), huge.end(), "ispe", "ispe" + 4);
    ASSERT_NE(ispe, huge.end());
    for (int i = 0; i < 8; ++i) ispe[8 + i] = (uint8_t)(i % 4 == 2 ? 0x9C : i % 4 == 3 ? 0x40 : 0);  // 40000
    ASSERT_TRUE(write_file_bytes(file(L"huge.heic"), huge.data(), huge.size()));
    EXPECT_EQ(load_error(file(L"huge.heic")), L"内存不足，无法载入这张 40000×40000 的图片。\n\n请先把它缩小一点再试。");

    std::vector<uint8_t> bad_ftyp = good;
    bad_ftyp[3] = 13;
    ASSERT_TRUE(write_file_bytes(file(L"ftyp.avif"), bad_ftyp.data(), bad_ftyp.size()));
    EXPECT_EQ(load_error(file(L"ftyp.avif")), L"「ftyp.avif" + std::wstring(kDamaged));

    // Content decides, not the name: HEIC named .jpg opens, a JPEG named .heic too.
    ASSERT_TRUE(write_file_bytes(file(L"really_heic.jpg"), good.data(), good.size()));
    EXPECT_EQ(load_error(file(L"really_heic.jpg")), L"");
    std::vector<uint8_t> jpeg = read_file_bytes(picture(L"camera.jpg"));
    ASSERT_TRUE(write_file_bytes(file(L"really_jpeg.heic"), jpeg.data(), jpeg.size()));
    EXPECT_EQ(load_error(file(L"really_jpeg.heic")), L"");
    ASSERT_TRUE(write_file_bytes(file(L"really_heic.webp"), good.data(), good.size()));
    EXPECT_EQ(load_error(file(L"really_heic.webp")), L"");
    WCHAR err[kCap];
    Loaded thumb = {codec_load_thumb(file(L"really_heic.webp").c_str(), 96, err, kCap)};
    EXPECT_NE(thumb.img, nullptr) << err;

    // Saved under a HEIF name it would hold JPEG bytes: refused, nothing written.
    Loaded shown = {load(picture(L"camera.heic"))};
    ASSERT_NE(shown.img, nullptr);
    EXPECT_FALSE(codec_save(shown.img, file(L"out.heic").c_str(), 90, nullptr, err, kCap));
    EXPECT_STREQ(err, L"系统不支持保存为这种格式。\n\n（错误码 0x88982F50）");
    EXPECT_FALSE(file_exists(file(L"out.heic")));
}

// A file that stores its colours multiplied by alpha: ours are straight, about twice the stored ones.
TEST_F(Heif, PremultipliedAlphaComesOutStraight)
{
    Loaded pic = {load(picture(L"premul.heic"))};
    ASSERT_NE(pic.img, nullptr);
    const uint8_t *p = pic.img->data + (size_t)20 * pic.img->stride + 30 * 4;
    EXPECT_NEAR(p[3], 128, 2);
    EXPECT_NEAR(p[2], 200, 5);  // red: 100 stored
    EXPECT_NEAR(p[1], 100, 5);
    EXPECT_NEAR(p[0], 50, 5);
}

TEST_F(Heif, ExifItemIsCarriedIntoJpegWithOrientationOne)
{
    NEEDS_TESTDATA();
    std::wstring src = testdata_path(L"camera/iphone13.HEIC"), out = file(L"phone.jpg");
    Loaded img = {load(src)};
    ASSERT_TRUE(img.img);
    WCHAR err[kCap];
    ASSERT_TRUE(codec_save(img.img, out.c_str(), 85, src.c_str(), err, kCap)) << err;
    WCHAR list[4096];
    EXPECT_GE(exif_list_carried(out.c_str(), list, 4096), 8);
    std::wstring lines = list;
    EXPECT_EQ(lines.rfind(L"274=Top-left\n271=Apple\n272=iPhone 13 Pro Max\n", 0), 0u) << lines;
    EXPECT_NE(lines.find(L"\n36867=2022:02:16 12:55:41\n"), std::wstring::npos) << lines;
    Loaded back = {load(out)};
    ASSERT_TRUE(back.img);
    EXPECT_EQ(back.img->width, 3024u);  // upright, and stays so in any viewer
    EXPECT_EQ(back.img->height, 4032u);
}

TEST_F(Heif, ThumbnailItemStandsInWhenLargeEnough)
{
    NEEDS_TESTDATA();  // camera.* are made from a camera photo
    std::wstring camera = picture(L"camera.heic");
    Loaded item = {heif_load_thumb_item(camera.c_str(), 256)};
    ASSERT_NE(item.img, nullptr);
    EXPECT_EQ(item.img->width, 256u);
    EXPECT_EQ(item.img->height, 192u);
    WCHAR err[kCap];
    Loaded thumb = {codec_load_thumb(camera.c_str(), 256, err, kCap)};
    ASSERT_NE(thumb.img, nullptr) << err;
    ASSERT_EQ(thumb.img->width, 256u);
    EXPECT_TRUE(std::isinf(psnr(thumb.img, item.img)));  // the strip took the item, not the picture

    // Asked for more than the item holds, or from a file without one: the picture is decoded.
    EXPECT_EQ(heif_load_thumb_item(camera.c_str(), 400), nullptr);
    EXPECT_EQ(heif_load_thumb_item(picture(L"h8.heic").c_str(), 64), nullptr);
    Loaded big = {codec_load_thumb(camera.c_str(), 400, err, kCap)};
    ASSERT_NE(big.img, nullptr) << err;
    EXPECT_EQ(big.img->width, 400u);
    EXPECT_EQ(big.img->height, 300u);
    Loaded turned = {codec_load_thumb(picture(L"rot.avif").c_str(), 64, err, kCap)};
    ASSERT_NE(turned.img, nullptr) << err;
    EXPECT_LT(turned.img->width, turned.img->height);
}

std::string in_quotes(const std::wstring &s)
{
    char utf8[MAX_PATH * 3];
    WideCharToMultiByte(CP_UTF8, 0, s.c_str(), -1, utf8, sizeof utf8, nullptr, nullptr);
    return "\"" + std::string(utf8) + "\"";
}

CliRun cli(const std::string &args)
{
    WCHAR wide[4096];
    MultiByteToWideChar(CP_UTF8, 0, args.c_str(), -1, wide, 4096);
    return run_cli(wide);
}

TEST_F(Heif, CommandLineJobsTakeHeicAndAvif)
{
    NEEDS_TESTDATA();  // camera.* are made from a camera photo
    std::string heic = in_quotes(picture(L"camera.heic")), avif = in_quotes(picture(L"alpha.avif"));
    EXPECT_EQ(cli("info " + heic).out, "1632x1224 alpha=0\n");
    EXPECT_EQ(cli("info " + avif).out, "200x131 alpha=1\n");

    CliRun r = cli("convert " + avif + " " + in_quotes(file(L"a.png")));
    ASSERT_EQ(r.code, 0u) << r.err;
    EXPECT_EQ(cli("info " + in_quotes(file(L"a.png"))).out, "200x131 alpha=1\n");
    r = cli("thumb " + heic + " " + in_quotes(file(L"t.png")) + " --max 100");
    ASSERT_EQ(r.code, 0u) << r.err;
    EXPECT_EQ(cli("info " + in_quotes(file(L"t.png"))).out, "100x75 alpha=0\n");
    r = cli("compress " + heic + " " + in_quotes(file(L"c.jpg")) + " --kb 100");
    ASSERT_EQ(r.code, 0u) << r.err;
    EXPECT_LE(read_file_bytes(file(L"c.jpg")).size(), 100u * 1024);
    EXPECT_NE(r.out.find("target_missed=0"), std::string::npos) << r.out;
    r = cli("exif " + in_quotes(file(L"c.jpg")));
    EXPECT_NE(r.out.find("\n272=iPhone 6\n"), std::string::npos) << r.out;
}

TEST_F(Heif, BatchTurnsAMixedFolderIntoJpeg)
{
    NEEDS_TESTDATA();  // camera.* are made from a camera photo
    std::wstring in = file(L"in"), out = file(L"out");
    CreateDirectoryW(in.c_str(), nullptr);
    CreateDirectoryW(out.c_str(), nullptr);
    for (const wchar_t *name : {L"camera.heic", L"a8.avif", L"alpha.heic", L"camera.jpg"})
        ASSERT_TRUE(CopyFileW(picture(name).c_str(), (in + L"\\" + name).c_str(), FALSE));
    CliRun r = cli("batch --dir " + in_quotes(in) + " --out " + in_quotes(out) + " --convert jpg --quality 80");
    ASSERT_EQ(r.code, 0u) << r.err << r.out;
    EXPECT_NE(r.out.find("written=4 partial=0 failed=0"), std::string::npos) << r.out;
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((out + L"\\*.jpg").c_str(), &fd);
    int jpegs = 0;
    for (BOOL more = h != INVALID_HANDLE_VALUE; more; more = FindNextFileW(h, &fd)) {
        std::vector<uint8_t> bytes = read_file_bytes(out + L"\\" + fd.cFileName);
        jpegs += bytes.size() > 3 && bytes[0] == 0xFF && bytes[1] == 0xD8;
    }
    if (h != INVALID_HANDLE_VALUE) FindClose(h);
    EXPECT_EQ(jpegs, 4);
}

}  // namespace
