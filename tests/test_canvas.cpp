// Fitting, zooming about a point, the view cache and painting the picture,
// on an App record painted into a 32-bit DIB.
#include <gtest/gtest.h>
#include "app/app.h"
#include "image/resize.h"
#include "support/record_fixture.h"
#include "support/test_support.h"
#include "ui/ui.h"
#include "view/canvas.h"
#include <gdiplus.h>
#include <cmath>
#include <cstring>

namespace {

class Canvas : public RecordTest {
protected:
    Dib d;
    void SetUp() override
    {
        RecordTest::SetUp();
        if (HasFatalFailure()) return;
        app->rc_canvas = {0, 44, 1100, 680};
        ASSERT_TRUE(dib_create(&d, 1100, 720));
    }
    void TearDown() override
    {
        dib_free(&d);
        RecordTest::TearDown();
    }
    void show(Image *img)
    {
        app_release_picture(app);
        app->image = img;
        canvas_sync_gp(app);
        canvas_reset(app);
    }
    void paint()
    {
        dib_clear(&d);
        canvas_paint(app, d.dc);
    }
    uint32_t at(int x, int y) { return d.at(x, y); }
};

Image *solid(uint32_t w, uint32_t h, uint32_t bgra)
{
    Image *img = image_new(w, h);
    for (size_t i = 0; i < (size_t)w * h; ++i) std::memcpy(img->data + i * 4, &bgra, 4);
    image_detect_alpha(img);
    return img;
}

TEST_F(Canvas, FitNeverEnlargesAndCentres)
{
    struct Case {
        uint32_t w, h;
        RECT canvas;
        double zoom;
        int x, y;
    };
    static constexpr Case kCases[] = {
        {4000, 3000, {0, 44, 1000, 644}, 0.2, 100, 44},
        {200, 100, {0, 44, 1100, 680}, 1.0, 450, 312},
        {100000, 10, {0, 44, 1000, 644}, 0.01, 0, 344},  // below the zoom floor
    };
    for (const Case &c : kCases) {
        app->rc_canvas = c.canvas;
        show(solid(c.w, c.h, 0xFF808080));
        EXPECT_EQ(app->fit_mode, 1);
        EXPECT_NEAR(app->zoom, c.zoom, 1e-12) << c.w;
        EXPECT_EQ(app->view_x, c.x) << c.w;
        EXPECT_EQ(app->view_y, c.y) << c.w;
    }
    // A minimised window: no canvas, so the origin is reset and the fit flag kept.
    app->fit_mode = 0;
    app->rc_canvas = {0, 44, 0, 44};
    canvas_reset(app);
    EXPECT_EQ(app->zoom, 1.0);
    EXPECT_EQ(app->view_x, 0);
    EXPECT_EQ(app->view_y, 0);
    EXPECT_EQ(app->fit_mode, 0);
}

TEST_F(Canvas, ZoomKeepsThePointAndItsLimits)
{
    show(solid(4000, 3000, 0xFF808080));
    // The picture pixel under the pointer stays under it.
    for (double f : {1.25, 1.25, 0.8, 1.05, 1 / 1.05, 1.25}) {
        double px_x = (700 - app->view_x) / app->zoom, px_y = (300 - app->view_y) / app->zoom;
        canvas_zoom_at(app, f, 700, 300);
        EXPECT_NEAR(app->view_x + px_x * app->zoom, 700, 1.0);
        EXPECT_NEAR(app->view_y + px_y * app->zoom, 300, 1.0);
    }
    EXPECT_EQ(app->fit_mode, 0);

    app->zoom = 30;
    canvas_zoom_at(app, 1.25, 10, 10);
    EXPECT_EQ(app->zoom, 32.0);
    int x = app->view_x, y = app->view_y;
    app->fit_mode = 1;
    canvas_zoom_at(app, 1.25, 500, 500);
    EXPECT_EQ(app->zoom, 32.0);
    EXPECT_EQ(app->view_x, x);
    EXPECT_EQ(app->view_y, y);
    EXPECT_EQ(app->fit_mode, 0);
}

TEST_F(Canvas, ZoomingOutNeverEnlargesAndAZeroZoomIsSafe)
{
    show(solid(100000, 10, 0xFF808080));  // fits at 0.011, below the 0.02 floor
    double fit = app->zoom;
    ASSERT_LT(fit, 0.02);
    canvas_zoom_at(app, 0.8, 500, 300);
    EXPECT_LE(app->zoom, fit);
    app->zoom = 0;  // a record zeroed before any fit
    canvas_zoom_at(app, 1.25, 500, 300);
    EXPECT_TRUE(std::isfinite(app->zoom));
    EXPECT_GT(app->zoom, 0);
    EXPECT_LT(std::abs(app->view_x), 1 << 20);
}

TEST_F(Canvas, LargePictureAtActualSizeStartsLeftOfTheCanvas)
{
    app->rc_canvas = {0, 44, 1100, 680};
    show(solid(10000, 8000, 0xFF204060));
    canvas_actual(app);
    EXPECT_EQ(app->zoom, 1.0);
    EXPECT_EQ(app->fit_mode, 0);
    EXPECT_EQ(app->view_x, (1100 - 10000) / 2);
    EXPECT_EQ(app->view_y, 44 + (636 - 8000) / 2);
    // Wider than the cache may be: drawn from the picture itself.
    paint();
    EXPECT_EQ(canvas_last_path(), kPathFull);
    EXPECT_EQ(app->view_cache, nullptr);
    EXPECT_EQ(at(550, 360), 0x204060u);
    EXPECT_EQ(at(550, 20), 0u);  // clipped to the canvas
    // Display sizes past 32-bit range stay positive.
    EXPECT_EQ(canvas_disp_len(100000000u, 32.0), 1 << 30);
    EXPECT_EQ(canvas_disp_len(10000u, 0.5), 5000);
}

TEST_F(Canvas, CacheIsReusedForSmallChangesAndRebuiltForLargeOnes)
{
    Image *img = make_gradient(6000, 4000, false);
    show(img);
    paint();
    EXPECT_EQ(canvas_last_path(), kPathCacheRebuild);
    int cw = app->view_cache_w;
    EXPECT_EQ(cw, canvas_disp_len(6000, app->zoom));  // the whole picture is in view
    paint();
    EXPECT_EQ(canvas_last_path(), kPathCacheHit);
    // Panning while the whole picture stays in view keeps the cache.
    app->view_x += 37;
    paint();
    EXPECT_EQ(canvas_last_path(), kPathCacheHit);
    app->view_x += 500;  // now partly out of view: another part is resampled
    paint();
    EXPECT_EQ(canvas_last_path(), kPathCacheRebuild);
    EXPECT_LT(app->view_cache_w, cw);
    app->view_x -= 500;
    canvas_zoom_at(app, 1.25, 500, 300);
    paint();
    EXPECT_EQ(canvas_last_path(), kPathCacheRebuild);
    EXPECT_GT(app->view_cache_w, cw);
    // The drawn pixels are the picture's: the blue ramp grows left to right.
    int y = std::max(app->view_y, 44) + 5;
    int x0 = std::max(app->view_x, 0) + 5, x1 = std::min(app->view_x + canvas_disp_len(6000, app->zoom), 1100) - 5;
    EXPECT_LT(at(x0, y) & 0xFF, at(x1, y) & 0xFF);
    double expect_blue = (x0 - app->view_x) / app->zoom * 255.0 / 5999;
    EXPECT_NEAR((double)(at(x0, y) & 0xFF), expect_blue, 4);
}

TEST_F(Canvas, BoxResamplerMatchesTheResizeBoxFilter)
{
    for (bool alpha : {false, true}) {
        Image *src = make_gradient(613, 411, alpha);
        for (int dw : {200, 96, 613, 900}) {
            int dh = dw * 2 / 3;
            Image *ref = image_resize(src, dw, dh, kFilterBox);
            std::vector<uint8_t> out((size_t)dw * dh * 4);
            void *scratch = nullptr;
            size_t cap = 0;
            ASSERT_TRUE(image_box_resample(src, dw, dh, 0, 0, dw, dh, out.data(), &scratch, &cap));
            int worst = 0;
            for (size_t i = 0; i < out.size(); ++i) worst = std::max(worst, std::abs(out[i] - ref->data[i]));
            EXPECT_LE(worst, 1) << dw << (alpha ? " alpha" : " opaque");
            // A part of the display is the same pixels as that part of the whole.
            int px = dw / 3, py = dh / 4, pw = dw / 2, ph = dh / 2;
            std::vector<uint8_t> part((size_t)pw * ph * 4);
            ASSERT_TRUE(image_box_resample(src, dw, dh, px, py, pw, ph, part.data(), &scratch, &cap));
            for (int y = 0; y < ph; ++y)
                ASSERT_EQ(0, memcmp(&part[(size_t)y * pw * 4], &out[((size_t)(py + y) * dw + px) * 4], (size_t)pw * 4))
                    << dw << " row " << y;
            EXPECT_FALSE(image_box_resample(src, dw, dh, px, py, dw, ph, part.data(), &scratch, &cap));
            free(scratch);
            image_free(ref);
        }
        image_free(src);
    }
}

TEST_F(Canvas, ReducedCopiesDrawTheBoxFilteredPicture)
{
    Image *src = make_gradient(2000, 1200, false);
    Image *ref = image_resize(src, 500, 300, kFilterBox);
    show(src);  // a quarter: drawn from the halved copies
    app->zoom = 0.25, app->view_x = 10, app->view_y = 50;
    paint();
    int worst = 0;
    for (int y = 0; y < 300; y += 7)
        for (int x = 0; x < 500; x += 3)
            for (int c = 0; c < 3; ++c)
                worst = std::max(worst, std::abs((int)((at(10 + x, 50 + y) >> (8 * c)) & 0xFF) -
                                                 (int)ref->data[((size_t)y * 500 + x) * 4 + c]));
    EXPECT_LE(worst, 1);
    image_free(ref);
}

TEST_F(Canvas, CheckerboardFollowsThePictureCorner)
{
    show(solid(300, 200, 0x00000000));  // fully transparent: only the board shows
    ASSERT_TRUE(app->image->has_alpha);
    int n = std::max(2, ui_scale(app, 8));
    // Enlarged: the cached tile as a pattern brush; 100 % and below: laid into the view cache.
    for (double zoom : {2.0, 1.0, 0.3}) {
        app->zoom = zoom;
        for (int shift : {0, 5, -3}) {
            app->view_x = 113 + shift;
            app->view_y = 157 - shift;
            paint();
            int x = app->view_x, y = app->view_y, dw = canvas_disp_len(300, zoom);
            EXPECT_EQ(at(x, y), 0x363636u) << zoom << " " << shift;
            EXPECT_EQ(at(x + n, y), 0x282828u) << zoom << " " << shift;
            EXPECT_EQ(at(x + n, y + n), 0x363636u) << zoom << " " << shift;
            EXPECT_EQ(at(x - 1, y) | at(x + dw, y + 10), 0u) << "nothing outside the picture";
        }
        EXPECT_EQ(canvas_last_path() == kPathFull, zoom > 1) << zoom;
    }
    EXPECT_EQ(app->checker_cell, n);
}

// Black and white cells one pixel wide, with fully transparent ones on request.
Image *pixel_checks(uint32_t w, uint32_t h, bool holes)
{
    Image *img = image_new(w, h);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            uint32_t v = (x + y) % 2 ? 0xFFFFFFFF : 0xFF000000;
            if (holes && x % 3 == 0 && y % 2 == 0) v = 0;
            std::memcpy(img->data + (size_t)y * img->stride + x * 4, &v, 4);
        }
    image_detect_alpha(img);
    return img;
}

// The canvas as painted at 96 and 144 dpi (the board's cells follow the scale).
TEST_F(Canvas, EnlargedPicturesAreCrispBlocksToEveryEdge)
{
    struct Case {
        int dpi;
        uint32_t w, h;
        double zoom;
        int view_x, view_y;
        bool holes;
    } cases[] = {
        {96, 40, 30, 18.19, 100, 60, false},     // whole picture in view, edges inside the canvas
        {144, 40, 30, 18.19, -333, -101, false}, // panned: the visible part starts inside a block
        {96, 40, 30, 1.37, 500, 300, false},   {96, 301, 7, 3.0, -20, 400, false},
        {96, 40, 30, 7.5, 30, 50, true},         // transparent cells show the board, anchored to the corner
        {144, 40, 30, 7.5, 31, 50, true},
    };
    for (const Case &c : cases) {
        app->dpi = c.dpi;
        show(pixel_checks(c.w, c.h, c.holes));
        app->fit_mode = 0, app->zoom = c.zoom, app->view_x = c.view_x, app->view_y = c.view_y;
        paint();
        int dw = canvas_disp_len(c.w, c.zoom), dh = canvas_disp_len(c.h, c.zoom), n = std::max(2, ui_scale(app, 8));
        int wrong = 0;
        for (int y = 0; y < 720; ++y)
            for (int x = 0; x < 1100; ++x) {
                int dx = x - c.view_x, dy = y - c.view_y;
                uint32_t want = 0, v;
                if (y >= 44 && y < 680 && dx >= 0 && dx < dw && dy >= 0 && dy < dh) {
                    // The picture pixel under the screen pixel's centre.
                    uint32_t sx = (uint32_t)((2 * (int64_t)dx + 1) * c.w / (2 * (int64_t)dw));
                    uint32_t sy = (uint32_t)((2 * (int64_t)dy + 1) * c.h / (2 * (int64_t)dh));
                    std::memcpy(&v, app->image->data + (size_t)sy * app->image->stride + sx * 4, 4);
                    want = v >> 24 ? v & 0xFFFFFF : ((dy / n + dx / n) % 2 == 0 ? 0x363636u : 0x282828u);
                }
                wrong += at(x, y) != want;
            }
        EXPECT_EQ(wrong, 0) << c.dpi << " dpi, " << c.w << "x" << c.h << " at " << c.zoom;
    }
}

TEST_F(Canvas, WithoutAPictureOnlyTheTwoHintLinesArePainted)
{
    app->font_large = make_font(96, 15, 400);
    app->font_small = make_font(96, 8, 400);
    paint();
    int c = 44 + 636 / 2;
    auto row_has_ink = [&](int y) {
        for (int x = 0; x < d.w; ++x)
            if (at(x, y)) return true;
        return false;
    };
    int large = 0, small = 0, other = 0;
    for (int y = 0; y < d.h; ++y) {
        bool ink = row_has_ink(y);
        if (y >= c - 34 && y < c) large += ink;
        else if (y >= c + 34 && y < c + 56) small += ink;
        else other += ink;
    }
    EXPECT_GT(large, 8);
    EXPECT_GT(small, 5);
    EXPECT_EQ(other, 0);
}

TEST_F(Canvas, CacheGoesWithThePicture)
{
    show(make_gradient(2000, 1500, false));
    paint();
    ASSERT_NE(app->view_cache, nullptr);
    ASSERT_NE(app->view_pyramid.cache_px, nullptr);
    app_release_picture(app);
    EXPECT_EQ(app->view_cache, nullptr);
    EXPECT_EQ(app->view_cache_w, 0);
    EXPECT_EQ(app->view_pyramid.cache_px, nullptr);
    EXPECT_EQ(app->view_pyramid.copies.levels, 0);
    EXPECT_EQ(app->gp_image, nullptr);
}

}  // namespace
