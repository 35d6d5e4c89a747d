// The command set and the window procedure over a real main window: menus,
// keys, mouse, clipboard, undo, full screen and dropped files.
#include <gtest/gtest.h>
#include "app/app.h"
#include "app/commands.h"
#include "codec/codec.h"
#include "app/nav.h"
#include "shell/modal.h"
#include "ui/ui.h"
#include "version.h"
#include "support/test_support.h"
#include <gdiplus.h>
#include <shlobj.h>
#include <cmath>
#include <algorithm>
#include <functional>
#include <utility>
#include <string>
#include <vector>

namespace {

struct MenuItem {
    int id;
    std::wstring text;
    bool grey;
};
std::vector<MenuItem> g_items;      // items of the last menu shown
std::vector<HMENU> g_menus;         // every menu shown
int g_pick, g_opens, g_prints;      // g_pick: the id the next menu answers with
int g_tip_under_menu;               // tooltip shown when its delay ran out while the last menu was up
std::vector<std::wstring> g_boxes;  // message box texts
std::function<BOOL(OPENFILENAMEW *)> g_save;

int answer_menu(HMENU menu, UINT, int, int, HWND)
{
    g_menus.push_back(menu);
    SendMessageW(g_app.hwnd, WM_TIMER, kTimerTooltip, 0);  // the delay may run out inside the menu's loop
    g_tip_under_menu = g_app.tip_id;
    g_items.clear();
    for (int i = 0; i < GetMenuItemCount(menu); ++i) {
        WCHAR text[128] = L"";
        GetMenuStringW(menu, i, text, 128, MF_BYPOSITION);
        UINT state = GetMenuState(menu, i, MF_BYPOSITION);
        if (!(state & MF_SEPARATOR)) g_items.push_back({(int)GetMenuItemID(menu, i), text, (state & MF_GRAYED) != 0});
    }
    return std::exchange(g_pick, 0);
}
int answer_box(HWND, const WCHAR *text, const WCHAR *, UINT) { return g_boxes.push_back(text), IDYES; }
BOOL answer_save(OPENFILENAMEW *ofn) { return g_save ? g_save(ofn) : FALSE; }
BOOL answer_open(OPENFILENAMEW *) { return ++g_opens, FALSE; }
BOOL answer_print(PRINTDLGW *) { return ++g_prints, FALSE; }

const MenuItem *item(int id)
{
    for (const auto &i : g_items)
        if (i.id == id) return &i;
    return nullptr;
}

void pump()
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) TranslateMessage(&msg), DispatchMessageW(&msg);
}

// Presses Enter in the export dialog once its modal loop runs.
void CALLBACK confirm_export(HWND, UINT, UINT_PTR id, DWORD)
{
    KillTimer(nullptr, id);
    if (HWND dlg = FindWindowW(L"Veldmoor.ExportDlg", nullptr)) SendMessageW(dlg, WM_KEYDOWN, VK_RETURN, 0);
}

void key(WPARAM vk, bool ctrl, LPARAM lp = 0)
{
    BYTE keys[256] = {};
    keys[VK_CONTROL] = ctrl ? 0x80 : 0;
    SetKeyboardState(keys);
    SendMessageW(g_app.hwnd, WM_KEYDOWN, vk, lp);
    keys[VK_CONTROL] = 0;
    SetKeyboardState(keys);
}

LRESULT send(UINT msg, WPARAM wp, int x, int y) { return SendMessageW(g_app.hwnd, msg, wp, MAKELPARAM(x, y)); }
BOOL save_to(OPENFILENAMEW *ofn, const std::wstring &path) { return lstrcpynW(ofn->lpstrFile, path.c_str(), 260), TRUE; }

class Commands : public ::testing::Test {
protected:
    std::wstring dir;
    std::vector<std::wstring> files;

    void SetUp() override
    {
        Gdiplus::GdiplusStartupInput input;
        ASSERT_EQ(Gdiplus::GdiplusStartup(&g_gdipToken, &input, nullptr), Gdiplus::Ok);
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        g_items.clear(), g_menus.clear(), g_boxes.clear();
        g_pick = g_opens = g_prints = 0;
        g_save = nullptr;
        answerers(true);
        app_init_record(&g_app, GetModuleHandleW(nullptr));
        ASSERT_TRUE(app_register_class(g_app.instance));
        ASSERT_NE(app_create_main_window(&g_app), nullptr);
        ShowWindow(g_app.hwnd, SW_SHOW);
        pump();
        dir = temp_dir_create(L"cmds");
    }
    void TearDown() override
    {
        if (IsWindow(g_app.hwnd)) DestroyWindow(g_app.hwnd);
        pump();
        answerers(false);
        temp_dir_remove(dir);
        Gdiplus::GdiplusShutdown(g_gdipToken);
    }
    static void answerers(bool on)
    {
        modal_set_menu_answerer(on ? answer_menu : nullptr);
        modal_set_answerer(on ? answer_box : nullptr);
        modal_set_save_answerer(on ? answer_save : nullptr);
        modal_set_open_answerer(on ? answer_open : nullptr);
        modal_set_print_answerer(on ? answer_print : nullptr);
    }
    // n gradient pictures of w x h in the temp folder; the first is loaded.
    void open_pictures(int n, uint32_t w = 400, uint32_t h = 300)
    {
        Image *img = make_gradient(w, h, false);
        WCHAR err[600];
        for (int i = 0; i < n; ++i) {
            files.push_back(dir + L"\\p" + std::to_wstring(i) + L".png");
            ASSERT_TRUE(codec_save(img, files.back().c_str(), 90, nullptr, err, 600));
        }
        image_free(img);
        app_load(&g_app, files[0].c_str());
        ASSERT_NE(g_app.image, nullptr);
    }
    void run_menu(int opener, int pick) { g_pick = pick, app_command(&g_app, opener); }
};

TEST_F(Commands, MenusGreyWhatNeedsAPicture)
{
    run_menu(11, 0);
    for (int id : {2, 3, 4, 111, 112, 9, 26, 27, 28}) EXPECT_TRUE(item(id) && item(id)->grey) << id;
    for (int id : {1, 51, 52, 57, 142, 6}) EXPECT_TRUE(item(id) && !item(id)->grey) << id;
    EXPECT_EQ(item(1)->text, L"打开图片…\tCtrl+O");
    app_command(&g_app, 8);
    EXPECT_EQ(g_menus.size(), 1u);
    EXPECT_STREQ(g_app.status, L"请先打开一张图片");
    app_show_convert_menu(&g_app);
    ASSERT_EQ(g_items.size(), 9u);
    for (const auto &i : g_items) EXPECT_TRUE(i.grey) << i.id;
    app_show_compress_menu(&g_app);
    ASSERT_EQ(g_items.size(), 7u);
    EXPECT_EQ(g_items[1].text, L"200 KB   各类上传限制");

    open_pictures(1);
    run_menu(11, 0);
    for (int id : {2, 3, 4, 111, 112, 9}) EXPECT_FALSE(item(id)->grey) << id;
    for (int id : {26, 27, 28}) EXPECT_TRUE(item(id)->grey) << id;
    run_menu(21, 0);
    EXPECT_EQ(g_items.size(), 8u);
    for (const auto &i : g_items) EXPECT_FALSE(i.grey) << i.id;
    app_command(&g_app, 9);
    run_menu(11, 0);
    EXPECT_EQ(item(9)->text, L"退出裁剪\tEsc");
    EXPECT_TRUE(item(3)->grey);
}

// Every command reachable from a menu, picked there, and the keys that share it.
TEST_F(Commands, MenuItemsAndKeysRunTheirCommands)
{
    open_pictures(3);
    double fit = g_app.zoom;
    auto status_starts = [](const WCHAR *s) { return wcsstr(g_app.status, s) == g_app.status; };
    auto box_starts = [](const WCHAR *s) { return !g_boxes.empty() && g_boxes.back().find(s) == 0; };
    const struct {
        int opener, pick;
        std::function<bool()> done;
    } rows[] = {
        {11, 52, [] { return g_app.zoom == 1.0; }},          {11, 51, [&] { return g_app.zoom == fit; }},
        {21, 53, [&] { return g_app.zoom > fit * 1.2; }},    {21, 54, [&] { return std::abs(g_app.zoom - fit) < 1e-9; }},
        {11, 27, [] { return g_app.queue_index == 1; }},     {21, 26, [] { return g_app.queue_index == 0; }},
        {11, 28, [] { return g_app.playing == 1; }},         {21, 28, [] { return g_app.playing == 0; }},
        {11, 111, [] { return g_app.image->width == 300; }}, {7, 112, [] { return g_app.image->width == 400; }},
        {11, 1, [] { return g_opens == 1; }},                {11, 2, [] { return g_prints == 1; }},
        {11, 57, [] { return g_app.fullscreen == 1; }},      {21, 57, [] { return g_app.fullscreen == 0; }},
        {7, 113, [] { return g_app.crop_mode == 1; }},       {11, 9, [] { return g_app.crop_mode == 0; }},
        {11, 3, [&] { return status_starts(L"已复制到剪贴板（400 × 300）"); }},
        {11, 6, [&] { return box_starts(L"Veldmoor " VELDMOOR_VERSION_W); }},
        {11, 140, [&] { return box_starts(L"已经加进「打开方式」列表。"); }},
        {11, 141, [&] { return item(141) && box_starts(L"已经从「打开方式」列表里移除本程序。"); }},
    };
    for (const auto &r : rows) {
        run_menu(r.opener, r.pick);
        EXPECT_TRUE(r.done()) << r.opener << " -> " << r.pick;
    }
    const struct {
        WPARAM vk;
        bool ctrl;
        std::function<bool()> done;
    } keys[] = {
        {'1', false, [] { return g_app.zoom == 1.0; }},
        {'0', false, [] { return g_app.fit_mode == 1; }},
        {VK_OEM_PLUS, false, [&] { return g_app.zoom > fit; }},
        {VK_SUBTRACT, false, [&] { return std::abs(g_app.zoom - fit) < 1e-9; }},
        {VK_RIGHT, false, [] { return g_app.queue_index == 1; }},
        {VK_PRIOR, false, [] { return g_app.queue_index == 0; }},
        {'E', false, [] { return g_app.crop_mode == 0; }},
        {'E', true, [] { return g_app.crop_mode == 1; }},
        {VK_LEFT, false, [] { return g_app.queue_index == 0; }},  // picture keys rest in crop mode
        {VK_ESCAPE, false, [] { return g_app.crop_mode == 0 && IsWindow(g_app.hwnd); }},
        {'O', true, [] { return g_opens == 2; }},
        {'C', true, [&] { return status_starts(L"已复制到剪贴板"); }},
        {'Z', true, [&] { return status_starts(L"已撤销，回到打开时的状态"); }},
        {VK_F11, false, [] { return g_app.fullscreen == 1; }},
        {VK_ESCAPE, false, [] { return g_app.fullscreen == 0; }},
        {VK_ESCAPE, false, [] { return IsWindow(g_app.hwnd); }},  // held: the repeat never closes
    };
    for (size_t i = 0; i < std::size(keys); ++i) {
        key(keys[i].vk, keys[i].ctrl, i + 1 == std::size(keys) ? (1 << 30) : 0);
        pump();
        EXPECT_TRUE(keys[i].done()) << "key row " << i;
    }
    key(VK_ESCAPE, false);
    pump();
    EXPECT_FALSE(IsWindow(g_app.hwnd));
}

TEST_F(Commands, UndoAfterRotateAndCropGivesTheLoadedPicture)
{
    app_command(&g_app, 5);
    EXPECT_STREQ(g_app.status, L"当前没有可撤销的操作");
    open_pictures(1);
    std::vector<uint8_t> loaded(g_app.image->data, g_app.image->data + 400 * 300 * 4);
    app_command(&g_app, 5);  // nothing edited yet: the view goes back, no copy is made
    EXPECT_STREQ(g_app.status, L"已撤销，回到打开时的状态");
    EXPECT_EQ(g_app.undo_image, nullptr);
    app_command(&g_app, 111);
    EXPECT_STREQ(g_app.status, L"已逆时针旋转 90°，当前 300 × 400");
    app_command(&g_app, 9);
    g_app.sel_active = 1, g_app.sel_x = 10, g_app.sel_y = 20, g_app.sel_w = 100, g_app.sel_h = 50;
    g_save = [&](OPENFILENAMEW *ofn) { return save_to(ofn, dir + L"\\cut.png"); };
    app_command(&g_app, 207);
    EXPECT_EQ(g_app.image->width, 100u);
    EXPECT_TRUE(file_exists(dir + L"\\cut.png"));
    for (int round = 0; round < 2; ++round) {
        app_command(&g_app, 5);
        ASSERT_EQ(g_app.image->width, 400u);
        EXPECT_EQ(memcmp(g_app.image->data, loaded.data(), loaded.size()), 0);
    }
}

TEST_F(Commands, ClipboardHoldsBottomUpBgraDib)
{
    open_pictures(1, 3, 2);
    app_command(&g_app, 3);
    ASSERT_TRUE(OpenClipboard(g_app.hwnd));
    HGLOBAL block = GetClipboardData(CF_DIB);
    ASSERT_EQ(block ? GlobalSize(block) : 0, 64u);
    auto *bytes = (const uint8_t *)GlobalLock(block);
    auto *bih = (const BITMAPINFOHEADER *)bytes;
    EXPECT_TRUE(bih->biWidth == 3 && bih->biHeight == 2 && bih->biBitCount == 32);
    EXPECT_EQ(memcmp(bytes + 40, g_app.image->data + 12, 12), 0);  // bottom row first
    EXPECT_EQ(memcmp(bytes + 52, g_app.image->data, 12), 0);
    GlobalUnlock(block);
    CloseClipboard();
}

// Also: the frame change at creation gives the design's client area, and a resize
// leaves no old back buffer behind.
TEST_F(Commands, FullScreenRestoresThePlacement)
{
    RECT rc, before, full, after;
    GetClientRect(g_app.hwnd, &rc);
    EXPECT_TRUE(rc.right == 1100 && rc.bottom == 720);
    UpdateWindow(g_app.hwnd);
    HBITMAP old = g_app.back_bitmap;
    SetWindowPos(g_app.hwnd, nullptr, 120, 80, 900, 600, SWP_NOZORDER);
    UpdateWindow(g_app.hwnd);
    EXPECT_TRUE(old && GetObjectType(old) == 0 && g_app.back_w == 900);
    GetWindowRect(g_app.hwnd, &before);
    app_command(&g_app, 29);
    pump();
    GetWindowRect(g_app.hwnd, &full);
    EXPECT_EQ(full.right - full.left, GetSystemMetrics(SM_CXSCREEN));
    EXPECT_EQ(g_app.client_h, GetSystemMetrics(SM_CYSCREEN));
    EXPECT_EQ(g_app.rc_top.bottom, 0);
    EXPECT_STREQ(g_app.status, L"全屏中 · 按 Esc 或 F11 退出");
    app_command(&g_app, 29);
    pump();
    GetWindowRect(g_app.hwnd, &after);
    EXPECT_TRUE(EqualRect(&before, &after));
    EXPECT_TRUE(GetWindowLongW(g_app.hwnd, GWL_STYLE) & WS_THICKFRAME);
}

// A DROPFILES block as the shell builds it.
HDROP make_drop(const std::vector<std::wstring> &names)
{
    size_t chars = 1;
    for (const auto &n : names) chars += n.size() + 1;
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(DROPFILES) + chars * sizeof(WCHAR));
    auto *df = (DROPFILES *)GlobalLock(h);
    df->pFiles = sizeof(DROPFILES);
    df->fWide = TRUE;
    auto *p = (WCHAR *)(df + 1);
    for (const auto &n : names) p = std::copy(n.begin(), n.end(), p) + 1;
    GlobalUnlock(h);
    return (HDROP)h;
}

TEST_F(Commands, DroppedPicturesFoldersAndOtherFiles)
{
    open_pictures(2);
    std::wstring text = dir + L"\\notes.txt", sub = dir + L"\\sub", empty = dir + L"\\empty";
    write_file_bytes(text, "hi", 2);
    CreateDirectoryW(sub.c_str(), nullptr);
    CreateDirectoryW(empty.c_str(), nullptr);
    CopyFileW(files[1].c_str(), (sub + L"\\z.png").c_str(), FALSE);
    // A 259-unit picture name; a longer dropped name must not be cut down to it.
    std::wstring cut = dir + L"\\" + std::wstring(254 - dir.size(), L'x') + L".png";
    ASSERT_TRUE(cut.size() == 259 && CopyFileW(files[1].c_str(), cut.c_str(), FALSE));

    SendMessageW(g_app.hwnd, WM_DROPFILES, (WPARAM)make_drop({text, empty, cut + L".txt"}), 0);
    EXPECT_STREQ(g_app.status, L"拖入的内容里没有可识别的图片");
    EXPECT_STREQ(g_app.file_name, L"p0.png");
    DeleteFileW(cut.c_str());
    SendMessageW(g_app.hwnd, WM_DROPFILES, (WPARAM)make_drop({text, sub}), 0);
    EXPECT_STREQ(g_app.file_name, L"z.png");
    SendMessageW(g_app.hwnd, WM_DROPFILES, (WPARAM)make_drop({files[1], text, files[0]}), 0);
    EXPECT_EQ(g_app.queue_count, 2);
    EXPECT_STREQ(g_app.file_name, L"p1.png");
}

TEST_F(Commands, MouseDragsRightClickMenusAndDoubleClicks)
{
    open_pictures(3);
    int cx = (g_app.rc_canvas.left + g_app.rc_canvas.right) / 2, cy = (g_app.rc_canvas.top + g_app.rc_canvas.bottom) / 2;
    // A right-button drag pans and shows no menu.
    int vx = g_app.view_x;
    send(WM_RBUTTONDOWN, MK_RBUTTON, cx, cy);
    send(WM_MOUSEMOVE, MK_RBUTTON, cx, cy);
    send(WM_MOUSEMOVE, MK_RBUTTON, cx + 40, cy);
    send(WM_RBUTTONUP, 0, cx + 40, cy);
    EXPECT_EQ(g_app.view_x, vx + 40);
    EXPECT_TRUE(g_menus.empty());
    // A left drag whose capture is lost stops following the pointer.
    send(WM_LBUTTONDOWN, MK_LBUTTON, cx, cy);
    send(WM_CAPTURECHANGED, 0, 0, 0);
    send(WM_MOUSEMOVE, 0, cx + 90, cy);
    EXPECT_EQ(g_app.view_x, vx + 40);
    // 100 right clicks leave no live menu behind.
    for (int i = 0; i < 100; ++i) send(WM_RBUTTONDOWN, MK_RBUTTON, cx, cy), send(WM_RBUTTONUP, 0, cx, cy);
    ASSERT_EQ(g_menus.size(), 100u);
    EXPECT_EQ(item(7)->text, L"转换格式…");
    EXPECT_EQ(std::count_if(g_menus.begin(), g_menus.end(), [](HMENU m) { return IsMenu(m); }), 0);
    g_pick = 55;
    send(WM_RBUTTONUP, 0, cx, cy);
    EXPECT_EQ(g_app.queue_index, 1);
    // The thumbnail menu names the picture being shown.
    int ty = (g_app.rc_strip.top + g_app.rc_strip.bottom) / 2, tx[2] = {-1, -1};
    for (int x = g_app.rc_strip.left; x < g_app.rc_strip.right; ++x) {
        int h = ui_hit(&g_app, x, ty) - 1000;
        if (h == 1 || h == 2) tx[h - 1] = x;
    }
    send(WM_RBUTTONUP, 0, tx[0], ty);
    EXPECT_EQ(g_items[0].text, L"✓ 正在看这一张");
    g_pick = 1002;
    send(WM_RBUTTONUP, 0, tx[1], ty);
    EXPECT_EQ(g_items[0].text, L"查看这一张");
    EXPECT_EQ(g_app.queue_index, 2);
    // Hovering over the compress button opens its menu after the delay.
    int b8 = -1;
    for (int i = 0; i < g_app.button_count; ++i)
        if (g_app.buttons[i].cmd == 8) b8 = g_app.buttons[i].x + 5;
    send(WM_MOUSEMOVE, 0, b8, 22);
    send(WM_TIMER, kTimerTooltip, 0, 0);
    ASSERT_EQ(g_app.tip_id, 8);
    send(WM_TIMER, kTimerHoverMenu, 0, 0);
    EXPECT_EQ(g_items[0].id, 120);
    EXPECT_EQ(g_tip_under_menu, 0);  // no tooltip beside the open menu
    // Double clicks: a paging arrow steps twice, the picture toggles crop mode, the title maximises.
    int ax = g_app.rc_canvas.right - 30;
    ASSERT_EQ(ui_canvas_hot(&g_app, ax, cy), 2);
    send(WM_LBUTTONDOWN, MK_LBUTTON, ax, cy);
    send(WM_LBUTTONUP, 0, ax, cy);
    send(WM_LBUTTONDBLCLK, MK_LBUTTON, ax, cy);
    EXPECT_TRUE(g_app.queue_index == 1 && g_app.crop_mode == 0);
    send(WM_LBUTTONDBLCLK, MK_LBUTTON, cx, cy);
    EXPECT_EQ(g_app.crop_mode, 1);
    send(WM_TIMER, kTimerHoverMenu, 0, 0);  // not in crop mode
    EXPECT_EQ(g_menus.size(), 104u);
    SendMessageW(g_app.hwnd, WM_NCLBUTTONDBLCLK, HTCAPTION, 0);
    pump();
    EXPECT_TRUE(IsZoomed(g_app.hwnd));
    RECT wr;
    GetWindowRect(g_app.hwnd, &wr);  // maximised: no resizing edge
    EXPECT_EQ(SendMessageW(g_app.hwnd, WM_NCHITTEST, 0, MAKELPARAM(wr.left, wr.top + 300)), HTCLIENT);
    ShowWindow(g_app.hwnd, SW_RESTORE);
    GetWindowRect(g_app.hwnd, &wr);
    EXPECT_EQ(SendMessageW(g_app.hwnd, WM_NCHITTEST, 0, MAKELPARAM(wr.left, wr.top + 300)), HTLEFT);
}

// A picture still as its file holds it, already in the chosen format and within the
// target, is kept byte for byte rather than encoded a generation worse; once turned
// it is compressed as usual.
TEST_F(Commands, CompressKeepsAnUnchangedPictureThatAlreadyFits)
{
    Image *img = make_gradient(600, 400, false);
    WCHAR err[600];
    std::wstring src = dir + L"\\fits.jpg", out = dir + L"\\out.jpg";
    ASSERT_TRUE(codec_save(img, src.c_str(), 97, nullptr, err, 600)) << err;
    image_free(img);
    app_load(&g_app, src.c_str());
    g_save = [&](OPENFILENAMEW *ofn) { return save_to(ofn, out); };
    g_app.compress_format = 0;
    do_compress_run(&g_app, 200);
    EXPECT_TRUE(read_file_bytes(out) == read_file_bytes(src));
    EXPECT_NE(wcsstr(g_app.status, L"已经小于目标体积，保留原图"), nullptr) << g_app.status;
    app_command(&g_app, 111);
    do_compress_run(&g_app, 200);
    EXPECT_FALSE(read_file_bytes(out) == read_file_bytes(src));
    EXPECT_TRUE(wcsstr(g_app.status, L"已压缩并保存 out.jpg") == g_app.status) << g_app.status;
}

TEST_F(Commands, ConvertAndCompressSaveWhatWasChosenForTheirPicture)
{
    open_pictures(2, 600, 400);
    g_save = [&](OPENFILENAMEW *ofn) { return save_to(ofn, dir + L"\\conv"); };
    SetTimer(nullptr, 0, 1, confirm_export);
    run_menu(7, 103);  // BMP chosen; a name without extension is written as JPEG
    EXPECT_TRUE(wcsstr(g_app.status, L"已转换并保存 conv（JPEG，") == g_app.status) << g_app.status;
    EXPECT_STREQ(app_format_name(L"C:\\a\\b.JFIF"), L"?");

    std::wstring out = dir + L"\\small.webp", ext;
    DWORD filter = 0;
    g_save = [&](OPENFILENAMEW *ofn) {
        filter = ofn->nFilterIndex, ext = ofn->lpstrDefExt;
        play_proc(g_app.hwnd, WM_TIMER, kTimerSlideshow, 0);  // a slideshow tick inside the dialog
        return save_to(ofn, out);
    };
    app_command(&g_app, 28);
    g_app.compress_format = 2;
    SetTimer(nullptr, 0, 1, confirm_export);
    run_menu(8, 121);
    EXPECT_TRUE(filter == 3 && ext == L"webp");
    EXPECT_EQ(g_app.queue_index, 0);
    auto bytes = read_file_bytes(out);
    ASSERT_GT(bytes.size(), 12u);
    EXPECT_LE(bytes.size(), 200u * 1024);
    EXPECT_EQ(memcmp(bytes.data() + 8, "WEBP", 4), 0);
    // A picture replaced while the name is asked for is not the one written.
    DeleteFileW(out.c_str());
    g_save = [&](OPENFILENAMEW *ofn) { return app_load(&g_app, files[1].c_str()), save_to(ofn, out); };
    do_compress_run(&g_app, 200);
    EXPECT_FALSE(file_exists(out));
    EXPECT_STREQ(g_app.status, L"图片已经换了，这次操作已取消");
}

}  // namespace
