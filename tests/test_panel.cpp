// The crop settings panel: its items, layout at 96 and 144 dpi, hit tests,
// clicks turned into commands, the result text and painting into a DIB.
#include <gtest/gtest.h>
#include "app/app.h"
#include "app/commands.h"
#include "crop/panel.h"
#include "support/test_support.h"
#include "ui/ui.h"
#include "view/canvas.h"
#include <gdiplus.h>
#include <string>

namespace {

App g_rec;

bool same(const RECT &a, const RECT &b)
{
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

class Panel : public ::testing::Test {
protected:
    App *app = &g_rec;
    void SetUp() override
    {
        Gdiplus::GdiplusStartupInput input;
        ASSERT_EQ(Gdiplus::GdiplusStartup(&g_gdipToken, &input, nullptr), Gdiplus::Ok);
        app_init_record(app, GetModuleHandleW(nullptr));
    }
    void TearDown() override
    {
        app_release_picture(app);
        ui_destroy(app);
        Gdiplus::GdiplusShutdown(g_gdipToken);
    }
    // The chrome as the window builds it, in crop mode.
    void open(int dpi, int w, int h, bool picture = true)
    {
        app->dpi = dpi;
        app->client_w = w, app->client_h = h;
        ui_init(app);
        if (picture) {
            app->image = image_new(400, 300);
            canvas_sync_gp(app);
        }
        set_crop_mode(app, 1);
    }
    const PanelItem &item(int i) { return app->panel_items[i]; }
    int find(int cmd)
    {
        for (int i = 0; i < app->panel_count; ++i)
            for (int k = 0; k < 4; ++k)
                if (item(i).btn_cmd[k] == cmd) return i;
        return -1;
    }
    POINT centre(const RECT &r) { return {(r.left + r.right) / 2, (r.top + r.bottom) / 2}; }
};

TEST_F(Panel, ItemsFollowTheSettings)
{
    open(96, 1200, 800);
    ASSERT_EQ(app->panel_count, 15);
    static const int kinds[] = {0, 2, 2, 0, 2, 2, 2, 2, 2, 0, 2, 0, 6, 5, 2};
    for (int i = 0; i < 15; ++i) EXPECT_EQ(item(i).kind, kinds[i]) << i;
    EXPECT_STREQ(item(0).label, L"裁剪设置");
    EXPECT_STREQ(item(1).btn_label[3], L"16:9");
    EXPECT_STREQ(item(4).btn_label[0], L"1080 × 1080");
    EXPECT_EQ(item(8).btn_count, 1);  // the ninth size alone
    EXPECT_EQ(item(8).btn_cmd[0], 308);
    EXPECT_EQ(item(12).label, app->panel_text);
    EXPECT_EQ(item(13).btn_cmd[0], 207);
    EXPECT_STREQ(item(14).btn_label[0], L"取消裁剪（Esc）");
    EXPECT_EQ(item(1).selected, 0);
    EXPECT_EQ(item(2).selected, -1);
    EXPECT_EQ(item(10).selected, 0);  // left rotation starts highlighted
    EXPECT_EQ(item(14).selected, -1);
    EXPECT_EQ(app->panel_focus, -1);

    app->crop_ratio = 4;
    app->crop_preset = 5;
    panel_rebuild(app);
    EXPECT_EQ(item(1).selected, 4);  // none of the four
    EXPECT_EQ(item(2).selected, 0);
    EXPECT_EQ(item(6).selected, 1);  // 295 x 413 is the second of the third size row
    EXPECT_EQ(item(4).selected, -1);

    app_release_picture(app);
    panel_rebuild(app);
    EXPECT_EQ(item(13).enabled, 0);
}

TEST_F(Panel, LayoutAt96Dpi)
{
    open(96, 1200, 800);
    EXPECT_TRUE(same(app->rc_panel, {900, 44, 1200, 760}));
    EXPECT_TRUE(same(item(0).rect, {914, 58, 1186, 80}));
    EXPECT_TRUE(same(item(1).rect, {914, 86, 1186, 114}));
    const RECT expect_btn[] = {{914, 86, 977, 114}, {983, 86, 1046, 114}, {1052, 86, 1115, 114},
                               {1121, 86, 1186, 114}};
    for (int k = 0; k < 4; ++k) EXPECT_TRUE(same(item(1).btn_rect[k], expect_btn[k])) << k;
    EXPECT_TRUE(same(item(2).btn_rect[0], {914, 120, 1186, 148}));
    EXPECT_TRUE(same(item(3).rect, {914, 166, 1186, 188}));
    EXPECT_TRUE(same(item(4).btn_rect[1], {1053, 194, 1186, 222}));
    EXPECT_TRUE(same(item(8).btn_rect[0], {914, 330, 1186, 358}));  // one button spans the row
    EXPECT_TRUE(same(item(12).rect, {914, 478, 1186, 507}));
    EXPECT_TRUE(same(item(13).rect, {914, 710, 1186, 746}));
    EXPECT_TRUE(same(item(14).rect, {914, 674, 1186, 704}));
    EXPECT_TRUE(same(item(14).btn_rect[0], item(14).rect));
}

TEST_F(Panel, LayoutAt144Dpi)
{
    open(144, 1800, 1200);
    EXPECT_TRUE(same(app->rc_panel, {1350, 66, 1800, 1140}));
    EXPECT_TRUE(same(item(0).rect, {1371, 87, 1779, 120}));   // margin 21, heading 33
    EXPECT_TRUE(same(item(1).rect, {1371, 129, 1779, 171}));  // gap 9, row 42
    EXPECT_TRUE(same(item(13).rect, {1371, 1065, 1779, 1119}));  // primary 54
    EXPECT_TRUE(same(item(14).rect, {1371, 1011, 1779, 1056}));
}

TEST_F(Panel, ResultTextGrowsTheInfoBoxOnly)
{
    open(96, 1200, 800);
    app_command(app, 205);  // the rotation report has two lines
    EXPECT_STREQ(app->panel_text, L"已旋转 逆时针 90°\n当前尺寸    300 × 400");
    EXPECT_EQ(item(12).rect.bottom - item(12).rect.top, 12 + 2 * 17);
    lstrcpyW(app->panel_text, L"a\nb\nc");
    panel_layout(app);
    EXPECT_EQ(item(12).rect.bottom - item(12).rect.top, 63);
    EXPECT_TRUE(same(item(13).rect, {914, 710, 1186, 746}));
    EXPECT_TRUE(same(item(14).rect, {914, 674, 1186, 704}));
    // Leaving crop mode empties the panel; entering sets the guide text.
    set_crop_mode(app, 0);
    EXPECT_EQ(app->rc_panel.right - app->rc_panel.left, 0);
    EXPECT_TRUE(same(item(1).rect, {0, 0, 0, 0}));
    set_crop_mode(app, 1);
    EXPECT_STREQ(app->panel_text, L"在图上拖出要保留的区域，再点下面的按钮。");
}

TEST_F(Panel, HitTests)
{
    open(96, 1200, 800);
    struct { POINT p; int item, btn; } cases[] = {
        {{950, 100}, 1, 0}, {{1150, 100}, 1, 3}, {{980, 100}, 1, -1},  // the gap between two buttons
        {{914, 86}, 1, 0}, {{1185, 113}, 1, 3}, {{1000, 130}, 2, 0},
        {{1000, 70}, -1, -1},   // heading
        {{1000, 490}, -1, -1},  // info text
        {{1000, 117}, -1, -1},  // between rows
        {{905, 100}, 1, -1},    // inside the panel, left of the buttons
        {{899, 100}, -1, -1},   // left of the panel
        {{1000, 720}, 13, 0}, {{1000, 690}, 14, 0}, {{1000, 340}, 8, 0},
    };
    for (auto &c : cases) {
        int it = panel_hit(app, c.p.x, c.p.y);
        EXPECT_EQ(it, c.item) << c.p.x << "," << c.p.y;
        if (it >= 0) {
            EXPECT_EQ(panel_hit_btn(app, it, c.p.x, c.p.y), c.btn) << c.p.x << "," << c.p.y;
        }
    }
    EXPECT_EQ(panel_hit_btn(app, 1, 950, 200), -1);  // y outside the item
    EXPECT_EQ(panel_hit_btn(app, 0, 950, 70), -1);   // a heading
    EXPECT_EQ(panel_hit_btn(app, 99, 950, 100), -1);
    EXPECT_EQ(panel_hit_btn(app, -1, 950, 100), -1);
}

TEST_F(Panel, DisabledAndNarrowPanelsAreNotHit)
{
    open(96, 1200, 800, false);
    EXPECT_EQ(panel_hit(app, 1000, 720), -1);
    EXPECT_EQ(panel_hit_btn(app, 13, 1000, 720), -1);
    // 28 pixels or less: nothing is laid out, so nothing is hit.
    app->rc_panel = {900, 44, 928, 760};
    panel_rebuild(app);
    EXPECT_TRUE(same(item(1).rect, {0, 0, 0, 0}));
    EXPECT_EQ(panel_hit(app, 910, 44), -1);
}

TEST_F(Panel, OnAShortWindowThePinnedButtonsTakeTheClick)
{
    open(96, 1100, 520);  // the smallest window: cancel overlaps the rotation row
    const RECT &cancel = item(14).rect;
    ASSERT_LT(cancel.top, item(10).rect.bottom);
    ASSERT_GT(cancel.bottom, item(10).rect.top);
    int y = std::max(cancel.top, item(10).rect.top) + 1;
    EXPECT_EQ(panel_hit(app, 1000, y), 14);
    panel_click(app, 14, panel_hit_btn(app, 14, 1000, y));
    EXPECT_EQ(app->crop_mode, 0);
    EXPECT_EQ(app->image->width, 400u);  // not rotated
}

TEST_F(Panel, ClicksRunTheirCommands)
{
    open(96, 1200, 800);
    panel_click(app, 1, 1);
    EXPECT_EQ(app->crop_ratio, 1);
    EXPECT_EQ(item(1).selected, 1);
    int row = find(305);
    panel_click(app, row, 1);
    EXPECT_EQ(app->crop_preset, 5);
    EXPECT_EQ(item(row).selected, 1);
    EXPECT_EQ(item(1).selected, 1);  // the ratio row keeps its highlight
    panel_click(app, 10, 1);         // right rotation stays highlighted
    EXPECT_EQ(item(10).selected, 1);
    EXPECT_EQ(app->image->width, 300u);
    panel_click(app, 1, 7);  // no such button
    panel_click(app, 40, 0);
    EXPECT_EQ(app->crop_ratio, 1);
    // Keys go nowhere: no item takes the focus.
    EXPECT_EQ(panel_key(app, 'A', 0), 0);
    panel_focus_off(app);
    EXPECT_EQ(app->panel_focus, -1);
    panel_click(app, 14, 0);
    EXPECT_EQ(app->crop_mode, 0);
}

TEST_F(Panel, Painting)
{
    open(96, 1200, 800);
    app->crop_ratio = 2;
    panel_rebuild(app);
    app->panel_hot_row = 13;
    app->panel_hot_btn = 0;
    BITMAPINFO bi = {};
    bi.bmiHeader = {sizeof(BITMAPINFOHEADER), 1200, -800, 1, 32, BI_RGB};
    uint32_t *px = nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bmp = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, (void **)&px, nullptr, 0);
    HGDIOBJ old = SelectObject(dc, bmp);
    panel_paint(app, dc);
    auto at = [&](int x, int y) { return px[y * 1200 + x] & 0xFFFFFF; };
    auto dib = [](int r, int g, int b) { return (uint32_t)(b | g << 8 | r << 16); };
    EXPECT_EQ(at(905, 300), dib(30, 30, 34));         // panel background
    EXPECT_EQ(at(900, 300), dib(46, 46, 52));         // left strip
    EXPECT_EQ(at(1054, 88), dib(43, 74, 116));        // selected 4:3
    EXPECT_EQ(at(916, 88), dib(44, 44, 49));          // 自由
    EXPECT_EQ(at(916, 712), dib(99, 170, 255));       // primary under the pointer
    EXPECT_EQ(at(916, 676), dib(44, 44, 49));         // cancel
    EXPECT_EQ(at(914, 478), dib(46, 46, 52));         // info frame
    EXPECT_EQ(at(916, 480), dib(26, 26, 29));         // info fill
    EXPECT_EQ(at(10, 10), 0u);                        // nothing outside the panel
    SelectObject(dc, old);
    DeleteObject(bmp);
    DeleteDC(dc);
}

}  // namespace
