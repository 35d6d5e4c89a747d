// Output names, the open and save dialogs answered through the modal seam,
// recycling, and printing without a person.
#include <gtest/gtest.h>
#include "shell/modal.h"
#include "shell/util.h"
#include "support/test_support.h"
#include "support/trash.h"
#include "view/canvas.h"
#include <gdiplus.h>
#include <functional>
#include <string>
#include <vector>

namespace {

std::function<BOOL(OPENFILENAMEW *)> g_file_answer;
std::function<BOOL(PRINTDLGW *)> g_print_answer;
BOOL answer_file(OPENFILENAMEW *ofn) { return g_file_answer(ofn); }
BOOL answer_print(PRINTDLGW *pd) { return g_print_answer(pd); }

// What the real dialog leaves for several files: folder, NUL, names each with a NUL, NUL.
BOOL deliver(OPENFILENAMEW *ofn, const std::vector<std::wstring> &names)
{
    std::wstring list = std::wstring(L"D:\\shots") + L'\0';
    for (const auto &n : names) list += n + L'\0';
    wmemcpy(ofn->lpstrFile, list.c_str(), list.size() + 1);
    ofn->nFileOffset = 9;
    return TRUE;
}

class Util : public ::testing::Test {
protected:
    void SetUp() override
    {
        app_init_record(&g_app, GetModuleHandleW(nullptr));
        g_app.hwnd = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 9, 9, nullptr, nullptr, nullptr, nullptr);
        modal_set_open_answerer(answer_file);
        modal_set_save_answerer(answer_file);
        modal_set_print_answerer(answer_print);
    }
    void TearDown() override
    {
        modal_set_open_answerer(nullptr);
        modal_set_save_answerer(nullptr);
        modal_set_print_answerer(nullptr);
        DestroyWindow(g_app.hwnd);
    }
};

TEST(UtilNames, TagsAndDefaultNamesForEveryKey)
{
    struct Case { const WCHAR *op; int index; const WCHAR *tag; } cases[] = {
        {L"ZIP", 1, L"压缩"}, {L"Crop", 1, L"裁剪"}, {L"jpg", 1, L"转jpg"}, {L"png", 2, L"转png"},
        {L"WEBP", 3, L"转webp"}, {L"bmp", 4, L"转bmp"}, {L"tif", 5, L"转tif"}, {L"tiff", 1, L"转jpg"},
        {L"jpeg", 1, L"转jpg"}, {L"", 1, L"转jpg"}, {nullptr, 1, L"转jpg"},
    };
    for (const Case &c : cases) {
        int index = 0;
        WCHAR tag[32], name[64];
        util_fmt_tag(c.op, &index, tag, 32);
        EXPECT_EQ(index, c.index) << (c.op ? c.op : L"(null)");
        util_default_save_name(L"IMG_0012.JPG", c.op, name, 64);
        EXPECT_EQ(std::wstring(name), std::wstring(L"IMG_0012_") + c.tag);
    }
    struct Name { const WCHAR *source, *op; size_t cap; const WCHAR *want; } names[] = {
        {L"a.b.webp", L"zip", 64, L"a.b_压缩"}, {L"scan", L"crop", 64, L"scan_裁剪"}, {L"photo", L"png", 5, L"phot"},
        {L"", L"png", 64, L"未命名"}, {nullptr, L"zip", 3, L"未命"},
    };
    for (const Name &n : names) {
        WCHAR out[64];
        util_default_save_name(n.source, n.op, out, n.cap);
        EXPECT_STREQ(out, n.want);
    }
}

TEST_F(Util, SaveDialogOpensOnTheFormatOfTheKey)
{
    lstrcpyW(g_app.file_name, L"holiday.jpeg");
    struct Case { const WCHAR *op; DWORD filter; const WCHAR *ext; } cases[] = {
        {L"jpg", 1, L"jpg"}, {L"png", 2, L"png"}, {L"webp", 3, L"webp"}, {L"bmp", 4, L"bmp"},
        {L"tif", 5, L"tif"}, {L"zip", 1, L"jpg"}, {L"crop", 1, L"jpg"},
    };
    for (const Case &c : cases) {
        OPENFILENAMEW seen = {};
        std::wstring prefilled, filter_pattern;
        g_file_answer = [&](OPENFILENAMEW *ofn) {
            seen = *ofn;
            prefilled = ofn->lpstrFile;
            const WCHAR *p = ofn->lpstrFilter;
            for (DWORD i = 1; i < ofn->nFilterIndex * 2; ++i) p += wcslen(p) + 1;  // the chosen pattern
            filter_pattern = p;
            return FALSE;
        };
        WCHAR path[kPathMax];
        EXPECT_EQ(util_save_dialog(&g_app, path, kPathMax, c.op), 0);
        EXPECT_EQ(seen.nFilterIndex, c.filter) << c.op;
        EXPECT_STREQ(seen.lpstrDefExt, c.ext);
        EXPECT_EQ(filter_pattern, std::wstring(L"*.") + c.ext);
        WCHAR tag[32];
        util_fmt_tag(c.op, nullptr, tag, 32);
        EXPECT_EQ(prefilled, std::wstring(L"holiday_") + tag);
    }
}

TEST_F(Util, MultiOpenFillsWholeSlotsThatFitTheBuffer)
{
    static WCHAR buf[kOpenMaxPaths * kPathMax + 8];
    const int full = kOpenMaxPaths * kPathMax;
    int count = -1;
    g_file_answer = [](OPENFILENAMEW *ofn) {
        lstrcpyW(ofn->lpstrFile, L"C:\\pics\\one.jpg");
        ofn->nFileOffset = 8;
        return TRUE;
    };
    ASSERT_EQ(util_open_dialog_multi(&g_app, buf, full, &count), 1);
    EXPECT_EQ(count, 1);
    EXPECT_STREQ(buf, L"C:\\pics\\one.jpg");

    std::vector<std::wstring> forty;
    for (int i = 0; i < 40; ++i) forty.push_back(L"p" + std::to_wstring(i) + L".png");
    g_file_answer = [&](OPENFILENAMEW *ofn) { return deliver(ofn, forty); };
    ASSERT_EQ(util_open_dialog_multi(&g_app, buf, full, &count), 1);
    ASSERT_EQ(count, 32);
    EXPECT_STREQ(buf + 31 * kPathMax, L"D:\\shots\\p31.png");

    // 600 units hold two whole slots; nothing is written past them.
    std::fill(std::begin(buf), std::end(buf), L'#');
    g_file_answer = [&](OPENFILENAMEW *ofn) { return deliver(ofn, {L"a.jpg", L"b.jpg", L"c.jpg"}); };
    ASSERT_EQ(util_open_dialog_multi(&g_app, buf, 600, &count), 1);
    EXPECT_EQ(count, 2);
    EXPECT_STREQ(buf + kPathMax, L"D:\\shots\\b.jpg");
    EXPECT_EQ(buf[600], L'#');
    EXPECT_EQ(util_open_dialog_multi(&g_app, buf, 519, &count), 0);
    EXPECT_EQ(count, 0);
}

TEST_F(Util, OpenDialogLeavesADisabledMainWindowDisabled)
{
    static WCHAR buf[kOpenMaxPaths * kPathMax];
    EnableWindow(g_app.hwnd, FALSE);  // as under the batch dialog
    bool enabled_inside = true;
    HWND owner = nullptr, batch = (HWND)(UINT_PTR)0x1234;
    g_file_answer = [&](OPENFILENAMEW *ofn) {
        enabled_inside = IsWindowEnabled(g_app.hwnd);
        owner = ofn->hwndOwner;
        return FALSE;
    };
    EXPECT_EQ(util_open_dialog_multi_owner(&g_app, batch, buf, kOpenMaxPaths * kPathMax, nullptr), 0);
    EXPECT_EQ(owner, batch);
    EXPECT_FALSE(enabled_inside);
    EXPECT_FALSE(IsWindowEnabled(g_app.hwnd));
}

TEST(UtilRecycle, MovesOneFileToTheBinAndRefusesBadPaths)
{
    std::wstring dir = temp_dir_create(L"recycle");
    std::wstring name = L"rc" + std::to_wstring(GetCurrentProcessId()) + L".jpg", path = dir + L"\\" + name;
    ASSERT_TRUE(write_file_bytes(path, "x", 1));
    EXPECT_EQ(util_recycle_file(nullptr, path.c_str()), 1);
    EXPECT_FALSE(file_exists(path));
    EXPECT_TRUE(trash_holds(name));
    trash_take_back(name);
    EXPECT_EQ(util_recycle_file(nullptr, path.c_str()), 0);  // no longer there
    std::wstring long_path = dir + L"\\" + std::wstring(260 - dir.size() - 1, L'a');
    ASSERT_TRUE(write_file_bytes(L"\\\\?\\" + long_path, "x", 1));
    EXPECT_EQ(util_recycle_file(nullptr, long_path.c_str()), 0);
    EXPECT_TRUE(file_exists(L"\\\\?\\" + long_path));
    temp_dir_remove(dir);
}

TEST(UtilPrint, PictureFillsThePageAndIsCentred)
{
    struct Case { int W, H, w, h; RECT want; } cases[] = {
        {4800, 6600, 100, 50, {0, 2100, 4800, 4500}},
        {4800, 6600, 50, 100, {750, 0, 4050, 6600}},
        {2479, 3508, 3, 3, {0, 514, 2479, 2993}},
    };
    for (const Case &c : cases) {
        RECT r = util_print_place(c.W, c.H, c.w, c.h);
        EXPECT_TRUE(EqualRect(&r, &c.want)) << r.left << "," << r.top << " " << r.right << "," << r.bottom;
    }
}

TEST_F(Util, PrintSendsNothingUnlessAPageWasDrawn)
{
    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token;
    ASSERT_EQ(Gdiplus::GdiplusStartup(&token, &input, nullptr), Gdiplus::Ok);
    EXPECT_EQ(util_print_image(&g_app, nullptr), 0);
    EXPECT_STREQ(g_app.status, L"请先打开一张图片");
    g_app.image = make_gradient(40, 20, false);
    canvas_sync_gp(&g_app);
    lstrcpyW(g_app.file_name, L"g.png");

    // A device that is not a printer starts no document.
    g_print_answer = [](PRINTDLGW *pd) { pd->hDC = CreateCompatibleDC(nullptr); return TRUE; };
    EXPECT_EQ(util_print_image(&g_app, g_app.image), 0);
    EXPECT_STREQ(g_app.status, L"打印未能完成");

    // The real printer, but the picture cannot be drawn (its bitmap is locked): no page counts.
    Gdiplus::GpRect all(0, 0, 40, 20);
    Gdiplus::BitmapData locked;
    ASSERT_EQ(Gdiplus::DllExports::GdipBitmapLockBits(g_app.gp_image, &all, Gdiplus::ImageLockModeRead,
                                                       PixelFormat32bppARGB, &locked), Gdiplus::Ok);
    g_print_answer = [](PRINTDLGW *pd) {
        pd->Flags |= PD_RETURNDEFAULT;
        return PrintDlgW(pd);
    };
    lstrcpyW(g_app.status, L"-");
    EXPECT_EQ(util_print_image(&g_app, g_app.image), 0);
    EXPECT_TRUE(!wcscmp(g_app.status, L"-") || !wcscmp(g_app.status, L"打印未能完成")) << "no printer, or nothing sent";
    Gdiplus::DllExports::GdipBitmapUnlockBits(g_app.gp_image, &locked);

    // The picture closed while the dialog was open is never drawn.
    g_print_answer = [](PRINTDLGW *pd) {
        app_release_picture(&g_app);
        pd->hDC = CreateCompatibleDC(nullptr);
        return TRUE;
    };
    EXPECT_EQ(util_print_image(&g_app, g_app.image), 0);
    EXPECT_STREQ(g_app.status, L"请先打开一张图片");
    Gdiplus::GdiplusShutdown(token);
}

}  // namespace
