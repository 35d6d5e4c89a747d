// Compression to a target size, observed through its trial encodings.
#include <gtest/gtest.h>
#include "codec/codec.h"
#include "codec/codec_trials.h"
#include "codec/jpeg_gather.h"
#include "compress/compress.h"
#include "image/resize.h"
#include "image/resize_internal.h"
#include "image/worker.h"
#include "support/test_support.h"
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace {

constexpr int kCap = 600;

using Trial = CompressTrial;

class Compress : public ::testing::Test {
protected:
    void SetUp() override
    {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        compress_set_trial_hook(
            [](const CompressTrial *t, void *ctx) { ((std::vector<Trial> *)ctx)->push_back(*t); },
            &trials_);
    }
    void TearDown() override
    {
        compress_set_trial_hook(nullptr, nullptr);
        blob_free(&blob_);
        codec_shutdown();
        CoUninitialize();
    }
    int run(const Image *img, const WCHAR *ext, int kb, bool shrink = true, uint32_t min_side = 64,
            const WCHAR *exif = nullptr)
    {
        trials_.clear();
        CompressParams params = {kb, shrink ? 1u : 0u, min_side, 30, 95};
        return compress_run(img, ext, &params, exif, &result_, &blob_, err_, kCap);
    }
    std::vector<int> qualities() const
    {
        std::vector<int> q;
        for (const Trial &t : trials_) q.push_back(t.quality);
        return q;
    }
    int32_t encoded_size(const Image *img, const WCHAR *ext, int quality)
    {
        Blob b = {};
        EXPECT_TRUE(codec_encode_mem(img, ext, quality, nullptr, &b, err_, kCap));
        int32_t size = b.size;
        blob_free(&b);
        return size;
    }

    std::vector<Trial> trials_;
    CompressResult result_ = {};
    Blob blob_ = {};
    WCHAR err_[kCap] = L"";
};

// A busy picture whose encoded size depends strongly on quality and size.
Image *noisy(uint32_t w, uint32_t h)
{
    Image *img = image_new(w, h);
    uint32_t seed = 12345;
    for (size_t i = 0; i < (size_t)w * h; ++i) {
        for (int c = 0; c < 3; ++c) {
            seed = seed * 1103515245u + 12345u;
            img->data[i * 4 + c] = (uint8_t)((seed >> 16) & 0xFF);
        }
        img->data[i * 4 + 3] = 255;
    }
    return img;
}

// Random 2 x 2 blocks: large but quick to encode.
Image *blocky(uint32_t w, uint32_t h)
{
    Image *img = image_new(w, h);
    uint32_t seed = 777;
    for (uint32_t y = 0; y < h; y += 2) {
        for (uint32_t x = 0; x < w; x += 2) {
            seed = seed * 1103515245u + 12345u;
            uint8_t v[3] = {(uint8_t)(seed >> 8), (uint8_t)(seed >> 16), (uint8_t)(seed >> 24)};
            for (uint32_t dy = 0; dy < 2 && y + dy < h; ++dy)
                for (uint32_t dx = 0; dx < 2 && x + dx < w; ++dx) {
                    uint8_t *p = img->data + (size_t)(y + dy) * img->stride + (size_t)(x + dx) * 4;
                    p[0] = v[0];
                    p[1] = v[1];
                    p[2] = v[2];
                    p[3] = 255;
                }
        }
    }
    return img;
}

TEST_F(Compress, SearchFindsTheHighestFittingQuality)
{
    Image *img = make_gradient(200, 150, false);
    ASSERT_TRUE(run(img, L".jpg", 4096)) << err_;
    EXPECT_EQ(qualities(), (std::vector<int>{62, 79, 87, 91, 93, 94, 95}));
    EXPECT_EQ(result_.quality, 95u);
    EXPECT_EQ(result_.target_missed, 0);
    EXPECT_EQ(result_.downscaled, 0);
    EXPECT_EQ(result_.bytes, blob_.size);
    EXPECT_EQ(result_.bytes, encoded_size(img, L".jpg", 95));
    image_free(img);
}

TEST_F(Compress, MidRangeTargetPicksTheBestQualityUnderIt)
{
    NEEDS_TESTDATA();
    WCHAR err[kCap];
    Image *photo = codec_load(testdata_path(L"camera/nikon_e950.jpg").c_str(), err, kCap);
    ASSERT_NE(photo, nullptr) << err;
    int32_t at70 = encoded_size(photo, L".jpg", 70), at71 = encoded_size(photo, L".jpg", 71);
    ASSERT_LT(at70, at71);
    int kb = (at70 + 1023) / 1024;  // at70 fits, and with luck 71 does not
    ASSERT_TRUE(run(photo, L".jpg", kb)) << err_;
    EXPECT_LE(result_.bytes, kb * 1024);
    EXPECT_EQ(result_.target_missed, 0);
    // Every trial above the winner was too big, every one at or below fitted.
    for (const Trial &t : trials_) {
        if ((uint32_t)t.quality > result_.quality) {
            EXPECT_GT(t.bytes, kb * 1024) << t.quality;
        } else {
            EXPECT_LE(t.bytes, kb * 1024) << t.quality;
        }
    }
    EXPECT_EQ(blob_.size, encoded_size(photo, L".jpg", (int)result_.quality));
    image_free(photo);
}

TEST_F(Compress, ATargetMetExactlyCountsAsMet)
{
    // A PNG is encoded once per size; pick a picture whose encoding is a whole number of KB.
    Image *img = nullptr;
    int32_t size = 0;
    for (uint32_t w = 40; w < 400 && !img; ++w) {
        Image *candidate = noisy(w, 40);
        size = encoded_size(candidate, L".png", 95);
        if (size % 1024 == 0)
            img = candidate;
        else
            image_free(candidate);
    }
    ASSERT_NE(img, nullptr) << "no picture with a whole-KB encoding";
    ASSERT_TRUE(run(img, L".png", size / 1024)) << err_;
    EXPECT_EQ(result_.bytes, size);
    EXPECT_EQ(result_.target_missed, 0);
    EXPECT_EQ(result_.downscaled, 0);
    image_free(img);
}

TEST_F(Compress, PngOverTheLimitWithoutShrinkingIsAPartialSuccess)
{
    Image *img = noisy(200, 200);
    int32_t size = encoded_size(img, L".png", 95);
    ASSERT_TRUE(run(img, L".png", 10, false)) << err_;
    EXPECT_EQ(result_.target_missed, 1);
    EXPECT_EQ(result_.quality, 30u);
    EXPECT_EQ(result_.bytes, size);  // the same bytes, encoded once more
    EXPECT_EQ(qualities(), (std::vector<int>{95, 30}));
    EXPECT_EQ(result_.width, 200u);
    image_free(img);
}

TEST_F(Compress, FirstShrinkOfAQuarterTargetIsHalfTheSides)
{
    Image *img = blocky(4000, 3000);
    int32_t size = encoded_size(img, L".png", 95);
    // A quarter in whole KB: close enough to a factor of sqrt(0.25) for sides of 2000 x 1500
    // when the encoding is several megabytes.
    int kb = (int)((size / 4 + 512) / 1024);
    ASSERT_GT(size, 5000000);
    ASSERT_TRUE(run(img, L".png", kb, true)) << err_;
    ASSERT_GE(trials_.size(), 2u);
    EXPECT_EQ(trials_[0].bytes, size);
    EXPECT_EQ(trials_[0].width, 4000u);
    EXPECT_EQ(trials_[1].width, 2000u);
    EXPECT_EQ(trials_[1].height, 1500u);
    EXPECT_EQ(result_.downscaled, 1);
    EXPECT_LE(result_.bytes, kb * 1024);
    EXPECT_EQ(result_.target_missed, 0);
    image_free(img);
}

TEST_F(Compress, MinimumSideStopsAtTheCurrentSize)
{
    Image *img = noisy(70, 50);
    int32_t size = encoded_size(img, L".png", 95);
    // 1 KB is far off, so the factor is clamped to 0.25; 70 * 0.25 = 18 is under 64.
    ASSERT_TRUE(run(img, L".png", 1, true, 64)) << err_;
    EXPECT_EQ(result_.target_missed, 1);
    EXPECT_EQ(result_.quality, 30u);
    EXPECT_EQ(result_.width, 70u);
    EXPECT_EQ(result_.height, 50u);
    EXPECT_EQ(result_.downscaled, 0);
    EXPECT_GT(result_.bytes, 1024);  // not checked against the limit
    EXPECT_EQ(result_.bytes, size);
    image_free(img);
}

TEST_F(Compress, MinimumSideIsCheckedBeforeEachShrink)
{
    Image *img = noisy(700, 700);
    int32_t size = encoded_size(img, L".png", 95);
    // A factor of about 0.9: the new side is allowed when it equals the minimum, not below it.
    int kb = (int)(size * 0.81 / 1024);
    uint32_t side = (uint32_t)(700 * std::sqrt(kb * 1024.0 / size) + 0.5);
    ASSERT_GT(side, 600u);
    ASSERT_LT(side, 660u);
    ASSERT_TRUE(run(img, L".png", kb, true, side)) << err_;
    ASSERT_GE(trials_.size(), 2u);
    EXPECT_EQ(trials_[1].width, side);
    EXPECT_EQ(result_.downscaled, 1);
    ASSERT_TRUE(run(img, L".png", kb, true, side + 1)) << err_;
    EXPECT_EQ(qualities(), (std::vector<int>{95, 30}));
    EXPECT_EQ(result_.width, 700u);
    EXPECT_EQ(result_.downscaled, 0);
    EXPECT_EQ(result_.target_missed, 1);
    image_free(img);
}

TEST_F(Compress, ShrinkingStopsAfterSevenSteps)
{
    // An empty quality range never fits, so every stage shrinks by the fallback 0.8.
    Image *img = make_gradient(100, 100, false);
    // 100, 80, 64, 51, 41, 33, 26, 21: the seventh step is still allowed by a minimum side of 21.
    CompressParams params = {100, 1, 21, 96, 95};
    blob_.data = (uint8_t *)malloc(4);  // emptied on entry
    blob_.size = 4;
    EXPECT_FALSE(compress_run(img, L".jpg", &params, nullptr, &result_, &blob_, err_, kCap));
    EXPECT_STREQ(err_, L"压缩失败：无法在保持可读画质的前提下达到目标体积。");
    EXPECT_EQ(blob_.data, nullptr);
    EXPECT_EQ(blob_.size, 0);
    EXPECT_TRUE(trials_.empty());
    // With 22 the seventh step is refused and the sixth size is kept.
    params.min_side = 22;
    ASSERT_TRUE(compress_run(img, L".jpg", &params, nullptr, &result_, &blob_, err_, kCap)) << err_;
    EXPECT_EQ(result_.width, 26u);
    EXPECT_EQ(result_.quality, 96u);
    EXPECT_EQ(result_.target_missed, 1);
    EXPECT_EQ(result_.downscaled, 1);
    image_free(img);
}

TEST_F(Compress, FailedEncodingsShrinkByTheFallbackOrReportTheCodecMessage)
{
    Image *img = make_gradient(70000, 1, false);  // too wide for a JPEG
    ASSERT_FALSE(run(img, L".jpg", 1000, false));
    EXPECT_EQ(std::wstring(err_).rfind(L"编码失败（错误码 0x", 0), 0u) << err_;
    EXPECT_EQ(qualities(), (std::vector<int>{62, 30}));
    EXPECT_EQ(blob_.size, 0);
    ASSERT_TRUE(run(img, L".jpg", 1000, true, 1)) << err_;
    EXPECT_EQ(trials_[0].bytes, -1);
    EXPECT_EQ(trials_[1].width, 56000u);
    EXPECT_EQ(result_.width, 56000u);
    EXPECT_EQ(result_.quality, 95u);
    EXPECT_EQ(result_.target_missed, 0);
    image_free(img);
}

TEST_F(Compress, NoLimitEncodesOnceAtTheTopQuality)
{
    Image *img = make_gradient(64, 64, false);
    ASSERT_TRUE(run(img, L".jpg", 0)) << err_;
    EXPECT_EQ(qualities(), (std::vector<int>{95}));
    EXPECT_EQ(result_.quality, 95u);
    EXPECT_EQ(result_.target_missed, 0);
    ASSERT_TRUE(run(img, L".jpg", -3)) << err_;
    EXPECT_EQ(trials_.size(), 1u);
    image_free(img);
}

TEST_F(Compress, WebpUsesTheSameSearch)
{
    Image *img = make_gradient(120, 90, false);
    ASSERT_TRUE(run(img, L".webp", 4096)) << err_;
    EXPECT_EQ(qualities(), (std::vector<int>{62, 79, 87, 91, 93, 94, 95}));
    EXPECT_EQ(0, memcmp(blob_.data + 8, "WEBP", 4));
    image_free(img);
}

TEST_F(Compress, RealPhotosEndAtOrUnderTheLimit)
{
    NEEDS_TESTDATA();
    WCHAR err[kCap];
    for (const wchar_t *name : {L"camera/iphone6.jpg", L"camera/canon_sx60_orient6.jpg"}) {
        std::wstring path = testdata_path(name);
        Image *photo = codec_load(path.c_str(), err, kCap);
        ASSERT_NE(photo, nullptr) << err;
        for (int kb : {100, 200, 500}) {
            ASSERT_TRUE(run(photo, L".jpg", kb, true, 64, path.c_str())) << err_;
            EXPECT_EQ(result_.target_missed, 0) << kb;
            EXPECT_LE(result_.bytes, kb * 1024) << kb;
            EXPECT_EQ(result_.bytes, blob_.size);
            EXPECT_GE(result_.quality, 30u);
        }
        image_free(photo);
    }
}

// A photo's size falls much slower than its pixel count. After the first square-root
// shrink the next size is aimed from the two stages seen: a far target is met by the
// third size, and that size is about as large as the limit allows.
TEST_F(Compress, AFarTargetIsMetByTheThirdSizeAimedFromTwoStages)
{
    NEEDS_TESTDATA();
    WCHAR err[kCap];
    Image *photo = codec_load(testdata_path(L"camera/iphone6.jpg").c_str(), err, kCap);
    ASSERT_NE(photo, nullptr) << err;
    for (int kb : {40, 80}) {
        ASSERT_TRUE(run(photo, L".jpg", kb)) << err_;
        std::vector<uint32_t> widths;
        for (const Trial &t : trials_)
            if (widths.empty() || widths.back() != t.width) widths.push_back(t.width);
        EXPECT_LE(widths.size(), 3u) << kb;
        EXPECT_EQ(result_.target_missed, 0) << kb;
        EXPECT_LE(result_.bytes, kb * 1024) << kb;
        // A tenth larger a side would not have fitted even at the lowest quality.
        Image *larger = image_resize(photo, (int)(result_.width * 1.1 + 0.5), (int)(result_.height * 1.1 + 0.5),
                                     kFilterLanczos3);
        EXPECT_GT(encoded_size(larger, L".jpg", 30), kb * 1024) << kb;
        image_free(larger);
    }
    image_free(photo);
}

// Trials reuse the encoder's large buffers and the picture's DCT; each must still
// have the bytes of a fresh encode of the same picture at the same quality, and a
// trial stopped early as sure to miss the limit must really miss it.
TEST_F(Compress, TrialsWithReusedBuffersMatchFreshEncodes)
{
    Image *noise = image_new(1600, 1200);
    uint32_t seed = 12345;
    for (size_t i = 0; i < (size_t)noise->stride * noise->height; ++i) {
        seed = seed * 1103515245u + 12345u;
        noise->data[i] = (i & 3) == 3 ? 255 : (uint8_t)(((seed >> 16) & 0x7F) + (i / noise->stride) / 10);
    }
    struct Seen {
        int quality;
        uint32_t w, h;
        int32_t size;  // or its lower bound
        bool bound_only;
        std::vector<uint8_t> bytes;
    };
    std::vector<Seen> seen;
    compress_set_trial_hook(
        [](const CompressTrial *t, void *ctx) {
            std::vector<uint8_t> bytes;
            if (t->data) bytes.assign(t->data, t->data + t->bytes);
            ((std::vector<Seen> *)ctx)
                ->push_back({t->quality, t->width, t->height, t->bytes, t->bound_only != 0, bytes});
        },
        &seen);
    ASSERT_TRUE(run(noise, L".jpg", 150)) << err_;
    ASSERT_EQ(result_.downscaled, 1);  // several stages, pictures of several sizes
    ASSERT_GE(seen.size(), 8u);
    // Whatever was encoded ahead on another core, the trials come in the order of
    // the binary search, stage by stage.
    int lo = 30, hi = 95;
    for (size_t i = 0; i < seen.size(); ++i) {
        if (i > 0 && (seen[i].w != seen[i - 1].w || lo > hi)) lo = 30, hi = 95;
        int mid = lo + ((hi - lo) >> 1);
        EXPECT_EQ(seen[i].quality, mid) << i;
        if (seen[i].size <= 150 * 1024)
            lo = mid + 1;
        else
            hi = mid - 1;
    }
    const Image *p = noise;
    Image *smaller = nullptr;
    for (const Seen &s : seen) {
        if (s.w != p->width || s.h != p->height) {  // the next stage's picture, made as the run makes it
            Image *next = image_resize(p, (int)s.w, (int)s.h, kFilterLanczos3);
            image_free(smaller);
            p = smaller = next;
        }
        codec_release_buffers();
        Blob fresh = {};
        ASSERT_TRUE(codec_encode_mem(p, L".jpg", s.quality, nullptr, &fresh, err_, kCap)) << err_;
        if (s.bound_only) {
            EXPECT_GT(s.size, 150 * 1024) << s.quality << " " << s.w;
            EXPECT_GE(fresh.size, s.size) << s.quality << " " << s.w;
        } else {
            EXPECT_TRUE(s.bytes == std::vector<uint8_t>(fresh.data, fresh.data + fresh.size)) << s.quality << " " << s.w;
        }
        blob_free(&fresh);
    }
    image_free(smaller);
    image_free(noise);
}

TEST_F(Compress, NullArgumentsFailWithoutAMessage)
{
    Image *img = make_gradient(8, 8, false);
    CompressParams params = {10, 1, 64, 30, 95};
    EXPECT_FALSE(compress_run(nullptr, L".jpg", &params, nullptr, &result_, &blob_, err_, kCap));
    EXPECT_FALSE(compress_run(img, L".jpg", nullptr, nullptr, &result_, &blob_, err_, kCap));
    EXPECT_FALSE(compress_run(img, L".jpg", &params, nullptr, nullptr, &blob_, err_, kCap));
    EXPECT_FALSE(compress_run(img, L".jpg", &params, nullptr, &result_, nullptr, err_, kCap));
    EXPECT_STREQ(err_, L"");
    image_free(img);
}

}  // namespace

// Encoding one picture at many qualities from its kept DCT, or with the faster
// symbol count, must give exactly the bytes of libjpeg's own way, edge blocks,
// transparency and carried metadata included.
TEST_F(Compress, ReusedDctAndFastCountGiveLibjpegsBytes)
{
    NEEDS_TESTDATA();
    struct Case {
        uint32_t w, h;
        bool alpha;
    };
    static constexpr Case kCases[] = {{1, 1, false}, {7, 9, false}, {17, 9, true}, {33, 31, false},
                                      {100, 3, false}, {257, 129, true}, {1280, 801, true}};
    static constexpr int kQualities[] = {1, 30, 62, 95, 100};
    std::wstring exif = testdata_path(L"camera/canon_sx60_orient6.jpg");
    for (const Case &c : kCases) {
        Image *img = noisy(c.w, c.h);
        if (c.alpha) {
            for (uint32_t x = 0; x < c.w; ++x) img->data[(size_t)x * 4 + 3] = (uint8_t)(x * 37);
            img->has_alpha = 1;
        }
        CodecTrials *trials = codec_trials_begin(img, L".jpg", exif.c_str());
        ASSERT_NE(trials, nullptr);
        for (int q : kQualities) {
            Blob reference = {}, fast = {}, reused = {};
            jpeg_gather_set_enabled(0);
            ASSERT_TRUE(codec_encode_mem(img, L".jpg", q, exif.c_str(), &reference, err_, kCap)) << err_;
            jpeg_gather_set_enabled(1);
            ASSERT_TRUE(codec_encode_mem(img, L".jpg", q, exif.c_str(), &fast, err_, kCap)) << err_;
            ASSERT_TRUE(codec_trials_encode(trials, q, &reused, err_, kCap)) << err_;
            std::vector<uint8_t> want(reference.data, reference.data + reference.size);
            EXPECT_EQ(want, std::vector<uint8_t>(fast.data, fast.data + fast.size)) << c.w << "x" << c.h << " q" << q;
            EXPECT_EQ(want, std::vector<uint8_t>(reused.data, reused.data + reused.size))
                << c.w << "x" << c.h << " q" << q;
            blob_free(&reference);
            blob_free(&fast);
            blob_free(&reused);
        }
        codec_trials_end(trials);
        image_free(img);
    }
}

// Trials sure to miss are not written, yet the next stage's size still comes from
// the smallest real encoding of the stage, as if every trial had been written.
TEST_F(Compress, AStageMissedByBoundsShrinksByItsSmallestRealSize)
{
    Image *img = noisy(900, 700);
    int32_t smallest = encoded_size(img, L".jpg", 30);
    int kb = smallest / 4 / 1024;
    ASSERT_TRUE(run(img, L".jpg", kb)) << err_;
    size_t first_stage = 0, bound_only = 0;
    for (; first_stage < trials_.size() && trials_[first_stage].width == 900; ++first_stage)
        bound_only += trials_[first_stage].bound_only;
    EXPECT_EQ(first_stage, 6u);  // 62 45 37 33 31 30
    EXPECT_GE(bound_only, 5u);
    ASSERT_LT(first_stage, trials_.size());
    double f = std::sqrt(kb * 1024.0 / smallest);
    EXPECT_EQ(trials_[first_stage].width, (uint32_t)(900 * f + 0.5));
    EXPECT_EQ(trials_[first_stage].height, (uint32_t)(700 * f + 0.5));
    image_free(img);
}

// The early stop trusts a lower bound of the file's size: it must never pass the
// real size, and should be close enough to spare most writing.
TEST_F(Compress, TheEarlyStopBoundIsBelowTheRealSizeAndClose)
{
    Image *pictures[] = {noisy(300, 200), blocky(640, 481)};
    for (Image *img : pictures) {
        CodecTrials *trials = codec_trials_begin(img, L".jpg", nullptr);
        for (int q : {30, 62, 95}) {
            Blob blob = {};
            int64_t floor = -1;
            ASSERT_EQ(codec_trials_encode_within(trials, q, 0, &blob, &floor, err_, kCap), 2);
            EXPECT_EQ(blob.data, nullptr);
            int32_t size = encoded_size(img, L".jpg", q);
            EXPECT_LE(floor, size) << q;
            EXPECT_GE(floor, size * 0.95) << q;
            // At the bound itself the encoding is made in full.
            ASSERT_EQ(codec_trials_encode_within(trials, q, floor, &blob, &floor, err_, kCap), 1);
            EXPECT_EQ(blob.size, size);
            blob_free(&blob);
        }
        codec_trials_end(trials);
        image_free(img);
    }
}

// Helper threads of a compression run, of the JPEG trial preparation and of a
// resize: started from a background thread they stay in the background, and when
// the system gives no thread the caller does the work itself with the same bytes.
std::vector<uint8_t> helped_work(const Image *img)
{
    CompressParams params = {1, 0, 64, 30, 95};
    CompressResult result = {};
    Blob tif = {}, jpg = {};
    CodecTrials *trials = codec_trials_begin(img, L".jpg", nullptr);
    EXPECT_TRUE(compress_run(img, L".tif", &params, nullptr, &result, &tif, nullptr, 0));
    EXPECT_TRUE(codec_trials_encode(trials, 80, &jpg, nullptr, 0));
    codec_trials_end(trials);
    image_resize_set_threads(2);
    Image *small = image_resize(img, 700, 600, kFilterLanczos3);
    image_resize_set_threads(0);
    std::vector<uint8_t> out(tif.data, tif.data + tif.size);
    out.insert(out.end(), jpg.data, jpg.data + jpg.size);
    out.insert(out.end(), small->data, small->data + (size_t)small->stride * small->height);
    blob_free(&tif);
    blob_free(&jpg);
    image_free(small);
    return out;
}

std::vector<int> g_helper_priorities;  // each helper's, as it starts
std::mutex g_helper_lock;

TEST(CompressHelpers, StartAtTheCallersPriorityAndFallBackToOneThread)
{
    static Image *img = blocky(1200, 1000);
    static std::vector<uint8_t> out[2];
    worker_set_start_hook([] {
        std::lock_guard<std::mutex> hold(g_helper_lock);
        g_helper_priorities.push_back(GetThreadPriority(GetCurrentThread()));
    });
    for (int refused = 0; refused < 2; ++refused) {
        worker_refuse_starts(refused);
        HANDLE t = CreateThread(nullptr, 0, [](void *refused) -> DWORD {
            SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_LOWEST);
            out[refused != nullptr] = helped_work(img);
            return 0;
        }, (void *)(intptr_t)refused, 0, nullptr);
        WaitForSingleObject(t, INFINITE);
        CloseHandle(t);
    }
    worker_refuse_starts(false);
    worker_set_start_hook(nullptr);
    EXPECT_EQ(g_helper_priorities, std::vector<int>(3, THREAD_PRIORITY_LOWEST));  // none when refused
    EXPECT_TRUE(!out[0].empty() && out[0] == out[1]);
    codec_shutdown();
    image_free(img);
}

// The source file is kept as it is only when it already answers: the target's
// format, the picture's size (either way round) and within the limit.
TEST_F(Compress, AFileThatAlreadyFitsIsKeptAsItIs)
{
    std::wstring dir = temp_dir_create(L"keep"), jpg = dir + L"\\a.jpg";
    Image *img = make_gradient(320, 240, false);
    ASSERT_TRUE(codec_save(img, jpg.c_str(), 97, nullptr, err_, kCap)) << err_;  // above any trial
    std::vector<uint8_t> file = read_file_bytes(jpg);
    Image *turned = image_new(240, 320), *smaller = image_new(160, 120);
    struct Case {
        const char *what;
        const Image *picture;
        const WCHAR *ext;
        int kb;
        const WCHAR *keep;
        bool kept;
    } cases[] = {
        {"fits", img, L".JPEG", 500, jpg.c_str(), true},
        {"turned by orientation", turned, L".jpg", 500, jpg.c_str(), true},
        {"too big", img, L".jpg", (int)file.size() / 1024 - 1, jpg.c_str(), false},
        {"other format", img, L".webp", 500, jpg.c_str(), false},
        {"other size", smaller, L".jpg", 500, jpg.c_str(), false},
        {"changed picture", img, L".jpg", 500, nullptr, false},
        {"no limit", img, L".jpg", 0, jpg.c_str(), false},
    };
    for (const Case &c : cases) {
        CompressParams params = {c.kb, 1, 64, 30, 95, c.keep};
        ASSERT_TRUE(compress_run(c.picture, c.ext, &params, nullptr, &result_, &blob_, err_, kCap)) << c.what;
        EXPECT_EQ(std::vector<uint8_t>(blob_.data, blob_.data + blob_.size) == file, c.kept) << c.what;
        EXPECT_EQ(result_.kept_source, c.kept ? 1 : 0) << c.what;
        EXPECT_TRUE(c.kb <= 0 || result_.bytes <= c.kb * 1024) << c.what;
    }
    image_free(img);
    image_free(turned);
    image_free(smaller);
    temp_dir_remove(dir);
}
