// The crop settings panel: items, layout at 96 and 144 dpi, hit tests, clicks
// turned into commands, keys, the result text and painting.
#include <gtest/gtest.h>
#include "app/app.h"
#include "app/commands.h"
#include "crop/panel.h"
#include "support/test_support.h"
#include "ui/ui.h"
#include "view/canvas.h"
#include <gdiplus.h>

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
    // The chrome as the window builds it, then crop mode.
    void open(int dpi, int w, int h, bool picture = true)
    {
        app->dpi = dpi, app->client_w = w, app->client_h = h;
        ui_init(app);
        if (picture) app->image = image_new(400, 300), canvas_sync_gp(app);
        set_crop_mode(app, 1);
    }
    const PanelItem &item(int i) { return app->panel_items[i]; }
};

TEST_F(Panel, ItemsFollowTheSettings)
{
    open(96, 1200, 800);
    ASSERT_EQ(app->panel_count, 15);
    EXPECT_TRUE(item(8).btn_count == 1 && item(8).btn_cmd[0] == 308);  // the ninth size alone
    EXPECT_TRUE(item(12).label == app->panel_text && item(13).btn_cmd[0] == 207 && item(13).enabled);
    EXPECT_TRUE(item(1).selected == 0 && item(2).selected == -1 && item(10).selected == 0);
    app->crop_ratio = 4, app->crop_preset = 5;
    panel_rebuild(app);
    EXPECT_TRUE(item(1).selected == 4 && item(2).selected == 0);  // 9:16 lights its own row only
    EXPECT_TRUE(item(6).selected == 1 && item(4).selected == -1);
    app_release_picture(app);
    panel_rebuild(app);
    EXPECT_EQ(item(13).enabled, 0);
}

TEST_F(Panel, LayoutAt96And144Dpi)
{
    open(96, 1200, 800);
    EXPECT_TRUE(same(app->rc_panel, {900, 44, 1200, 760}));
    struct { int item, btn; RECT r; } at96[] = {
        {0, -1, {914, 58, 1186, 80}}, {1, 1, {983, 86, 1046, 114}}, {1, 3, {1121, 86, 1186, 114}},
        {3, -1, {914, 166, 1186, 188}}, {4, 1, {1053, 194, 1186, 222}}, {8, 0, {914, 330, 1186, 358}},
        {12, -1, {914, 478, 1186, 507}}, {13, -1, {914, 710, 1186, 746}}, {14, 0, {914, 674, 1186, 704}},
    };
    for (auto &c : at96)
        EXPECT_TRUE(same(c.btn < 0 ? item(c.item).rect : item(c.item).btn_rect[c.btn], c.r)) << c.item << "/" << c.btn;
    // Two line feeds in the result text: 12 + 3 * 17; the pinned buttons stay.
    lstrcpyW(app->panel_text, L"a\nb\nc");
    panel_layout(app);
    EXPECT_EQ(item(12).rect.bottom - item(12).rect.top, 63);
    EXPECT_TRUE(same(item(13).rect, {914, 710, 1186, 746}));
    ui_destroy(app);
    app_release_picture(app);
    open(144, 1800, 1200);
    EXPECT_TRUE(same(app->rc_panel, {1350, 66, 1800, 1140}));
    EXPECT_TRUE(same(item(0).rect, {1371, 87, 1779, 120}));     // margin 21, heading 33
    EXPECT_TRUE(same(item(1).rect, {1371, 129, 1779, 171}));    // gap 9, row 42
    EXPECT_TRUE(same(item(13).rect, {1371, 1065, 1779, 1119}));  // primary 54
    EXPECT_TRUE(same(item(14).rect, {1371, 1011, 1779, 1056}));
}

TEST_F(Panel, HitTests)
{
    open(96, 1200, 800);
    struct { int x, y, item, btn; } cases[] = {
        {950, 100, 1, 0}, {1185, 113, 1, 3}, {980, 100, 1, -1},  // the gap between two buttons
        {1000, 130, 2, 0}, {1000, 340, 8, 0}, {1000, 720, 13, 0}, {1000, 690, 14, 0},
        {1000, 70, -1, -1}, {1000, 490, -1, -1}, {1000, 117, -1, -1},  // heading, info text, between rows
        {905, 100, 1, -1}, {899, 100, -1, -1},                         // panel margin, left of the panel
    };
    for (auto &c : cases) {
        int it = panel_hit(app, c.x, c.y);
        EXPECT_EQ(it, c.item) << c.x << "," << c.y;
        EXPECT_EQ(panel_hit_btn(app, it, c.x, c.y), c.btn) << c.x << "," << c.y;
    }
    EXPECT_EQ(panel_hit_btn(app, 1, 950, 200), -1);  // y outside the item
    EXPECT_EQ(panel_hit_btn(app, 99, 950, 100), -1);
    app_release_picture(app);
    panel_rebuild(app);
    EXPECT_EQ(panel_hit(app, 1000, 720), -1);  // disabled primary
    app->rc_panel = {900, 44, 928, 760};     // 28 wide: not laid out, nothing hit
    panel_rebuild(app);
    EXPECT_EQ(panel_hit(app, 910, 44), -1);
}

TEST_F(Panel, OnAShortWindowThePinnedButtonsTakeTheClick)
{
    open(96, 1100, 520);  // the smallest window: cancel lies over the rotation row
    int y = item(14).rect.top + 12;
    ASSERT_TRUE(y >= item(10).rect.top && y < item(10).rect.bottom);
    int hit = panel_hit(app, 1000, y);
    EXPECT_EQ(hit, 14);
    panel_click(app, hit, panel_hit_btn(app, hit, 1000, y));
    EXPECT_TRUE(app->crop_mode == 0 && app->image->width == 400);  // left crop mode, not rotated
}

TEST_F(Panel, ClicksKeysAndTheResultText)
{
    open(96, 1200, 800);
    EXPECT_STREQ(app->panel_text, L"在图上拖出要保留的区域，再点下面的按钮。");
    panel_click(app, 1, 1);
    EXPECT_TRUE(app->crop_ratio == 1 && item(1).selected == 1);
    panel_click(app, 6, 1);  // 295 x 413; the ratio row keeps its highlight
    EXPECT_TRUE(app->crop_preset == 5 && item(6).selected == 1 && item(1).selected == 1);
    panel_click(app, 10, 1);  // right rotation: stays highlighted, report in the result text
    EXPECT_TRUE(item(10).selected == 1 && app->image->width == 300);
    EXPECT_STREQ(app->panel_text, L"已旋转 顺时针 90°\n当前尺寸    300 × 400");
    EXPECT_EQ(item(12).rect.bottom - item(12).rect.top, 12 + 2 * 17);
    panel_click(app, 1, 7);
    panel_click(app, 40, 0);
    EXPECT_EQ(app->crop_ratio, 1);
    // No item takes typed input: keys change nothing and the focus stays off.
    EXPECT_EQ(panel_key(app, '5', 0), 0);
    EXPECT_EQ(app->panel_focus, -1);
    panel_click(app, 14, 0);
    EXPECT_TRUE(app->crop_mode == 0 && same(item(1).rect, {0, 0, 0, 0}));
}

}  // namespace
