// The crop selection: drawing, moving and resizing it through the pointer at
// several zooms, the overlay painted into a 32-bit DIB, applying it to the
// picture, and the crop commands (save flow, ratio and size choices).
#include <gtest/gtest.h>
#include "app/app.h"
#include "app/commands.h"
#include "codec/codec.h"
#include "crop/crop.h"
#include "crop/panel.h"
#include "image/resize.h"
#include "shell/modal.h"
#include "support/test_support.h"
#include "ui/ui.h"
#include "view/canvas.h"
#include <gdiplus.h>
#include <cstring>
#include <string>

namespace {

App g_rec;

// Pixel (x, y) holds blue x, green y, red 7: every crop is checkable by value.
Image *make_coded(uint32_t w, uint32_t h)
{
    Image *img = image_new(w, h);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            uint8_t *p = img->data + y * img->stride + x * 4;
            p[0] = (uint8_t)x, p[1] = (uint8_t)y, p[2] = 7, p[3] = 255;
        }
    return img;
}

class Crop : public ::testing::Test {
protected:
    App *app = &g_rec;
    void SetUp() override
    {
        Gdiplus::GdiplusStartupInput input;
        ASSERT_EQ(Gdiplus::GdiplusStartup(&g_gdipToken, &input, nullptr), Gdiplus::Ok);
        app_init_record(app, GetModuleHandleW(nullptr));
        panel_defaults(app);
        app->rc_canvas = {0, 0, 1000, 700};
        picture(make_coded(400, 300));
        view(1.0, 0, 0);
        app->crop_mode = 1;
    }
    void TearDown() override
    {
        modal_set_save_answerer(nullptr);
        modal_set_answerer(nullptr);
        app_release_picture(app);
        Gdiplus::GdiplusShutdown(g_gdipToken);
    }
    void picture(Image *img)
    {
        app_release_picture(app);
        app->image = img;
        canvas_sync_gp(app);
    }
    void view(double zoom, int x, int y)
    {
        app->zoom = zoom;
        app->view_x = x;
        app->view_y = y;
    }
    void select(int x, int y, int w, int h)
    {
        app->sel_active = 1;
        app->sel_x = x, app->sel_y = y, app->sel_w = w, app->sel_h = h;
    }
    void expect_sel(int x, int y, int w, int h)
    {
        EXPECT_EQ(app->sel_x, x);
        EXPECT_EQ(app->sel_y, y);
        EXPECT_EQ(app->sel_w, w);
        EXPECT_EQ(app->sel_h, h);
    }
};

struct DragCase {
    const char *name;
    double zoom;
    int ox, oy;
    int ratio, preset;
    POINT from, to;  // client points
    int x, y, w, h;  // selection after the move
};

// Client points at zoom 1 from origin 0 are picture pixels.
constexpr DragCase kDrags[] = {
    {"free down-right", 1, 0, 0, 0, -1, {10, 10}, {15, 13}, 10, 10, 5, 3},
    {"free up-left", 1, 0, 0, 0, -1, {10, 10}, {5, 7}, 5, 7, 5, 3},
    {"16:9 width wins", 1, 0, 0, 3, -1, {0, 0}, {160, 10}, 0, 0, 160, 90},
    {"16:9 height wins", 1, 0, 0, 3, -1, {0, 0}, {16, 90}, 0, 0, 160, 90},
    {"4:3", 1, 0, 0, 2, -1, {100, 100}, {140, 101}, 100, 100, 40, 30},
    {"1:1 up-left", 1, 0, 0, 1, -1, {100, 100}, {90, 70}, 70, 70, 30, 30},
    {"on anchor free", 1, 0, 0, 0, -1, {50, 50}, {50, 50}, 50, 50, 1, 1},
    {"on anchor 1:1", 1, 0, 0, 1, -1, {50, 50}, {50, 50}, 50, 50, 1, 1},
    {"on anchor 16:9", 1, 0, 0, 3, -1, {50, 50}, {50, 50}, 50, 50, 1, 1},
    {"on anchor 9:16", 1, 0, 0, 4, -1, {50, 50}, {50, 50}, 50, 50, 1, 2},
    // A common size governs even with a ratio button chosen: 295 x 413.
    {"preset over ratio", 1, 0, 0, 3, 5, {0, 0}, {59, 10}, 0, 0, 59, 83},
    {"preset 1080 square", 1, 0, 0, 0, 0, {10, 10}, {50, 20}, 10, 10, 40, 40},
    // Zoomed in 2x with the picture at (100, 50): pixel = (client - origin) / 2.
    {"zoom 2", 2, 100, 50, 0, -1, {120, 70}, {141, 91}, 10, 10, 10, 10},
    // Zoomed out: a quarter; the pointer past the picture is clamped to it.
    {"zoom 0.25 clamped", 0.25, 20, 10, 0, -1, {30, 20}, {900, 600}, 40, 40, 360, 260},
    {"zoom 0.25 past top-left", 0.25, 20, 10, 0, -1, {30, 20}, {0, 0}, 0, 0, 40, 40},
    {"start left of the picture", 1, 50, 50, 0, -1, {10, 60}, {80, 90}, 0, 10, 30, 30},
    // Ratio-locked boxes keep their ratio at the picture's edge.
    {"1:1 at right edge", 1, 0, 0, 1, -1, {350, 10}, {500, 200}, 350, 10, 50, 50},
    {"16:9 at bottom edge", 1, 0, 0, 3, -1, {0, 250}, {320, 260}, 0, 250, 89, 50},
};

TEST_F(Crop, DrawingOutASelection)
{
    for (const DragCase &c : kDrags) {
        SCOPED_TRACE(c.name);
        crop_clear(app);
        view(c.zoom, c.ox, c.oy);
        app->crop_ratio = c.ratio;
        app->crop_preset = c.preset;
        crop_begin(app, c.from.x, c.from.y);
        EXPECT_EQ(app->drag_mode, kDragDraw);
        crop_move(app, c.to.x, c.to.y);
        expect_sel(c.x, c.y, c.w, c.h);
        EXPECT_EQ(std::wstring(app->status).find(L"（比例已锁定）") != std::wstring::npos,
                  c.ratio > 0 || c.preset >= 0);
        crop_end(app);
        EXPECT_EQ(app->drag_mode, kDragIdle);
    }
}

TEST_F(Crop, EffectiveRatio)
{
    struct { int ratio, preset; double q; } cases[] = {
        {0, -1, 0}, {1, -1, 1.0}, {2, -1, 4.0 / 3}, {3, -1, 16.0 / 9}, {4, -1, 9.0 / 16},
        {5, -1, 0}, {-1, -1, 0}, {0, 1, 1920.0 / 1080}, {3, 5, 295.0 / 413}, {2, 9, 4.0 / 3},
    };
    for (auto &c : cases) {
        app->crop_ratio = c.ratio, app->crop_preset = c.preset;
        EXPECT_DOUBLE_EQ(crop_effective_ratio(app), c.q) << c.ratio << " " << c.preset;
    }
}

TEST_F(Crop, EachHandleMovesItsEdgesWithoutARatio)
{
    // Selection (20, 20, 40, 30) at zoom 1: the pointer goes 5 right, 4 down of each handle.
    struct { int handle; POINT at; int x, y, w, h; } cases[] = {
        {0, {20, 20}, 25, 24, 35, 26}, {1, {40, 20}, 20, 24, 40, 26}, {2, {60, 20}, 20, 24, 45, 26},
        {3, {60, 35}, 20, 20, 45, 30}, {4, {60, 50}, 20, 20, 45, 34}, {5, {40, 50}, 20, 20, 40, 34},
        {6, {20, 50}, 25, 20, 35, 34}, {7, {20, 35}, 25, 20, 35, 30},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.handle);
        select(20, 20, 40, 30);
        EXPECT_EQ(crop_handle_at(app, c.at.x, c.at.y), c.handle);
        crop_begin(app, c.at.x, c.at.y);
        EXPECT_EQ(app->drag_mode, kDragResize);
        EXPECT_EQ(app->drag_handle, c.handle);
        crop_move(app, c.at.x + 5, c.at.y + 4);
        expect_sel(c.x, c.y, c.w, c.h);
        crop_end(app);
    }
}

TEST_F(Crop, HandlesWithARatioSpanFromTheOppositeCorner)
{
    app->crop_ratio = 1;
    struct { int handle; POINT at, to; int x, y, w, h; } cases[] = {
        {4, {60, 50}, {65, 54}, 20, 20, 45, 45},  // fixed top-left (20, 20)
        {0, {20, 20}, {30, 40}, 30, 20, 30, 30},  // fixed bottom-right (60, 50)
        {6, {20, 50}, {10, 70}, 10, 20, 50, 50},  // fixed top-right (60, 20)
        {2, {60, 20}, {70, 10}, 20, 0, 50, 50},   // fixed bottom-left (20, 50)
        {3, {60, 35}, {70, 35}, 20, 0, 50, 50},   // fixed bottom-left (20, 50): 50 x 15 -> 50 x 50
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.handle);
        select(20, 20, 40, 30);
        crop_begin(app, c.at.x, c.at.y);
        crop_move(app, c.to.x, c.to.y);
        expect_sel(c.x, c.y, c.w, c.h);
        crop_end(app);
    }
}

TEST_F(Crop, DraggingAnEdgePastItsOppositeFlips)
{
    select(100, 50, 60, 40);
    crop_begin(app, 160, 70);  // right-middle handle
    crop_move(app, 80, 70);
    expect_sel(80, 50, 20, 40);
    crop_end(app);
}

TEST_F(Crop, MovingAgainstAnEdge)
{
    // Free: the box shrinks at the border and regains its size when moved back.
    select(100, 100, 100, 50);
    crop_begin(app, 150, 120);
    EXPECT_EQ(app->drag_mode, kDragMove);
    crop_move(app, 420, 120);  // left edge at 370, 30 from the right border
    expect_sel(370, 100, 30, 50);
    crop_move(app, 150, 120);
    expect_sel(100, 100, 100, 50);
    crop_end(app);
    // Locked: the box stops at the border and keeps its size and ratio.
    app->crop_ratio = 2;
    select(100, 100, 100, 75);
    crop_begin(app, 150, 120);
    crop_move(app, 420, 400);
    expect_sel(300, 225, 100, 75);
    crop_move(app, -500, -500);
    expect_sel(0, 0, 100, 75);
    crop_end(app);
}

TEST_F(Crop, TooSmallASelectionIsCancelled)
{
    select(10, 10, 50, 50);
    crop_begin(app, 200, 200);  // a click outside replaces the old selection
    crop_end(app);
    EXPECT_EQ(app->sel_active, 0);
    EXPECT_STREQ(app->status, L"框选太小，已取消");
    struct { int dx, dy; bool kept; } cases[] = {{2, 30, false}, {30, 2, false}, {3, 3, true}, {1, 1, false}};
    for (auto &c : cases) {
        crop_clear(app);
        crop_begin(app, 200, 200);
        crop_move(app, 200 + c.dx, 200 + c.dy);
        crop_end(app);
        EXPECT_EQ(app->sel_active != 0, c.kept) << c.dx << " x " << c.dy;
    }
}

TEST_F(Crop, ScreenRectAndHitTest)
{
    view(1.5, 7, 9);
    select(10, 10, 5, 3);
    RECT r;
    sel_screen_rect(app, &r);
    EXPECT_EQ(r.left, 22);
    EXPECT_EQ(r.top, 24);
    EXPECT_EQ(r.right, 29);   // 7 + trunc(22.5)
    EXPECT_EQ(r.bottom, 28);  // 9 + trunc(19.5)
    // A small selection: the corner wins over the middle handle next to it.
    EXPECT_EQ(crop_handle_at(app, 25, 24), 0);
    EXPECT_EQ(crop_handle_at(app, 29 + 6, 28 + 6), 4);
    EXPECT_EQ(crop_handle_at(app, 29 + 7, 28), -1);
    view(1, 0, 0);
    select(100, 100, 100, 100);
    EXPECT_EQ(crop_handle_at(app, 150, 150), kHandleInside);
    EXPECT_EQ(crop_handle_at(app, 150, 106), 1);
    EXPECT_EQ(crop_handle_at(app, 150, 107), kHandleInside);
    EXPECT_EQ(crop_handle_at(app, 300, 300), -1);
    crop_clear(app);
    EXPECT_EQ(crop_handle_at(app, 100, 100), -1);
    // Without a view scale (a record never fitted) nothing maps and nothing starts.
    view(0, 0, 0);
    crop_begin(app, 10, 10);
    EXPECT_EQ(app->drag_mode, kDragIdle);
    EXPECT_EQ(app->sel_active, 0);
}

// ---- painting ----

class CropPaint : public Crop {
protected:
    HDC dc = nullptr;
    HBITMAP bitmap = nullptr;
    HGDIOBJ old = nullptr;
    uint32_t *px = nullptr;
    static constexpr int W = 400, H = 300;
    void SetUp() override
    {
        Crop::SetUp();
        app->rc_canvas = {0, 0, W, H};
        BITMAPINFO bi = {};
        bi.bmiHeader = {sizeof(BITMAPINFOHEADER), W, -H, 1, 32, BI_RGB};
        dc = CreateCompatibleDC(nullptr);
        bitmap = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, (void **)&px, nullptr, 0);
        old = SelectObject(dc, bitmap);
        for (int i = 0; i < W * H; ++i) px[i] = 0xC8C8C8;  // grey 200
    }
    void TearDown() override
    {
        SelectObject(dc, old);
        DeleteObject(bitmap);
        DeleteDC(dc);
        Crop::TearDown();
    }
    uint32_t at(int x, int y) { return px[y * W + x] & 0xFFFFFF; }
};

TEST_F(CropPaint, DimmedOutsideUntouchedInsideFrameHandlesAndLabel)
{
    view(2, 0, 0);
    select(25, 25, 50, 40);  // screen (50, 50) - (150, 130)
    crop_paint(app, dc);
    // Outside: black at alpha 102 over grey 200 leaves about 120.
    for (POINT p : {POINT{10, 10}, POINT{300, 90}, POINT{100, 200}, POINT{20, 100}}) {
        int v = at(p.x, p.y) & 0xFF;
        EXPECT_NEAR(v, 120, 3) << p.x << "," << p.y;
    }
    EXPECT_EQ(at(100, 70), 0xC8C8C8u);  // inside, off the grid lines
    EXPECT_EQ(at(70, 120), 0xC8C8C8u);
    // Two-tone frame: dark on the edge, light beside it, on level and upright edges.
    EXPECT_EQ(at(75, 50), 0x000000u);
    EXPECT_EQ(at(75, 51), 0xFFFFFFu);
    EXPECT_EQ(at(50, 70), 0x000000u);
    EXPECT_EQ(at(51, 70), 0xFFFFFFu);
    EXPECT_EQ(at(150, 70), 0x000000u);
    EXPECT_EQ(at(151, 70), 0xFFFFFFu);
    EXPECT_EQ(at(75, 130), 0x000000u);
    EXPECT_EQ(at(75, 131), 0xFFFFFFu);
    // Thirds grid at x = 50 + 100 / 3 and y = 50 + 80 / 3.
    EXPECT_EQ(at(83, 90), (uint32_t)RGB(160, 154, 154));
    EXPECT_EQ(at(100, 76), (uint32_t)RGB(160, 154, 154));
    // Handles: 9-pixel white squares framed black, centred on the points.
    for (POINT h : {POINT{50, 50}, POINT{100, 50}, POINT{150, 90}, POINT{150, 130}, POINT{50, 90}}) {
        EXPECT_EQ(at(h.x + 2, h.y + 2), 0xFFFFFFu) << h.x << "," << h.y;
        EXPECT_EQ(at(h.x - 4, h.y - 4), 0x000000u) << h.x << "," << h.y;
    }
    // Size label below the selection, from its left edge: black box.
    EXPECT_EQ(at(52, 137), 0x000000u);
    EXPECT_EQ(at(52, 130 + 6 + 19), 0x000000u);
}

TEST_F(CropPaint, LabelMovesAboveAndLeftNearTheCanvasEdges)
{
    select(340, 200, 59, 90);  // screen (340, 200) - (399, 290): no room below
    crop_paint(app, dc);
    // "59 × 90" is 7 characters: 8 * 7 + 14 = 70 wide, pushed left to end at the canvas edge.
    EXPECT_EQ(at(W - 2, 200 - 6 - 2), 0x000000u);
    EXPECT_EQ(at(W - 69, 200 - 6 - 19), 0x000000u);
    EXPECT_NE(at(W - 72, 200 - 6 - 10), 0x000000u);
    EXPECT_NE(at(W - 69, 200 - 6 - 21), 0x000000u);
}

TEST_F(CropPaint, NothingWithoutASelectionAndNothingOutsideTheCanvas)
{
    crop_paint(app, dc);
    EXPECT_EQ(at(10, 10), 0xC8C8C8u);
    // A canvas below a strip: the overlay stays inside the canvas.
    app->rc_canvas = {0, 40, W, H};
    view(1, 0, 0);
    select(0, 0, 100, 100);
    crop_paint(app, dc);
    for (POINT p : {POINT{30, 0}, POINT{50, 2}, POINT{2, 2}}) EXPECT_EQ(at(p.x, p.y), 0xC8C8C8u);
    EXPECT_EQ(at(0, 70), 0x000000u);  // the left edge below the strip is drawn
}

// ---- applying ----

uint32_t pixel(const Image *img, uint32_t x, uint32_t y)
{
    uint32_t v;
    std::memcpy(&v, img->data + y * img->stride + x * 4, 4);
    return v;
}

TEST_F(Crop, ApplyGivesExactlyTheSelectedPixels)
{
    Image *before = image_clone(app->image);
    select(10, 20, 30, 15);
    ASSERT_EQ(crop_apply_to_image(app), 1);
    ASSERT_EQ(app->image->width, 30u);
    ASSERT_EQ(app->image->height, 15u);
    for (uint32_t y = 0; y < 15; ++y)
        for (uint32_t x = 0; x < 30; ++x) ASSERT_EQ(pixel(app->image, x, y), pixel(before, x + 10, y + 20));
    EXPECT_EQ(app->sel_active, 0);
    EXPECT_NE(app->gp_image, nullptr);
    EXPECT_STREQ(app->status, L"已裁剪为 30 × 15");
    image_free(before);
}

TEST_F(Crop, ApplyScalesToTheCommonSize)
{
    struct { int preset; uint32_t w, h; const wchar_t *status; } cases[] = {
        {0, 1080, 1080, L"已裁剪并缩放到 1080 × 1080"},
        {5, 295, 413, L"已裁剪并缩放到 295 × 413"},
        {1, 1920, 1080, L"已裁剪并缩放到 1920 × 1080"},
    };
    for (auto &c : cases) {
        picture(make_coded(400, 300));
        app->crop_preset = c.preset;
        select(50, 40, 120, 170);  // any ratio
        ASSERT_EQ(crop_apply_to_image(app), 1);
        EXPECT_EQ(app->image->width, c.w);
        EXPECT_EQ(app->image->height, c.h);
        EXPECT_STREQ(app->status, c.status);
        EXPECT_EQ(app->crop_preset, c.preset);  // the choice survives the apply
    }
}

TEST_F(Crop, ApplyToACommonSizeCutsTheRatioInsteadOfStretching)
{
    // Red | blue | red thirds; the square common size takes the blue middle only.
    Image *img = image_new(300, 100);
    for (uint32_t y = 0; y < 100; ++y)
        for (uint32_t x = 0; x < 300; ++x) {
            uint8_t *p = img->data + y * img->stride + x * 4;
            bool blue = x >= 100 && x < 200;
            p[0] = blue ? 255 : 0, p[1] = 0, p[2] = blue ? 0 : 255, p[3] = 255;
        }
    picture(img);
    app->crop_preset = 4;  // 800 x 800
    select(0, 0, 300, 100);
    ASSERT_EQ(crop_apply_to_image(app), 1);
    ASSERT_EQ(app->image->width, 800u);
    for (POINT p : {POINT{0, 0}, POINT{799, 0}, POINT{0, 799}, POINT{400, 400}})
        EXPECT_EQ(pixel(app->image, p.x, p.y) & 0xFFFFFF, 0x0000FFu) << p.x << "," << p.y;
}

TEST_F(Crop, FailedApplyLeavesTheSourceUntouched)
{
    Image *src = app->image;
    Image *copy = image_clone(src);
    struct { int active, x, y, w, h; } cases[] = {
        {1, 405, 10, 20, 20}, {1, 10, 300, 20, 20}, {0, 10, 10, 20, 20}, {1, 10, 10, 1, 20}, {1, 10, 10, 20, 1},
    };
    for (auto &c : cases) {
        select(c.x, c.y, c.w, c.h);
        app->sel_active = c.active;
        EXPECT_EQ(crop_apply_to_image(app), 0);
        EXPECT_EQ(app->image, src);
        EXPECT_EQ(0, std::memcmp(src->data, copy->data, (size_t)src->stride * src->height));
    }
    image_free(copy);
    app_release_picture(app);
    select(0, 0, 10, 10);
    EXPECT_EQ(crop_apply_to_image(app), 0);
}

// ---- commands ----

std::wstring g_save_to;
int g_save_calls;
std::wstring g_offered_name;

BOOL answer_save(OPENFILENAMEW *ofn)
{
    ++g_save_calls;
    g_offered_name = ofn->lpstrFile;
    if (g_save_to.empty()) return FALSE;
    lstrcpynW(ofn->lpstrFile, g_save_to.c_str(), (int)ofn->nMaxFile);
    return TRUE;
}

int answer_box(HWND, const WCHAR *, const WCHAR *, UINT) { return IDOK; }

TEST_F(Crop, CropAndSaveAsksFirstAndACancelChangesNothing)
{
    g_save_calls = 0;
    g_save_to.clear();
    modal_set_save_answerer(answer_save);
    lstrcpyW(app->file_name, L"IMG_0012.JPG");
    Image *src = app->image;
    select(10, 20, 30, 15);
    app_command(app, 207);
    EXPECT_EQ(g_save_calls, 1);
    EXPECT_EQ(g_offered_name, L"IMG_0012_裁剪");
    EXPECT_EQ(app->image, src);
    EXPECT_EQ(app->image->width, 400u);
    EXPECT_EQ(app->sel_active, 1);
    EXPECT_EQ(app->crop_mode, 1);

    std::wstring dir = temp_dir_create(L"cropsave");
    g_save_to = dir + L"\\out.png";
    app_command(app, 207);
    ASSERT_NE(app->image, nullptr);
    EXPECT_EQ(app->image->width, 30u);
    EXPECT_EQ(app->crop_mode, 0);
    WCHAR err[600];
    Image *saved = codec_load(g_save_to.c_str(), err, 600);
    ASSERT_NE(saved, nullptr) << err;
    EXPECT_EQ(saved->width, 30u);
    EXPECT_EQ(saved->height, 15u);
    EXPECT_EQ(pixel(saved, 0, 0), pixel(app->image, 0, 0));
    image_free(saved);
    WCHAR size[32];
    size_text((uint32_t)file_bytes(g_save_to.c_str()), size, 32);
    EXPECT_EQ(std::wstring(app->status), std::wstring(L"已裁剪并保存 out.png（") + size + L"，30 × 15）");
    temp_dir_remove(dir);
}

TEST_F(Crop, CropAndSaveRefusals)
{
    g_save_calls = 0;
    modal_set_save_answerer(answer_save);
    app_command(app, 207);
    EXPECT_STREQ(app->status, L"请先在图上拖出要保留的区域");
    select(10, 10, 1, 50);
    app_command(app, 207);
    EXPECT_STREQ(app->status, L"请先在图上拖出要保留的区域");
    app_release_picture(app);
    app_command(app, 207);
    EXPECT_STREQ(app->status, L"请先打开一张图片");
    EXPECT_EQ(g_save_calls, 0);
}

TEST_F(Crop, AFailedWriteKeepsTheCropOnScreenAndWarns)
{
    modal_set_save_answerer(answer_save);
    modal_set_answerer(answer_box);
    std::wstring dir = temp_dir_create(L"cropfail");
    std::wstring blocker = dir + L"\\file";
    ASSERT_TRUE(write_file_bytes(blocker, "x", 1));
    g_save_to = blocker + L"\\out.jpg";  // a folder that is a file
    select(10, 20, 30, 15);
    app_command(app, 207);
    EXPECT_STREQ(app->status, L"保存失败");
    EXPECT_EQ(app->image->width, 30u);
    EXPECT_EQ(app->crop_mode, 0);
    temp_dir_remove(dir);
}

TEST_F(Crop, RatioSizeAndModeCommands)
{
    app_command(app, 305);
    EXPECT_EQ(app->crop_preset, 5);
    EXPECT_STREQ(app->status, L"已选 295 × 413（一寸）—— 在图上拖出要保留的区域，再点「应用裁剪并保存」");
    app_command(app, 203);
    EXPECT_EQ(app->crop_ratio, 3);
    EXPECT_EQ(app->crop_preset, -1);
    EXPECT_STREQ(app->status, L"比例已锁定，在图上拖动即可框选");
    app_command(app, 200);
    EXPECT_EQ(app->crop_ratio, 0);
    EXPECT_STREQ(app->status, L"自由比例，在图上拖动即可框选");
    app_command(app, 363);  // no such row: nothing
    EXPECT_EQ(app->crop_preset, -1);

    select(10, 10, 50, 50);
    app_command(app, 208);
    EXPECT_EQ(app->crop_mode, 0);
    EXPECT_EQ(app->sel_active, 0);
    app_command(app, 9);
    EXPECT_EQ(app->crop_mode, 1);
    EXPECT_STREQ(app->panel_text, L"在图上拖出要保留的区域，再点下面的按钮。");
    EXPECT_STREQ(app->status, L"裁剪：在图上拖出要保留的区域 · Esc 退出");
}

TEST_F(Crop, RotatingReportsInThePanelAndDropsTheSelection)
{
    select(300, 10, 90, 50);  // would lie outside the turned 300 x 400 picture
    app_command(app, 205);
    EXPECT_EQ(app->image->width, 300u);
    EXPECT_EQ(app->image->height, 400u);
    EXPECT_EQ(app->sel_active, 0);
    EXPECT_STREQ(app->panel_text, L"已旋转 逆时针 90°\n当前尺寸    300 × 400");
    EXPECT_STREQ(app->status, L"已逆时针旋转 90°，当前 300 × 400");
    app_command(app, 206);
    EXPECT_EQ(app->image->width, 400u);
    EXPECT_STREQ(app->status, L"已顺时针旋转 90°，当前 400 × 300");
}

}  // namespace
