// Paging, the slideshow and delete to the recycle bin, in the real main window
// over a real folder of pictures.
#include <gtest/gtest.h>
#include "codec/codec.h"
#include "app/commands.h"
#include "app/nav.h"
#include "files/browse.h"
#include "files/files.h"
#include "shell/modal.h"
#include "support/test_support.h"
#include "support/trash.h"
#include "view/canvas.h"
#include <gdiplus.h>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

int g_boxes;
std::wstring g_box;  // caption, then text, of the last message box
std::function<int()> g_box_answer;

int answer_box(HWND, const WCHAR *text, const WCHAR *caption, UINT flags)
{
    ++g_boxes;
    g_box = std::wstring(caption) + L"|" + text;
    EXPECT_TRUE(wcscmp(caption, L"删除图片") || flags == (MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2));
    return g_box_answer ? g_box_answer() : IDOK;
}

void tick() { play_proc(g_app.hwnd, WM_TIMER, kTimerSlideshow, 0); }

// Runs the window's messages until done() or ms pass; done()'s last answer.
bool pump_until(const std::function<bool()> &done, DWORD ms = 10000)
{
    DWORD start = GetTickCount();
    MSG msg;
    while (!done() && GetTickCount() - start < ms) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    }
    return done();
}

class Nav : public ::testing::Test {
protected:
    void SetUp() override
    {
        Gdiplus::GdiplusStartupInput input;
        ASSERT_EQ(Gdiplus::GdiplusStartup(&g_gdipToken, &input, nullptr), Gdiplus::Ok);
        g_boxes = 0;
        g_box_answer = [] { return IDYES; };
        modal_set_answerer(answer_box);
        app_init_record(&g_app, GetModuleHandleW(nullptr));
        ASSERT_TRUE(app_register_class(g_app.instance));
        ASSERT_NE(app_create_main_window(&g_app), nullptr);
        dir_ = temp_dir_create(L"nav");
    }
    void TearDown() override
    {
        DestroyWindow(g_app.hwnd);
        modal_set_answerer(nullptr);
        for (int i = 0; i < 5; ++i) trash_take_back(name(i));
        temp_dir_remove(dir_);
        Gdiplus::GdiplusShutdown(g_gdipToken);
    }
    // Unique names, so that the recycle bin never holds two of them.
    std::wstring name(int i)
    {
        return L"nv" + std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(i) + L".png";
    }
    std::wstring path(int i) { return dir_ + L"\\" + name(i); }
    void make_folder(int count, int open_at)
    {
        Image *img = make_gradient(24, 16, false);
        WCHAR err[300];
        for (int i = 0; i < count; ++i) ASSERT_TRUE(codec_save(img, path(i).c_str(), 90, nullptr, err, 300));
        image_free(img);
        app_load(&g_app, path(open_at).c_str());
        ASSERT_TRUE(pump_until([] { return !browse_listing(&g_app); }));
        ASSERT_EQ(g_app.queue.count, count);
    }
    std::wstring title()
    {
        WCHAR text[400];
        GetWindowTextW(g_app.hwnd, text, 400);
        return text;
    }
    std::wstring dir_;
};

TEST_F(Nav, StepAndGotoWrapAroundTheQueue)
{
    make_folder(5, 0);
    struct Case { int from; bool go; int arg; int want; } cases[] = {
        {4, false, 1, 0}, {0, false, -1, 4}, {3, false, 2, 0}, {1, false, -6, 0}, {2, true, 7, 2}, {0, true, -1, 4},
    };
    for (const Case &c : cases) {
        ASSERT_EQ(nav_goto(&g_app, c.from), 1);
        EXPECT_EQ(c.go ? nav_goto(&g_app, c.arg) : nav_step(&g_app, c.arg), 1);
        EXPECT_EQ(g_app.queue_index, c.want) << c.from << (c.go ? " goto " : " step ") << c.arg;
        EXPECT_EQ(title(), name(c.want) + L" - Veldmoor");
    }
    Image *before = g_app.image;
    nav_goto(&g_app, g_app.queue_index);  // already shown: not loaded again
    EXPECT_EQ(g_app.image, before);
}

TEST_F(Nav, TooFewPicturesOnlySetTheStatus)
{
    EXPECT_EQ(nav_step(&g_app, 1), 0);
    EXPECT_STREQ(g_app.status, L"还没有打开图片");
    EXPECT_EQ(nav_goto(&g_app, 0), 0);
    make_folder(1, 0);
    EXPECT_EQ(nav_step(&g_app, 1), 0);
    EXPECT_STREQ(g_app.status, L"这个目录里只有这一张图片");
    EXPECT_EQ(nav_play_toggle(&g_app), 0);
    EXPECT_STREQ(g_app.status, L"这个目录里只有一张图片，没什么可放的");
    EXPECT_EQ(g_app.play_timer, 0u);
    g_app.crop_mode = 1;  // the keys wait while cropping
    SendMessageW(g_app.hwnd, WM_KEYDOWN, VK_DELETE, 0);
    EXPECT_EQ(g_boxes, 0);
}

TEST_F(Nav, SlideshowStepsOnItsTimerWaitsForModalWindowsAndStops)
{
    make_folder(5, 3);
    SendMessageW(g_app.hwnd, WM_KEYDOWN, VK_SPACE, 0);
    EXPECT_STREQ(g_app.status, L"幻灯片播放中（每 2 秒一张，再点一次停止）");
    ASSERT_EQ(g_app.play_timer, kTimerSlideshow);
    DWORD start = GetTickCount();
    for (MSG msg; g_app.queue_index == 3 && GetTickCount() - start < 5000;) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    }
    EXPECT_EQ(g_app.queue_index, 4);
    EXPECT_GE(GetTickCount() - start, 2000u);
    modal_enter();
    tick();
    modal_leave();
    EXPECT_EQ(g_app.queue_index, 4);
    tick();
    EXPECT_EQ(g_app.queue_index, 0);  // from the last to the first

    // A picture that fails opens a box whose loop runs later ticks: they must not load on.
    ASSERT_TRUE(write_file_bytes(path(1), "\x89PNG\r\n\x1a\n\0\0", 10));
    g_box_answer = [] { tick(); tick(); return IDOK; };
    tick();
    EXPECT_EQ(g_boxes, 1);
    EXPECT_EQ(g_app.queue_index, 1);

    EXPECT_EQ(nav_play_toggle(&g_app), 1);
    EXPECT_STREQ(g_app.status, L"已停止播放");
    EXPECT_EQ(g_app.play_timer, 0u);
    EXPECT_FALSE(KillTimer(g_app.hwnd, kTimerSlideshow));  // already gone
    tick();
    EXPECT_EQ(g_app.queue_index, 1);
}

TEST_F(Nav, DeleteAsksAndYesRecyclesAndShowsTheNeighbour)
{
    make_folder(5, 2);
    g_box_answer = [] { return IDNO; };
    SendMessageW(g_app.hwnd, WM_KEYDOWN, VK_DELETE, 0);
    EXPECT_EQ(g_box, L"删除图片|要把「" + name(2) + L"」放进回收站吗？\n\n（可以在回收站里还原）");
    EXPECT_TRUE(file_exists(path(2)));
    EXPECT_EQ(g_app.queue.count, 5);
    EXPECT_NE(g_app.image, nullptr);

    g_box_answer = [] { return IDYES; };
    struct Case { int del, show; } cases[] = {{2, 3}, {4, 3}, {0, 1}};
    for (const Case &c : cases) {
        make_folder(5, c.del);
        ASSERT_EQ(nav_delete_current(&g_app), 1);
        EXPECT_TRUE(trash_holds(name(c.del))) << c.del;
        trash_take_back(name(c.del));
        EXPECT_EQ(g_app.queue.count, 4);
        EXPECT_EQ(title(), name(c.show) + L" - Veldmoor");
        EXPECT_EQ(std::wstring(g_app.status), L"已把 " + name(c.del) + L" 放进回收站（剩 4 张）");
    }
}

TEST_F(Nav, DeletingTheOnlyPictureClearsTheWindow)
{
    make_folder(1, 0);
    ASSERT_EQ(nav_delete_current(&g_app), 1);
    EXPECT_TRUE(trash_holds(name(0)));
    EXPECT_EQ(g_app.queue_index, -1);
    EXPECT_EQ(g_app.image, nullptr);
    EXPECT_EQ(title(), L"Veldmoor");
    EXPECT_EQ(std::wstring(g_app.status), L"已删除 " + name(0) + L"，目录里没有其它图片了");
    EXPECT_EQ(nav_delete_current(&g_app), 0);
    EXPECT_STREQ(g_app.status, L"还没有打开图片");
}

// Whatever moves while the question is open, the file it names is the one that goes.
TEST_F(Nav, DeleteRecyclesTheFileThatWasAskedAbout)
{
    make_folder(5, 1);
    ASSERT_EQ(nav_play_toggle(&g_app), 1);
    g_box_answer = [] { tick(); return IDYES; };
    ASSERT_EQ(nav_delete_current(&g_app), 1);
    EXPECT_TRUE(trash_holds(name(1)));
    EXPECT_TRUE(file_exists(path(2)));
    EXPECT_STREQ(g_app.file_name, name(2).c_str());

    // Another picture shown meanwhile (a hand-over): it stays on screen.
    g_box_answer = [] { nav_goto(&g_app, 3); return IDYES; };
    ASSERT_EQ(nav_delete_current(&g_app), 1);
    EXPECT_TRUE(trash_holds(name(2)));
    EXPECT_STREQ(g_app.file_name, name(4).c_str());
    EXPECT_EQ(g_app.queue_index, 2);
}

TEST_F(Nav, FailedRecycleKeepsTheFileAndTheQueue)
{
    make_folder(5, 3);
    HANDLE held = CreateFileW(path(3).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(nav_delete_current(&g_app), 0);
    CloseHandle(held);
    EXPECT_EQ(std::wstring(g_app.status), L"删除失败：" + name(3));
    EXPECT_TRUE(file_exists(path(3)));
    EXPECT_EQ(g_app.queue.count, 5);
    EXPECT_NE(g_app.image, nullptr);  // shown again
}

class Folder : public Nav {
protected:
    // count pictures named IMG_0001.png …, copies of one small picture of its own colour each
    // tenth, so that a shown picture can be told from its neighbours.
    void make_camera_folder(int count)
    {
        WCHAR err[300];
        for (int i = 1; i <= count; ++i) {
            if (i == 1 || i % 10 == 0) {
                Image *img = image_new(8 + i % 97, 6);
                memset(img->data, 0xFF, (size_t)img->stride * img->height);
                ASSERT_TRUE(codec_save(img, camera(i).c_str(), 90, nullptr, err, 300));
                image_free(img);
                continue;
            }
            ASSERT_TRUE(CopyFileW(camera(1).c_str(), camera(i).c_str(), FALSE));
        }
    }
    std::wstring camera(int i)
    {
        WCHAR name[32];
        swprintf(name, 32, L"IMG_%04d.png", i);
        return dir_ + L"\\" + name;
    }
    void open_and_list(int number)
    {
        app_load(&g_app, camera(number).c_str());
        ASSERT_TRUE(pump_until([] { return !browse_listing(&g_app); }));
    }
    std::wstring shown() { return g_app.file_path; }
    static uint32_t width_of(int i) { return i == 1 || i % 10 == 0 ? 8 + i % 97 : 9; }
};

TEST_F(Folder, PagingAndWrapAroundPastEntrySixtyFour)
{
    make_camera_folder(200);
    open_and_list(150);
    ASSERT_EQ(g_app.queue.count, 200);
    EXPECT_EQ(g_app.queue_index, 149);
    struct Case { int from, delta, want; } cases[] = {{150, 1, 151}, {200, 1, 1}, {1, -1, 200}, {64, 1, 65}, {65, 200, 65}};
    for (const Case &c : cases) {
        ASSERT_EQ(nav_goto(&g_app, c.from - 1), 1);
        ASSERT_EQ(nav_step(&g_app, c.delta), 1);
        EXPECT_EQ(shown(), camera(c.want)) << c.from << " + " << c.delta;
        EXPECT_EQ(g_app.image->width, width_of(c.want)) << c.want;
    }
    // The position over the whole folder, and delete past the old 64 slots.
    nav_goto(&g_app, 179);
    ASSERT_EQ(nav_delete_current(&g_app), 1);
    trash_take_back(L"IMG_0180.png");
    EXPECT_EQ(g_app.queue.count, 199);
    EXPECT_EQ(shown(), camera(181));
    EXPECT_EQ(g_app.queue_index, 179);
}

TEST_F(Folder, AListingOfTwentyThousandDoesNotHoldUpTheWindow)
{
    ASSERT_TRUE(host_make_files(dir_, L"z", 20000, L".png"));
    Image *img = make_gradient(40, 30, false);
    WCHAR err[300];
    ASSERT_TRUE(codec_save(img, camera(1).c_str(), 90, nullptr, err, 300));
    image_free(img);
    app_load(&g_app, camera(1).c_str());
    // The picture shows at once; the folder is still being listed on the worker.
    ASSERT_NE(g_app.image, nullptr);
    EXPECT_TRUE(browse_listing(&g_app));
    EXPECT_EQ(g_app.queue.count, 1);
    EXPECT_STREQ(g_app.status, kListingHint);
    int answered = 0;
    static int *counter;
    counter = &answered;
    SetTimer(g_app.hwnd, 77, 1, [](HWND, UINT, UINT_PTR, DWORD) { ++*counter; });
    ASSERT_TRUE(pump_until([] { return !browse_listing(&g_app); }, 60000));
    KillTimer(g_app.hwnd, 77);
    EXPECT_GT(answered, 0);  // the window's own messages ran meanwhile
    EXPECT_EQ(g_app.queue.count, 20001);
    EXPECT_EQ(g_app.queue_index, 0);  // "IMG_0001.png" sorts before "z0.png"
    EXPECT_STREQ(g_app.status, L"滚轮缩放 · 拖动平移 · ← → 翻页");
    // Opening another picture while a listing runs cancels it.
    app_load(&g_app, camera(1).c_str());
    ASSERT_TRUE(browse_listing(&g_app));
    app_load(&g_app, camera(1).c_str());
    ASSERT_TRUE(pump_until([] { return !browse_listing(&g_app); }, 60000));
    EXPECT_EQ(g_app.queue.count, 20001);
    DestroyWindow(g_app.hwnd);
    EXPECT_TRUE(host_remove_dir(dir_));
}

TEST_F(Folder, DecodeAheadIsUsedKeptInBudgetAndDroppedWhenThePictureChanges)
{
    make_camera_folder(30);
    open_and_list(10);
    FolderWork *w = browse_work(&g_app);
    ASSERT_NE(w, nullptr);
    // Both neighbours are decoded ahead, the paging direction's first.
    ASSERT_TRUE(pump_until([&] { return w->ahead_cache.count == 2; }));
    EXPECT_TRUE(pic_cache_has(&w->ahead_cache, camera(11).c_str()));
    EXPECT_TRUE(pic_cache_has(&w->ahead_cache, camera(9).c_str()));
    EXPECT_LE(w->ahead_cache.bytes, w->ahead_cache.budget);
    // Right takes the decoded one: it leaves the cache for the screen.
    Image *ready = nullptr;
    pic_cache_find(&w->ahead_cache, camera(11).c_str(), 0, &ready);
    nav_step(&g_app, 1);
    EXPECT_EQ(g_app.image, ready);
    EXPECT_FALSE(pic_cache_has(&w->ahead_cache, camera(11).c_str()));
    EXPECT_FALSE(pic_cache_has(&w->ahead_cache, camera(9).c_str()));  // no longer a neighbour
    ASSERT_TRUE(pump_until([&] { return pic_cache_has(&w->ahead_cache, camera(12).c_str()); }));

    // A file changed on disk is decoded again, not served stale.
    Image *img = image_new(33, 7);
    WCHAR err[300];
    ASSERT_TRUE(codec_save(img, camera(12).c_str(), 90, nullptr, err, 300));
    image_free(img);
    nav_step(&g_app, 1);
    EXPECT_EQ(g_app.image->width, 33u);

    // Rotating and deleting drop what the cache holds of the picture.
    pic_cache_put(&w->ahead_cache, camera(12).c_str(), 1, image_new(5, 5));
    app_command(&g_app, 111);
    EXPECT_FALSE(pic_cache_has(&w->ahead_cache, camera(12).c_str()));
    ASSERT_TRUE(pump_until([&] { return pic_cache_has(&w->ahead_cache, camera(13).c_str()); }));
    ASSERT_EQ(nav_delete_entry(&g_app, 12), 1);  // IMG_0013, the next one, not on screen
    trash_take_back(L"IMG_0013.png");
    EXPECT_FALSE(pic_cache_has(&w->ahead_cache, camera(13).c_str()));
    EXPECT_EQ(shown(), camera(12));
}

// Photos larger than the canvas: a neighbour made ahead arrives fitted, with the same pixels the
// window would build itself, and the picture left behind is kept unless it was edited.
TEST_F(Folder, NeighboursComeFittedAsTheWindowWouldAndThePictureLeftIsKept)
{
    WCHAR err[300];
    for (int i = 1; i <= 3; ++i) {
        Image *img = image_new(2400, 1600);
        for (uint32_t y = 0; y < img->height; ++y)
            for (uint32_t x = 0; x < img->width; ++x) {
                uint8_t *p = img->data + (size_t)y * img->stride + x * 4;
                p[0] = (uint8_t)(x * i), p[1] = (uint8_t)(y + 40 * i), p[2] = (uint8_t)((x ^ y) >> 3), p[3] = 255;
            }
        ASSERT_TRUE(codec_save(img, camera(i).c_str(), 90, nullptr, err, 300));
        image_free(img);
    }
    ShowWindow(g_app.hwnd, SW_SHOWNOACTIVATE);  // painted for real, at its default size
    open_and_list(1);
    FolderWork *w = browse_work(&g_app);
    ASSERT_TRUE(pump_until([&] { return pic_cache_has(&w->ahead_cache, camera(2).c_str()); }));
    Image *first = g_app.image;
    nav_step(&g_app, 1);
    EXPECT_EQ(g_app.image->width, 2400u);
    ASSERT_NE(g_app.view_cache, nullptr);  // before any paint
    EXPECT_GT(g_app.view_pyramid.copies.levels, 0);
    UpdateWindow(g_app.hwnd);
    EXPECT_EQ(canvas_last_path(), kPathCacheHit);
    const ViewPyramid &p = g_app.view_pyramid;
    std::vector<uint8_t> made(p.cache_px, p.cache_px + (size_t)p.cache_dw * p.cache_dh * 4);
    canvas_view_free(&g_app);
    InvalidateRect(g_app.hwnd, nullptr, FALSE);
    UpdateWindow(g_app.hwnd);
    ASSERT_EQ(canvas_last_path(), kPathCacheRebuild);
    ASSERT_EQ(made.size(), (size_t)p.cache_dw * p.cache_dh * 4);
    EXPECT_EQ(memcmp(made.data(), p.cache_px, made.size()), 0);

    // Back to the first: the very picture that left the screen, not decoded again.
    EXPECT_TRUE(pic_cache_has(&w->ahead_cache, camera(1).c_str()));
    nav_step(&g_app, -1);
    EXPECT_EQ(g_app.image, first);
    // Turned, it is no longer the file's picture: it goes when the screen moves on.
    app_command(&g_app, 111);
    nav_step(&g_app, 1);
    EXPECT_FALSE(pic_cache_has(&w->ahead_cache, camera(1).c_str()));
}

// The listing has passed a picture that is then removed: the removal, seen first, holds.
TEST_F(Folder, APictureRemovedWhileTheFolderIsListedDoesNotComeBack)
{
    make_camera_folder(5);
    app_load(&g_app, camera(3).c_str());
    browse_listing_timer(&g_app);
    FolderWork *w = browse_work(&g_app);
    ASSERT_NE(w->listing, nullptr);
    ASSERT_TRUE(listing_wait(w->listing, 10000));  // its result is posted, not yet read
    ASSERT_TRUE(DeleteFileW(camera(5).c_str()));
    auto *removed = (FolderChange *)calloc(1, sizeof(FolderChange));
    *removed = {w->generation, kChangeRemoved, {}};
    lstrcpynW(removed->path, camera(5).c_str(), 260);
    browse_message(&g_app, WM_FOLDER_CHANGE, (LPARAM)removed);
    MSG m;
    ASSERT_TRUE(PeekMessageW(&m, g_app.hwnd, WM_LISTING_DONE, WM_LISTING_DONE, PM_REMOVE));
    browse_message(&g_app, WM_LISTING_DONE, m.lParam);
    EXPECT_EQ(g_app.queue.count, 4);
    EXPECT_LT(queue_find(&g_app.queue, camera(5).c_str()), 0);
    EXPECT_EQ(shown(), camera(3));
}

TEST_F(Folder, OtherProgramsAddingAndRemovingPicturesAreFollowed)
{
    make_camera_folder(5);
    open_and_list(3);
    ASSERT_TRUE(CopyFileW(camera(5).c_str(), (dir_ + L"\\IMG_0004b.png").c_str(), TRUE));
    ASSERT_TRUE(pump_until([] { return g_app.queue.count == 6; }));
    EXPECT_EQ(files_path_in_queue(&g_app, (dir_ + L"\\IMG_0004b.png").c_str()), 4);  // in its place
    EXPECT_EQ(g_app.queue_index, 2);
    ASSERT_TRUE(DeleteFileW(camera(1).c_str()));
    ASSERT_TRUE(pump_until([] { return g_app.queue.count == 5; }));
    EXPECT_EQ(g_app.queue_index, 1);  // the picture on screen keeps its place
    // The picture on screen goes: the next one shows, and the status says why.
    ASSERT_TRUE(DeleteFileW(camera(3).c_str()));
    ASSERT_TRUE(pump_until([&] { return shown() == camera(4); }));
    EXPECT_EQ(g_app.queue.count, 4);
    EXPECT_EQ(std::wstring(g_app.status), L"IMG_0003.png 已被其它程序移走，现在显示下一张");
}

TEST_F(Folder, TheThumbnailMenuDeletesTheRightClickedPicture)
{
    make_camera_folder(5);
    open_and_list(2);
    // The menu's last row is its delete.
    modal_set_menu_answerer([](HMENU menu, UINT, int, int, HWND) {
        return (int)GetMenuItemID(menu, GetMenuItemCount(menu) - 1);
    });
    app_show_thumb_menu(&g_app, 3, POINT{0, 0});
    modal_set_menu_answerer(nullptr);
    EXPECT_EQ(g_box, L"删除图片|要把「IMG_0004.png」放进回收站吗？\n\n（可以在回收站里还原）");
    EXPECT_TRUE(trash_holds(L"IMG_0004.png"));
    trash_take_back(L"IMG_0004.png");
    EXPECT_EQ(shown(), camera(2));  // the picture on screen stays
    EXPECT_EQ(g_app.queue.count, 4);
    EXPECT_EQ(files_path_in_queue(&g_app, camera(4).c_str()), -1);
}

}  // namespace
