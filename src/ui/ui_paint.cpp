#include "ui/ui.h"
#include "files/browse.h"
#include "image/pyramid.h"
#include "ui/icons.h"
#include "version.h"
#include <gdiplus.h>
#include <shlwapi.h>
#include <algorithm>
#include <cmath>
#include <cwchar>
#include <iterator>

static constexpr COLORREF kBackground = RGB(26, 26, 29), kText = RGB(230, 230, 234), kMuted = RGB(138, 138, 148),
                          kIcon = RGB(184, 184, 194), kHover = RGB(42, 42, 48), kPressed = RGB(53, 53, 60),
                          kLine = RGB(46, 46, 52), kAccent = RGB(76, 154, 255), kCloseHover = RGB(196, 43, 28);
static constexpr uint32_t kWhite = 0xFFFFFFFF;

enum : int { kKindToggle = 2, kKindWindow = 3, kKindSeparator = 4 };

static uint32_t argb(COLORREF c, int alpha = 255)
{
    return gfx_argb(c, alpha);
}

static void fill(HDC dc, const RECT &r, COLORREF c)
{
    HBRUSH brush = CreateSolidBrush(c);
    if (!brush) return;
    FillRect(dc, &r, brush);
    DeleteObject(brush);
}

static RECT rect_xywh(int x, int y, int w, int h)
{
    return {x, y, x + w, y + h};
}

// ---- title strip ----

// Fits the title into span pixels, shortening it in the middle; 0 when nothing fits.
int ui_fit_title(HDC dc, const WCHAR *title, int span, float size, WCHAR *out, int cap)
{
    int len = (int)wcslen(title);
    if (len >= cap) len = cap - 1;
    auto fits = [&](const WCHAR *t) { return icon_text_width(dc, t, size, 400) <= span; };
    lstrcpynW(out, title, len + 1);
    if (fits(out)) return 1;
    for (int n = len - 2; n > 5; n -= 2) {
        int head = n / 2, tail = n - head;
        swprintf(out, cap, L"%.*ls…%ls", head, title, title + len - tail);
        if (fits(out)) return 1;
    }
    for (int skip = 0; len - skip >= 2; skip += 2) {
        swprintf(out, cap, L"…%ls", title + skip);
        if (fits(out)) return 1;
    }
    out[0] = 0;
    return 0;
}

static void paint_title(App *app, HDC dc)
{
    WCHAR title[kPathMax + 16];
    if (app->image && app->file_name[0])
        lstrcpynW(title, app->file_name, kPathMax);
    else
        swprintf(title, std::size(title), L"%ls %ls", kAppName, VELDMOOR_VERSION_W);
    int pad = ui_scale(app, 10);
    int span_l = app->rc_title.left + pad, span_r = app->rc_title.right - pad;
    if (span_r <= span_l) return;
    float size = (float)ui_scale(app, 13);
    WCHAR shown[kPathMax + 16];
    if (!ui_fit_title(dc, title, span_r - span_l, size, shown, (int)std::size(shown))) return;
    int w = icon_text_width(dc, shown, size, 400);
    int left = (app->client_w - w) / 2;
    left = std::max(left, span_l);
    left = std::min(left, span_r - w);
    RECT box = {left, app->rc_top.top, left + w, app->rc_top.bottom};
    icon_text(dc, shown, &box, size, 400, argb(kText), 0, 1);
}

static void paint_button(App *app, HDC dc, const ToolButton &b)
{
    RECT box = rect_xywh(b.x, ui_scale(app, 4), b.width, ui_scale(app, 36));
    bool disabled = !b.enabled, pressed = !disabled && b.cmd == app->pressed_button,
         hovered = !disabled && !pressed && b.cmd == app->hot_button;
    int icon_px = ui_scale(app, 18);
    int icon_y = box.top + (box.bottom - box.top - icon_px) / 2;
    if (b.kind == kKindWindow) {
        uint32_t colour = argb(kIcon);
        if (hovered) {
            gfx_rrect(dc, &box, (float)ui_scale(app, 6), 1, 0, argb(b.cmd == 15 ? kCloseHover : kLine), 0);
            colour = kWhite;
        }
        icon_paint(dc, b.icon, b.x + (b.width - icon_px) / 2, icon_y, icon_px, colour, !disabled);
        return;
    }
    uint32_t text = argb(kText), icon = argb(kIcon);
    if (b.kind == kKindToggle && b.toggled && !disabled) {
        gfx_rrect(dc, &box, (float)ui_scale(app, 6), 1, 0, argb(kAccent), 0);
        text = icon = kWhite;
    } else if (hovered || pressed) {
        gfx_rrect(dc, &box, (float)ui_scale(app, 6), 1, 0, argb(hovered ? kHover : kPressed), 0);
        icon = text;
    } else if (disabled) {
        text = argb(kMuted, 112);
    }
    float text_px = (float)ui_scale(app, 14);
    if (b.icon && b.label) {
        int ix = b.x + ui_scale(app, 12);
        icon_paint(dc, b.icon, ix, icon_y, icon_px, icon, !disabled);
        int tx = ix + icon_px + ui_scale(app, 7);
        RECT label = {tx, box.top, tx + icon_text_width(dc, b.label, text_px, 400) + ui_scale(app, 8), box.bottom};
        icon_text(dc, b.label, &label, text_px, 400, text, 0, 1);
    } else if (b.label) {
        icon_text(dc, b.label, &box, text_px, 400, text, 1, 1);
    } else {
        icon_paint(dc, b.icon, b.x + (b.width - icon_px) / 2, icon_y, icon_px, icon, !disabled);
    }
}

void paint_top(App *app, HDC dc)
{
    fill(dc, app->rc_top, kBackground);
    for (int i = 0; i < app->button_count; ++i) {
        const ToolButton &b = app->buttons[i];
        RECT area = {b.x, app->rc_top.top, b.x + std::max(b.width, 1), app->rc_top.bottom};
        if (!RectVisible(dc, &area)) continue;  // each button costs several GDI+ calls
        if (b.kind == kKindSeparator) {
            RECT line = {b.x, app->rc_top.top + ui_scale(app, 12), b.x + 1, app->rc_top.bottom - ui_scale(app, 12)};
            fill(dc, line, kLine);
        } else {
            paint_button(app, dc, b);
        }
    }
    paint_title(app, dc);
}

// ---- bottom strip ----

void ui_facts_text(const App *app, WCHAR *out, int cap)
{
    out[0] = 0;
    if (!app->image) return;
    uint32_t bytes = (uint32_t)app->file_size;  // the low 32 bits, read unsigned
    double mb = bytes / 1024.0 / 1024.0;
    WCHAR size[32];
    if (mb >= 1.0)
        swprintf(size, 32, L"%.2f MB", mb);
    else
        swprintf(size, 32, L"%.0f KB", bytes / 1024.0);
    swprintf(out, cap, L"%u × %u   %ls", app->image->width, app->image->height, size);
}

void ui_zoom_text(double zoom, WCHAR *out, int cap)
{
    // The epsilon keeps 2.345 at 235 % although 234.5 is not exact in binary.
    int percent = (int)std::floor(zoom * 100 + 0.5 + 1e-9);
    swprintf(out, cap, L"%d%%", percent <= 0 ? 100 : percent);
}

static void strip_text(App *app, HDC dc, const WCHAR *text, int left, int right, COLORREF colour)
{
    if (right <= left) return;
    RECT r = {left, app->rc_bottom.top, right, app->rc_bottom.bottom};
    icon_text(dc, text, &r, (float)ui_scale(app, 11), 400, argb(colour), 0, 1);
}

// Texts stop short of the thumbnail row as well as of the zoom box.
static int texts_end(const App *app)
{
    int end = app->rc_zoom.left - ui_scale(app, 16);
    int xs[kStripMax], first;
    if (app->queue.count > 0 && !app->fullscreen && strip_geom(app, xs, &first) > 0)
        end = std::min(end, xs[0] - ui_scale(app, 16));
    return end;
}

static bool numeric(WCHAR c)
{
    return (c >= L'0' && c <= L'9') || c == L'.' || c == L',';
}

int ui_elide_end(HDC dc, const WCHAR *text, int span, float size, WCHAR *out, int cap)
{
    int len = std::min((int)wcslen(text), cap - 2);
    auto fits = [&] { return icon_text_width(dc, out, size, 400) <= span; };
    lstrcpynW(out, text, len + 1);
    if ((int)wcslen(text) < cap && fits()) return 1;
    for (int cut = len; cut > 0; --cut) {
        if (cut < len && numeric(text[cut - 1]) && numeric(text[cut])) continue;  // never inside a number
        int keep = cut;
        while (keep > 0 && (text[keep - 1] == L' ' || text[keep - 1] == L'×' || text[keep - 1] == L'·')) --keep;
        if (keep == 0) break;
        swprintf(out, cap, L"%.*ls…", keep, text);
        if (fits()) return 1;
    }
    out[0] = 0;
    return 0;
}

int ui_strip_texts(App *app, HDC dc, StripText out[kStripTexts])
{
    int p = ui_scale(app, 8), end = texts_end(app), n = 0;
    float px = (float)ui_scale(app, 11);
    auto width = [&](const WCHAR *t) { return icon_text_width(dc, t, px, 400); };
    auto add = [&](const WCHAR *t, int left, int right, COLORREF colour) {
        lstrcpynW(out[n].text, t, kStatusMax);
        out[n].left = left, out[n].right = right, out[n].colour = colour;
        ++n;
    };
    WCHAR shown[kStatusMax];
    if (!app->image) {
        if (end > p && ui_elide_end(dc, app->status, end - p, px, shown, kStatusMax)) add(shown, p, end, kMuted);
        return n;
    }
    // The facts whole, else the dimensions alone, else nothing: a number is never cut.
    WCHAR facts[96];
    ui_facts_text(app, facts, 96);
    int facts_w = width(facts);
    if (p + facts_w > end) {
        swprintf(facts, 96, L"%u × %u", app->image->width, app->image->height);
        facts_w = width(facts);
    }
    if (p + facts_w <= end) add(facts, p, std::min(p + std::max(ui_scale(app, 140), facts_w), end), kText);
    int next_x = std::max(p + ui_scale(app, 168), p + facts_w + ui_scale(app, 28));
    // The status shows with any number of pictures; the position only with several.
    if (app->queue.count > 1) {
        WCHAR pos[32];
        swprintf(pos, 32, L"%d / %d", app->queue_index + 1, app->queue.count);
        if (next_x + width(pos) < end) add(pos, next_x, end, kMuted);
        next_x += ui_scale(app, 76);
    }
    if (end - next_x >= ui_scale(app, 60) && ui_elide_end(dc, app->status, end - next_x, px, shown, kStatusMax))
        add(shown, next_x, end, kMuted);
    return n;
}

static void paint_facts(App *app, HDC dc)
{
    StripText texts[kStripTexts];
    int n = ui_strip_texts(app, dc, texts);
    for (int i = 0; i < n; ++i) strip_text(app, dc, texts[i].text, texts[i].left, texts[i].right, texts[i].colour);
}

static void draw_thumb(App *app, HDC dc, const Image *thumb, const RECT &slot)
{
    GpBitmap *bitmap = nullptr;
    if (Gdiplus::DllExports::GdipCreateBitmapFromScan0((INT)thumb->width, (INT)thumb->height, (INT)thumb->stride,
                                                       PixelFormat32bppARGB, thumb->data, &bitmap) != Gdiplus::Ok)
        return;
    int sw = slot.right - slot.left, sh = slot.bottom - slot.top, pad = ui_scale(app, 6);
    double scale = std::min((double)(sw - pad) / thumb->width, (double)(sh - pad) / thumb->height);
    int dw = std::max(1, (int)std::lround(thumb->width * scale)), dh = std::max(1, (int)std::lround(thumb->height * scale));
    RECT dst = rect_xywh(slot.left + (sw - dw) / 2, slot.top + (sh - dh) / 2, dw, dh);
    gfx_draw_bitmap(dc, bitmap, &dst);
    Gdiplus::DllExports::GdipDisposeImage(bitmap);
}

static void paint_thumb(App *app, HDC dc, int index, const RECT &slot)
{
    bool current = index == app->queue_index;
    gfx_rrect(dc, &slot, (float)ui_scale(app, 4), 1, current, argb(current ? RGB(63, 63, 71) : RGB(32, 32, 36)),
              argb(kAccent));
    const Image *thumb = browse_thumb(app, index);
    if (thumb && thumb->width && thumb->height) {
        draw_thumb(app, dc, thumb, slot);
        return;
    }
    // No thumbnail yet (or none possible): the placeholder.
    int in = ui_scale(app, 6);
    fill(dc, {slot.left + in, slot.top + in, slot.right - in, slot.bottom - in}, RGB(42, 42, 47));
}

// Whole slots inside the bottom strip; thumbnails come from the worker, each arrival repaints the strip.
static void paint_thumbs(App *app, HDC dc)
{
    int xs[kStripMax], first;
    int n = app->queue.count > 0 && !app->fullscreen ? strip_geom(app, xs, &first) : 0;
    if (n <= 0) return;
    const RECT &strip = app->rc_strip;
    for (int k = 0; k < n; ++k)
        paint_thumb(app, dc, first + k, {xs[k], strip.top, xs[k] + ui_scale(app, 62), strip.bottom});
    browse_want_thumbs(app, first, n);
}

void paint_bottom(App *app, HDC dc)
{
    fill(dc, app->rc_bottom, kBackground);
    paint_facts(app, dc);
    paint_thumbs(app, dc);
    paint_zoom_box(app, dc);
}

// ---- zoom box ----

static void zoom_segment(App *app, HDC dc, int left, int right, const RECT &z, int icon, bool hot, uint32_t icon_colour)
{
    RECT seg = {left, z.top, right, z.bottom};
    if (hot) {
        gfx_rrect(dc, &seg, (float)ui_scale(app, 7), 1, 0, argb(kHover), 0);
        icon_colour = argb(kText);
    }
    int px = ui_scale(app, 12);
    icon_paint(dc, icon, left + (right - left - px) / 2, z.top + (z.bottom - z.top - px) / 2, px, icon_colour, 1);
}

void paint_zoom_box(App *app, HDC dc)
{
    RECT z = app->rc_zoom;
    int L = z.left;
    gfx_rrect(dc, &z, (float)ui_scale(app, 7), 1, 0, argb(RGB(34, 34, 39)), 0);
    int out_end = L + ui_scale(app, 36), pct_end = L + ui_scale(app, 98), in_end = L + ui_scale(app, 134);
    zoom_segment(app, dc, L, out_end, z, kIconZoomOut, app->zoom_hot == 1, argb(kIcon));
    RECT pct = {out_end, z.top, pct_end, z.bottom};
    if (app->zoom_hot == 4) fill(dc, pct, kHover);
    WCHAR text[24];
    ui_zoom_text(app->zoom, text, 24);
    icon_text(dc, text, &pct, (float)ui_scale(app, 12), 400, argb(kText), 1, 1);
    zoom_segment(app, dc, pct_end, in_end, z, kIconZoomIn, app->zoom_hot == 2, argb(kIcon));
    zoom_segment(app, dc, in_end, z.right, z, kIconFit, app->zoom_hot == 3,
                 argb(app->fit_mode == 1 ? kAccent : kIcon));
}

// ---- arrows and tooltip ----

static void paint_arrow(App *app, HDC dc, int left)
{
    RECT r;
    if (!arrow_rect(app, left, &r)) return;
    bool hot = app->canvas_hot == (left ? 1 : 2);
    float radius = (r.bottom - r.top) / 2.0f;
    gfx_rrect(dc, &r, radius, 1, 0, hot ? argb(RGB(46, 46, 54), 240) : argb(RGB(32, 32, 38), 200), 0);
    int px = ui_scale(app, 20);
    icon_paint(dc, left ? kIconPrev : kIconNext, r.left + (r.right - r.left - px) / 2,
               r.top + (r.bottom - r.top - px) / 2, px, hot ? kWhite : argb(kText, 224), 1);
}

static const ToolButton *find_button(const App *app, int cmd)
{
    for (int i = 0; i < app->button_count; ++i)
        if (app->buttons[i].cmd == cmd && app->buttons[i].kind != kKindSeparator) return &app->buttons[i];
    return nullptr;
}

static void paint_tooltip(App *app, HDC dc)
{
    if (!app->tip_id || !app->tip_text[0]) return;
    float size = (float)ui_scale(app, 12);
    int w = icon_text_width(dc, app->tip_text, size, 400) + ui_scale(app, 20), h = ui_scale(app, 26);
    int x, y;
    const ToolButton *b = app->tip_id < 1000 ? find_button(app, app->tip_id) : nullptr;
    if (b) {
        x = b->x + b->width / 2 - w / 2;
        y = app->rc_top.bottom + ui_scale(app, 6);
    } else if (app->tip_id >= 21 && app->tip_id <= 24) {
        x = app->mouse_x - w / 2;
        y = ui_zoom_box(app).top - h - ui_scale(app, 8);
    } else {
        x = app->mouse_x - w / 2;
        y = app->mouse_y + ui_scale(app, 14);
    }
    int m = ui_scale(app, 6);
    x = std::max(x, m);
    x = std::min(x, app->client_w - m - w);
    y = std::max(y, m);
    y = std::min(y, app->client_h - m - h);
    RECT box = rect_xywh(x, y, w, h);
    gfx_rrect(dc, &box, (float)ui_scale(app, 5), 1, 1, argb(RGB(44, 44, 51), 240), argb(kLine));
    icon_text(dc, app->tip_text, &box, size, 400, argb(kText), 1, 1);
}

// Against the clip region itself, not its bounding box: paging invalidates the title, the
// canvas and the strip, whose box is nearly the whole window.
static bool needs_paint(HDC dc, const RECT &area)
{
    return RectVisible(dc, &area) != 0;
}

// The picture paints every pixel of its part of the canvas (a transparent one over its
// checkerboard): the background goes around it.
static void fill_background(App *app, HDC dc, const RECT &clip)
{
    const Image *img = app->image;
    if (!img || !app->gp_image || !(app->zoom > 0)) {
        fill(dc, clip, kBackground);
        return;
    }
    auto end = [](int from, int len) { return (int)std::min<int64_t>((int64_t)from + len, INT32_MAX); };
    RECT shown = {app->view_x, app->view_y, end(app->view_x, image_disp_len(img->width, app->zoom)),
                  end(app->view_y, image_disp_len(img->height, app->zoom))};
    RECT covered;
    if (!IntersectRect(&covered, &shown, &app->rc_canvas)) {
        fill(dc, clip, kBackground);
        return;
    }
    int saved = SaveDC(dc);
    ExcludeClipRect(dc, covered.left, covered.top, covered.right, covered.bottom);
    fill(dc, clip, kBackground);
    RestoreDC(dc, saved);
}

void ui_paint(App *app, HDC dc)
{
    // Only what lies in the clip (the invalidated part) is painted again.
    RECT clip = {0, 0, app->client_w, app->client_h};
    if (GetClipBox(dc, &clip) == ERROR) clip = {0, 0, app->client_w, app->client_h};
    fill_background(app, dc, clip);
    if (app->hooks.parts_paint) app->hooks.parts_paint(app, dc);
    paint_arrow(app, dc, 0);
    paint_arrow(app, dc, 1);
    if (app->fullscreen) {
        RECT laid_out = app->rc_zoom;
        app->rc_zoom = ui_zoom_box(app);
        paint_zoom_box(app, dc);
        app->rc_zoom = laid_out;
    } else {
        if (needs_paint(dc, app->rc_top)) paint_top(app, dc);
        if (needs_paint(dc, app->rc_bottom)) paint_bottom(app, dc);
    }
    paint_tooltip(app, dc);
}

// ---- tooltip choice ----

static constexpr struct {
    int zone;
    const WCHAR *text;
} kZoneTips[] = {
    {21, L"选择缩放倍率"},
    {22, L"缩小（-）"},
    {23, L"放大（+）"},
    {24, L"适应窗口（0）"},
    {26, L"上一张（←，或鼠标移到图片左侧）"},
    {27, L"下一张（→，或鼠标移到图片右侧）"},
};

void ui_tip_hide(App *app)
{
    app->tip_id = 0;
    app->tip_text[0] = 0;
}

static int tip_hide_changed(App *app)
{
    bool shown = app->tip_id != 0 || app->tip_text[0];
    ui_tip_hide(app);
    return shown;
}

static int tip_show(App *app, int id, const WCHAR *text)
{
    app->tip_id = id;
    lstrcpynW(app->tip_text, text, kTipMax);
    return 1;
}

int ui_tip_check(App *app)
{
    // A menu or dialog is up: a tooltip would float over it.
    if (app->hooks.modal_depth && app->hooks.modal_depth() > 0) return tip_hide_changed(app);
    int hot = app->hot_button;
    if (hot >= 1000) {
        int i = hot - 1000;
        if (i >= app->queue.count) return tip_hide_changed(app);
        WCHAR text[kTipMax];
        swprintf(text, kTipMax, L"第 %d 张：%.300ls", i + 1, queue_name(&app->queue, i));
        return tip_show(app, hot, text);
    }
    int zone = hot;
    if (hot == 0) {
        static constexpr int kZoomZone[] = {0, 22, 23, 24, 21};
        if (app->zoom_hot < 1 || app->zoom_hot > 4) return tip_hide_changed(app);
        zone = kZoomZone[app->zoom_hot];
    }
    for (const auto &t : kZoneTips)
        if (t.zone == zone) return app->tip_id == zone ? 0 : tip_show(app, zone, t.text);
    const ToolButton *b = find_button(app, zone);
    if (!b || !b->tooltip) return tip_hide_changed(app);
    return app->tip_id == zone ? 0 : tip_show(app, zone, b->tooltip);
}

// ---- hover wiring ----

static void repaint(App *app)
{
    if (app->hwnd) InvalidateRect(app->hwnd, nullptr, FALSE);
}

void ui_hover(App *app, int x, int y)
{
    bool changed = false;
    int zoom_hot = ui_zoom_hot(app, x, y);
    changed |= zoom_hot != app->zoom_hot;
    app->zoom_hot = zoom_hot;
    int c = ui_canvas_hot(app, x, y);
    ui_set_cursor(app, c);
    changed |= c != app->canvas_hot;
    app->canvas_hot = c;
    int h = ui_hit(app, x, y);
    if (h == app->hot_button) {
        if (changed) repaint(app);
        return;
    }
    app->hot_button = h;
    ui_tip_hide(app);
    if (app->hwnd) {
        SetTimer(app->hwnd, kTimerTooltip, kTooltipDelayMs, nullptr);
        KillTimer(app->hwnd, kTimerHoverMenu);
        if (app->image && !app->crop_mode && (h == 7 || h == 8))
            SetTimer(app->hwnd, kTimerHoverMenu, kHoverMenuDelayMs, nullptr);
    }
    repaint(app);
}

void ui_leave(App *app)
{
    bool any = app->hot_button || app->zoom_hot || app->canvas_hot || app->tip_id;
    app->hot_button = app->zoom_hot = app->canvas_hot = 0;
    ui_tip_hide(app);
    if (any) repaint(app);
}

void ui_timer(App *app, UINT_PTR id)
{
    if (!app->hwnd) return;
    KillTimer(app->hwnd, id);
    if (id == kTimerTooltip && ui_tip_check(app)) repaint(app);
}
