// Loading, thumbnails, encoding and saving through the codec front end.
#define PSAPI_VERSION 2  // GetProcessMemoryInfo from kernel32
#include <gtest/gtest.h>
#include "codec/codec.h"
#include "codec/codec_jpeg.h"
#include "codec/codec_probe.h"
#include "codec/jpeg_eighth.h"
#include "support/codec_fixture.h"
#include "support/test_support.h"
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <psapi.h>
#include <shlwapi.h>
#include <jpeglib.h>

namespace {

constexpr int kCap = 600;

class Codec : public CodecFolderTest {
protected:
    Codec() : CodecFolderTest(L"codec") {}

    std::wstring load_error(const std::wstring &path)
    {
        WCHAR err[kCap] = L"junk";
        Image *img = codec_load(path.c_str(), err, kCap);
        EXPECT_EQ(img, nullptr);
        image_free(img);
        return err;
    }
};

double mean_abs_diff(const Image *a, const Image *b)
{
    double sum = 0;
    size_t n = (size_t)a->stride * a->height;
    for (size_t i = 0; i < n; ++i) sum += std::abs((int)a->data[i] - (int)b->data[i]);
    return sum / n;
}

Image *solid(uint32_t w, uint32_t h, uint8_t b, uint8_t g, uint8_t r, uint8_t a)
{
    Image *img = image_new(w, h);
    for (size_t i = 0; i < (size_t)w * h; ++i) {
        img->data[i * 4 + 0] = b;
        img->data[i * 4 + 1] = g;
        img->data[i * 4 + 2] = r;
        img->data[i * 4 + 3] = a;
    }
    image_detect_alpha(img);
    return img;
}

TEST_F(Codec, LoadMessagesNameTheFileAndTheCause)
{
    NEEDS_TESTDATA();
    EXPECT_EQ(load_error(file(L"a.png")), L"找不到文件「a.png」。");
    EXPECT_EQ(load_error(dir_ + L"\\nofolder\\b.jpg"), L"找不到文件「b.jpg」。");

    ASSERT_TRUE(write_file_bytes(file(L"empty.png"), "", 0));
    std::wstring empty = load_error(file(L"empty.png"));
    EXPECT_EQ(empty.rfind(L"打不开「empty.png」。\n\n错误码 0x", 0), 0u) << empty;

    // A real PNG and JPEG, cut short.
    Image *img = make_gradient(64, 48, false);
    WCHAR err[kCap];
    ASSERT_TRUE(codec_save(img, file(L"whole.png").c_str(), 90, nullptr, err, kCap)) << err;
    ASSERT_TRUE(codec_save(img, file(L"whole.jpg").c_str(), 90, nullptr, err, kCap)) << err;
    image_free(img);
    for (const wchar_t *name : {L"whole.png", L"whole.jpg"}) {
        std::vector<uint8_t> bytes = read_file_bytes(file(name));
        std::wstring cut = file(name[6] == L'p' ? L"cut.png" : L"cut.jpg");
        ASSERT_TRUE(write_file_bytes(cut, bytes.data(), 40));
        std::wstring msg = load_error(cut);
        std::wstring expected_start = std::wstring(L"「") + (name[6] == L'p' ? L"cut.png" : L"cut.jpg") +
                                      L"」不是有效的图片，或者文件已经损坏。\n\n（错误码 0x";
        EXPECT_EQ(msg.rfind(expected_start, 0), 0u) << msg;
        EXPECT_EQ(msg.back(), L'）');
    }

    // The platform refuses to open a folder as a file with "access denied".
    CreateDirectoryW(file(L"folder.jpg").c_str(), nullptr);
    EXPECT_EQ(load_error(file(L"folder.jpg")), L"无法读取「folder.jpg」。\n\n文件可能正被其它程序占用，或者没有访问权限。");

    // HEIF content opens through libheif; a .heic whose content nothing here reads still gets the HEIC text.
    ASSERT_TRUE(write_file_bytes(file(L"not_heif.HEIC"), "\0\0\0\x18" "ftypmp42", 12));
    EXPECT_EQ(load_error(file(L"not_heif.HEIC")),
              L"打不开「not_heif.HEIC」。\n\n这是 iPhone 的 HEIC 格式，Windows 默认不带解码器。\n"
              L"请在微软商店安装「HEIF 图像扩展」后重试。");
    Image *phone = codec_load(testdata_path(L"camera/iphone13.HEIC").c_str(), nullptr, 0);
    EXPECT_NE(phone, nullptr);
    image_free(phone);

    ASSERT_TRUE(write_file_bytes(file(L"notes.xyz"), "hello", 5));
    std::wstring unknown = load_error(file(L"notes.xyz"));
    EXPECT_EQ(unknown.rfind(L"打不开「notes.xyz」。\n\n系统缺少这种格式的解码器。\n（错误码 0x", 0), 0u) << unknown;
}

TEST_F(Codec, MessagesAreCutToTheBufferAndAlwaysTerminated)
{
    WCHAR err[8];
    wmemset(err, L'#', 8);
    EXPECT_EQ(codec_load(file(L"a.png").c_str(), err, 8), nullptr);
    EXPECT_EQ(std::wstring(err), std::wstring(L"找不到文件「a.png」。").substr(0, 7));
    // No buffer at all is fine too.
    EXPECT_EQ(codec_load(file(L"a.png").c_str(), nullptr, 0), nullptr);
}

TEST_F(Codec, EveryOrientationLoadsUprightWithTheSamePixels)
{
    NEEDS_TESTDATA();
    WCHAR err[kCap];
    Image *reference = codec_load(testdata_path(L"orientation/Landscape_1.jpg").c_str(), err, kCap);
    ASSERT_NE(reference, nullptr) << err;
    ASSERT_EQ(reference->width, 1800u);
    ASSERT_EQ(reference->height, 1200u);
    for (int i = 0; i <= 8; ++i) {
        std::wstring name = L"orientation/Landscape_" + std::to_wstring(i) + L".jpg";
        Image *img = codec_load(testdata_path(name.c_str()).c_str(), err, kCap);
        ASSERT_NE(img, nullptr) << err;
        EXPECT_EQ(img->width, 1800u) << i;
        EXPECT_EQ(img->height, 1200u) << i;
        EXPECT_EQ(img->has_alpha, 0);
        // Same picture within JPEG noise; a wrong turn would differ wildly.
        if (img->width == 1800 && img->height == 1200) {
            EXPECT_LT(mean_abs_diff(img, reference), 4.0) << i;
        }
        image_free(img);
    }
    image_free(reference);
}

TEST_F(Codec, CameraPhotosLoadUprightEvenWithDamagedExif)
{
    NEEDS_TESTDATA();
    WCHAR err[kCap];
    Image *canon = codec_load(testdata_path(L"camera/canon_sx60_orient6.jpg").c_str(), err, kCap);
    ASSERT_NE(canon, nullptr) << err;
    EXPECT_EQ(canon->width, 1536u);
    EXPECT_EQ(canon->height, 2048u);
    image_free(canon);

    Image *olympus = codec_load(testdata_path(L"camera/olympus_corrupted.jpg").c_str(), err, kCap);
    ASSERT_NE(olympus, nullptr) << err;
    EXPECT_EQ(olympus->width, 3648u);
    EXPECT_EQ(olympus->height, 2736u);
    image_free(olympus);
}

// Where the picture's scan data starts: after the last SOS marker, past any
// embedded thumbnail's.
size_t scan_start(const std::vector<uint8_t> &bytes)
{
    size_t start = 0;
    for (size_t i = 0; i + 1 < bytes.size(); ++i)
        if (bytes[i] == 0xFF && bytes[i + 1] == 0xDA) start = i + 2;
    return start;
}

// A stray marker late in the scan of a whole file: the rows before it come out
// exactly as from the intact file, so the damage did not send it to another decoder.
TEST_F(Codec, DamagedScanDataInsideAWholeFileKeepsTheRowsBeforeIt)
{
    NEEDS_TESTDATA();
    std::vector<uint8_t> bytes = read_file_bytes(testdata_path(L"camera/nikon_e950.jpg"));
    size_t scan = scan_start(bytes);
    ASSERT_GT(scan, 0u);
    std::vector<uint8_t> damaged = bytes;
    size_t at = scan + (bytes.size() - scan) * 3 / 4;
    damaged[at] = 0xFF;
    damaged[at + 1] = 0xD5;
    ASSERT_TRUE(write_file_bytes(file(L"intact.jpg"), bytes.data(), bytes.size()));
    ASSERT_TRUE(write_file_bytes(file(L"damaged.jpg"), damaged.data(), damaged.size()));

    WCHAR err[kCap];
    Image *intact = codec_load(file(L"intact.jpg").c_str(), err, kCap);
    ASSERT_NE(intact, nullptr) << err;
    Image *img = codec_load(file(L"damaged.jpg").c_str(), err, kCap);
    ASSERT_NE(img, nullptr) << err;
    ASSERT_EQ(img->width, intact->width);
    ASSERT_EQ(img->height, intact->height);
    for (uint32_t y = 0; y < img->height / 2; ++y)
        ASSERT_EQ(memcmp(img->data + (size_t)y * img->stride, intact->data + (size_t)y * intact->stride,
                         (size_t)img->width * 4),
                  0)
            << "row " << y;
    image_free(img);
    image_free(intact);
}

TEST_F(Codec, WorkerThreadsShareTheFactory)
{
    NEEDS_TESTDATA();
    // Several threads without COM of their own race to create the factory, then keep using it.
    constexpr int kThreads = 4;
    Image *loaded[kThreads] = {};
    int encoded[kThreads] = {};
    std::vector<std::thread> workers;
    for (int i = 0; i < kThreads; ++i)
        workers.emplace_back([&, i] {
            WCHAR err[kCap];
            loaded[i] = codec_load(testdata_path(L"camera/nikon_e950.jpg").c_str(), err, kCap);
            Blob blob = {};
            encoded[i] = loaded[i] && codec_encode_mem(loaded[i], L".png", 90, nullptr, &blob, err, kCap);
            blob_free(&blob);
        });
    WCHAR err[kCap];
    Image *main_img = codec_load(testdata_path(L"orientation/Landscape_3.jpg").c_str(), err, kCap);
    for (std::thread &w : workers) w.join();
    ASSERT_NE(main_img, nullptr) << err;
    EXPECT_EQ(main_img->width, 1800u);
    image_free(main_img);
    for (int i = 0; i < kThreads; ++i) {
        ASSERT_NE(loaded[i], nullptr) << i;
        EXPECT_EQ(loaded[i]->width, 800u);
        EXPECT_EQ(encoded[i], 1) << i;
        image_free(loaded[i]);
    }
}

TEST_F(Codec, ThumbnailsAreScaledUprightAndNeverBelowSixteen)
{
    NEEDS_TESTDATA();
    WCHAR err[kCap];
    Image *t = codec_load_thumb(testdata_path(L"camera/canon_sx60_orient6.jpg").c_str(), 96, err, kCap);
    ASSERT_NE(t, nullptr) << err;
    EXPECT_EQ(t->width, 72u);  // 1536 x 2048 upright
    EXPECT_EQ(t->height, 96u);
    image_free(t);

    t = codec_load_thumb(testdata_path(L"orientation/Landscape_8.jpg").c_str(), 8, err, kCap);
    ASSERT_NE(t, nullptr) << err;
    EXPECT_EQ(t->width, 16u);
    EXPECT_EQ(t->height, 11u);
    image_free(t);

    // Big pictures are scaled while decoding (half rounds up: 129 * 96 / 192 = 64.5); that path
    // leaves has_alpha unset, unlike the full decode.
    Image *big = make_gradient(192, 129, true);
    ASSERT_TRUE(codec_save(big, file(L"big.png").c_str(), 90, nullptr, err, kCap)) << err;
    image_free(big);
    t = codec_load_thumb(file(L"big.png").c_str(), 96, err, kCap);
    ASSERT_NE(t, nullptr) << err;
    EXPECT_EQ(t->width, 96u);
    EXPECT_EQ(t->height, 65u);
    EXPECT_EQ(t->has_alpha, 0);
    image_free(t);

    // Already small: the full decode and the box thumbnail give an exact copy.
    Image *small = make_gradient(40, 30, true);
    ASSERT_TRUE(codec_save(small, file(L"small.png").c_str(), 90, nullptr, err, kCap)) << err;
    t = codec_load_thumb(file(L"small.png").c_str(), 96, err, kCap);
    ASSERT_NE(t, nullptr) << err;
    EXPECT_EQ(0, memcmp(t->data, small->data, (size_t)small->stride * small->height));
    image_free(t);
    image_free(small);

    EXPECT_EQ(codec_load_thumb(file(L"missing.jpg").c_str(), 96, err, kCap), nullptr);
    EXPECT_STREQ(err, L"找不到文件「missing.jpg」。");
}

TEST_F(Codec, JpegAndBmpFlattenTransparencyOntoWhitePngKeepsIt)
{
    Image *img = solid(8, 8, 0, 0, 255, 128);  // half-transparent red
    WCHAR err[kCap];
    for (const wchar_t *name : {L"flat.jpg", L"flat.bmp", L"kept.png"}) {
        ASSERT_TRUE(codec_save(img, file(name).c_str(), 95, nullptr, err, kCap)) << err;
        Image *back = codec_load(file(name).c_str(), err, kCap);
        ASSERT_NE(back, nullptr) << err;
        const uint8_t *p = back->data + 4 * 4 * 8 + 16;  // an inner pixel
        if (name[0] == L'k') {  // kept.png
            EXPECT_EQ(back->has_alpha, 1);
            EXPECT_EQ(p[3], 128);
            EXPECT_EQ(p[2], 255);
        } else {
            EXPECT_EQ(back->has_alpha, 0) << name;
            EXPECT_NEAR(p[0], 127, 3) << name;  // (0*128 + 255*127 + 127) / 255
            EXPECT_NEAR(p[1], 127, 3) << name;
            EXPECT_NEAR(p[2], 255, 3) << name;
        }
        image_free(back);
    }
    // The caller's picture is never flattened in place.
    EXPECT_EQ(img->has_alpha, 1);
    EXPECT_EQ(img->data[3], 128);
    image_free(img);
}

TEST_F(Codec, OpaquePicturesAreWritten24Bit)
{
    Image *opaque = make_gradient(21, 10, false);
    Image *clear = make_gradient(21, 10, true);
    WCHAR err[kCap];
    ASSERT_TRUE(codec_save(opaque, file(L"o.png").c_str(), 90, nullptr, err, kCap));
    ASSERT_TRUE(codec_save(clear, file(L"c.png").c_str(), 90, nullptr, err, kCap));
    ASSERT_TRUE(codec_save(opaque, file(L"o.bmp").c_str(), 90, nullptr, err, kCap));
    // PNG IHDR colour type at byte 25: 2 = RGB, 6 = RGBA. BMP bit count at byte 28.
    EXPECT_EQ(read_file_bytes(file(L"o.png"))[25], 2);
    EXPECT_EQ(read_file_bytes(file(L"c.png"))[25], 6);
    EXPECT_EQ(read_file_bytes(file(L"o.bmp"))[28], 24);
    // And read back exactly, opaque.
    for (const wchar_t *name : {L"o.png", L"o.bmp"}) {
        Image *back = codec_load(file(name).c_str(), err, kCap);
        ASSERT_NE(back, nullptr) << err;
        EXPECT_EQ(back->has_alpha, 0) << name;
        EXPECT_EQ(0, memcmp(back->data, opaque->data, (size_t)opaque->stride * opaque->height)) << name;
        image_free(back);
    }
    image_free(opaque);
    image_free(clear);
}

TEST_F(Codec, UnknownOrMissingExtensionEncodesJpeg)
{
    Image *img = make_gradient(32, 32, true);
    WCHAR err[kCap];
    for (const wchar_t *ext : {L".xyz", L"", static_cast<const wchar_t *>(nullptr)}) {
        Blob blob = {};
        ASSERT_TRUE(codec_encode_mem(img, ext, 80, nullptr, &blob, err, kCap)) << err;
        ASSERT_GT(blob.size, 4);
        EXPECT_EQ(blob.data[0], 0xFF);
        EXPECT_EQ(blob.data[1], 0xD8);
        blob_free(&blob);
        EXPECT_EQ(blob.data, nullptr);
        EXPECT_EQ(blob.size, 0);
    }
    ASSERT_TRUE(codec_save(img, file(L"noext").c_str(), 80, nullptr, err, kCap));
    EXPECT_EQ(read_file_bytes(file(L"noext"))[0], 0xFF);
    image_free(img);
}

TEST_F(Codec, JpegQualityChangesSizeAndIsClamped)
{
    NEEDS_TESTDATA();
    WCHAR err[kCap];
    Image *photo = codec_load(testdata_path(L"camera/nikon_e950.jpg").c_str(), err, kCap);
    ASSERT_NE(photo, nullptr) << err;
    auto size_at = [&](int q) {
        Blob blob = {};
        EXPECT_TRUE(codec_encode_mem(photo, L".jpg", q, nullptr, &blob, err, kCap)) << err;
        std::vector<uint8_t> bytes(blob.data, blob.data + blob.size);
        blob_free(&blob);
        return bytes;
    };
    std::vector<uint8_t> q30 = size_at(30), q90 = size_at(90);
    EXPECT_LT(q30.size() * 2, q90.size());
    EXPECT_EQ(size_at(0), size_at(1));
    EXPECT_EQ(size_at(-5), size_at(1));
    EXPECT_EQ(size_at(250), size_at(100));
    EXPECT_NE(size_at(100), size_at(99));
    image_free(photo);
}

TEST_F(Codec, TiffAndGifRoundTrip)
{
    Image *img = make_gradient(30, 20, true);
    WCHAR err[kCap];
    ASSERT_TRUE(codec_save(img, file(L"x.tif").c_str(), 90, nullptr, err, kCap)) << err;
    Image *back = codec_load(file(L"x.tif").c_str(), err, kCap);
    ASSERT_NE(back, nullptr) << err;
    EXPECT_EQ(back->has_alpha, 1);
    EXPECT_EQ(0, memcmp(back->data, img->data, (size_t)img->stride * img->height));
    image_free(back);

    Blob gif = {};
    ASSERT_TRUE(codec_encode_mem(img, L".GIF", 90, nullptr, &gif, err, kCap)) << err;
    EXPECT_EQ(0, memcmp(gif.data, "GIF8", 4));
    blob_free(&gif);
    image_free(img);
}

// GIF keeps clear pixels clear (a transparent palette entry) and puts partial alpha
// onto white, never black, whether saved to a file or encoded in memory.
TEST_F(Codec, GifKeepsTransparencyAndFlattensPartialAlphaOntoWhite)
{
    Image *img = image_new(30, 10);  // clear | black at half alpha | opaque red
    for (uint32_t y = 0; y < 10; ++y)
        for (uint32_t x = 0; x < 30; ++x) {
            uint8_t *p = img->data + (size_t)y * img->stride + x * 4;
            p[0] = p[1] = 0;
            p[2] = x >= 20 ? 255 : 0;
            p[3] = x < 10 ? 0 : x < 20 ? 128 : 255;
        }
    img->has_alpha = 1;
    WCHAR err[kCap];
    ASSERT_TRUE(codec_save(img, file(L"saved.gif").c_str(), 90, nullptr, err, kCap)) << err;
    Blob blob = {};
    ASSERT_TRUE(codec_encode_mem(img, L".gif", 90, nullptr, &blob, err, kCap)) << err;
    ASSERT_TRUE(write_file_bytes(file(L"memory.gif"), blob.data, (size_t)blob.size));
    blob_free(&blob);
    for (const wchar_t *name : {L"saved.gif", L"memory.gif"}) {
        Image *back = codec_load(file(name).c_str(), err, kCap);
        ASSERT_NE(back, nullptr) << err;
        EXPECT_EQ(back->has_alpha, 1);
        auto px = [&](uint32_t x) { return back->data + 5 * back->stride + x * 4; };
        EXPECT_EQ(px(5)[3], 0);
        for (int c = 0; c < 3; ++c) EXPECT_NEAR(px(15)[c], 127, 8) << c;
        EXPECT_EQ(px(15)[3], 255);
        EXPECT_TRUE(px(25)[0] < 8 && px(25)[1] < 8 && px(25)[2] > 247 && px(25)[3] == 255);
        image_free(back);
    }
    image_free(img);
}

TEST_F(Codec, WritingABlobCreatesOrReplacesTheFile)
{
    WCHAR err[kCap];
    Blob empty = {};
    EXPECT_FALSE(codec_write_blob(file(L"none.jpg").c_str(), &empty, err, kCap));
    EXPECT_STREQ(err, L"没有可写入的数据。");
    EXPECT_FALSE(file_exists(file(L"none.jpg")));
    EXPECT_FALSE(codec_write_blob(file(L"none.jpg").c_str(), nullptr, err, kCap));
    EXPECT_STREQ(err, L"没有可写入的数据。");

    uint8_t bytes[] = {1, 2, 3, 4, 5};
    Blob blob = {bytes, 5};
    ASSERT_TRUE(write_file_bytes(file(L"old.bin"), "previous content", 16));
    ASSERT_TRUE(codec_write_blob(file(L"old.bin").c_str(), &blob, err, kCap)) << err;
    EXPECT_EQ(read_file_bytes(file(L"old.bin")), std::vector<uint8_t>(bytes, bytes + 5));
    EXPECT_STREQ(err, L"");

    EXPECT_FALSE(codec_write_blob((dir_ + L"\\missing\\x.jpg").c_str(), &blob, err, kCap));
    EXPECT_STREQ(err, L"保存路径不存在：「x.jpg」。");

    // Nothing but the target is left in the folder.
    WIN32_FIND_DATAW fd;
    HANDLE find = FindFirstFileW((dir_ + L"\\*").c_str(), &fd);
    int files = 0;
    do {
        if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) ++files;
    } while (FindNextFileW(find, &fd));
    FindClose(find);
    EXPECT_EQ(files, 1);
}

TEST_F(Codec, AFailedSaveLeavesTheExistingFileUntouched)
{
    WCHAR err[kCap];
    std::wstring target = file(L"keep.jpg");
    Image *img = make_gradient(64, 64, false);
    ASSERT_TRUE(codec_save(img, target.c_str(), 90, nullptr, err, kCap)) << err;
    std::vector<uint8_t> before = read_file_bytes(target);

    // JPEG cannot hold a side over 65500: the encode fails after the target was chosen.
    Image *too_wide = make_gradient(70000, 1, false);
    EXPECT_FALSE(codec_save(too_wide, target.c_str(), 90, nullptr, err, kCap));
    EXPECT_STREQ(err, L"保存「keep.jpg」失败。\n\n错误码 0x80004005");
    EXPECT_EQ(read_file_bytes(target), before);
    image_free(too_wide);

    // Another program holds the picture open without letting it be replaced.
    HANDLE holder = CreateFileW(target.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    Image *other = make_gradient(300, 200, true);
    EXPECT_FALSE(codec_save(other, target.c_str(), 50, nullptr, err, kCap));
    const wchar_t *held = L"无法写入「keep.jpg」。\n\n文件可能正被其它程序打开，或者目录没有写入权限。";
    EXPECT_STREQ(err, held);
    Blob blob = {};
    ASSERT_TRUE(codec_encode_mem(other, L".jpg", 50, nullptr, &blob, err, kCap));
    EXPECT_FALSE(codec_write_blob(target.c_str(), &blob, err, kCap));
    EXPECT_STREQ(err, held);
    blob_free(&blob);
    CloseHandle(holder);

    EXPECT_EQ(read_file_bytes(target), before);
    // The temporary file is gone as well.
    WIN32_FIND_DATAW fd;
    HANDLE find = FindFirstFileW((dir_ + L"\\*.tmp").c_str(), &fd);
    EXPECT_EQ(find, INVALID_HANDLE_VALUE);
    if (find != INVALID_HANDLE_VALUE) FindClose(find);

    // Once free, the same save replaces it.
    ASSERT_TRUE(codec_save(other, target.c_str(), 50, nullptr, err, kCap)) << err;
    Image *back = codec_load(target.c_str(), err, kCap);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->width, 300u);
    image_free(back);
    image_free(other);
    image_free(img);
}

TEST_F(Codec, SaveErrorsForMissingFoldersAndNullPictures)
{
    WCHAR err[kCap];
    Image *img = make_gradient(4, 4, false);
    EXPECT_FALSE(codec_save(img, (dir_ + L"\\no\\such\\out.png").c_str(), 90, nullptr, err, kCap));
    EXPECT_STREQ(err, L"保存路径不存在：「out.png」。");
    EXPECT_FALSE(codec_save(nullptr, file(L"x.png").c_str(), 90, nullptr, err, kCap));
    EXPECT_STREQ(err, L"系统图像组件(WIC)不可用，无法保存。");
    Blob blob = {};
    EXPECT_FALSE(codec_encode_mem(nullptr, L".png", 90, nullptr, &blob, err, kCap));
    EXPECT_STREQ(err, L"系统图像组件(WIC)不可用。");
    EXPECT_FALSE(codec_encode_mem(img, L".png", 90, nullptr, nullptr, err, kCap));
    image_free(img);
}

// JPEG variants written with libjpeg itself: four quadrants red, green, blue, white.
struct JpegVariant {
    const char *name;
    J_COLOR_SPACE stored;  // JCS_YCbCr, JCS_GRAYSCALE, JCS_CMYK or JCS_YCCK
    bool progressive;
    int restart_rows;
    bool arithmetic;
};

constexpr JpegVariant kJpegVariants[] = {
    {"baseline", JCS_YCbCr, false, 0, false},   {"gray", JCS_GRAYSCALE, false, 0, false},
    {"progressive", JCS_YCbCr, true, 0, false}, {"restarts", JCS_YCbCr, false, 1, false},
    {"arithmetic", JCS_YCbCr, false, 0, true},  {"progressive arithmetic", JCS_YCbCr, true, 2, true},
    {"adobe cmyk", JCS_CMYK, false, 0, false},  {"adobe ycck", JCS_YCCK, true, 0, false},
};

constexpr uint8_t kQuadrantRgb[4][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}};

int quadrant(uint32_t x, uint32_t y, uint32_t w, uint32_t h)
{
    return (y >= h / 2) * 2 + (x >= w / 2);
}

// Encodes with libjpeg itself: set_up adjusts the parameters after the defaults,
// fill_row writes input row y (up to four bytes a pixel).
template <class SetUp, class FillRow>
std::vector<uint8_t> libjpeg_encode(uint32_t w, uint32_t h, int components, SetUp set_up, FillRow fill_row)
{
    jpeg_compress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    unsigned char *out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &out, &size);
    cinfo.image_width = w;
    cinfo.image_height = h;
    cinfo.input_components = components;
    cinfo.in_color_space = components == 1 ? JCS_GRAYSCALE : components == 4 ? JCS_CMYK : JCS_RGB;
    jpeg_set_defaults(&cinfo);
    set_up(&cinfo);
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<uint8_t> row((size_t)w * 4);
    while (cinfo.next_scanline < h) {
        fill_row(row.data(), cinfo.next_scanline);
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&cinfo, &r, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::vector<uint8_t> bytes(out, out + size);
    free(out);
    return bytes;
}

std::vector<uint8_t> variant_bytes(const JpegVariant &v, uint32_t w, uint32_t h)
{
    bool gray = v.stored == JCS_GRAYSCALE, cmyk = v.stored == JCS_CMYK || v.stored == JCS_YCCK;
    auto set_up = [&](jpeg_compress_struct *cinfo) {
        jpeg_set_colorspace(cinfo, v.stored);  // CMYK and YCCK get Adobe's marker
        jpeg_set_quality(cinfo, 95, TRUE);
        if (v.progressive) jpeg_simple_progression(cinfo);
        cinfo->restart_in_rows = v.restart_rows;
        cinfo->arith_code = v.arithmetic;
    };
    auto fill_row = [&](uint8_t *row, uint32_t y) {
        for (uint32_t x = 0; x < w; ++x) {
            const uint8_t *rgb = kQuadrantRgb[quadrant(x, y, w, h)];
            // Adobe stores ink inverted: without black ink the CMYK bytes are R, G, B, 255.
            const uint8_t px[4] = {rgb[0], rgb[1], rgb[2], 255};
            if (gray)
                row[x] = (uint8_t)(rgb[0] * 0.299 + rgb[1] * 0.587 + rgb[2] * 0.114 + 0.5);
            else
                memcpy(&row[x * (cmyk ? 4 : 3)], px, cmyk ? 4 : 3);
        }
    };
    return libjpeg_encode(w, h, gray ? 1 : cmyk ? 4 : 3, set_up, fill_row);
}

TEST_F(Codec, JpegVariantsLoadWithTheirSizeAndColours)
{
    for (const JpegVariant &v : kJpegVariants) {
        SCOPED_TRACE(v.name);
        std::wstring path = file(L"variant.jpg");
        std::vector<uint8_t> bytes = variant_bytes(v, 64, 48);
        ASSERT_TRUE(write_file_bytes(path, bytes.data(), bytes.size()));
        WCHAR err[kCap];
        Image *img = codec_load(path.c_str(), err, kCap);
        ASSERT_NE(img, nullptr) << err;
        EXPECT_EQ(img->width, 64u);
        EXPECT_EQ(img->height, 48u);
        EXPECT_EQ(img->has_alpha, 0);
        for (int q = 0; q < 4; ++q) {
            uint32_t x = (q & 1) ? 48 : 16, y = (q & 2) ? 36 : 12;
            const uint8_t *p = img->data + (size_t)y * img->stride + x * 4;
            const uint8_t *rgb = kQuadrantRgb[q];
            int expect_r = rgb[0], expect_g = rgb[1], expect_b = rgb[2];
            if (v.stored == JCS_GRAYSCALE)
                expect_r = expect_g = expect_b = (int)(rgb[0] * 0.299 + rgb[1] * 0.587 + rgb[2] * 0.114 + 0.5);
            EXPECT_NEAR(p[2], expect_r, 8) << q;
            EXPECT_NEAR(p[1], expect_g, 8) << q;
            EXPECT_NEAR(p[0], expect_b, 8) << q;
            EXPECT_EQ(p[3], 255);
        }
        image_free(img);
    }
}

// Pictures decoded at 1/8 scale (thumbnails) take the fast entropy decoder; noisy
// content gives long codes, large values and every sampling layout.
struct EighthCase {
    const char *name;
    uint32_t w, h;
    int components;  // 1 gray, 3 colour, 4 CMYK
    int h_samp, v_samp;
    int restart_rows;
    int quality;
};

constexpr EighthCase kEighthCases[] = {
    {"4:2:0", 203, 157, 3, 2, 2, 0, 90},         {"4:4:4 with restarts", 160, 96, 3, 1, 1, 1, 75},
    {"4:2:2", 99, 64, 3, 2, 1, 0, 97},           {"gray with restarts", 130, 70, 1, 1, 1, 2, 50},
    {"cmyk", 64, 72, 4, 1, 1, 0, 85},            {"4:2:0 every MCU a restart", 96, 96, 3, 2, 2, 1, 100},
};

std::vector<uint8_t> noisy_jpeg(const EighthCase &c)
{
    auto set_up = [&](jpeg_compress_struct *cinfo) {
        jpeg_set_quality(cinfo, c.quality, TRUE);
        cinfo->comp_info[0].h_samp_factor = c.h_samp;
        cinfo->comp_info[0].v_samp_factor = c.v_samp;
        cinfo->restart_in_rows = c.restart_rows;
    };
    uint32_t seed = 12345;
    auto fill_row = [&](uint8_t *row, uint32_t y) {
        for (size_t i = 0; i < (size_t)c.w * c.components; ++i) {
            seed = seed * 1103515245u + 12345u;
            row[i] = (uint8_t)((i * 3 + y * 2) / 4 + (seed >> 24) % 96);
        }
    };
    return libjpeg_encode(c.w, c.h, c.components, set_up, fill_row);
}

// Whole, with a stray marker, with bytes scrambled, and cut short.
std::vector<std::vector<uint8_t>> damaged_versions(const std::vector<uint8_t> &bytes)
{
    size_t scan = scan_start(bytes), len = bytes.size() - scan;
    std::vector<std::vector<uint8_t>> out = {bytes, bytes};
    out[1][scan + len / 2] = 0xFF;
    out[1][scan + len / 2 + 1] = 0xD3;
    uint32_t seed = 99;
    for (int version = 0; version < 3; ++version) {
        std::vector<uint8_t> scrambled = bytes;
        for (int i = 0; i < 12; ++i) {
            seed = seed * 1103515245u + 12345u;
            scrambled[scan + 20 + (seed >> 8) % (len - 40)] ^= (uint8_t)(1 + (seed >> 3) % 255);
        }
        out.push_back(scrambled);
    }
    out.emplace_back(bytes.begin(), bytes.begin() + (long)(scan + len * 7 / 10));
    return out;
}

TEST_F(Codec, EighthScaleDecodesGiveLibjpegsOwnPixels)
{
    std::wstring path = file(L"eighth.jpg");
    for (const EighthCase &c : kEighthCases) {
        std::vector<std::vector<uint8_t>> versions = damaged_versions(noisy_jpeg(c));
        for (size_t v = 0; v < versions.size(); ++v) {
            SCOPED_TRACE(std::string(c.name) + ", version " + std::to_string(v));
            ASSERT_TRUE(write_file_bytes(path, versions[v].data(), versions[v].size()));
            JpegDecoded ours, theirs;
            long installs = jpeg_eighth_installs();
            JpegDecodeStatus ours_status = jpeg_decode_file(path.c_str(), (c.w + 7) / 8, (c.h + 7) / 8, &ours);
            EXPECT_EQ(jpeg_eighth_installs(), installs + 1);
            jpeg_eighth_set_enabled(0);
            JpegDecodeStatus their_status = jpeg_decode_file(path.c_str(), (c.w + 7) / 8, (c.h + 7) / 8, &theirs);
            jpeg_eighth_set_enabled(1);
            ASSERT_EQ(ours_status, their_status);
            ASSERT_EQ(ours.image != nullptr, theirs.image != nullptr);
            if (ours.image) {
                ASSERT_EQ(ours.image->width, theirs.image->width);
                ASSERT_EQ(ours.image->height, theirs.image->height);
                EXPECT_EQ(ours.image->width, (c.w + 7) / 8);
                EXPECT_EQ(memcmp(ours.image->data, theirs.image->data, (size_t)ours.image->stride * ours.image->height),
                          0);
            }
            image_free(ours.image);
            image_free(theirs.image);
        }
    }
}

struct ByteByByte {
    const std::vector<uint8_t> *bytes;
    size_t at;
};

bool read_one_byte(void *context, uint8_t *out, size_t cap, size_t *got)
{
    auto *b = (ByteByByte *)context;
    *got = b->at < b->bytes->size() ? 1 : 0;
    if (*got) *out = (*b->bytes)[b->at++];
    return true;
}

// Damaged files found by fuzzing: cut short without an end marker, garbage at
// restart markers, FF FF 00 in the scan, bad codes. libjpeg fed one byte at a
// time decodes them with its slow path, whose outcome, warnings and pixels
// ours must give (its fast path differs on some of them by itself).
TEST_F(Codec, EighthScaleDecoderEndsDamagedFilesAsLibjpegsSlowPath)
{
    NEEDS_TESTDATA();
    WIN32_FIND_DATAW fd;
    HANDLE find = FindFirstFileW(testdata_path(L"fuzz-findings\\*.jpg").c_str(), &fd);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    int compared = 0;
    do {
        if (fd.cFileName[0] != L'F' && fd.cFileName[0] != L'B') continue;
        std::wstring path = testdata_path((L"fuzz-findings\\" + std::wstring(fd.cFileName)).c_str());
        SCOPED_TRACE(std::string(path.begin(), path.end()));
        std::vector<uint8_t> bytes = read_file_bytes(path);
        JpegDecoded ours, theirs;
        JpegDecodeStatus ours_status = jpeg_decode_file(path.c_str(), 1, 1, &ours);
        jpeg_eighth_set_enabled(0);
        ByteByByte source = {&bytes, 0};
        JpegInput input = {&source, read_one_byte};
        JpegDecodeStatus their_status = jpeg_decode_input(&input, 1, 1, false, &theirs);
        jpeg_eighth_set_enabled(1);
        EXPECT_EQ(ours_status, their_status);
        EXPECT_EQ(ours.warnings, theirs.warnings);
        ASSERT_EQ(ours.image != nullptr, theirs.image != nullptr);
        if (ours.image)
            EXPECT_EQ(memcmp(ours.image->data, theirs.image->data, (size_t)ours.image->stride * ours.image->height), 0);
        image_free(ours.image);
        image_free(theirs.image);
        ++compared;
    } while (FindNextFileW(find, &fd));
    FindClose(find);
    EXPECT_GE(compared, 10);
}

// A 1-pixel checkerboard reduced tenfold is an even grey, never black or white.
TEST_F(Codec, ThumbnailsOfAFineCheckerboardAreGrey)
{
    Image *board = image_new(960, 640);
    for (uint32_t y = 0; y < 640; ++y)
        for (uint32_t x = 0; x < 960; ++x) {
            uint8_t v = ((x + y) & 1) ? 255 : 0;
            uint8_t *p = board->data + (size_t)y * board->stride + x * 4;
            p[0] = p[1] = p[2] = v;
            p[3] = 255;
        }
    WCHAR err[kCap];
    ASSERT_TRUE(codec_save(board, file(L"board.png").c_str(), 90, nullptr, err, kCap)) << err;
    ASSERT_TRUE(codec_save(board, file(L"board.jpg").c_str(), 100, nullptr, err, kCap)) << err;
    image_free(board);
    for (const wchar_t *name : {L"board.png", L"board.jpg"}) {
        Image *t = codec_load_thumb(file(name).c_str(), 96, err, kCap);
        ASSERT_NE(t, nullptr) << err;
        EXPECT_EQ(t->width, 96u);
        EXPECT_EQ(t->height, 64u);
        int lo = 255, hi = 0;
        for (size_t i = 0; i < (size_t)t->width * t->height; ++i)
            for (int c = 0; c < 3; ++c) {
                lo = std::min(lo, (int)t->data[i * 4 + c]);
                hi = std::max(hi, (int)t->data[i * 4 + c]);
            }
        EXPECT_GE(lo, 112) << name;
        EXPECT_LE(hi, 143) << name;
        image_free(t);
    }
}

// Big photos reduce in the DCT domain; the thumbnail matches one made from the full picture.
TEST_F(Codec, ScaledJpegThumbnailMatchesTheFullDecode)
{
    NEEDS_TESTDATA();
    WCHAR err[kCap];
    for (const wchar_t *name : {L"camera/iphone6.jpg", L"camera/canon_sx60_orient6.jpg"}) {
        std::wstring path = testdata_path(name);
        Image *full = codec_load(path.c_str(), err, kCap);
        ASSERT_NE(full, nullptr) << err;
        Image *reference = image_thumb(full, 96);
        image_free(full);
        Image *t = codec_load_thumb(path.c_str(), 96, err, kCap);
        ASSERT_NE(t, nullptr) << err;
        ASSERT_EQ(t->width, reference->width);
        ASSERT_EQ(t->height, reference->height);
        EXPECT_LT(mean_abs_diff(t, reference), 4.0) << name;
        image_free(t);
        image_free(reference);
    }
}

// Oversized headers, built from real small files of each format.
void put(std::vector<uint8_t> &b, size_t at, uint32_t v, int n, bool big)
{
    for (int i = 0; i < n; ++i) b[at + (big ? n - 1 - i : i)] = (uint8_t)(v >> (8 * i));
}

std::vector<uint8_t> encoded(const wchar_t *ext)
{
    Image *img = make_gradient(16, 16, false);
    Blob blob = {};
    WCHAR err[kCap];
    EXPECT_TRUE(codec_encode_mem(img, ext, 90, nullptr, &blob, err, kCap)) << err;
    std::vector<uint8_t> bytes(blob.data, blob.data + blob.size);
    blob_free(&blob);
    image_free(img);
    return bytes;
}

std::vector<uint8_t> jpeg_declaring(uint32_t w, uint32_t h, bool progressive)
{
    std::vector<uint8_t> b = progressive ? variant_bytes(kJpegVariants[2], 16, 16) : encoded(L".jpg");
    for (size_t i = 2; i + 9 < b.size(); i += 2 + (b[i + 2] << 8 | b[i + 3]))
        if (b[i + 1] == 0xC0 || b[i + 1] == 0xC2) {
            put(b, i + 5, h, 2, true);
            put(b, i + 7, w, 2, true);
            break;
        }
    return b;
}

// Bytes between two header segments before the frame header, which libjpeg skips.
std::vector<uint8_t> junk_before_sof(std::vector<uint8_t> b, std::vector<uint8_t> junk)
{
    for (size_t i = 2; i + 3 < b.size(); i += 2 + (b[i + 2] << 8 | b[i + 3]))
        if (b[i + 1] == 0xC0 || b[i + 1] == 0xC2) {
            b.insert(b.begin() + (long)i, junk.begin(), junk.end());
            break;
        }
    return b;
}

std::vector<uint8_t> png_declaring(uint32_t w, uint32_t h)
{
    std::vector<uint8_t> b = encoded(L".png");
    put(b, 16, w, 4, true);
    put(b, 20, h, 4, true);
    uint32_t crc = 0xFFFFFFFFu;  // over the IHDR type and data, as a decoder checks it
    for (size_t i = 12; i < 29; ++i) {
        crc ^= b[i];
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    put(b, 29, ~crc, 4, true);
    return b;
}

// The logical screen and the first frame both declare the size.
std::vector<uint8_t> gif_declaring(uint32_t w, uint32_t h)
{
    std::vector<uint8_t> b = encoded(L".gif");
    put(b, 6, w, 2, false);
    put(b, 8, h, 2, false);
    size_t i = 13 + (b[10] & 0x80 ? 3u << ((b[10] & 7) + 1) : 0);
    while (i + 9 < b.size() && b[i] == 0x21) {  // extensions: introducer, label, sub-blocks
        for (i += 2; i < b.size() && b[i]; i += 1 + b[i]) {}
        ++i;
    }
    put(b, i + 5, w, 2, false);
    put(b, i + 7, h, 2, false);
    return b;
}

// A small GIF with a second frame of w x h placed before its trailer.
std::vector<uint8_t> gif_second_frame(uint32_t w, uint32_t h)
{
    std::vector<uint8_t> b = encoded(L".gif");
    const uint8_t frame[] = {0x2C, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 1, 0x44, 0};
    b.insert(b.end() - 1, frame, frame + sizeof frame);
    put(b, b.size() - 1 - sizeof frame + 5, w, 2, false);
    put(b, b.size() - 1 - sizeof frame + 7, h, 2, false);
    return b;
}

// 38 bytes of lossless WebP: 14 bits each for width - 1 and height - 1.
std::vector<uint8_t> webp_declaring(uint32_t w, uint32_t h)
{
    std::vector<uint8_t> b(38, 0);
    memcpy(&b[0], "RIFF\x1e\0\0\0WEBPVP8L\x12\0\0\0\x2f", 21);
    put(b, 21, (w - 1) | (h - 1) << 14, 4, false);
    return b;
}

// An RGB TIFF header whose single tile is declared tile_w x tile_h.
std::vector<uint8_t> tiff_with_tiles(uint32_t w, uint32_t h, uint32_t tile_w, uint32_t tile_h)
{
    const uint32_t entries[][3] = {{256, 4, w},      {257, 4, h},      {258, 3, 8},   {259, 3, 1},  {262, 3, 2},
                                   {277, 3, 3},      {322, 4, tile_w}, {323, 4, tile_h}, {324, 4, 200}, {325, 4, 64}};
    std::vector<uint8_t> b(264, 0);
    memcpy(&b[0], "II*\0\x08\0\0\0", 8);
    put(b, 8, (uint32_t)std::size(entries), 2, false);
    for (size_t i = 0; i < std::size(entries); ++i) {
        put(b, 10 + 12 * i, entries[i][0], 2, false);
        put(b, 12 + 12 * i, entries[i][1], 2, false);
        put(b, 14 + 12 * i, 1, 4, false);
        put(b, 18 + 12 * i, entries[i][2], entries[i][1] == 3 ? 2 : 4, false);
    }
    return b;
}

std::wstring no_memory(uint32_t w, uint32_t h)
{
    WCHAR text[200];
    swprintf(text, 200, L"内存不足，无法载入这张 %u×%u 的图片。\n\n请先把它缩小一点再试。", w, h);
    return text;
}

// Refused before any decoder allocates: the whole test process stays small
// (each test runs in a process of its own).
TEST_F(Codec, OversizedHeadersAreRefusedBeforeDecoding)
{
    const struct {
        const wchar_t *name;
        std::vector<uint8_t> bytes;
        std::wstring message;
    } bombs[] = {
        {L"huge.jpg", jpeg_declaring(30000, 30000, false), no_memory(30000, 30000)},
        {L"huge_progressive.jpg", jpeg_declaring(30000, 30000, true), no_memory(30000, 30000)},
        {L"wrapping.jpg", jpeg_declaring(65500, 21858, false), no_memory(65500, 21858)},
        {L"huge.png", png_declaring(30000, 30000), no_memory(30000, 30000)},
        {L"wrapping.png", png_declaring(65536, 16384), no_memory(65536, 16384)},
        {L"png_inside.jpg", png_declaring(30000, 30000), no_memory(30000, 30000)},
        {L"huge.gif", gif_declaring(30000, 30000), no_memory(30000, 30000)},
        {L"huge.webp", webp_declaring(16384, 16384), L"内存不足，无法载入这张 16384×16384 的图片。"},
        {L"tiles.tif", tiff_with_tiles(1000, 1000, 65536, 65536),
         L"「tiles.tif」不是有效的图片，或者文件已经损坏。\n\n（错误码 0x88982F60）"},
    };
    for (const auto &b : bombs) {
        ASSERT_TRUE(write_file_bytes(file(b.name), b.bytes.data(), b.bytes.size()));
        EXPECT_EQ(load_error(file(b.name)), b.message);
        WCHAR err[kCap];
        EXPECT_EQ(codec_load_thumb(file(b.name).c_str(), 96, err, kCap), nullptr);
        EXPECT_EQ(std::wstring(err), b.message);
    }
    PROCESS_MEMORY_COUNTERS counters = {sizeof counters};
    ASSERT_TRUE(GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters));
    EXPECT_LT(counters.PeakWorkingSetSize, 100u << 20);
}

TEST(CodecProbe, ReadsDeclaredSizesAndJudgesThem)
{
    const struct {
        std::vector<uint8_t> bytes;
        ProbeFormat format;
        ProbeVerdict verdict;
        uint32_t w, h;
    } cases[] = {
        {jpeg_declaring(6000, 4000, false), kProbeJpeg, kProbeFine, 6000, 4000},
        {jpeg_declaring(10000, 10000, true), kProbeJpeg, kProbeFine, 10000, 10000},  // exactly at the limit
        {jpeg_declaring(10000, 10001, true), kProbeJpeg, kProbeTooLarge, 10000, 10001},
        {junk_before_sof(jpeg_declaring(65500, 21858, false), {0x00}), kProbeJpeg, kProbeTooLarge, 65500, 21858},
        {junk_before_sof(jpeg_declaring(6000, 4000, false), {0xFF, 0x00, 0x7A, 0xFF}), kProbeJpeg, kProbeFine, 6000, 4000},
        {png_declaring(4000, 3000), kProbePng, kProbeFine, 4000, 3000},
        {gif_declaring(640, 480), kProbeGif, kProbeFine, 640, 480},
        {gif_second_frame(30000, 30000), kProbeGif, kProbeTooLarge, 30000, 30000},
        {webp_declaring(100, 50), kProbeWebp, kProbeFine, 100, 50},
        {tiff_with_tiles(1000, 1000, 256, 256), kProbeTiff, kProbeFine, 1000, 1000},
        {tiff_with_tiles(1000, 1000, 65536, 16384), kProbeTiff, kProbeDamaged, 1000, 1000},
        {std::vector<uint8_t>{'h', 'e', 'l', 'l', 'o'}, kProbeUnknown, kProbeFine, 0, 0},
    };
    for (const auto &c : cases) {
        ProbeResult r = codec_probe_bytes(c.bytes.data(), c.bytes.size());
        EXPECT_EQ(r.format, c.format);
        EXPECT_EQ(r.verdict, c.verdict) << c.w << "x" << c.h;
        EXPECT_EQ(r.width, c.w);
        EXPECT_EQ(r.height, c.h);
    }
    // Cut anywhere, a header is judged on what is there and never read past its end.
    std::vector<uint8_t> tiff = tiff_with_tiles(1000, 1000, 65536, 65536);
    for (size_t n = 0; n < tiff.size(); n += 7)  // the tile length entry ends at byte 106
        EXPECT_EQ(codec_probe_bytes(tiff.data(), n).verdict, n >= 106 ? kProbeDamaged : kProbeFine) << n;
}

TEST(CodecExtensions, SupportedListIgnoresCase)
{
    for (const wchar_t *p : {L"a.JPG", L"b.jpeg", L"c.Jpe", L"d.png", L"e.gif", L"f.BMP", L"g.tif", L"h.tiff",
                             L"i.ico", L"j.webp", L"k.HEIC", L"l.heif", L"m.hif", L"n.AVIF"})
        EXPECT_EQ(codec_ext_supported(p), 1) << p;
    for (const wchar_t *p : {L"a.jfif", L"noext", L"archive.tar.gz", L"dir.jpg\\file", L""})
        EXPECT_EQ(codec_ext_supported(p), 0) << p;
}

// Messages name files and encoders are chosen by extension exactly as the shell splits paths.
TEST(CodecExtensions, PathPartsAgreeWithTheShell)
{
    for (const wchar_t *p : {L"C:\\photos\\a.jpg", L"a.tar.gz", L"noext", L"C:\\dir.d\\noext", L"C:/dir.d/noext",
                             L"C:\\x\\my file.jpg", L"C:\\x\\name.my ext", L"C:\\x\\.hidden", L"C:\\x\\",
                             L"C:\\x\\\\y.png", L"C:a.bmp", L"\\\\server\\share\\p.webp", L"trailing.", L""}) {
        EXPECT_EQ(codec_file_ext(p), PathFindExtensionW(p)) << p;
        EXPECT_EQ(codec_file_part(p), PathFindFileNameW(p)) << p;
    }
    EXPECT_EQ(codec_file_ext(nullptr), nullptr);
    EXPECT_STREQ(codec_file_part(nullptr), L"");
}

}  // namespace
