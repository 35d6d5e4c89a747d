// Output names, the open and save dialogs (answered through the modal seam),
// recycling, printing without a person, the About box and the title.
#include <gtest/gtest.h>
#include "app/app.h"
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
int g_dialogs;
std::wstring g_box_text;

BOOL answer_file(OPENFILENAMEW *ofn) { ++g_dialogs; return g_file_answer(ofn); }
BOOL answer_print(PRINTDLGW *pd) { ++g_dialogs; return g_print_answer(pd); }
int answer_box(HWND, const WCHAR *text, const WCHAR *, UINT) { g_box_text = text; return IDCANCEL; }

// What the real dialog leaves in its buffer: folder, NUL, names each with a NUL, NUL.
BOOL deliver(OPENFILENAMEW *ofn, const std::wstring &folder, const std::vector<std::wstring> &names)
{
    std::wstring list = folder + L'\0';
    for (const auto &n : names) list += n + L'\0';
    list += L'\0';
    if (list.size() > ofn->nMaxFile) return FALSE;
    wmemcpy(ofn->lpstrFile, list.data(), list.size());
    ofn->nFileOffset = (WORD)(folder.size() + 1);
    return TRUE;
}

class Util : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_dialogs = 0;
        app_init_record(&g_app, GetModuleHandleW(nullptr));
        g_app.hwnd = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
        modal_set_open_answerer(answer_file);
        modal_set_save_answerer(answer_file);
        modal_set_print_answerer(answer_print);
        modal_set_answerer(answer_box);
    }
    void TearDown() override
    {
        modal_set_open_answerer(nullptr);
        modal_set_save_answerer(nullptr);
        modal_set_print_answerer(nullptr);
        modal_set_answerer(nullptr);
        DestroyWindow(g_app.hwnd);
    }
};

TEST(UtilNames, TagsAndDefaultNamesForEveryKey)
{
    struct Case { const WCHAR *op; int index; const WCHAR *tag; } cases[] = {
        {L"zip", 1, L"压缩"}, {L"ZIP", 1, L"压缩"}, {L"Crop", 1, L"裁剪"}, {L"jpg", 1, L"转jpg"},
        {L"png", 2, L"转png"}, {L"WEBP", 3, L"转webp"}, {L"bmp", 4, L"转bmp"}, {L"tif", 5, L"转tif"},
        {L"tiff", 1, L"转jpg"}, {L"jpeg", 1, L"转jpg"}, {L"", 1, L"转jpg"}, {nullptr, 1, L"转jpg"},
    };
    for (const Case &c : cases) {
        int index = 0;
        WCHAR tag[32], name[64];
        util_fmt_tag(c.op, &index, tag, 32);
        EXPECT_EQ(index, c.index) << (c.op ? c.op : L"(null)");
        EXPECT_STREQ(tag, c.tag);
        util_default_save_name(L"IMG_0012.JPG", c.op, name, 64);
        EXPECT_EQ(std::wstring(name), std::wstring(L"IMG_0012_") + c.tag);
    }
    struct Name { const WCHAR *source, *op; size_t cap; const WCHAR *want; } names[] = {
        {L"a.b.webp", L"zip", 64, L"a.b_压缩"}, {L"scan", L"crop", 64, L"scan_裁剪"}, {L"photo", L"png", 5, L"phot"},
        {L"", L"png", 64, L"未命名"}, {nullptr, L"zip", 64, L"未命名"}, {L"", L"zip", 3, L"未命"},
    };
    for (const Name &n : names) {
        WCHAR out[64];
        util_default_save_name(n.source, n.op, out, n.cap);
        EXPECT_STREQ(out, n.want);
    }
    WCHAR untouched[4] = L"xyz";
    util_fmt_tag(L"png", nullptr, untouched, (size_t)INT_MAX + 1);
    util_default_save_name(L"a.jpg", L"png", untouched, 0);
    EXPECT_STREQ(untouched, L"xyz");
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
        OPENFILENAMEW seen = {};
        std::wstring prefilled;
        g_file_answer = [&](OPENFILENAMEW *ofn) { seen = *ofn; prefilled = ofn->lpstrFile; return FALSE; };
        WCHAR path[kPathMax];
        EXPECT_EQ(util_save_dialog(&g_app, path, kPathMax, c.op), 0);
        EXPECT_EQ(seen.nFilterIndex, c.filter) << c.op;
        EXPECT_STREQ(seen.lpstrDefExt, c.ext);
        EXPECT_EQ(prefilled, c.name);
        EXPECT_STREQ(seen.lpstrTitle, L"另存为");
        EXPECT_EQ(seen.Flags, (DWORD)(OFN_EXPLORER | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR | OFN_OVERWRITEPROMPT));
        EXPECT_EQ(seen.hwndOwner, g_app.hwnd);
        // The filter list: five description / pattern pairs, the pattern of entry i being *.kSaveExt[i].
        const WCHAR *p = seen.lpstrFilter;
        for (const WCHAR *ext : kSaveExt) {
            p += wcslen(p) + 1;
            EXPECT_EQ(std::wstring(p), std::wstring(L"*.") + ext);
            p += wcslen(p) + 1;
        }
        EXPECT_EQ(*p, 0);
    }
    g_file_answer = [](OPENFILENAMEW *ofn) { lstrcpyW(ofn->lpstrFile, L"C:\\out\\x.png"); return TRUE; };
    WCHAR path[kPathMax];
    EXPECT_NE(util_save_dialog(&g_app, path, kPathMax, L"png"), 0);
    EXPECT_STREQ(path, L"C:\\out\\x.png");
    g_dialogs = 0;
    EXPECT_EQ(util_save_dialog(&g_app, path, 0, L"png"), 0);
    EXPECT_EQ(g_dialogs, 0);
}

TEST_F(Util, MultiOpenFillsWholeSlotsThatFit)
{
    static WCHAR buf[kOpenMaxPaths * kPathMax + 8];
    int count = -1;
    g_file_answer = [](OPENFILENAMEW *ofn) {
        EXPECT_STREQ(ofn->lpstrTitle, L"打开图片（可多选）");
        EXPECT_TRUE(ofn->Flags & OFN_ALLOWMULTISELECT);
        lstrcpyW(ofn->lpstrFile, L"C:\\pics\\one.jpg");
        ofn->nFileOffset = 8;
        return TRUE;
    };
    ASSERT_EQ(util_open_dialog_multi(&g_app, buf, kOpenMaxPaths * kPathMax, &count), 1);
    EXPECT_EQ(count, 1);
    EXPECT_STREQ(buf, L"C:\\pics\\one.jpg");

    std::vector<std::wstring> forty;
    for (int i = 0; i < 40; ++i) forty.push_back(L"p" + std::to_wstring(i) + L".png");
    g_file_answer = [&](OPENFILENAMEW *ofn) { return deliver(ofn, L"D:\\shots", forty); };
    ASSERT_EQ(util_open_dialog_multi(&g_app, buf, kOpenMaxPaths * kPathMax, &count), 1);
    ASSERT_EQ(count, 32);
    EXPECT_STREQ(buf, L"D:\\shots\\p0.png");
    EXPECT_STREQ(buf + 31 * kPathMax, L"D:\\shots\\p31.png");

    // A caller's buffer of 600 units holds two whole slots; nothing is written past it.
    std::fill(std::begin(buf), std::end(buf), L'#');
    g_file_answer = [&](OPENFILENAMEW *ofn) { return deliver(ofn, L"D:\\shots", {L"a.jpg", L"b.jpg", L"c.jpg"}); };
    ASSERT_EQ(util_open_dialog_multi(&g_app, buf, 600, &count), 1);
    EXPECT_EQ(count, 2);
    EXPECT_STREQ(buf + kPathMax, L"D:\\shots\\b.jpg");
    EXPECT_EQ(buf[600], L'#');

    g_dialogs = 0;
    EXPECT_EQ(util_open_dialog_multi(&g_app, buf, 519, &count), 0);
    EXPECT_EQ(util_open_dialog_multi(&g_app, nullptr, 8320, &count), 0);
    EXPECT_EQ(g_dialogs, 0);
    EXPECT_EQ(count, 0);
}

TEST_F(Util, OpenDialogsLeaveADisabledMainWindowDisabled)
{
    static WCHAR buf[kOpenMaxPaths * kPathMax];
    HWND batch = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    EnableWindow(g_app.hwnd, FALSE);
    bool enabled_inside = true;
    HWND owner = nullptr;
    g_file_answer = [&](OPENFILENAMEW *ofn) {
        enabled_inside = IsWindowEnabled(g_app.hwnd);
        owner = ofn->hwndOwner;
        return FALSE;
    };
    int count = 5;
    EXPECT_EQ(util_open_dialog_multi_owner(&g_app, batch, buf, kOpenMaxPaths * kPathMax, &count), 0);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(owner, batch);
    EXPECT_FALSE(enabled_inside);
    EXPECT_FALSE(IsWindowEnabled(g_app.hwnd));

    g_file_answer = [&](OPENFILENAMEW *ofn) {
        owner = ofn->hwndOwner;
        EXPECT_EQ(ofn->Flags & OFN_ALLOWMULTISELECT, 0u);
        const WCHAR *patterns = ofn->lpstrFilter + wcslen(ofn->lpstrFilter) + 1;
        EXPECT_STREQ(patterns, L"*.jpg;*.jpeg;*.png;*.gif;*.bmp;*.tif;*.tiff;*.webp;*.ico");
        lstrcpyW(ofn->lpstrFile, L"C:\\a.ico");
        return TRUE;
    };
    buf[0] = L'x';
    EXPECT_NE(util_open_dialog(&g_app, buf, kPathMax), 0);
    EXPECT_EQ(owner, g_app.hwnd);
    EXPECT_STREQ(buf, L"C:\\a.ico");
    EXPECT_FALSE(IsWindowEnabled(g_app.hwnd));
    DestroyWindow(batch);
}

TEST(UtilRecycle, MovesOneFileToTheBinAndRefusesBadPaths)
{
    std::wstring dir = temp_dir_create(L"recycle");
    std::wstring name = L"rc" + std::to_wstring(GetCurrentProcessId()) + L".jpg";
    ASSERT_TRUE(write_file_bytes(dir + L"\\" + name, "x", 1));
    EXPECT_EQ(util_recycle_file(nullptr, (dir + L"\\" + name).c_str()), 1);
    EXPECT_FALSE(file_exists(dir + L"\\" + name));
    EXPECT_TRUE(trash_holds(name));
    trash_take_back(name);
    EXPECT_EQ(util_recycle_file(nullptr, (dir + L"\\missing.jpg").c_str()), 0);
    EXPECT_EQ(util_recycle_file(nullptr, L""), 0);
    EXPECT_EQ(util_recycle_file(nullptr, nullptr), 0);
    std::wstring long_path = dir + L"\\" + std::wstring(260 - dir.size() - 1, L'a');
    ASSERT_EQ(long_path.size(), 260u);
    EXPECT_EQ(util_recycle_file(nullptr, long_path.c_str()), 0);
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
        EXPECT_EQ(r.left, c.want.left);
        EXPECT_EQ(r.top, c.want.top);
        EXPECT_EQ(r.right, c.want.right);
        EXPECT_EQ(r.bottom, c.want.bottom);
    }
}

TEST_F(Util, PrintReportsNothingSentUnlessAPageWasDrawn)
{
    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token;
    ASSERT_EQ(Gdiplus::GdiplusStartup(&token, &input, nullptr), Gdiplus::Ok);
    EXPECT_EQ(util_print_image(&g_app, nullptr), 0);
    EXPECT_STREQ(g_app.status, L"请先打开一张图片");
    EXPECT_EQ(g_dialogs, 0);

    g_app.image = make_gradient(40, 20, true);
    canvas_sync_gp(&g_app);
    lstrcpyW(g_app.file_name, L"g.png");
    lstrcpyW(g_app.status, L"before");
    g_print_answer = [](PRINTDLGW *pd) { return FALSE; };
    EXPECT_EQ(util_print_image(&g_app, g_app.image), 0);
    EXPECT_STREQ(g_app.status, L"before");  // cancelling is silent
    g_print_answer = [](PRINTDLGW *pd) { return TRUE; };  // no device context
    EXPECT_EQ(util_print_image(&g_app, g_app.image), 0);
    EXPECT_STREQ(g_app.status, L"before");

    // A device that is no printer: no document, no page, no success.
    g_print_answer = [](PRINTDLGW *pd) {
        EXPECT_EQ(pd->Flags, (DWORD)(PD_RETURNDC | PD_NOSELECTION | PD_USEDEVMODECOPIESANDCOLLATE));
        pd->hDC = CreateCompatibleDC(nullptr);
        pd->nCopies = 2;
        return TRUE;
    };
    EXPECT_EQ(util_print_image(&g_app, g_app.image), 0);
    EXPECT_STREQ(g_app.status, L"打印未能完成");

    // A real printer on which the picture cannot be drawn (its bitmap is locked): no page counts.
    image_free(g_app.image);
    g_app.image = make_gradient(40, 20, false);
    canvas_sync_gp(&g_app);
    Gdiplus::GpRect all(0, 0, 40, 20);
    Gdiplus::BitmapData locked;
    ASSERT_EQ(Gdiplus::DllExports::GdipBitmapLockBits(g_app.gp_image, &all, Gdiplus::ImageLockModeRead,
                                                       PixelFormat32bppARGB, &locked), Gdiplus::Ok);
    bool printer = false;
    g_print_answer = [&](PRINTDLGW *pd) {
        pd->Flags |= PD_RETURNDEFAULT;
        printer = PrintDlgW(pd) && pd->hDC;
        return printer ? TRUE : FALSE;
    };
    EXPECT_EQ(util_print_image(&g_app, g_app.image), 0);
    if (printer) {
        EXPECT_STREQ(g_app.status, L"打印未能完成");
    }
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

TEST_F(Util, AboutBoxAndTitle)
{
    EXPECT_EQ(util_show_about(&g_app), 1);
    std::vector<std::wstring> lines;
    for (size_t at = 0, nl; at <= g_box_text.size(); at = nl + 1) {
        nl = g_box_text.find(L'\n', at);
        if (nl == std::wstring::npos) nl = g_box_text.size();
        lines.push_back(g_box_text.substr(at, nl - at));
    }
    ASSERT_EQ(lines.size(), 18u);
    EXPECT_EQ(lines[0], L"Veldmoor 1.0.0");
    EXPECT_EQ(lines[8], L"    空格       幻灯片播放 / 停止");
    EXPECT_EQ(lines[17].rfind(L"官网：", 0), 0u);
    // Every shortcut description starts at display column 15 (CJK characters count two).
    for (int i = 7; i < 16; ++i) {
        size_t start = lines[i].find_first_not_of(L' ', lines[i].find(L"  ", 4));
        int col = 0;
        for (size_t k = 0; k < start; ++k) col += lines[i][k] >= 0x2E80 ? 2 : 1;
        EXPECT_EQ(col, 15) << i;
    }

    lstrcpyW(g_app.file_name, L"a.png");
    util_set_title(&g_app);
    WCHAR title[400];
    GetWindowTextW(g_app.hwnd, title, 400);
    EXPECT_STREQ(title, L"a.png - Veldmoor");
    g_app.file_name[0] = 0;
    util_set_title(&g_app);
    GetWindowTextW(g_app.hwnd, title, 400);
    EXPECT_STREQ(title, L"Veldmoor");
}

}  // namespace
