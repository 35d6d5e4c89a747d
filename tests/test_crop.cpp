// The crop selection driven through the pointer at several zooms, its overlay
// painted into a 32-bit DIB, applying it, the crop commands, and the settings
// panel's items, layout at 96 and 144 dpi, hit tests, clicks and keys.
#include <gtest/gtest.h>
#include "app/app.h"
#include "app/commands.h"
#include "codec/codec.h"
#include "crop/crop.h"
#include "crop/panel.h"
#include "shell/modal.h"
#include "support/record_fixture.h"
#include "support/test_support.h"
#include "ui/ui.h"
#include "view/canvas.h"
#include <gdiplus.h>
#include <cstring>
#include <string>

namespace {

bool same(const RECT &a, const RECT &b)
{
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

uint32_t pixel(const Image *img, uint32_t x, uint32_t y)
{
    return *(const uint32_t *)(img->data + y * img->stride + x * 4);
}

class Crop : public RecordTest {
protected:
    void SetUp() override
    {
        RecordTest::SetUp();
        if (HasFatalFailure()) return;
        panel_defaults(app);
        app->rc_canvas = {0, 0, 1000, 700};
        picture(make_gradient(400, 300, false));
        app->zoom = 1;
        app->crop_mode = 1;
    }
    void TearDown() override
    {
        modal_set_save_answerer(nullptr);
        RecordTest::TearDown();
    }
    // The chrome as the window builds it, then crop mode.
    void open(int dpi, int w, int h)
    {
        app->dpi = dpi, app->client_w = w, app->client_h = h;
        ui_init(app);
        set_crop_mode(app, 1);
    }
    const PanelItem &item(int i) { return app->panel_items[i]; }
    void picture(Image *img)
    {
        app_release_picture(app);
        app->image = img;
        canvas_sync_gp(app);
    }
    void select(int x, int y, int w, int h)
    {
        app->sel_active = 1;
        app->sel_x = x, app->sel_y = y, app->sel_w = w, app->sel_h = h;
    }
    // A press at `from` and a move to `to`, client points.
    void drag(POINT from, POINT to)
    {
        crop_begin(app, from.x, from.y);
        crop_move(app, to.x, to.y);
    }
    void expect_sel(int x, int y, int w, int h)
    {
        EXPECT_TRUE(app->sel_x == x && app->sel_y == y && app->sel_w == w && app->sel_h == h)
            << app->sel_x << "," << app->sel_y << " " << app->sel_w << " x " << app->sel_h;
    }
};

TEST_F(Crop, DrawingOutASelection)
{
    // Client points at zoom 1 from origin 0 are picture pixels.
    struct { double zoom; int ox, oy, ratio, preset; POINT from, to; int x, y, w, h; } cases[] = {
        {1, 0, 0, 0, -1, {10, 10}, {15, 13}, 10, 10, 5, 3},
        {1, 0, 0, 0, -1, {10, 10}, {5, 7}, 5, 7, 5, 3},
        {1, 0, 0, 3, -1, {0, 0}, {160, 10}, 0, 0, 160, 90},   // 16:9, width wins
        {1, 0, 0, 3, -1, {0, 0}, {16, 90}, 0, 0, 160, 90},    // 16:9, height wins
        {1, 0, 0, 1, -1, {100, 100}, {90, 70}, 70, 70, 30, 30},
        {1, 0, 0, 3, -1, {50, 50}, {50, 50}, 50, 50, 1, 1},   // on the anchor
        {1, 0, 0, 4, -1, {50, 50}, {50, 50}, 50, 50, 1, 2},   // 9:16 on the anchor
        {1, 0, 0, 3, 5, {0, 0}, {59, 10}, 0, 0, 59, 83},      // 295 x 413 wins over 16:9
        {1, 0, 0, 0, 0, {10, 10}, {50, 20}, 10, 10, 40, 40},  // 1080 x 1080
        {2, 100, 50, 0, -1, {120, 70}, {141, 91}, 10, 10, 10, 10},
        {0.25, 20, 10, 0, -1, {30, 20}, {900, 600}, 40, 40, 360, 260},  // clamped to the picture
        // Past the top-left corner: the part outside is cut, the box does not grow past the anchor.
        {0.25, 20, 10, 0, -1, {30, 20}, {0, 0}, 0, 0, 40, 40},
        // Ratio-locked boxes keep their ratio at the picture's edge.
        {1, 0, 0, 1, -1, {350, 10}, {500, 200}, 350, 10, 50, 50},
        {1, 0, 0, 3, -1, {0, 250}, {320, 260}, 0, 250, 89, 50},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.from.x << "," << c.from.y << " -> " << c.to.x << "," << c.to.y);
        crop_clear(app);
        app->zoom = c.zoom, app->view_x = c.ox, app->view_y = c.oy;
        app->crop_ratio = c.ratio, app->crop_preset = c.preset;
        drag(c.from, c.to);
        expect_sel(c.x, c.y, c.w, c.h);
        EXPECT_EQ(wcsstr(app->status, L"（比例已锁定）") != nullptr, c.ratio > 0 || c.preset >= 0);
        crop_end(app);
    }
}

TEST_F(Crop, HandlesResizeWithAndWithoutARatio)
{
    // Selection (20, 20, 40, 30); free handles move their edges, locked ones span from the opposite corner.
    struct { int ratio, handle; POINT at, to; int x, y, w, h; } cases[] = {
        {0, 0, {20, 20}, {25, 24}, 25, 24, 35, 26}, {0, 1, {40, 20}, {45, 24}, 20, 24, 40, 26},
        {0, 2, {60, 20}, {65, 24}, 20, 24, 45, 26}, {0, 3, {60, 35}, {65, 39}, 20, 20, 45, 30},
        {0, 4, {60, 50}, {65, 54}, 20, 20, 45, 34}, {0, 5, {40, 50}, {45, 54}, 20, 20, 40, 34},
        {0, 6, {20, 50}, {25, 54}, 25, 20, 35, 34}, {0, 7, {20, 35}, {25, 39}, 25, 20, 35, 30},
        {0, 3, {60, 35}, {10, 35}, 10, 20, 10, 30},  // past the left edge: flipped
        {1, 4, {60, 50}, {65, 54}, 20, 20, 45, 45}, {1, 0, {20, 20}, {30, 40}, 30, 20, 30, 30},
        {1, 6, {20, 50}, {10, 70}, 10, 20, 50, 50}, {1, 3, {60, 35}, {70, 35}, 20, 0, 50, 50},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "ratio " << c.ratio << " handle " << c.handle);
        app->crop_ratio = c.ratio;
        select(20, 20, 40, 30);
        EXPECT_EQ(crop_handle_at(app, c.at.x, c.at.y), c.handle);
        drag(c.at, c.to);
        EXPECT_EQ(app->drag_mode, kDragResize);
        expect_sel(c.x, c.y, c.w, c.h);
        crop_end(app);
    }
}

TEST_F(Crop, MovingHitTestsAndTooSmall)
{
    select(100, 100, 100, 50);  // free: shrinks at the border, regains its size coming back
    drag({150, 120}, {420, 120});
    expect_sel(370, 100, 30, 50);
    crop_move(app, 150, 120);
    expect_sel(100, 100, 100, 50);
    crop_end(app);
    app->crop_ratio = 2;  // locked: stops at the border, keeps its ratio
    select(100, 100, 100, 75);
    drag({150, 120}, {420, 400});
    expect_sel(300, 225, 100, 75);
    crop_end(app);

    app->zoom = 1.5, app->view_x = 7, app->view_y = 9;
    select(10, 10, 5, 3);
    RECT r;
    sel_screen_rect(app, &r);
    EXPECT_TRUE(r.left == 22 && r.top == 24 && r.right == 29 && r.bottom == 28);
    EXPECT_EQ(crop_handle_at(app, 25, 24), 0);  // the corner beats the middle handle beside it
    EXPECT_EQ(crop_handle_at(app, 35, 34), 4);
    EXPECT_EQ(crop_handle_at(app, 36, 28), -1);

    struct { int dx, dy; bool kept; } sizes[] = {{0, 0, false}, {2, 30, false}, {30, 2, false}, {3, 3, true}};
    app->zoom = 1, app->view_x = app->view_y = 0, app->crop_ratio = 0;
    for (auto &c : sizes) {
        crop_clear(app);
        ui_set_status(app, L"");
        drag({200, 200}, {200 + c.dx, 200 + c.dy});
        crop_end(app);
        EXPECT_EQ(app->sel_active != 0, c.kept) << c.dx << " x " << c.dy;
        EXPECT_EQ(wcscmp(app->status, L"框选太小，已取消") == 0, !c.kept);
    }
    crop_clear(app);
    drag({200, 200}, {240, 240});  // the release went elsewhere: the next move without the button ends it
    EXPECT_EQ(crop_on_mouse_move(app, 250, 250, 0), 1);
    EXPECT_TRUE(app->drag_mode == kDragIdle && app->sel_w == 40);
    app->zoom = 0;  // a record never fitted: nothing maps, nothing starts
    crop_clear(app);
    crop_begin(app, 10, 10);
    EXPECT_EQ(app->drag_mode, kDragIdle);
}

TEST_F(Crop, OverlayPaintedIntoADib)
{
    constexpr int W = 400, H = 300;
    Dib dib;
    ASSERT_TRUE(dib_create(&dib, W, H));
    auto at = [&](int x, int y) { return dib.at(x, y); };
    auto paint = [&](RECT canvas) {
        for (int i = 0; i < W * H; ++i) dib.px[i] = 0xC8C8C8;
        app->rc_canvas = canvas;
        crop_paint(app, dib.dc);
    };
    app->zoom = 2;
    select(25, 25, 50, 40);  // screen (50, 50) - (150, 130)
    paint({0, 0, W, H});
    for (POINT p : {POINT{10, 10}, POINT{300, 90}, POINT{100, 200}, POINT{20, 100}})
        EXPECT_NEAR((int)(at(p.x, p.y) & 0xFF), 120, 3) << p.x << "," << p.y;  // alpha 102 black over 200
    EXPECT_EQ(at(100, 70), 0xC8C8C8u);
    EXPECT_TRUE(at(75, 50) == 0 && at(75, 51) == 0xFFFFFF);  // two-tone frame, level edge
    EXPECT_TRUE(at(50, 70) == 0 && at(51, 70) == 0xFFFFFF);  // and upright edge
    EXPECT_EQ(at(83, 90), 0x9A9AA0u);                              // thirds grid
    for (POINT h : {POINT{50, 50}, POINT{100, 50}, POINT{150, 90}, POINT{150, 130}})
        EXPECT_TRUE(at(h.x + 2, h.y + 2) == 0xFFFFFF && at(h.x - 4, h.y - 4) == 0) << h.x << "," << h.y;
    EXPECT_EQ(at(52, 137), 0u);  // size label below, from the left edge
    // No room below: the label goes above, pushed left to end at the canvas edge ("59 × 90": 70 wide).
    app->zoom = 1;
    select(340, 200, 59, 90);
    paint({0, 0, W, H});
    EXPECT_TRUE(at(W - 2, 192) == 0 && at(W - 69, 175) == 0);
    EXPECT_TRUE(at(W - 72, 184) != 0 && at(W - 69, 173) != 0);
    // Below a strip the overlay stays inside the canvas.
    select(0, 0, 100, 100);
    paint({0, 40, W, H});
    EXPECT_TRUE(at(30, 0) == 0xC8C8C8 && at(50, 2) == 0xC8C8C8 && at(0, 70) == 0);
    dib_free(&dib);
}

TEST_F(Crop, ApplyGivesTheSelectedPixelsOrTheCommonSize)
{
    Image *before = image_clone(app->image), *src = app->image;
    struct { int active, x, y, w, h; } refused[] = {{1, 405, 10, 20, 20}, {0, 10, 10, 20, 20}, {1, 10, 10, 1, 20}};
    for (auto &c : refused) {  // the source stays as it was
        select(c.x, c.y, c.w, c.h);
        app->sel_active = c.active;
        EXPECT_EQ(crop_apply_to_image(app), 0);
        EXPECT_TRUE(app->image == src && !std::memcmp(src->data, before->data, (size_t)src->stride * src->height));
    }
    select(10, 20, 30, 15);
    ASSERT_EQ(crop_apply_to_image(app), 1);
    ASSERT_TRUE(app->image->width == 30 && app->image->height == 15);
    for (uint32_t y = 0; y < 15; ++y)
        for (uint32_t x = 0; x < 30; ++x) ASSERT_EQ(pixel(app->image, x, y), pixel(before, x + 10, y + 20));
    EXPECT_EQ(app->sel_active, 0);
    EXPECT_STREQ(app->status, L"已裁剪为 30 × 15");
    image_free(before);

    struct { int preset; uint32_t w, h; } sizes[] = {{0, 1080, 1080}, {5, 295, 413}, {1, 1920, 1080}};
    for (auto &c : sizes) {
        picture(make_gradient(400, 300, false));
        app->crop_preset = c.preset;
        select(50, 40, 120, 170);
        ASSERT_EQ(crop_apply_to_image(app), 1);
        EXPECT_TRUE(app->image->width == c.w && app->image->height == c.h) << c.preset;
        EXPECT_EQ(app->crop_preset, c.preset);
    }
    EXPECT_STREQ(app->status, L"已裁剪并缩放到 1920 × 1080");

    // Red | blue | red thirds to a square size: the blue middle is taken, not the whole stretched.
    Image *img = image_new(300, 100);
    for (uint32_t i = 0; i < 300 * 100; ++i) {
        bool blue = i % 300 >= 100 && i % 300 < 200;
        uint32_t v = blue ? 0xFF0000FF : 0xFFFF0000;
        std::memcpy(img->data + i * 4, &v, 4);
    }
    picture(img);
    app->crop_preset = 4;  // 800 x 800
    select(0, 0, 300, 100);
    ASSERT_EQ(crop_apply_to_image(app), 1);
    for (POINT p : {POINT{0, 0}, POINT{799, 0}, POINT{400, 799}})
        EXPECT_EQ(pixel(app->image, p.x, p.y), 0xFF0000FFu) << p.x << "," << p.y;
}

std::wstring g_save_to, g_offered;

BOOL answer_save(OPENFILENAMEW *ofn)
{
    g_offered = ofn->lpstrFile;
    if (g_save_to.empty()) return FALSE;
    lstrcpynW(ofn->lpstrFile, g_save_to.c_str(), (int)ofn->nMaxFile);
    return TRUE;
}

TEST_F(Crop, CropAndSaveAsksForTheNameFirst)
{
    modal_set_save_answerer(answer_save);
    app_command(app, 207);
    EXPECT_STREQ(app->status, L"请先在图上拖出要保留的区域");
    g_save_to.clear();
    lstrcpyW(app->file_name, L"IMG_0012.JPG");
    Image *src = app->image;
    select(10, 20, 30, 15);
    app_command(app, 207);  // cancelled: nothing changes
    EXPECT_EQ(g_offered, L"IMG_0012_裁剪");
    EXPECT_TRUE(app->image == src && app->sel_active == 1 && app->crop_mode == 1);

    std::wstring dir = temp_dir_create(L"cropsave");
    g_save_to = dir + L"\\out.png";
    app_command(app, 207);
    EXPECT_TRUE(app->image->width == 30 && app->crop_mode == 0);
    WCHAR err[600];
    Image *saved = codec_load(g_save_to.c_str(), err, 600);
    ASSERT_NE(saved, nullptr) << err;
    EXPECT_TRUE(saved->width == 30 && saved->height == 15 && pixel(saved, 0, 0) == pixel(app->image, 0, 0));
    image_free(saved);
    WCHAR size[32];
    size_text((uint32_t)file_bytes(g_save_to.c_str()), size, 32);
    EXPECT_EQ(std::wstring(app->status), std::wstring(L"已裁剪并保存 out.png（") + size + L"，30 × 15）");
    temp_dir_remove(dir);
}

TEST_F(Crop, RatioAndRotationCommands)
{
    app_command(app, 305);
    EXPECT_STREQ(app->status, L"已选 295 × 413（一寸）—— 在图上拖出要保留的区域，再点「应用裁剪并保存」");
    app_command(app, 203);
    EXPECT_TRUE(app->crop_ratio == 3 && app->crop_preset == -1);
    EXPECT_STREQ(app->status, L"比例已锁定，在图上拖动即可框选");
    app_command(app, 200);
    EXPECT_STREQ(app->status, L"自由比例，在图上拖动即可框选");
    select(300, 10, 90, 50);  // would lie outside the turned 300 x 400 picture
    app_command(app, 205);
    EXPECT_TRUE(app->image->width == 300 && app->sel_active == 0);
    EXPECT_STREQ(app->status, L"已逆时针旋转 90°，当前 300 × 400");
}

TEST_F(Crop, PanelItemsFollowTheSettings)
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

TEST_F(Crop, PanelLayoutAt96And144Dpi)
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
    open(144, 1800, 1200);
    EXPECT_TRUE(same(app->rc_panel, {1350, 66, 1800, 1140}));
    EXPECT_TRUE(same(item(0).rect, {1371, 87, 1779, 120}));     // margin 21, heading 33
    EXPECT_TRUE(same(item(1).rect, {1371, 129, 1779, 171}));    // gap 9, row 42
    EXPECT_TRUE(same(item(13).rect, {1371, 1065, 1779, 1119}));  // primary 54
    EXPECT_TRUE(same(item(14).rect, {1371, 1011, 1779, 1056}));
}

TEST_F(Crop, PanelHitTests)
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

TEST_F(Crop, PanelOnAShortWindowThePinnedButtonsTakeTheClick)
{
    open(96, 1100, 520);  // the smallest window: the rotation row would lie under cancel unscrolled
    int y = item(14).rect.top + 12;
    int hit = panel_hit(app, 1000, y);
    EXPECT_EQ(hit, 14);
    panel_click(app, hit, panel_hit_btn(app, hit, 1000, y));
    EXPECT_TRUE(app->crop_mode == 0 && app->image->width == 400);  // left crop mode, not rotated
}

// Every button of the panel, in the default window at 144 dpi and the smallest
// one at 96 dpi: the wheel brings it whole into view, where it takes its click.
TEST_F(Crop, EveryPanelButtonCanBeScrolledIntoViewAndClicked)
{
    struct Size {
        int dpi, w, h;
        bool scrolls;
    } sizes[] = {{144, 1100, 720, true}, {96, 760, 520, true}, {96, 1100, 720, false}, {144, 1800, 1200, false}};
    for (const Size &sz : sizes) {
        open(sz.dpi, sz.w, sz.h);
        lstrcpyW(app->panel_text, L"已旋转 顺时针 90°\n当前尺寸    300 × 400");
        panel_layout(app);
        int x = app->rc_panel.left + 5, y = (app->rc_panel.top + app->rc_panel.bottom) / 2;
        EXPECT_EQ(panel_wheel(app, x, y, -1), sz.scrolls ? 1 : 0) << sz.dpi << " " << sz.w;
        EXPECT_EQ(panel_wheel(app, app->rc_panel.left - 1, y, -1), 0) << "not over the panel";
        for (int n = 0; n < 40; ++n) panel_wheel(app, x, y, 1);
        EXPECT_EQ(app->panel_scroll, 0);
        for (int i = 0; i < 13; ++i)  // the pinned apply and cancel always show
            for (int k = 0; k < item(i).btn_count; ++k) {
                const RECT &r = item(i).btn_rect[k];
                for (int n = 0; n < 40 && (r.top < app->rc_panel.top || r.bottom > item(14).rect.top); ++n)
                    panel_wheel(app, x, y, -1);
                ASSERT_TRUE(r.top >= app->rc_panel.top && r.bottom <= item(14).rect.top) << sz.dpi << " " << i;
                int cx = (r.left + r.right) / 2, cy = (r.top + r.bottom) / 2;
                EXPECT_TRUE(panel_hit(app, cx, cy) == i && panel_hit_btn(app, i, cx, cy) == k) << sz.dpi << " " << i;
                // Nothing that scrolled under the pinned buttons takes their clicks.
                EXPECT_EQ(panel_hit(app, cx, item(14).rect.top + 2), 14);
            }
        ui_destroy(app);
    }
}

TEST_F(Crop, PanelClicksKeysAndTheResultText)
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
