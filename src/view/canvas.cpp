#include "view/canvas.h"
#include "ui/ui.h"
#include <gdiplus.h>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iterator>

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

static constexpr COLORREF kCheckerLight = 0x363636, kCheckerDark = 0x282828;
static constexpr COLORREF kHintColour = RGB(138, 138, 148);
static constexpr WCHAR kHintLarge[] = L"把图片拖到这里，或双击打开";
static constexpr WCHAR kHintSmall[] = L"也可以点左上角的文件夹图标，或按 Ctrl+O";

static int g_last_path;

static void pyramid_free(ViewPyramid *p, bool buffers);

int canvas_last_path()
{
    return g_last_path;
}

int canvas_disp_len(uint32_t n, double zoom)
{
    return image_disp_len(n, zoom);
}

void canvas_view_free(App *app)
{
    if (app->view_cache) GdipDisposeImage(app->view_cache);
    app->view_cache = nullptr;
    app->view_cache_w = app->view_cache_h = 0;
}

// Everything made from the picture goes with it, buffers included.
void canvas_release_gp(App *app)
{
    canvas_view_free(app);
    pyramid_free(&app->view_pyramid, true);
    if (app->gp_image) GdipDisposeImage(app->gp_image);
    app->gp_image = nullptr;
}

ImagePyramid canvas_drop_picture(App *app)
{
    canvas_view_free(app);
    ImagePyramid copies = app->view_pyramid.copies;
    app->view_pyramid.copies = ImagePyramid{};
    if (app->gp_image) GdipDisposeImage(app->gp_image);
    app->gp_image = nullptr;
    return copies;
}

static int rect_w(const RECT &r) { return r.right - r.left; }
static int rect_h(const RECT &r) { return r.bottom - r.top; }

// A fitted picture made with the copies is what the first paint would build: it becomes the view.
static void adopt_fit(App *app, ImagePyramid *copies)
{
    const RECT &rc = app->rc_canvas;
    int dw = canvas_disp_len(app->image->width, app->zoom), dh = canvas_disp_len(app->image->height, app->zoom);
    bool whole = app->view_x >= rc.left && app->view_y >= rc.top && (int64_t)app->view_x + dw <= rc.right &&
                 (int64_t)app->view_y + dh <= rc.bottom;
    if (!copies->fit_px || copies->fit_w != dw || copies->fit_h != dh || !whole) return;
    GpBitmap *bitmap = nullptr;
    if (GdipCreateBitmapFromScan0(dw, dh, dw * 4, PixelFormat32bppARGB, copies->fit_px, &bitmap) != Ok) return;
    ViewPyramid *p = &app->view_pyramid;
    free(p->cache_px);
    p->cache_px = copies->fit_px;
    p->cache_cap = (size_t)dw * dh * 4;
    copies->fit_px = nullptr;
    app->view_cache = bitmap;
    app->view_cache_w = dw;
    app->view_cache_h = dh;
    p->cache_dw = dw, p->cache_dh = dh, p->cache_x = 0, p->cache_y = 0;
}

void canvas_adopt_copies(App *app, ImagePyramid *copies)
{
    const ::Image *img = app->image;
    const ::Image *half = copies->levels ? copies->level[0] : nullptr;
    bool fits = img && half && half->width == (img->width + 1) / 2 && half->height == (img->height + 1) / 2 &&
                half->has_alpha == img->has_alpha;
    if (!fits) {
        image_pyramid_free(copies);
        return;
    }
    canvas_view_free(app);
    image_pyramid_free(&app->view_pyramid.copies);
    adopt_fit(app, copies);
    free(copies->fit_px);  // made for another canvas size
    copies->fit_px = nullptr;
    app->view_pyramid.copies = *copies;
    *copies = ImagePyramid{};
}

// The bitmap shares the Image's pixels, so it must go before the Image does.
void canvas_sync_gp(App *app)
{
    canvas_view_free(app);
    pyramid_free(&app->view_pyramid, app->image == nullptr);
    if (app->gp_image) GdipDisposeImage(app->gp_image);
    app->gp_image = nullptr;
    const ::Image *img = app->image;
    if (!img || !img->data) return;
    GpBitmap *bitmap = nullptr;
    if (GdipCreateBitmapFromScan0((INT)img->width, (INT)img->height, (INT)img->stride, PixelFormat32bppARGB,
                                  img->data, &bitmap) == Ok)
        app->gp_image = bitmap;
}

void canvas_reset(App *app)
{
    const RECT &rc = app->rc_canvas;
    if (!app->image || rc.left >= rc.right || rc.top >= rc.bottom) {
        app->view_x = app->view_y = 0;
        app->zoom = 1.0;
        return;
    }
    app->fit_mode = 1;
    int cw = rect_w(rc), ch = rect_h(rc);
    double zoom = image_fit_zoom(app->image->width, app->image->height, cw, ch);
    app->zoom = zoom;
    app->view_x = rc.left + (cw - canvas_disp_len(app->image->width, zoom)) / 2;
    app->view_y = rc.top + (ch - canvas_disp_len(app->image->height, zoom)) / 2;
}

void canvas_actual(App *app)
{
    if (!app->image) return;
    const RECT &rc = app->rc_canvas;
    app->fit_mode = 0;
    app->zoom = 1.0;
    // Signed: a picture larger than the canvas starts left of and above it.
    app->view_x = rc.left + (rect_w(rc) - (int)app->image->width) / 2;
    app->view_y = rc.top + (rect_h(rc) - (int)app->image->height) / 2;
}

static int clamp_int(double v)
{
    if (v > (double)(1 << 30)) return 1 << 30;
    if (v < -(double)(1 << 30)) return -(1 << 30);
    return (int)v;
}

void canvas_zoom_at(App *app, double factor, int x, int y)
{
    if (!app->image) return;
    if (!(app->zoom > 0)) canvas_reset(app);  // a record zeroed before any fit
    app->fit_mode = 0;
    double old = app->zoom;
    // A fit may already be below the floor: zooming out must not enlarge it.
    double floor = std::min(kZoomMin, old);
    double next = std::clamp(old * factor, floor, kZoomMax);
    if (next == old) return;
    app->zoom = next;
    double r = next / old;
    app->view_x = x - clamp_int((double)(x - app->view_x) * r);
    app->view_y = y - clamp_int((double)(y - app->view_y) * r);
}

void zoom_center(App *app, double factor)
{
    const RECT &rc = app->rc_canvas;
    canvas_zoom_at(app, factor, (rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2);
    if (!app->hwnd) return;
    InvalidateRect(app->hwnd, &app->rc_canvas, FALSE);
    InvalidateRect(app->hwnd, &app->rc_bottom, FALSE);
}

// ---- the pyramid and the cache ----

static void pyramid_free(ViewPyramid *p, bool buffers)
{
    image_pyramid_free(&p->copies);
    if (!buffers) return;
    free(p->cache_px);
    free(p->scratch);
    p->cache_px = nullptr;
    p->scratch = nullptr;
    p->cache_cap = p->scratch_cap = 0;
}

// The smallest copy that still has at least w x h pixels.
static const ::Image *pyramid_source(App *app, int w, int h)
{
    ViewPyramid *p = &app->view_pyramid;
    if (p->copies.levels == 0) image_pyramid_build(app->image, &p->copies, &p->scratch, &p->scratch_cap);
    return image_pyramid_source(app->image, &p->copies, w, h);
}

// Light and dark cells anchored to the picture's displayed corner.
static uint32_t checker_at(int x, int y, int n)
{
    return ((y / n + x / n) % 2 == 0) ? kCheckerLight : kCheckerDark;
}

// A transparent picture is laid over the checkerboard once, when the part is
// built, so that drawing it is a plain copy.
static void cache_over_checker(uint8_t *px, int x0, int y0, int w, int h, int n)
{
    for (int j = 0; j < h; ++j) {
        uint8_t *p = px + (size_t)j * w * 4;
        for (int i = 0; i < w; ++i, p += 4) {
            uint32_t bg = checker_at(x0 + i, y0 + j, n), a = p[3];
            for (int c = 0; c < 3; ++c) {
                uint32_t under = (bg >> (8 * c)) & 0xFF;
                p[c] = (uint8_t)((p[c] * a + under * (255 - a) + 127) / 255);
            }
            p[3] = 255;
        }
    }
}

// Frees the cached bitmap, which sits on the buffer about to be rewritten, and grows
// the buffer only when it is too small: fresh memory is slow to touch.
static bool cache_reserve(App *app, size_t bytes)
{
    ViewPyramid *p = &app->view_pyramid;
    canvas_view_free(app);
    if (p->cache_cap >= bytes) return true;
    free(p->cache_px);
    p->cache_px = (uint8_t *)malloc(bytes);
    p->cache_cap = p->cache_px ? bytes : 0;
    return p->cache_px != nullptr;
}

// The visible part of the picture at display size dw x dh, at (x, y) from its corner.
static GpBitmap *cache_build(App *app, int dw, int dh, int x, int y, int w, int h)
{
    ViewPyramid *p = &app->view_pyramid;
    size_t bytes = (size_t)w * h * 4;
    if (!cache_reserve(app, bytes)) return nullptr;
    const ::Image *src = pyramid_source(app, dw, dh);
    if (!image_box_resample(src, dw, dh, x, y, w, h, p->cache_px, &p->scratch, &p->scratch_cap)) return nullptr;
    if (app->image->has_alpha) cache_over_checker(p->cache_px, x, y, w, h, std::max(2, ui_scale(app, 8)));
    GpBitmap *bitmap = nullptr;
    if (GdipCreateBitmapFromScan0(w, h, w * 4, PixelFormat32bppARGB, p->cache_px, &bitmap) != Ok) return nullptr;
    app->view_cache = bitmap;
    app->view_cache_w = w;
    app->view_cache_h = h;
    p->cache_dw = dw, p->cache_dh = dh, p->cache_x = x, p->cache_y = y;
    return bitmap;
}

// Each display pixel takes the source pixel under its centre: above 100 % every
// picture pixel is a block with sharp edges on all four sides.
static void nearest_part(const ::Image *src, int dw, int dh, int x, int y, int w, int h, uint8_t *dst,
                         int32_t *cols)
{
    for (int i = 0; i < w; ++i) cols[i] = (int32_t)((2 * ((int64_t)x + i) + 1) * src->width / (2 * (int64_t)dw));
    int64_t last = -1;
    for (int j = 0; j < h; ++j) {
        uint32_t *out = (uint32_t *)(dst + (size_t)j * w * 4);
        int64_t sy = (2 * ((int64_t)y + j) + 1) * src->height / (2 * (int64_t)dh);
        if (sy == last) {
            std::memcpy(out, out - w, (size_t)w * 4);  // the same picture row as the line above
            continue;
        }
        last = sy;
        const uint32_t *row = (const uint32_t *)(src->data + (size_t)sy * src->stride);
        for (int i = 0; i < w; ++i) out[i] = row[cols[i]];
    }
}

// The visible part of an enlarged picture, blocks built into the cache's buffer.
static const uint8_t *enlarged_build(App *app, int dw, int dh, int x, int y, int w, int h)
{
    ViewPyramid *p = &app->view_pyramid;
    size_t bytes = (size_t)w * h * 4, cols = sizeof(int32_t) * (size_t)w;
    if (!cache_reserve(app, bytes)) return nullptr;
    if (p->scratch_cap < cols) {
        void *grown = realloc(p->scratch, cols);
        if (!grown) return nullptr;
        p->scratch = grown;
        p->scratch_cap = cols;
    }
    nearest_part(app->image, dw, dh, x, y, w, h, p->cache_px, (int32_t *)p->scratch);
    if (app->image->has_alpha) cache_over_checker(p->cache_px, x, y, w, h, std::max(2, ui_scale(app, 8)));
    return p->cache_px;
}

// ---- painting ----

static void paint_hint(App *app, HDC dc)
{
    const RECT &rc = app->rc_canvas;
    if (rc.left >= rc.right || rc.top >= rc.bottom) return;
    int s34 = ui_scale(app, 34), s22 = ui_scale(app, 22);
    int c = rc.top + rect_h(rc) / 2;
    int mode = SetBkMode(dc, TRANSPARENT);
    COLORREF colour = SetTextColor(dc, kHintColour);
    HGDIOBJ old = SelectObject(dc, app->font_large ? app->font_large : GetStockObject(DEFAULT_GUI_FONT));
    RECT large = {0, c - s34, rect_w(rc), c};
    DrawTextW(dc, kHintLarge, -1, &large, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    SelectObject(dc, app->font_small ? app->font_small : GetStockObject(DEFAULT_GUI_FONT));
    RECT small = {0, c + s34, rect_w(rc), c + s34 + s22};
    DrawTextW(dc, kHintSmall, -1, &small, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    SelectObject(dc, old);
    SetTextColor(dc, colour);
    SetBkMode(dc, mode);
}

static HBITMAP checker_tile(int n)
{
    BITMAPINFO bi = {};
    bi.bmiHeader = {sizeof(BITMAPINFOHEADER), 2 * n, -2 * n, 1, 32, BI_RGB};
    uint32_t *px = nullptr;
    HBITMAP tile = CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, (void **)&px, nullptr, 0);
    if (!tile) return nullptr;
    for (int j = 0; j < 2 * n; ++j)
        for (int i = 0; i < 2 * n; ++i) px[j * 2 * n + i] = ((j / n + i / n) % 2 == 0) ? kCheckerLight : kCheckerDark;
    return tile;
}

static int pos_mod(int v, int m)
{
    int r = v % m;
    return r < 0 ? r + m : r;
}

static void paint_checker(App *app, HDC dc, const RECT &display)
{
    int n = std::max(2, ui_scale(app, 8));
    if (n != app->checker_cell) {
        if (app->checker_bitmap) DeleteObject(app->checker_bitmap);
        app->checker_bitmap = checker_tile(n);
        app->checker_cell = n;
    }
    if (!app->checker_bitmap) return;
    HBRUSH brush = CreatePatternBrush(app->checker_bitmap);
    if (!brush) return;
    // Anchored to the picture's corner, so the pattern moves with the picture.
    POINT old;
    SetBrushOrgEx(dc, pos_mod(display.left, 2 * n), pos_mod(display.top, 2 * n), &old);
    FillRect(dc, &display, brush);
    SetBrushOrgEx(dc, old.x, old.y, nullptr);
    DeleteObject(brush);
}

struct SourceRect {
    int x, y, w, h;
};

// The visible part of the display rectangle in source pixels.
static SourceRect map_source(int sw, int sh, int dw, int dh, const RECT &vis, int view_x, int view_y)
{
    double rx = (double)sw / dw, ry = (double)sh / dh;
    auto axis = [](int lo, int hi, int origin, double r, int size, int *start, int *len) {
        int s = (int)((lo - origin) * r);
        int l = (int)((hi - lo) * r + 0.5);
        if (s < 0) l += s, s = 0;
        if (s > size - 1) s = size - 1;
        if (s + l > size) l = size - s;
        *start = s;
        *len = std::max(l, 1);
    };
    SourceRect out;
    axis(vis.left, vis.right, view_x, rx, sw, &out.x, &out.w);
    axis(vis.top, vis.bottom, view_y, ry, sh, &out.y, &out.h);
    return out;
}

// GDI+ under Wine reads the whole bitmap whatever part is drawn, so the part
// is drawn from a bitmap made over just those pixels (same memory, no copy).
static void draw_part(HDC dc, const uint8_t *px, int stride, const SourceRect &s, const RECT &vis, bool nearest)
{
    GpGraphics *g = nullptr;
    if (GdipCreateFromHDC(dc, &g) != Ok) return;
    GpBitmap *part = nullptr;
    BYTE *scan0 = (BYTE *)px + (size_t)s.y * stride + (size_t)s.x * 4;
    if (GdipCreateBitmapFromScan0(s.w, s.h, stride, PixelFormat32bppARGB, scan0, &part) == Ok) {
        GdipSetInterpolationMode(g, nearest ? InterpolationModeNearestNeighbor : InterpolationModeBilinear);
        GdipSetPixelOffsetMode(g, PixelOffsetModeHalf);
        GdipSetSmoothingMode(g, SmoothingModeHighQuality);
        GdipSetCompositingMode(g, CompositingModeSourceOver);
        GdipDrawImageRectRectI(g, part, vis.left, vis.top, vis.right - vis.left, vis.bottom - vis.top, 0, 0, s.w,
                               s.h, UnitPixel, nullptr, nullptr, nullptr);
        GdipDisposeImage(part);
    }
    GdipDeleteGraphics(g);
}

// Opaque pixels at one screen pixel each: a plain copy, an order of magnitude
// faster than a GDI+ draw under Wine and the same pixels.
static void blit_part(HDC dc, const uint8_t *px, int stride, int sx, int sy, const RECT &vis)
{
    int w = vis.right - vis.left, h = vis.bottom - vis.top;
    BITMAPINFO bi = {};
    bi.bmiHeader = {sizeof(BITMAPINFOHEADER), stride / 4, -h, 1, 32, BI_RGB};
    const uint8_t *rows = px + (size_t)sy * stride;
    StretchDIBits(dc, vis.left, vis.top, w, h, sx, 0, w, h, rows, &bi, DIB_RGB_COLORS, SRCCOPY);
}

static void paint_picture(App *app, HDC dc, int dw, int dh, const RECT &vis, const RECT &display)
{
    // The cache holds just the visible part, resampled for the whole display
    // size, so it stays within the canvas's size at any zoom below 100 %; at
    // 100 % it lays a transparent picture over the board once for plain copies.
    const ::Image *img = app->image;
    bool smaller = (uint32_t)dw < img->width || (uint32_t)dh < img->height;
    bool same = (uint32_t)dw == img->width && (uint32_t)dh == img->height;
    bool allowed = dw > 0 && dh > 0 && (smaller || (same && img->has_alpha));
    int x = vis.left - app->view_x, y = vis.top - app->view_y, w = rect_w(vis), h = rect_h(vis);
    const ViewPyramid &p = app->view_pyramid;
    if (allowed) {
        if (app->view_cache && p.cache_dw == dw && p.cache_dh == dh && p.cache_x == x && p.cache_y == y &&
            app->view_cache_w == w && app->view_cache_h == h) {
            g_last_path = kPathCacheHit;
            blit_part(dc, p.cache_px, w * 4, 0, 0, vis);
            return;
        }
        if (cache_build(app, dw, dh, x, y, w, h)) {
            g_last_path = kPathCacheRebuild;
            blit_part(dc, p.cache_px, w * 4, 0, 0, vis);
            return;
        }
    }
    g_last_path = kPathFull;
    if (img->has_alpha) paint_checker(app, dc, display);  // the cache has it built in
    if (!smaller && !same && dw > 0 && dh > 0) {
        if (const uint8_t *px = enlarged_build(app, dw, dh, x, y, w, h)) {
            blit_part(dc, px, w * 4, 0, 0, vis);
            return;
        }
    }
    SourceRect s = map_source((int)img->width, (int)img->height, dw, dh, vis, app->view_x, app->view_y);
    if (!img->has_alpha && dw == (int)img->width && dh == (int)img->height) {
        blit_part(dc, img->data, (int)img->stride, s.x, s.y, vis);
        return;
    }
    double rx = (double)img->width / dw;
    draw_part(dc, img->data, (int)img->stride, s, vis, rx > 0.99 && rx < 1.01);
}

void canvas_paint(App *app, HDC dc)
{
    g_last_path = kPathNone;
    if (!app->image || !app->gp_image) {
        paint_hint(app, dc);
        return;
    }
    const RECT &rc = app->rc_canvas;
    int dw = canvas_disp_len(app->image->width, app->zoom), dh = canvas_disp_len(app->image->height, app->zoom);
    RECT display = {app->view_x, app->view_y, (int)std::min<int64_t>((int64_t)app->view_x + dw, INT32_MAX),
                    (int)std::min<int64_t>((int64_t)app->view_y + dh, INT32_MAX)};
    RECT vis = {std::max(display.left, rc.left), std::max(display.top, rc.top), std::min(display.right, rc.right),
                std::min(display.bottom, rc.bottom)};
    // Clipped to the canvas within whatever clip the caller set (the part being repainted).
    int saved = SaveDC(dc);
    IntersectClipRect(dc, rc.left, rc.top, rc.right, rc.bottom);
    if (vis.left < vis.right && vis.top < vis.bottom) paint_picture(app, dc, dw, dh, vis, display);
    RestoreDC(dc, saved);
}
