#include "crop/crop.h"
#include "image/resize.h"
#include "ui/ui.h"
#include "view/canvas.h"
#include <gdiplus.h>
#include <algorithm>
#include <cmath>
#include <cwchar>
#include <iterator>

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

static constexpr double kCropRatio[] = {1.0, 4.0 / 3.0, 16.0 / 9.0, 9.0 / 16.0};
static constexpr ARGB kDimArgb = 0x66000000;
static constexpr COLORREF kGridColour = RGB(154, 154, 160);

static int to_int(double v)
{
    if (!(v == v)) return 0;
    return (int)std::clamp(v, -1073741824.0, 1073741824.0);
}

double crop_effective_ratio(const App *app)
{
    if (app->crop_preset >= 0) {
        const SizePreset *row = preset_at((uint32_t)app->crop_preset);
        if (row && row->height != 0) return (double)row->width / row->height;
    }
    if (app->crop_ratio >= 1 && app->crop_ratio <= (int)std::size(kCropRatio)) return kCropRatio[app->crop_ratio - 1];
    return 0;
}

int crop_pixel_at(const App *app, int x, int y, int *px, int *py)
{
    if (!app->image || !(app->zoom > 0)) return 0;
    *px = to_int(std::floor((x - app->view_x) / app->zoom));
    *py = to_int(std::floor((y - app->view_y) / app->zoom));
    return 1;
}

void sel_screen_rect(const App *app, RECT *out)
{
    double z = app->zoom;
    out->left = app->view_x + to_int(app->sel_x * z);
    out->top = app->view_y + to_int(app->sel_y * z);
    out->right = app->view_x + to_int(((double)app->sel_x + app->sel_w) * z);
    out->bottom = app->view_y + to_int(((double)app->sel_y + app->sel_h) * z);
}

// Handle points clockwise from the top-left corner.
static void handle_points(const RECT &r, POINT out[8])
{
    int mx = (r.left + r.right) / 2, my = (r.top + r.bottom) / 2;
    out[0] = {r.left, r.top}, out[1] = {mx, r.top}, out[2] = {r.right, r.top}, out[3] = {r.right, my};
    out[4] = {r.right, r.bottom}, out[5] = {mx, r.bottom}, out[6] = {r.left, r.bottom}, out[7] = {r.left, my};
}

int crop_handle_at(const App *app, int x, int y)
{
    if (!app->image || !app->sel_active) return -1;
    RECT r;
    sel_screen_rect(app, &r);
    POINT h[8];
    handle_points(r, h);
    int reach = ui_scale(app, 6);
    for (int i = 0; i < 8; ++i)
        if (std::abs(x - h[i].x) <= reach && std::abs(y - h[i].y) <= reach) return i;
    if (x >= r.left && x < r.right && y >= r.top && y < r.bottom) return kHandleInside;
    return -1;
}

void crop_clear(App *app)
{
    app->sel_active = 0;
    app->sel_x = app->sel_y = app->sel_w = app->sel_h = 0;
    app->drag_mode = kDragIdle;
}

void crop_begin(App *app, int x, int y)
{
    int px, py;
    if (!crop_pixel_at(app, x, y, &px, &py)) return;
    int handle = crop_handle_at(app, x, y);
    app->drag_anchor_x = px, app->drag_anchor_y = py;
    app->drag_start_x = app->sel_x, app->drag_start_y = app->sel_y;
    app->drag_start_w = app->sel_w, app->drag_start_h = app->sel_h;
    if (handle == kHandleInside) {
        app->drag_mode = kDragMove;
    } else if (handle >= 0) {
        app->drag_mode = kDragResize;
        app->drag_handle = handle;
    } else {
        app->sel_active = 1;
        app->sel_x = px, app->sel_y = py;
        app->sel_w = app->sel_h = 1;
        app->drag_mode = kDragDraw;
    }
}

struct Box {
    int x, y, w, h;
};

// The corner that stays put while a handle is dragged with a ratio in force.
static POINT fixed_corner(const App *app)
{
    int l = app->drag_start_x, t = app->drag_start_y;
    int r = l + app->drag_start_w, b = t + app->drag_start_h;
    switch (app->drag_handle) {
    case 0: case 1: case 7: return {r, b};
    case 2: case 3: return {l, b};
    case 6: return {r, t};
    default: return {l, t};
    }
}

static int round_half(double v)
{
    return to_int(std::floor(v + 0.5));
}

// Keeps a ratio-locked box inside the picture by shrinking it towards its
// fixed corner, so that the ratio survives reaching an edge.
static void fit_ratio(int ax, int ay, bool left, bool up, double q, int Wi, int Hi, int *w, int *h)
{
    int room_w = left ? ax : Wi - ax, room_h = up ? ay : Hi - ay;
    if (room_w < 1 || room_h < 1 || (*w <= room_w && *h <= room_h)) return;
    int nw = std::min(*w, room_w), nh = std::max(1, round_half(nw / q));
    if (nh > room_h) {
        nh = room_h;
        nw = std::max(1, std::min(room_w, round_half(nh * q)));
    }
    *w = nw, *h = nh;
}

// Distance between two pixel positions, at least 1, in range for any pointer.
static int span(int a, int b)
{
    return (int)std::clamp<int64_t>(std::llabs((int64_t)a - b), 1, 1 << 30);
}

static Box span_box(const App *app, int ax, int ay, int px, int py, double q)
{
    int W0 = span(px, ax), H0 = span(py, ay);
    int w = W0, h = H0;
    if (q > 0) {
        int hw = round_half(W0 / q);
        if (hw >= H0) {
            h = hw;
        } else {
            h = H0;
            w = std::max(1, round_half(H0 * q));
        }
        fit_ratio(ax, ay, px < ax, py < ay, q, (int)app->image->width, (int)app->image->height, &w, &h);
    }
    return {px < ax ? ax - w : ax, py < ay ? ay - h : ay, w, h};
}

static Box resize_free(const App *app, int px, int py)
{
    int l = app->drag_start_x, t = app->drag_start_y;
    int r = l + app->drag_start_w, b = t + app->drag_start_h;
    int k = app->drag_handle;
    if (k == 0 || k == 6 || k == 7) l = px;
    if (k == 2 || k == 3 || k == 4) r = px;
    if (k == 0 || k == 1 || k == 2) t = py;
    if (k == 4 || k == 5 || k == 6) b = py;
    return {std::min(l, r), std::min(t, b), span(r, l), span(b, t)};
}

static Box move_box(const App *app, int px, int py, double q)
{
    Box m = {app->drag_start_x + (px - app->drag_anchor_x), app->drag_start_y + (py - app->drag_anchor_y),
             app->drag_start_w, app->drag_start_h};
    // A locked box stops at the edge rather than being cut out of its ratio.
    int Wi = (int)app->image->width, Hi = (int)app->image->height;
    if (q > 0 && m.w <= Wi && m.h <= Hi) {
        m.x = std::clamp(m.x, 0, Wi - m.w);
        m.y = std::clamp(m.y, 0, Hi - m.h);
    }
    return m;
}

static void clamp_to_picture(Box *b, int Wi, int Hi)
{
    // The part left of or above the picture is cut off, not pushed inside.
    if (b->x < 0) b->w += b->x, b->x = 0;
    if (b->y < 0) b->h += b->y, b->y = 0;
    if (b->x >= Wi) b->x = Wi - 1;
    if (b->y >= Hi) b->y = Hi - 1;
    if (b->w < 1) b->w = 1;
    if (b->h < 1) b->h = 1;
    if ((int64_t)b->x + b->w > Wi) b->w = std::max(Wi - b->x, 1);
    if ((int64_t)b->y + b->h > Hi) b->h = std::max(Hi - b->y, 1);
}

void crop_move(App *app, int x, int y)
{
    int px, py;
    if (app->drag_mode == kDragIdle || !crop_pixel_at(app, x, y, &px, &py)) return;
    double q = crop_effective_ratio(app);
    Box b;
    if (app->drag_mode == kDragMove) {
        b = move_box(app, px, py, q);
    } else if (app->drag_mode == kDragDraw) {
        b = span_box(app, app->drag_anchor_x, app->drag_anchor_y, px, py, q);
    } else if (q > 0) {
        POINT c = fixed_corner(app);
        b = span_box(app, c.x, c.y, px, py, q);
    } else {
        b = resize_free(app, px, py);
    }
    clamp_to_picture(&b, (int)app->image->width, (int)app->image->height);
    app->sel_x = b.x, app->sel_y = b.y, app->sel_w = b.w, app->sel_h = b.h;

    WCHAR text[160];
    _snwprintf(text, std::size(text) - 1, L"框选 %d × %d 像素%s", b.w, b.h, q > 0 ? L"（比例已锁定）" : L"");
    text[std::size(text) - 1] = 0;
    ui_set_status(app, L"%s", text);
}

void crop_end(App *app)
{
    if (app->image && app->sel_active && (app->sel_w <= 2 || app->sel_h <= 2)) {
        crop_clear(app);
        ui_set_status(app, L"%s", L"框选太小，已取消");
    }
    app->drag_mode = kDragIdle;
}

// ---- painting ----

void hairline(HDC dc, int x1, int y1, int x2, int y2)
{
    int rop = SetROP2(dc, R2_COPYPEN);
    HPEN black = CreatePen(PS_SOLID, 1, RGB(0, 0, 0)), white = CreatePen(PS_SOLID, 1, RGB(255, 255, 255));
    HGDIOBJ old = SelectObject(dc, black);
    MoveToEx(dc, x1, y1, nullptr);
    LineTo(dc, x2, y2);
    // The light tone runs beside the dark one: below a level line, right of an upright one.
    int dx = x1 == x2 ? 1 : 0, dy = x1 == x2 ? 0 : 1;
    SelectObject(dc, white);
    MoveToEx(dc, x1 + dx, y1 + dy, nullptr);
    LineTo(dc, x2 + dx, y2 + dy);
    SelectObject(dc, old);
    DeleteObject(black);
    DeleteObject(white);
    SetROP2(dc, rop);
}

static void paint_dimming(HDC dc, const RECT &s, const RECT &c)
{
    GpGraphics *g = nullptr;
    if (GdipCreateFromHDC(dc, &g) != Ok) return;
    GpSolidFill *brush = nullptr;
    if (GdipCreateSolidFill(kDimArgb, &brush) == Ok) {
        auto band = [&](int l, int t, int r, int b) {
            if (l < r && t < b) GdipFillRectangleI(g, brush, l, t, r - l, b - t);
        };
        if (c.top < s.top) band(c.left, c.top, c.right, s.top);
        if (s.bottom < c.bottom) band(c.left, s.bottom, c.right, c.bottom);
        if (c.left < s.left && s.top < s.bottom) band(c.left, s.top, s.left, s.bottom);
        if (s.right < c.right && s.top < s.bottom) band(s.right, s.top, c.right, s.bottom);
        GdipDeleteBrush(brush);
    }
    GdipDeleteGraphics(g);
}

static void paint_grid(HDC dc, const RECT &s)
{
    HPEN pen = CreatePen(PS_SOLID, 1, kGridColour);
    HGDIOBJ old = SelectObject(dc, pen);
    for (int k = 1; k <= 2; ++k) {
        int x = s.left + (k * (s.right - s.left)) / 3, y = s.top + (k * (s.bottom - s.top)) / 3;
        MoveToEx(dc, x, s.top, nullptr);
        LineTo(dc, x, s.bottom);
        MoveToEx(dc, s.left, y, nullptr);
        LineTo(dc, s.right, y);
    }
    SelectObject(dc, old);
    DeleteObject(pen);
}

static void paint_handles(App *app, HDC dc, const RECT &s)
{
    POINT h[8];
    handle_points(s, h);
    int side = ui_scale(app, 9);
    for (const POINT &p : h) {
        RECT box = {p.x - side / 2, p.y - side / 2, p.x - side / 2 + side, p.y - side / 2 + side};
        FillRect(dc, &box, (HBRUSH)GetStockObject(WHITE_BRUSH));
        FrameRect(dc, &box, (HBRUSH)GetStockObject(BLACK_BRUSH));
    }
}

static void paint_label(App *app, HDC dc, const RECT &s, const RECT &c)
{
    WCHAR text[64];
    int n = _snwprintf(text, std::size(text) - 1, L"%d × %d", app->sel_w, app->sel_h);
    text[std::size(text) - 1] = 0;
    if (n < 0) n = (int)wcslen(text);
    int w = ui_scale(app, 8) * n + ui_scale(app, 14), h = ui_scale(app, 20), gap = ui_scale(app, 6);
    RECT box;
    box.top = s.bottom + gap + h > c.bottom ? s.top - gap - h : s.bottom + gap;
    box.bottom = box.top + h;
    box.left = std::min<int>(s.left, c.right - w);
    box.right = box.left + w;
    FillRect(dc, &box, (HBRUSH)GetStockObject(BLACK_BRUSH));
    int mode = SetBkMode(dc, TRANSPARENT);
    COLORREF colour = SetTextColor(dc, RGB(255, 255, 255));
    HGDIOBJ font = SelectObject(dc, app->font_small ? app->font_small : GetStockObject(DEFAULT_GUI_FONT));
    DrawTextW(dc, text, -1, &box, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    SelectObject(dc, font);
    SetTextColor(dc, colour);
    SetBkMode(dc, mode);
}

void crop_paint(App *app, HDC dc)
{
    if (!app->image || !app->sel_active || app->sel_w <= 0 || app->sel_h <= 0) return;
    RECT s, c = app->rc_canvas;
    sel_screen_rect(app, &s);
    // The overlay belongs to the canvas even when the selection runs past it.
    int saved = SaveDC(dc);
    IntersectClipRect(dc, c.left, c.top, c.right, c.bottom);
    paint_dimming(dc, s, c);
    hairline(dc, s.left, s.top, s.right, s.top);
    hairline(dc, s.left, s.bottom, s.right, s.bottom);
    hairline(dc, s.left, s.top, s.left, s.bottom);
    hairline(dc, s.right, s.top, s.right, s.bottom);
    paint_grid(dc, s);
    paint_handles(app, dc, s);
    paint_label(app, dc, s, c);
    RestoreDC(dc, saved);
}

// ---- applying ----

// Makes img the current picture; the drawing copy of the old one goes first.
static void install_picture(App *app, ::Image *img)
{
    ::Image *old = app->image;
    app->image = img;
    canvas_sync_gp(app);
    image_free(old);
}

// The part of the selection that keeps the common size's ratio, centred, so
// that scaling to that size never stretches the picture.
static Box trimmed_to_ratio(const App *app, const SizePreset *row)
{
    int Wi = (int)app->image->width, Hi = (int)app->image->height;
    int l = std::max(app->sel_x, 0), t = std::max(app->sel_y, 0);
    int r = (int)std::min<int64_t>((int64_t)app->sel_x + app->sel_w, Wi);
    int b = (int)std::min<int64_t>((int64_t)app->sel_y + app->sel_h, Hi);
    Box box = {app->sel_x, app->sel_y, app->sel_w, app->sel_h};
    if (!row || row->width <= 0 || row->height <= 0 || l >= r || t >= b) return box;
    box = {l, t, r - l, b - t};
    double q = (double)row->width / row->height;
    int w = std::max(1, std::min(box.w, round_half(box.h * q)));
    int h = std::max(1, std::min(box.h, round_half(box.w / q)));
    if (w < box.w) box.x += (box.w - w) / 2, box.w = w;
    else if (h < box.h) box.y += (box.h - h) / 2, box.h = h;
    return box;
}

int crop_apply_to_image(App *app)
{
    if (!app->image || !app->sel_active || app->sel_w <= 1 || app->sel_h <= 1) return 0;
    const SizePreset *row = app->crop_preset >= 0 ? preset_at((uint32_t)app->crop_preset) : nullptr;
    Box box = trimmed_to_ratio(app, row);
    ::Image *cropped = image_crop(app->image, box.x, box.y, box.w, box.h);
    if (!cropped) return 0;
    app_prepare_edit(app);
    install_picture(app, cropped);
    crop_clear(app);
    bool scaled = false;
    if (row) {
        if (::Image *resized = image_resize(app->image, row->width, row->height, kFilterLanczos3)) {
            install_picture(app, resized);
            scaled = true;
        }
    }
    canvas_reset(app);
    if (app->hwnd) InvalidateRect(app->hwnd, nullptr, FALSE);
    if (scaled)
        ui_set_status(app, L"已裁剪并缩放到 %u × %u", (unsigned)row->width, (unsigned)row->height);
    else if (row)
        ui_set_status(app, L"已裁剪为 %u × %u（内存不足，未能缩放到 %u × %u）", app->image->width,
                      app->image->height, (unsigned)row->width, (unsigned)row->height);
    else
        ui_set_status(app, L"已裁剪为 %u × %u", app->image->width, app->image->height);
    return 1;
}
