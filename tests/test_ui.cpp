// Chrome layout, toolbar enabling, hit testing, tooltips and the painted
// chrome, on an App record (no window) painted into a 32-bit DIB.
#include <gtest/gtest.h>
#include "app/app.h"
#include "app/commands.h"
#include "app/nav.h"
#include "codec/codec.h"
#include "crop/panel.h"
#include "files/browse.h"
#include "shell/modal.h"
#include "support/record_fixture.h"
#include "support/test_support.h"
#include "ui/icons.h"
#include "ui/ui.h"
#include "view/canvas.h"
#include <gdiplus.h>
#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace {

const ToolButton *find_button(const App *app, int cmd)
{
    for (int i = 0; i < app->button_count; ++i)
        if (app->buttons[i].cmd == cmd) return &app->buttons[i];
    return nullptr;
}

class Chrome : public RecordTest {
protected:
    void lay_out(int dpi, int w, int h)
    {
        app->dpi = dpi;
        app->client_w = w, app->client_h = h;
        ui_rebuild_toolbar(app);
    }
    void with_picture()
    {
        app->image = image_new(400, 300);
        canvas_sync_gp(app);
        ui_sync_enabled(app);
    }
    int name_at = -1;           // the entry that takes name_path instead of its numbered name
    const WCHAR *name_path = nullptr;
    void with_queue(int count, int index)
    {
        queue_clear(&app->queue);
        app->queue_index = index;
        WCHAR path[kPathMax];
        for (int i = 0; i < count; ++i) {
            swprintf(path, kPathMax, L"C:\\pics\\p%02d.jpg", i);
            queue_add(&app->queue, i == name_at ? name_path : path);
        }
    }
    const ToolButton *button(int cmd) { return find_button(app, cmd); }
};

bool same(const RECT &a, const RECT &b)
{
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

TEST_F(Chrome, LayoutAt96And144Dpi)
{
    lay_out(96, 1200, 800);
    EXPECT_TRUE(same(app->rc_top, {0, 0, 1200, 44}));
    EXPECT_TRUE(same(app->rc_canvas, {0, 44, 1200, 760}));
    EXPECT_TRUE(same(app->rc_bottom, {0, 760, 1200, 800}));
    EXPECT_TRUE(same(app->rc_zoom, {1022, 765, 1192, 795}));
    EXPECT_TRUE(same(app->rc_strip, {8, 763, 1010, 797}));  // whole slots inside the bottom strip
    EXPECT_EQ(app->rc_panel.right - app->rc_panel.left, 0);
    EXPECT_EQ(button(15)->x + button(15)->width, 1196);  // right group ends 4 from the edge
    EXPECT_EQ(button(1)->x, 8);
    int open96 = button(1)->width;
    EXPECT_GE(open96, 52);
    EXPECT_EQ(app->rc_title.right, button(11)->x - 14);

    lay_out(144, 1800, 1200);
    EXPECT_EQ(app->rc_top.bottom, 66);
    EXPECT_EQ(app->rc_zoom.right - app->rc_zoom.left, 255);
    EXPECT_EQ(button(15)->width, 48);
    EXPECT_NEAR(button(1)->width, open96 * 1.5, 3);  // the label is measured at 21 pixels

    app->crop_mode = 1;
    lay_out(96, 500, 600);
    EXPECT_TRUE(same(app->rc_panel, {250, 44, 500, 560}));
    EXPECT_EQ(app->rc_canvas.right, 250);
    app->crop_mode = 0;
    app->fullscreen = 1;
    lay_out(96, 1200, 800);
    EXPECT_TRUE(same(app->rc_canvas, {0, 0, 1200, 800}));
    EXPECT_EQ(ui_in_caption(app, 600, 0), 0);
}

TEST_F(Chrome, ToolbarEnablingWithAndWithoutAPicture)
{
    lay_out(96, 1100, 720);
    struct Case {
        bool picture, crop;
        std::set<int> enabled;
    };
    const Case cases[] = {
        {false, false, {1, 11, 12, 13, 14, 15}},  // batch needs no open picture
        {true, false, {1, 7, 8, 9, 12, 2, 3, 4, 11, 13, 14, 15}},
        {true, true, {1, 9, 11, 12, 13, 14, 15}},
    };
    for (const Case &c : cases) {
        app_release_picture(app);
        if (c.picture) with_picture();
        app->crop_mode = c.crop;
        ui_sync_enabled(app);
        std::set<int> got;
        for (int i = 0; i < app->button_count; ++i)
            if (app->buttons[i].cmd && app->buttons[i].enabled) got.insert(app->buttons[i].cmd);
        EXPECT_EQ(got, c.enabled) << c.picture << c.crop;
        EXPECT_EQ(button(9)->toggled, c.crop ? 1 : 0);
    }
    app->maximized = 1;
    ui_sync_winmax(app);
    EXPECT_EQ(button(14)->icon, kIconRestore);
}

TEST_F(Chrome, EveryPointHitsTheRightId)
{
    lay_out(96, 1100, 720);
    with_picture();
    with_queue(20, 19);
    ui_layout(app, 1100, 720);
    // Sweep every pixel: each id's area must be where its zone is drawn.
    std::set<int> seen;
    for (int y = 0; y < 720; ++y)
        for (int x = 0; x < 1100; ++x) {
            int id = ui_hit(app, x, y);
            if (!id) continue;
            seen.insert(id);
            if (id < 20) {
                const ToolButton *b = button(id);
                ASSERT_TRUE(b && b->enabled && x >= b->x && x < b->x + b->width && y < 44) << id << " at " << x << "," << y;
            } else if (id <= 24) {
                ASSERT_TRUE(x >= app->rc_zoom.left && x < app->rc_zoom.right && y >= app->rc_zoom.top &&
                            y < app->rc_zoom.bottom) << id;
            } else if (id == 26 || id == 27) {
                RECT r;
                arrow_rect(app, id == 26, &r);
                ASSERT_TRUE(x >= r.left && x < r.right && y >= r.top && y < r.bottom) << id;
            } else {
                ASSERT_GE(id, 1000 + 11) << "entries 11 to 19 are shown";
                ASSERT_LE(id, 1000 + 19);
                ASSERT_GE(y, app->rc_bottom.top);
            }
        }
    std::set<int> expected = {1, 7, 8, 9, 12, 2, 3, 4, 11, 13, 14, 15, 21, 22, 23, 24, 26, 27};
    for (int i = 11; i < 20; ++i) expected.insert(1000 + i);
    EXPECT_EQ(seen, expected);

    int zl = app->rc_zoom.left, zy = app->rc_zoom.top + 15;
    EXPECT_EQ(ui_hit(app, zl + 10, zy), 22);
    EXPECT_EQ(ui_hit(app, zl + 60, zy), 21);
    EXPECT_EQ(ui_hit(app, zl + 120, zy), 23);
    EXPECT_EQ(ui_hit(app, zl + 160, zy), 24);

    // A disabled button is not hit but still blocks window dragging.
    app_release_picture(app);
    ui_sync_enabled(app);
    const ToolButton *print = button(2);
    EXPECT_EQ(ui_hit(app, print->x + 5, 20), 0);
    EXPECT_EQ(ui_in_caption(app, print->x + 5, 20), 0);
    EXPECT_EQ(ui_in_caption(app, (app->rc_title.left + app->rc_title.right) / 2, 20), 1);
}

TEST_F(Chrome, FullScreenHitsTheFloatingZoomBoxAndHasNoArrows)
{
    lay_out(96, 1100, 720);
    with_picture();
    with_queue(5, 2);
    app->fullscreen = 1;
    ui_layout(app, 1100, 720);
    RECT z = ui_zoom_box(app);
    EXPECT_TRUE(same(z, {465, 672, 635, 702}));
    EXPECT_EQ(ui_hit(app, z.left + 60, z.top + 10), 21);
    EXPECT_EQ(ui_hit(app, z.left + 160, z.top + 10), 24);
    EXPECT_EQ(ui_hit(app, 1100 - 20, 719), 0);  // nothing where no box is drawn
    RECT r;
    EXPECT_EQ(arrow_rect(app, 1, &r), 0);
    EXPECT_EQ(ui_canvas_hot(app, 40, 360), 3);
}

TEST_F(Chrome, ThumbnailRowKeepsTheCurrentPictureInView)
{
    lay_out(96, 1100, 720);
    int xs[kStripMax], first;
    EXPECT_EQ(strip_geom(app, xs, &first), 0);
    struct Case {
        int count, index, n, first;
    };
    static constexpr Case kCases[] = {{20, 0, 9, 0}, {20, 19, 9, 11}, {20, 10, 9, 6}, {1, 0, 1, 0}, {3, 2, 3, 0}};
    for (const Case &c : kCases) {
        with_queue(c.count, c.index);
        EXPECT_EQ(strip_geom(app, xs, &first), c.n) << c.count << "/" << c.index;
        EXPECT_EQ(first, c.first) << c.count << "/" << c.index;
        EXPECT_EQ(xs[c.n - 1] + 62, app->rc_strip.right) << "right-aligned";
    }
    RECT r;
    with_queue(1, 0);
    EXPECT_EQ(arrow_rect(app, 1, &r), 0);
}

// ---- painting ----

class ChromePaint : public Chrome {
protected:
    Dib d;
    HDC dc = nullptr;
    int w = 1100, h = 720;
    void SetUp() override
    {
        Chrome::SetUp();
        ASSERT_TRUE(dib_create(&d, w, h));
        dc = d.dc;
        lay_out(96, w, h);
    }
    void TearDown() override
    {
        dib_free(&d);
        Chrome::TearDown();
    }
    void paint() { ui_paint(app, dc); }
    uint32_t at(int x, int y) { return d.at(x, y); }
    // Pixels in the box that differ from the window background.
    int ink(int l, int t, int r, int b)
    {
        int n = 0;
        for (int y = t; y < b; ++y)
            for (int x = l; x < r; ++x) n += at(x, y) != 0x1A1A1Du;
        return n;
    }
};

TEST_F(ChromePaint, FactsSizesAndZoomTexts)
{
    WCHAR text[96];
    ui_facts_text(app, text, 96);
    EXPECT_STREQ(text, L"");
    with_picture();
    struct Case {
        int32_t bytes;
        const WCHAR *expect;
    };
    static constexpr Case kCases[] = {
        {1572864, L"400 × 300   1.50 MB"},
        {1048575, L"400 × 300   1024 KB"},
        {(int32_t)0x90000000u, L"400 × 300   2304.00 MB"},  // past 2 GiB the low 32 bits are unsigned
    };
    for (const Case &c : kCases) {
        app->file_size = c.bytes;
        ui_facts_text(app, text, 96);
        EXPECT_STREQ(text, c.expect);
    }
    static constexpr struct {
        double zoom;
        const WCHAR *expect;
    } kZooms[] = {{0.004, L"100%"}, {1.0, L"100%"}, {2.345, L"235%"}, {0.2, L"20%"}};
    for (const auto &z : kZooms) {
        ui_zoom_text(z.zoom, text, 24);
        EXPECT_STREQ(text, z.expect);
    }
}

TEST_F(ChromePaint, LongTitlesAreShortenedInTheMiddle)
{
    const WCHAR *name = L"a_very_long_file_name_from_a_camera_0123456789.jpg";
    WCHAR out[300];
    int full = icon_text_width(dc, name, 13, 400);
    ASSERT_GT(full, 100);
    ASSERT_TRUE(ui_fit_title(dc, name, full + 2, 13, out, 300));
    EXPECT_STREQ(out, name);
    ASSERT_TRUE(ui_fit_title(dc, name, full / 2, 13, out, 300));
    std::wstring s = out;
    size_t cut = s.find(L'…');
    ASSERT_NE(cut, std::wstring::npos);
    size_t tail = s.size() - cut - 1;
    EXPECT_TRUE(cut == tail || cut + 1 == tail) << "head " << cut << " tail " << tail;
    EXPECT_EQ(s.substr(0, cut), std::wstring(name).substr(0, cut));
    EXPECT_EQ(s.substr(cut + 1), std::wstring(name).substr(wcslen(name) - tail));
    EXPECT_LE(icon_text_width(dc, out, 13, 400), full / 2);
    EXPECT_FALSE(ui_fit_title(dc, name, 3, 13, out, 300));
}

TEST_F(ChromePaint, StatusShowsWithOnePictureAndWithNone)
{
    ui_set_status(app, L"%s", L"这个目录里只有这一张图片");
    paint();
    int p = 8, band_t = app->rc_bottom.top, band_b = app->rc_bottom.bottom;
    EXPECT_GT(ink(p, band_t, 300, band_b), 30) << "status without a picture";
    with_picture();
    with_queue(1, 0);
    paint();
    // Facts in their column, the status after it.
    EXPECT_GT(ink(p, band_t, p + 140, band_b), 30);
    EXPECT_GT(ink(p + 168, band_t, p + 168 + 120, band_b), 30) << "status with one picture";
    // The hint lines are gone once a picture shows.
    EXPECT_EQ(ink(0, 44, 100, 60), 0);
}

// Every text of the bottom strip fits its box whole and stops before the thumbnails
// and the zoom box; what does not fit is left out, and only the status is ever
// shortened, with "…" and never inside a number.
TEST_F(ChromePaint, BottomTextsNeverCutANumber)
{
    const WCHAR *kStatus = L"已逆时针旋转 90°，当前 1200 × 1800 · 12345678 KB";
    struct Case {
        int dpi, w, h, queue;
        uint32_t pw, ph;
    } cases[] = {{144, 1100, 720, 9, 1200, 1800}, {144, 1100, 720, 1, 1200, 1800}, {144, 1100, 720, 3, 10000, 250},
                 {144, 1140, 780, 9, 1200, 1800}, {96, 760, 520, 9, 1200, 1800},  {96, 1100, 720, 9, 1200, 1800},
                 {96, 760, 520, 0, 0, 0},         {144, 1100, 720, 2, 40, 30}};
    for (const Case &c : cases) {
        app_release_picture(app);
        lay_out(c.dpi, c.w, c.h);
        if (c.pw) app->image = image_new(c.pw, c.ph);
        app->file_size = 1572864;
        with_queue(c.queue, c.queue / 2);
        ui_set_status(app, L"%s", kStatus);
        ui_layout(app, c.w, c.h);
        WCHAR facts[96], dims[64], pos[32];
        ui_facts_text(app, facts, 96);
        swprintf(dims, 64, L"%u × %u", c.pw, c.ph);
        swprintf(pos, 32, L"%d / %d", c.queue / 2 + 1, c.queue);
        StripText t[kStripTexts];
        int n = ui_strip_texts(app, dc, t), xs[kStripMax], first, end = app->rc_zoom.left;
        if (strip_geom(app, xs, &first) > 0) end = std::min(end, xs[0]);
        for (int i = 0; i < n; ++i) {
            std::wstring text = t[i].text, status = kStatus;
            EXPECT_LE(icon_text_width(dc, t[i].text, (float)ui_scale(app, 11), 400), t[i].right - t[i].left) << c.w;
            EXPECT_LE(t[i].right, end) << c.dpi << " " << c.w;
            if (text == facts || text == dims || text == pos || text == status) continue;
            size_t keep = text.size() - 1;  // a head of the status, then "…", not splitting a number
            ASSERT_TRUE(text.back() == L'…' && status.compare(0, keep, text, 0, keep) == 0) << c.dpi << " " << c.w;
            EXPECT_FALSE(iswdigit(status[keep - 1]) && iswdigit(status[keep])) << c.dpi << " " << c.w;
        }
    }
}

// Narrow title strips drop the buttons' labels before the title loses its room.
TEST_F(ChromePaint, TheTitleKeepsRoomAtEveryWidthAndDpi)
{
    with_picture();
    lstrcpyW(app->file_name, L"Landscape_6.jpg");
    for (int dpi : {96, 120, 144})
        for (int w : {std::min(1100, MulDiv(760, dpi, 96)), 1100, 1400}) {  // the smallest window, the first one
            lay_out(dpi, w, 720);
            EXPECT_GE(app->rc_title.right - app->rc_title.left, ui_scale(app, 140)) << dpi << " " << w;
            for (int i = 0; i + 1 < app->button_count; ++i)  // buttons never overlap
                EXPECT_LE(app->buttons[i].x + app->buttons[i].width, app->buttons[i + 1].x) << dpi << " " << w;
        }
    lay_out(96, 1100, 720);
    EXPECT_STREQ(button(1)->label, L"打开") << "wide enough: labels kept";
    lay_out(144, 1100, 720);
    paint();
    RECT t = app->rc_title;
    EXPECT_GT(ink(t.left, t.top, t.right, t.bottom), 50) << "the file name shows at 144 dpi";
}

TEST_F(ChromePaint, HoverAndToggleColours)
{
    with_picture();
    int cy = 22;
    app->hot_button = 13;
    paint();
    EXPECT_EQ(at(button(13)->x + 2, cy), 0x2E2E34u);  // the line colour (close turns red: end to end)
    app->crop_mode = 1;
    ui_sync_enabled(app);
    paint();
    EXPECT_EQ(at(button(9)->x + 3, cy), 0x4C9AFFu);  // crop toggle on: accent
    // The fit segment of the zoom box is accent-coloured only in fit mode.
    int fit_l = app->rc_zoom.left + 134;
    app->fit_mode = 1;
    paint();
    int accent = 0;
    for (int y = app->rc_zoom.top; y < app->rc_zoom.bottom; ++y)
        for (int x = fit_l; x < app->rc_zoom.right; ++x) accent += at(x, y) == 0x4C9AFFu;
    EXPECT_GT(accent, 5);
}

TEST_F(ChromePaint, TooltipTextsAndPlacement)
{
    with_picture();
    name_at = 2, name_path = L"C:\\pics\\name.jpg";
    with_queue(5, 0);
    app->hot_button = 1002;
    EXPECT_EQ(ui_tip_check(app), 1);
    EXPECT_STREQ(app->tip_text, L"第 3 张：name.jpg");
    EXPECT_EQ(ui_tip_check(app), 1);  // thumbnails report every time
    app->hot_button = 1007;
    EXPECT_EQ(ui_tip_check(app), 1);  // not an entry: hidden
    EXPECT_EQ(app->tip_id, 0);
    EXPECT_EQ(ui_tip_check(app), 0);
    app->hot_button = 0;
    app->zoom_hot = 4;
    EXPECT_EQ(ui_tip_check(app), 1);
    EXPECT_STREQ(app->tip_text, L"选择缩放倍率");
    EXPECT_EQ(ui_tip_check(app), 0);
    app->zoom_hot = 0;
    app->hot_button = 15;
    EXPECT_EQ(ui_tip_check(app), 1);
    EXPECT_STREQ(app->tip_text, L"关闭");
    EXPECT_EQ(ui_tip_check(app), 0);
    // Under the close button, pushed left to end 6 pixels inside the window.
    paint();
    int t = 44 + 6 + 13, right = -1;
    for (int x = 0; x < w; ++x)
        if (at(x, t) != 0x1A1A1Du && x > 900) right = x;
    EXPECT_NEAR(right, w - 6 - 1, 1);  // Wine draws the outline a pixel out
    EXPECT_NE(at(w - 30, t), 0x1A1A1Du);
}

// ---- the real window ----

void pump()
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
}

// The real main window, for the tests that drive it through its messages.
class ChromeRealWindow : public ::testing::Test {
protected:
    App *app = &g_app;
    void SetUp() override
    {
        Gdiplus::GdiplusStartupInput input;
        ASSERT_EQ(Gdiplus::GdiplusStartup(&g_gdipToken, &input, nullptr), Gdiplus::Ok);
        app_init_record(app, GetModuleHandleW(nullptr));
        ASSERT_TRUE(app_register_class(app->instance));
        ASSERT_NE(app_create_main_window(app), nullptr);
        ShowWindow(app->hwnd, SW_SHOW);
        pump();
    }
    void TearDown() override
    {
        if (IsWindow(app->hwnd)) DestroyWindow(app->hwnd);
        pump();
        Gdiplus::GdiplusShutdown(g_gdipToken);
    }
    void set_dpi(int dpi, int w, int h)
    {
        RECT now;
        GetWindowRect(app->hwnd, &now);
        RECT suggested = {now.left, now.top, now.left + w, now.top + h};
        SendMessageW(app->hwnd, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), (LPARAM)&suggested);
        pump();
    }
};

TEST_F(ChromeRealWindow, HandCursorStaysAndDpiChangeRebuildsTheChrome)
{
    NEEDS_TESTDATA();
    app_load(app, testdata_path(L"orientation/Landscape_1.jpg").c_str());
    for (DWORD start = GetTickCount(); browse_listing(app) && GetTickCount() - start < 10000; pump())
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    RECT r;
    ASSERT_TRUE(arrow_rect(app, 1, &r));
    auto move_to = [&](int x, int y) { SendMessageW(app->hwnd, WM_MOUSEMOVE, 0, MAKELPARAM(x, y)); };
    auto set_cursor = [&] { SendMessageW(app->hwnd, WM_SETCURSOR, (WPARAM)app->hwnd, MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)); };
    move_to((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    EXPECT_EQ(app->canvas_hot, 1);
    // Every WM_SETCURSOR answers from the hover state, not with the class cursor.
    for (int i = 0; i < 3; ++i) {
        set_cursor();
        EXPECT_EQ(GetCursor(), LoadCursorW(nullptr, IDC_HAND)) << i;
    }
    move_to(app->client_w / 2, app->client_h / 2);
    set_cursor();
    EXPECT_EQ(GetCursor(), LoadCursorW(nullptr, IDC_ARROW));

    // 144 dpi: the chrome is rebuilt, a capture dropped, the picture refitted.
    app->hot_button = 15;
    SetCapture(app->hwnd);
    RECT now;
    GetWindowRect(app->hwnd, &now);
    RECT suggested = {now.left, now.top, now.left + 1650, now.top + 1080};
    SendMessageW(app->hwnd, WM_DPICHANGED, MAKEWPARAM(144, 144), (LPARAM)&suggested);
    EXPECT_EQ(app->dpi, 144);
    EXPECT_EQ(GetCapture(), nullptr);
    EXPECT_EQ(app->hot_button, 0);
    EXPECT_EQ(app->rc_top.bottom, 66);
    EXPECT_EQ(find_button(app, 15)->width, 48);
    EXPECT_NE(app->font_text, nullptr);
    EXPECT_GE(app->client_w, 1600);
    EXPECT_EQ(app->fit_mode, 1);
    EXPECT_NEAR(app->zoom, std::min((double)(app->rc_canvas.right) / 1800,
                                    (double)(app->rc_canvas.bottom - app->rc_canvas.top) / 1200), 1e-9);
}

// A picture whose top rows are red and bottom rows blue, so that a thumbnail cut
// at the top or bottom shows.
void save_banded(const std::wstring &path)
{
    Image *img = image_new(90, 60);
    for (uint32_t y = 0; y < 60; ++y)
        for (uint32_t x = 0; x < 90; ++x) {
            uint8_t *p = img->data + y * img->stride + x * 4;
            uint32_t bgra = y < 8 ? 0xFFE02020 : y >= 52 ? 0xFF2020E0 : 0xFF20A020;
            memcpy(p, &bgra, 4);
        }
    WCHAR err[300];
    ASSERT_TRUE(codec_save(img, path.c_str(), 90, nullptr, err, 300)) << err;
    image_free(img);
}

struct Bands {
    int red_top = -1, blue_bottom = -1;  // first red row, last blue row
};

// The rows of slot [l, r) that show the thumbnail's red and blue bands, read back from the window.
Bands slot_bands(HWND hwnd, int l, int r, int top, int bottom)
{
    RECT rc;
    GetClientRect(hwnd, &rc);
    Dib shot;
    EXPECT_TRUE(dib_create(&shot, rc.right, rc.bottom));
    HDC wdc = GetDC(hwnd);
    BitBlt(shot.dc, 0, 0, rc.right, rc.bottom, wdc, 0, 0, SRCCOPY);
    ReleaseDC(hwnd, wdc);
    Bands b;
    for (int y = top; y < bottom; ++y)
        for (int x = l; x < r; ++x) {
            uint32_t c = shot.at(x, y);
            int R = c >> 16 & 255, G = c >> 8 & 255, B = c & 255;
            if (R > 180 && G < 90 && B < 90 && b.red_top < 0) b.red_top = y;
            if (B > 180 && R < 90 && G < 90) b.blue_bottom = y;
        }
    dib_free(&shot);
    return b;
}

TEST_F(ChromeRealWindow, WholeThumbnailsInsideTheBottomStripAt96And144Dpi)
{
    std::wstring dir = temp_dir_create(L"strip");
    for (int i = 0; i < 4; ++i) save_banded(dir + L"\\b" + std::to_wstring(i) + L".png");
    app_load(app, (dir + L"\\b1.png").c_str());
    for (int dpi : {96, 144}) {
        if (dpi == 144) {
            // Thumbnails made again after the first paint at the new size, as at start.
            pic_cache_clear(&browse_work(app)->thumb_cache);
            // On the screen as a whole: parts past its edge are never painted.
            RECT suggested = {0, 0, 1500, 960};
            SendMessageW(app->hwnd, WM_DPICHANGED, MAKEWPARAM(144, 144), (LPARAM)&suggested);
        }
        UpdateWindow(app->hwnd);
        // Every thumbnail arrives from the worker and repaints what the strip invalidates, no more.
        DWORD start = GetTickCount();
        while (GetTickCount() - start < 10000 &&
               (browse_listing(app) || app->queue.count < 4 || !browse_thumb(app, 0) || !browse_thumb(app, 3))) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
            pump();
        }
        pump();
        ASSERT_NE(browse_thumb(app, 3), nullptr) << dpi;
        const RECT &strip = app->rc_strip;
        EXPECT_GE(strip.top, app->rc_bottom.top) << dpi;
        EXPECT_LE(strip.bottom, app->client_h) << dpi;
        int xs[kStripMax], first;
        ASSERT_EQ(strip_geom(app, xs, &first), 4) << dpi;
        for (int k = 0; k < 4; ++k) {
            Bands b = slot_bands(app->hwnd, xs[k], xs[k] + ui_scale(app, 62), app->rc_bottom.top, app->client_h);
            EXPECT_GT(b.red_top, strip.top) << dpi << " slot " << k << ": top rows cut";
            EXPECT_GT(b.blue_bottom, b.red_top + ui_scale(app, 14)) << dpi << " slot " << k << ": bottom rows cut";
            EXPECT_LT(b.blue_bottom, strip.bottom) << dpi << " slot " << k;
        }
    }
    DestroyWindow(app->hwnd);
    pump();
    temp_dir_remove(dir);
}


TEST_F(ChromeRealWindow, DpiChangeKeepsTheUsersChoicesAndRescalesTheRest)
{
    NEEDS_TESTDATA();
    app_load(app, testdata_path(L"orientation/Landscape_1.jpg").c_str());
    for (DWORD start = GetTickCount(); browse_listing(app) && GetTickCount() - start < 10000; pump())
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);  // the folder, listed on its worker
    app->compress_kb = 500, app->compress_format = 2, app->convert_format = 3, app->quality = 70;
    app->compress_allow_downscale = 0, app->compress_min_side = 1024;
    SendMessageW(app->hwnd, WM_KEYDOWN, VK_SPACE, 0);  // slideshow on
    for (int cmd : {9, 202, 303}) app_command(app, cmd);  // crop mode, 4:3, the fourth common size
    lstrcpynW(app->panel_text, L"已旋转 顺时针 90°", kPanelTextMax);
    app->sel_active = 1, app->sel_x = 10, app->sel_y = 20, app->sel_w = 300, app->sel_h = 200;
    canvas_zoom_at(app, 2.0, 300, 300);
    ui_set_status(app, L"%s", L"已保存");
    auto choices = [&] {
        const RECT &c = app->rc_canvas;  // and the picture point at the canvas centre
        return std::vector<int>{app->compress_kb, app->compress_format, app->convert_format, app->quality,
                                app->compress_allow_downscale, app->compress_min_side, app->playing,
                                app->play_timer != 0, app->crop_mode, app->crop_ratio, app->crop_preset,
                                app->sel_active, app->sel_x, app->sel_y, app->sel_w, app->sel_h, app->fit_mode,
                                (int)(((c.left + c.right) / 2 - app->view_x) / app->zoom),
                                (int)(((c.top + c.bottom) / 2 - app->view_y) / app->zoom), (int)(app->zoom * 1000)};
    };
    std::vector<int> before = choices();
    ASSERT_EQ(before[6], 1);
    for (int dpi : {144, 96}) {
        set_dpi(dpi, MulDiv(1100, dpi, 96), MulDiv(720, dpi, 96));
        EXPECT_EQ(choices(), before) << dpi;
        EXPECT_STREQ(app->status, L"已保存");
        EXPECT_STREQ(app->panel_text, L"已旋转 顺时针 90°");
        // What does depend on the scale follows it.
        EXPECT_EQ(app->rc_top.bottom, ui_scale(app, 44));
        EXPECT_EQ(app->rc_panel.right - app->rc_panel.left, ui_scale(app, 300));
        LOGFONTW lf;
        ASSERT_TRUE(GetObjectW(app->font_text, sizeof lf, &lf));
        EXPECT_EQ(lf.lfHeight, -MulDiv(9, dpi, 72));
        EXPECT_EQ(app->panel_items[1].selected, 2);
        EXPECT_EQ(app->panel_items[1].rect.bottom - app->panel_items[1].rect.top, ui_scale(app, 28));
    }
    SendMessageW(app->hwnd, WM_KEYDOWN, VK_ESCAPE, 0);
}

// The window as drawn at 96 and 144 dpi: the file name shows in the title strip,
// and nothing is drawn in the bottom strip past the texts' boxes (a cut number was).
TEST_F(ChromeRealWindow, TitleShowsAndBottomTextsStayInTheirBoxesAt96And144Dpi)
{
    NEEDS_TESTDATA();
    for (int dpi : {96, 144}) {
        set_dpi(dpi, 1100, 720);
        app_load(app, testdata_path(L"orientation/Landscape_6.jpg").c_str());
        ui_set_status(app, L"%s", L"已保存到 D:\\照片\\导出\\Landscape_6_1200x1800_quality_85.jpg，共 1234567 字节");
        Dib shot;
        ASSERT_TRUE(window_shot(app->hwnd, &shot));
        RECT title = app->rc_title;
        int area = (title.right - title.left) * (title.bottom - title.top);
        EXPECT_GT(area - count_colour(shot, title, 0x1A1A1Du), 100) << dpi << ": no file name in the title strip";
        StripText t[kStripTexts];
        int n = ui_strip_texts(app, shot.dc, t), xs[kStripMax], first;
        int strip = strip_geom(app, xs, &first) ? xs[0] : app->rc_zoom.left;
        RECT past = {std::max<int>(n ? t[n - 1].right : 0, ui_scale(app, 8)), app->rc_bottom.top + 2,
                     strip - ui_scale(app, 2), app->rc_bottom.bottom - 2};
        EXPECT_EQ(count_colour(shot, past, 0x1A1A1Du), (past.right - past.left) * (past.bottom - past.top)) << dpi;
        dib_free(&shot);
    }
}

// The crop panel as drawn at 144 dpi (default window) and at 96 dpi (smallest one):
// scrolled to its end the rotation row and the result box show whole, nothing
// scrolls over the pinned buttons, and a failed load draws apply grey.
TEST_F(ChromeRealWindow, CropPanelScrollsSoEveryControlShowsAndApplyGreysAfterAFailedLoad)
{
    NEEDS_TESTDATA();
    modal_set_answerer([](HWND, const WCHAR *, const WCHAR *, UINT) { return IDOK; });
    std::wstring dir = temp_dir_create(L"uipanel"), bad = dir + L"\\broken.png";
    ASSERT_TRUE(write_file_bytes(bad, "\x89PNG\r\n\x1a\n\0\0", 10));
    for (int dpi : {144, 96}) {
        set_dpi(dpi, dpi == 144 ? 1100 : 760, dpi == 144 ? 720 : 520);
        app_load(app, testdata_path(L"orientation/Landscape_1.jpg").c_str());
        if (!app->crop_mode) app_command(app, 9);
        app_command(app, 206);  // a turn: two lines in the result box
        POINT over = {app->rc_panel.left + 20, (app->rc_panel.top + app->rc_panel.bottom) / 2};
        ClientToScreen(app->hwnd, &over);
        for (int n = 0; n < 30; ++n)
            SendMessageW(app->hwnd, WM_MOUSEWHEEL, MAKEWPARAM(0, (WORD)-WHEEL_DELTA), MAKELPARAM(over.x, over.y));
        ASSERT_GT(app->panel_scroll_max, 0) << dpi;
        EXPECT_EQ(app->panel_scroll, app->panel_scroll_max);
        Dib shot;
        ASSERT_TRUE(window_shot(app->hwnd, &shot));
        const PanelItem &rotate = app->panel_items[10], &info = app->panel_items[12], &cancel = app->panel_items[14];
        const RECT apply = app->panel_items[13].rect;
        auto area = [](const RECT &r) { return (r.right - r.left) * (r.bottom - r.top); };
        for (int k = 0; k < 2; ++k) {
            uint32_t fill = k == rotate.selected ? 0x2B4A74u : 0x2C2C31u;  // the turn just made is lit
            int n = count_colour(shot, rotate.btn_rect[k], fill);
            EXPECT_TRUE(n > area(rotate.btn_rect[k]) / 2 && n < area(rotate.btn_rect[k])) << dpi << " rotate " << k;
        }
        EXPECT_LE(info.rect.bottom, cancel.rect.top) << dpi;
        RECT frame = {info.rect.left, info.rect.top, info.rect.right, info.rect.top + 1};
        EXPECT_EQ(count_colour(shot, frame, 0x2E2E34u), area(frame)) << dpi << ": the result box's frame";
        RECT above = {cancel.rect.left, cancel.rect.top - ui_scale(app, 6), cancel.rect.right, cancel.rect.top};
        EXPECT_EQ(count_colour(shot, above, 0x1E1E22u), area(above)) << dpi;
        EXPECT_GT(count_colour(shot, apply, 0x4C9AFFu), area(apply) / 2) << dpi;
        app_load(app, bad.c_str());
        ASSERT_TRUE(window_shot(app->hwnd, &shot));
        EXPECT_GT(count_colour(shot, apply, 0x333338u), area(apply) / 2) << dpi << ": apply not grey";
        dib_free(&shot);
    }
    modal_set_answerer(nullptr);
    temp_dir_remove(dir);
}

}  // namespace
