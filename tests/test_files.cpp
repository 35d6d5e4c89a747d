// The folder queue over real folders, natural order and thumbnail slots.
#include <gtest/gtest.h>
#include "files/files.h"
#include "app/nav.h"
#include "shell/modal.h"
#include "support/test_support.h"
#include <gdiplus.h>
#include <shlwapi.h>
#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>

namespace {

struct AppDeleter {
    void operator()(App *app) const
    {
        thumbs_release_all(app);
        free(app);
    }
};
using AppPtr = std::unique_ptr<App, AppDeleter>;

AppPtr new_app()
{
    App *app = (App *)calloc(1, sizeof(App));
    app->queue_index = -1;
    app->dpi = 96;
    return AppPtr(app);
}

class Queue : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = temp_dir_create(L"queue");
        app_ = new_app();
    }
    void TearDown() override { temp_dir_remove(dir_); }
    std::wstring touch(const std::wstring &name)
    {
        std::wstring path = dir_ + L"\\" + name;
        write_file_bytes(path, "x", 1);
        return path;
    }
    std::wstring name_at(int i) const { return PathFindFileNameW(app_->queue_paths[i]); }
    std::wstring dir_;
    AppPtr app_;
};

int cmp(const wchar_t *a, const wchar_t *b)
{
    int r = que_cmp(a, b);
    return r < 0 ? -1 : r > 0 ? 1 : 0;
}

TEST(NaturalOrder, NumbersByValueAndCodeUnitsOtherwise)
{
    EXPECT_EQ(cmp(L"img2.jpg", L"img10.jpg"), -1);
    EXPECT_EQ(cmp(L"img10.jpg", L"img2.jpg"), 1);
    EXPECT_EQ(cmp(L"x9.png", L"x10.png"), -1);
    EXPECT_EQ(cmp(L"a.jpg", L"a1.jpg"), -1);  // '.' sorts before '1'
    EXPECT_EQ(cmp(L"img007.jpg", L"img7.jpg"), 0);
    EXPECT_EQ(cmp(L"Zebra.jpg", L"apple.jpg"), -1);  // no case folding
    EXPECT_EQ(cmp(L"B.jpg", L"a.jpg"), -1);
    EXPECT_EQ(cmp(L"a.jpg", L"a.jpg"), 0);
    EXPECT_EQ(cmp(L"a", L"ab"), -1);
    EXPECT_EQ(cmp(L"ab", L"a"), 1);
    EXPECT_EQ(cmp(L"pic99z", L"pic100a"), -1);
    EXPECT_EQ(cmp(L"pic0", L"pic"), 1);
    EXPECT_EQ(cmp(L"v1.10.jpg", L"v1.9.jpg"), 1);
    // Only the file-name part counts.
    EXPECT_EQ(cmp(L"C:\\zzz\\a2.jpg", L"C:\\aaa\\a10.jpg"), -1);
}

TEST(PictureExtensions, TheFourteenKnownOnesInAnyCase)
{
    for (const wchar_t *p : {L"a.jpg", L"b.JPEG", L"c.jpe", L"photo.JFIF", L"d.png", L"e.bmp", L"f.gif", L"g.tif",
                             L"h.TIFF", L"pic.Webp", L"C:\\x.y\\z.png", L"photo.heic", L"i.HEIF", L"j.hif",
                             L"k.Avif"})
        EXPECT_EQ(files_is_image_ext(p), 1) << p;
    for (const wchar_t *p : {L"photo.heic.txt", L"archive.tar.gz", L"noext", L"icon.ico", L"C:\\x.jpg\\name", L""})
        EXPECT_EQ(files_is_image_ext(p), 0) << p;
    EXPECT_EQ(files_is_image_ext(nullptr), 0);
}

TEST(QueueAdd, DuplicatesIgnoreCaseAndTheQueueHoldsSixtyFour)
{
    AppPtr app = new_app();
    EXPECT_EQ(files_queue_add(app.get(), L"C:\\Pics\\a.JPG"), 0);
    EXPECT_EQ(files_queue_add(app.get(), L"c:\\pics\\A.jpg"), 0);
    EXPECT_STREQ(app->queue_paths[0], L"C:\\Pics\\a.JPG");  // the first spelling stays
    EXPECT_EQ(files_queue_add(app.get(), L""), -1);
    EXPECT_EQ(files_queue_add(app.get(), nullptr), -1);
    for (int i = 1; i < 64; ++i)
        EXPECT_EQ(files_queue_add(app.get(), (L"C:\\p\\" + std::to_wstring(i) + L".png").c_str()), i);
    EXPECT_EQ(files_queue_add(app.get(), L"C:\\p\\one-more.png"), -1);
    EXPECT_EQ(app->queue_count, 64);
    EXPECT_EQ(files_queue_add(app.get(), L"C:\\P\\63.PNG"), 63);  // an existing entry is still found
    EXPECT_EQ(files_path_in_queue(app.get(), L"c:\\p\\17.png"), 17);
    EXPECT_EQ(files_path_in_queue(app.get(), L"c:\\p\\99.png"), -1);
}

TEST(QueueAdd, LongPathsAreCutTo259Units)
{
    AppPtr app = new_app();
    std::wstring longer(300, L'x');
    ASSERT_EQ(files_queue_add(app.get(), longer.c_str()), 0);
    EXPECT_EQ(wcslen(app->queue_paths[0]), 259u);
    EXPECT_EQ(files_queue_add(app.get(), longer.c_str()), 0);  // the same long path again
    EXPECT_EQ(app->queue_count, 1);
}

TEST_F(Queue, ScanSortsTheFolderAndFindsTheOpenedFile)
{
    for (const wchar_t *n : {L"img10.jpg", L"img2.jpg", L"img1.png", L"Zebra.gif", L"apple.webp", L"notes.txt",
                             L"raw.heic", L"noext", L"raw.txt"})
        touch(n);
    CreateDirectoryW((dir_ + L"\\sub.jpg").c_str(), nullptr);
    std::wstring opened = dir_ + L"\\img2.jpg";
    EXPECT_EQ(files_dir_scan(app_.get(), opened.c_str()), 6);
    std::vector<std::wstring> names;
    for (int i = 0; i < app_->queue_count; ++i) names.push_back(name_at(i));
    EXPECT_EQ(names, (std::vector<std::wstring>{L"Zebra.gif", L"apple.webp", L"img1.png", L"img2.jpg", L"img10.jpg",
                                                L"raw.heic"}));
    EXPECT_EQ(app_->queue_index, 3);
    EXPECT_STREQ(app_->queue_dir, dir_.c_str());
}

TEST_F(Queue, TheOpenedFileIsNotAddedTwiceWhateverItsCase)
{
    touch(L"a.jpg");
    touch(L"b.jpg");
    std::wstring opened = dir_ + L"\\A.JPG";
    EXPECT_EQ(files_dir_scan(app_.get(), opened.c_str()), 2);
    EXPECT_EQ(name_at(app_->queue_index), L"A.JPG");  // the opened spelling is kept
}

TEST_F(Queue, AHundredPicturesGiveSixtyThree)
{
    for (int i = 0; i < 100; ++i) touch(L"p" + std::to_wstring(i) + L".jpg");
    std::wstring opened = dir_ + L"\\p99.jpg";
    EXPECT_EQ(files_dir_scan(app_.get(), opened.c_str()), 63);
    ASSERT_GE(app_->queue_index, 0);
    EXPECT_EQ(name_at(app_->queue_index), L"p99.jpg");
    for (int i = 1; i < app_->queue_count; ++i)
        EXPECT_LE(que_cmp(app_->queue_paths[i - 1], app_->queue_paths[i]), 0) << i;
    // Later additions may fill the last slot, and no more.
    EXPECT_EQ(files_queue_add(app_.get(), L"C:\\elsewhere\\x.png"), 63);
    EXPECT_EQ(files_queue_add(app_.get(), L"C:\\elsewhere\\y.png"), -1);
}

TEST_F(Queue, LeadingZerosAndMixedCase)
{
    for (const wchar_t *n : {L"shot010.jpg", L"shot9.jpg", L"Shot1.jpg", L"shot0001.jpg"}) touch(n);
    files_dir_scan(app_.get(), (dir_ + L"\\shot9.jpg").c_str());
    ASSERT_EQ(app_->queue_count, 4);
    EXPECT_EQ(name_at(0), L"Shot1.jpg");
    EXPECT_EQ(name_at(1), L"shot0001.jpg");
    EXPECT_EQ(name_at(2), L"shot9.jpg");
    EXPECT_EQ(name_at(3), L"shot010.jpg");
}

TEST_F(Queue, UnusablePathsLeaveTheQueueEmpty)
{
    touch(L"a.jpg");
    files_dir_scan(app_.get(), (dir_ + L"\\a.jpg").c_str());
    EXPECT_EQ(app_->queue_count, 1);
    EXPECT_EQ(files_dir_scan(app_.get(), L"bare.jpg"), 0);
    EXPECT_EQ(app_->queue_count, 0);
    EXPECT_EQ(app_->queue_index, -1);
    EXPECT_STREQ(app_->queue_dir, L"");
    EXPECT_EQ(files_dir_scan(app_.get(), L""), 0);
    EXPECT_EQ(files_dir_scan(app_.get(), nullptr), 0);
    // A folder that cannot be listed leaves only the opened file.
    EXPECT_EQ(files_dir_scan(app_.get(), (dir_ + L"\\gone\\x.jpg").c_str()), 1);
    EXPECT_EQ(app_->queue_index, 0);
}

TEST_F(Queue, OpeningSeveralAppendsOtherFoldersAfterTheSortedOnes)
{
    touch(L"b2.jpg");
    touch(L"b10.jpg");
    std::wstring other_dir = temp_dir_create(L"queue_other");
    std::wstring elsewhere = other_dir + L"\\a.png";
    write_file_bytes(elsewhere, "x", 1);
    std::wstring first = dir_ + L"\\b10.jpg";
    WCHAR *paths[2] = {&first[0], &elsewhere[0]};
    // The files are not real pictures: the failed load's warning is answered here.
    static int warnings;
    warnings = 0;
    modal_set_answerer([](HWND, const WCHAR *, const WCHAR *, UINT) { return ++warnings, IDOK; });
    nav_open_many(app_.get(), paths, 2);
    modal_set_answerer(nullptr);
    EXPECT_EQ(warnings, 1);
    ASSERT_EQ(app_->queue_count, 3);
    EXPECT_EQ(name_at(0), L"b2.jpg");
    EXPECT_EQ(name_at(1), L"b10.jpg");
    EXPECT_EQ(name_at(2), L"a.png");
    EXPECT_EQ(app_->queue_index, 1);
    EXPECT_STREQ(app_->status, L"已加入 2 个文件（当前目录共 3 张，按 ← → 翻看）");
    app_load_no_queue(app_.get(), nullptr);
    temp_dir_remove(other_dir);
}

class Thumbs : public ::testing::Test {
protected:
    void SetUp() override
    {
        Gdiplus::GdiplusStartupInput input;
        ASSERT_EQ(Gdiplus::GdiplusStartup(&token_, &input, nullptr), Gdiplus::Ok);
        app_ = new_app();
    }
    void TearDown() override
    {
        app_.reset();
        Gdiplus::GdiplusShutdown(token_);
    }
    GpBitmap *bitmap()
    {
        GpBitmap *b = nullptr;
        Gdiplus::DllExports::GdipCreateBitmapFromScan0(8, 8, 0, PixelFormat32bppARGB, nullptr, &b);
        return b;
    }
    ULONG_PTR token_ = 0;
    AppPtr app_;
};

TEST_F(Thumbs, ReleasingClearsTheSlotAndItsMarkers)
{
    for (int i : {0, 5, 63}) {
        app_->thumb_bitmap[i] = bitmap();
        ASSERT_NE(app_->thumb_bitmap[i], nullptr);
        app_->thumb_ready_a[i] = app_->thumb_ready_b[i] = 1;
        app_->thumb_failed[i] = 1;
    }
    thumbs_release_one(app_.get(), 5);
    EXPECT_EQ(app_->thumb_bitmap[5], nullptr);
    EXPECT_EQ(app_->thumb_ready_a[5] + app_->thumb_ready_b[5] + app_->thumb_failed[5], 0);
    EXPECT_NE(app_->thumb_bitmap[0], nullptr);
    thumbs_release_one(app_.get(), -1);  // ignored
    thumbs_release_one(app_.get(), 64);
    thumbs_release_all(app_.get());
    for (int i = 0; i < kQueueMax; ++i) {
        EXPECT_EQ(app_->thumb_bitmap[i], nullptr);
        EXPECT_EQ(app_->thumb_ready_a[i] + app_->thumb_ready_b[i] + app_->thumb_failed[i], 0);
    }
}

TEST_F(Thumbs, AScanReleasesEveryThumbnail)
{
    std::wstring dir = temp_dir_create(L"thumbscan");
    write_file_bytes(dir + L"\\a.jpg", "x", 1);
    app_->thumb_bitmap[3] = bitmap();
    app_->thumb_ready_a[3] = 1;
    files_dir_scan(app_.get(), (dir + L"\\a.jpg").c_str());
    EXPECT_EQ(app_->thumb_bitmap[3], nullptr);
    EXPECT_EQ(app_->thumb_ready_a[3], 0);
    temp_dir_remove(dir);
}

}  // namespace
