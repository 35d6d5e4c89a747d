// The picture cache (budget, least recently used, stale files) and the decode
// worker that fills it.
#include <gtest/gtest.h>
#include "codec/codec.h"
#include "files/decoder.h"
#include "files/pic_cache.h"
#include "support/test_support.h"
#include <set>
#include <string>

namespace {

struct CacheGuard {
    PicCache c;
    explicit CacheGuard(size_t budget) { pic_cache_init(&c, budget); }
    ~CacheGuard() { pic_cache_free(&c); }
};

size_t picture_bytes(uint32_t w, uint32_t h)
{
    return (size_t)w * h * 4 + sizeof(Image) + sizeof(PicEntry);
}

TEST(PicCache, StaysWithinItsBudgetDroppingTheLeastRecentlyUsed)
{
    CacheGuard g(3 * picture_bytes(100, 100));
    ASSERT_EQ(pic_cache_put(&g.c, L"a", 1, image_new(100, 100)), 1);
    ASSERT_EQ(pic_cache_put(&g.c, L"b", 1, image_new(100, 100)), 1);
    ASSERT_EQ(pic_cache_put(&g.c, L"c", 1, image_new(100, 100)), 1);
    Image *img;
    ASSERT_EQ(pic_cache_find(&g.c, L"A", 1, &img), 1);  // a is used again: b is now the oldest
    ASSERT_EQ(pic_cache_put(&g.c, L"d", 1, image_new(100, 100)), 1);
    EXPECT_LE(g.c.bytes, g.c.budget);
    EXPECT_EQ(pic_cache_has(&g.c, L"b"), 0);
    for (const wchar_t *kept : {L"a", L"c", L"d"}) EXPECT_EQ(pic_cache_has(&g.c, kept), 1) << kept;
    // A picture larger than the whole budget is not kept, and evicts nothing.
    EXPECT_EQ(pic_cache_put(&g.c, L"huge", 1, image_new(300, 300)), 0);
    EXPECT_EQ(g.c.count, 3);
    // A smaller budget frees at once.
    pic_cache_set_budget(&g.c, picture_bytes(100, 100));
    EXPECT_EQ(g.c.count, 1);
    EXPECT_EQ(pic_cache_has(&g.c, L"d"), 1);
    EXPECT_EQ(g.c.bytes, picture_bytes(100, 100));
}

TEST(PicCache, FailedDecodesCountAndStaleEntriesGo)
{
    CacheGuard g(100 * sizeof(PicEntry));
    for (int i = 0; i < 500; ++i) pic_cache_put(&g.c, std::to_wstring(i).c_str(), 1, nullptr);
    EXPECT_LE(g.c.count, 100);  // records of failures are bounded too
    Image *img = (Image *)1;
    ASSERT_EQ(pic_cache_find(&g.c, L"499", 1, &img), 1);
    EXPECT_EQ(img, nullptr);

    pic_cache_set_budget(&g.c, 10 * picture_bytes(10, 10));
    pic_cache_put(&g.c, L"x", 42, image_new(10, 10));
    EXPECT_EQ(pic_cache_find(&g.c, L"x", 43, &img), 0);  // the file changed on disk
    EXPECT_EQ(pic_cache_has(&g.c, L"x"), 0);
    pic_cache_put(&g.c, L"y", 42, image_new(10, 10));
    EXPECT_EQ(pic_cache_find(&g.c, L"y", 0, &img), 1);  // 0: no check
    Image *taken = pic_cache_take(&g.c, L"y", 42);
    ASSERT_NE(taken, nullptr);
    EXPECT_EQ(taken->width, 10u);
    EXPECT_EQ(pic_cache_has(&g.c, L"y"), 0);
    image_free(taken);
    pic_cache_put(&g.c, L"z", 42, image_new(10, 10));
    pic_cache_drop(&g.c, L"Z");
    EXPECT_EQ(pic_cache_has(&g.c, L"z"), 0);
}

TEST(PicCache, FileStampFollowsSizeAndTime)
{
    std::wstring dir = temp_dir_create(L"stamp");
    std::wstring path = dir + L"\\f.bin";
    write_file_bytes(path, "abc", 3);
    uint64_t first = pic_file_stamp(path.c_str());
    EXPECT_NE(first, 0u);
    EXPECT_EQ(pic_file_stamp(path.c_str()), first);
    write_file_bytes(path, "abcd", 4);
    EXPECT_NE(pic_file_stamp(path.c_str()), first);
    EXPECT_EQ(pic_file_stamp((dir + L"\\missing").c_str()), 0u);
    temp_dir_remove(dir);
}

class Worker : public ::testing::Test {
protected:
    static constexpr UINT kMsg = WM_APP + 7;
    void SetUp() override
    {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        dir_ = temp_dir_create(L"decoder");
        hwnd_ = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
        for (int i = 0; i < 6; ++i) {
            // p2 is large: while it decodes, the test replaces the list that follows it,
            // however slowly the test thread runs on a loaded machine.
            Image *img = i == 2 ? make_gradient(3000, 2000, false) : make_gradient(200 + 10 * i, 100, false);
            WCHAR err[200];
            ASSERT_EQ(codec_save(img, path(i).c_str(), 90, nullptr, err, 200), 1) << err;
            image_free(img);
        }
    }
    void TearDown() override
    {
        DestroyWindow(hwnd_);
        temp_dir_remove(dir_);
        CoUninitialize();
    }
    std::wstring path(int i) { return dir_ + L"\\p" + std::to_wstring(i) + L".png"; }
    // Results until none arrives for ms; their paths and sizes.
    std::set<std::wstring> collect(DWORD ms, std::set<uint32_t> *widths = nullptr)
    {
        std::set<std::wstring> got;
        DWORD last = GetTickCount();
        while (GetTickCount() - last < ms) {
            MSG m;
            if (!PeekMessageW(&m, hwnd_, kMsg, kMsg, PM_REMOVE)) {
                Sleep(10);
                continue;
            }
            auto *d = (Decoded *)m.lParam;
            got.insert(d->path);
            if (widths && d->image) widths->insert(d->image->width);
            EXPECT_EQ(d->stamp, pic_file_stamp(d->path));
            decoded_free(d);
            last = GetTickCount();
        }
        return got;
    }
    std::wstring dir_;
    HWND hwnd_ = nullptr;
};

TEST_F(Worker, DecodesWhatIsWantedAndDropsWhatNoLongerIs)
{
    Decoder *d = decoder_start(hwnd_, kMsg, 0);
    ASSERT_NE(d, nullptr);
    std::wstring p[6];
    const WCHAR *list[6];
    for (int i = 0; i < 6; ++i) p[i] = path(i), list[i] = p[i].c_str();
    std::set<uint32_t> widths;
    decoder_want(d, list, 2, 1);
    EXPECT_EQ(collect(1500, &widths), (std::set<std::wstring>{p[0], p[1]}));
    EXPECT_EQ(widths, (std::set<uint32_t>{200, 210}));

    // A new list replaces the old one before the worker gets to it.
    decoder_want(d, list + 2, 2, 2);
    decoder_want(d, list + 4, 2, 3);
    std::set<std::wstring> got = collect(5000);
    EXPECT_EQ(got.count(p[4]) + got.count(p[5]), 2u);
    EXPECT_EQ(got.count(p[3]), 0u);  // p[2] may have been under way already; p[3] never starts
    decoder_stop(d);
}

TEST_F(Worker, ThumbnailsAtTheirSizeAndFailuresReported)
{
    Decoder *d = decoder_start(hwnd_, kMsg, 48);
    ASSERT_NE(d, nullptr);
    std::wstring broken = dir_ + L"\\broken.jpg";
    write_file_bytes(broken, "not a picture", 13);
    std::wstring p0 = path(0);
    const WCHAR *list[] = {p0.c_str(), broken.c_str()};
    decoder_want(d, list, 2, 1);
    std::set<uint32_t> widths;
    EXPECT_EQ(collect(1500, &widths).size(), 2u);
    EXPECT_EQ(widths, (std::set<uint32_t>{48}));  // the failure carries no picture
    decoder_stop(d);
}

}  // namespace
