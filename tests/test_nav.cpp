// Paging, the slideshow and delete to the recycle bin, in the real main window
// over a real folder of pictures.
#include <gtest/gtest.h>
#include "codec/codec.h"
#include "app/nav.h"
#include "shell/modal.h"
#include "support/test_support.h"
#include "support/trash.h"
#include <gdiplus.h>
#include <functional>
#include <string>

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
        ASSERT_EQ(g_app.queue_count, count);
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
    EXPECT_EQ(g_app.queue_count, 5);
    EXPECT_NE(g_app.image, nullptr);

    g_box_answer = [] { return IDYES; };
    struct Case { int del, show; } cases[] = {{2, 3}, {4, 3}, {0, 1}};
    for (const Case &c : cases) {
        make_folder(5, c.del);
        g_app.thumb_failed[c.del + 1 < 5 ? c.del + 1 : 0] = 7;  // a slot marker that travels with its entry
        ASSERT_EQ(nav_delete_current(&g_app), 1);
        EXPECT_TRUE(trash_holds(name(c.del))) << c.del;
        trash_take_back(name(c.del));
        EXPECT_EQ(g_app.queue_count, 4);
        EXPECT_EQ(title(), name(c.show) + L" - Veldmoor");
        EXPECT_EQ(std::wstring(g_app.status), L"已把 " + name(c.del) + L" 放进回收站（剩 4 张）");
        EXPECT_EQ(g_app.thumb_failed[c.del], c.del < 4 ? 7 : 0);
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
    EXPECT_EQ(g_app.queue_count, 5);
    EXPECT_NE(g_app.image, nullptr);  // shown again
}

}  // namespace
