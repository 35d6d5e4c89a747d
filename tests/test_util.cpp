// Output names, the open and save dialogs answered through the modal seam,
// recycling, and printing without a person.
#include <gtest/gtest.h>
#include "shell/modal.h"
#include "shell/util.h"
#include "app/app.h"
#include "support/test_support.h"
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
    struct Case { const WCHAR *op; DWORD filter; const WCHAR *ext, *name; } cases[] = {
        {L"jpg", 1, L"jpg", L"holiday_转jpg"}, {L"png", 2, L"png", L"holiday_转png"},
        {L"webp", 3, L"webp", L"holiday_转webp"}, {L"bmp", 4, L"bmp", L"holiday_转bmp"},
        {L"tif", 5, L"tif", L"holiday_转tif"}, {L"zip", 1, L"jpg", L"holiday_压缩"}, {L"crop", 1, L"jpg", L"holiday_裁剪"},
    };
    for (const Case &c : cases) {
        std::wstring seen;  // index, default extension, the index's pattern, the name offered
        g_file_answer = [&](OPENFILENAMEW *ofn) {
            const WCHAR *p = ofn->lpstrFilter;
            for (DWORD i = 1; i < ofn->nFilterIndex * 2; ++i) p += wcslen(p) + 1;
            seen = std::to_wstring(ofn->nFilterIndex) + L" " + ofn->lpstrDefExt + L" " + p + L" " + ofn->lpstrFile;
            return FALSE;
        };
        WCHAR path[kPathMax];
        EXPECT_EQ(util_save_dialog(&g_app, path, kPathMax, c.op), 0);
        EXPECT_EQ(seen, std::to_wstring(c.filter) + L" " + c.ext + L" *." + c.ext + L" " + c.name);
    }
}

TEST_F(Util, MultiOpenFillsWholeSlotsThatFitTheBuffer)
{
    static WCHAR buf[kOpenMaxPaths * kPathMax + 8];
    const int full = kOpenMaxPaths * kPathMax;
    int count = -1;
    // Under the batch dialog the main window is disabled and must stay so.
    EnableWindow(g_app.hwnd, FALSE);
    HWND owner = nullptr, batch = (HWND)(UINT_PTR)0x1234;
    g_file_answer = [&](OPENFILENAMEW *ofn) {
        EXPECT_FALSE(IsWindowEnabled(g_app.hwnd));
        owner = ofn->hwndOwner;
        lstrcpyW(ofn->lpstrFile, L"C:\\pics\\one.jpg");
        ofn->nFileOffset = 8;
        return TRUE;
    };
    ASSERT_EQ(util_open_dialog_multi_owner(&g_app, batch, buf, full, &count), 1);
    EXPECT_EQ(owner, batch);
    EXPECT_FALSE(IsWindowEnabled(g_app.hwnd));
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

TEST_F(Util, PrintSendsNothingUnlessAPageWasDrawn)
{
    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token;
    ASSERT_EQ(Gdiplus::GdiplusStartup(&token, &input, nullptr), Gdiplus::Ok);
    g_app.image = make_gradient(40, 20, false);
    canvas_sync_gp(&g_app);
    // A device that is not a printer starts no document.
    g_print_answer = [](PRINTDLGW *pd) { pd->hDC = CreateCompatibleDC(nullptr); return TRUE; };
    EXPECT_EQ(util_print_image(&g_app, g_app.image), 0);
    EXPECT_STREQ(g_app.status, L"打印未能完成");

    // The real printer, but the picture cannot be drawn (its bitmap is locked): no page counts.
    Gdiplus::GpRect all(0, 0, 40, 20);
    Gdiplus::BitmapData locked;
    ASSERT_EQ(Gdiplus::DllExports::GdipBitmapLockBits(g_app.gp_image, &all, Gdiplus::ImageLockModeRead,
                                                       PixelFormat32bppARGB, &locked), Gdiplus::Ok);
    g_print_answer = [](PRINTDLGW *pd) { pd->Flags |= PD_RETURNDEFAULT; return PrintDlgW(pd); };
    lstrcpyW(g_app.status, L"no printer");
    EXPECT_EQ(util_print_image(&g_app, g_app.image), 0);
    EXPECT_TRUE(!wcscmp(g_app.status, L"no printer") || !wcscmp(g_app.status, L"打印未能完成"));
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
