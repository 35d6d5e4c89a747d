#include "ui/ui.h"
#include "ui/icons.h"
#include <shlwapi.h>
#include <algorithm>
#include <cstdarg>
#include <cwchar>
#include <iterator>

static constexpr WCHAR kStartupStatus[] = L"把图片拖进来，或点左上角「打开」选择文件";

enum : int { kKindCommand = 0, kKindToggle = 2, kKindWindow = 3, kKindSeparator = 4 };
enum : int { kCmdOpen = 1, kCmdCrop = 9, kCmdMore = 11, kCmdMinimise = 13, kCmdMaximise = 14, kCmdClose = 15 };

static constexpr ToolButton kToolbar[] = {
    {1, kIconOpen, L"打开", L"打开图片…（Ctrl+O）", kKindCommand},
    {0, 0, nullptr, nullptr, kKindSeparator},
    {7, kIconConvert, L"转换", L"转换格式：先选格式，再确认保存", kKindCommand},
    {8, kIconCompress, L"压缩", L"压缩到指定体积：先选体积，再确认保存", kKindCommand},
    {9, kIconCrop, L"裁剪", L"裁剪 / 缩放：在图上拖出要保留的区域（Esc 退出）", kKindToggle},
    {12, kIconBatch, L"批量", L"批量处理：裁剪 / 转换格式 / 压缩多张图片", kKindCommand},
    {0, 0, nullptr, nullptr, kKindSeparator},
    {2, kIconPrint, nullptr, L"打印…", kKindCommand},
    {3, kIconCopy, nullptr, L"复制到剪贴板（Ctrl+C）", kKindCommand},
    {4, kIconDelete, nullptr, L"删除到回收站（Delete）", kKindCommand},
    {0, 0, nullptr, nullptr, kKindSeparator},
    {11, kIconMore, nullptr, L"更多…", kKindCommand},
    {0, 0, nullptr, nullptr, kKindSeparator},
    {13, kIconMinimise, nullptr, L"最小化", kKindWindow},
    {14, kIconMaximise, nullptr, L"最大化 / 还原", kKindWindow},
    {15, kIconClose, nullptr, L"关闭", kKindWindow},
};

// Zoom box segments from its left edge: out | percentage | in | fit.
static constexpr int kZoomOutEnd = 36, kZoomPctEnd = 98, kZoomInEnd = 134, kZoomBoxW = 170, kZoomBoxH = 30;
static constexpr int kTitleRoom = 140;  // title strip width below which the buttons drop their labels
static constexpr int kThumbW = 62, kThumbInset = 3, kThumbGap = 6, kArrowBox = 44, kArrowInset = 18;

int ui_scale(const App *app, int n)
{
    return MulDiv(n, app->dpi, 96);
}

HFONT make_font(int dpi, int points, int weight)
{
    return CreateFontW(-MulDiv(points, dpi, 72), 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, VARIABLE_PITCH,
                       L"Microsoft YaHei UI");
}

static void export_defaults(App *app)
{
    app->compress_kb = 200;
    app->compress_allow_downscale = 1;
    app->compress_min_side = 640;
    app->compress_format = 0;
    app->convert_format = 0;
    app->quality = 90;
}

static void make_fonts(App *app)
{
    app->font_text = make_font(app->dpi, 9, 400);
    app->font_bold = make_font(app->dpi, 9, 600);
    app->font_small = make_font(app->dpi, 8, 400);
    app->font_large = make_font(app->dpi, 15, 400);
}

void ui_init(App *app)
{
    if (app->dpi < 72) app->dpi = 96;
    make_fonts(app);
    app->crop_mode = 0;
    app->playing = 0;
    ui_rebuild_toolbar(app);
    export_defaults(app);
    if (app->hooks.parts_reset) app->hooks.parts_reset(app);
    ui_set_status(app, L"%s", kStartupStatus);
}

static void delete_object(HGDIOBJ *obj)
{
    if (*obj) DeleteObject(*obj);
    *obj = nullptr;
}

void ui_destroy(App *app)
{
    delete_object((HGDIOBJ *)&app->font_text);
    delete_object((HGDIOBJ *)&app->font_bold);
    delete_object((HGDIOBJ *)&app->font_small);
    delete_object((HGDIOBJ *)&app->font_large);
    if (app->back_dc) DeleteDC(app->back_dc);
    app->back_dc = nullptr;
    delete_object((HGDIOBJ *)&app->back_bitmap);
    app->back_w = app->back_h = 0;
    delete_object((HGDIOBJ *)&app->checker_bitmap);
    app->checker_cell = 0;
}

void ui_rescale(App *app)
{
    if (app->dpi < 72) app->dpi = 96;
    ui_destroy(app);
    make_fonts(app);
    ui_tip_hide(app);
    ui_rebuild_toolbar(app);
}

// ---- toolbar ----

void ui_sync_winmax(App *app)
{
    for (int i = 0; i < app->button_count; ++i)
        if (app->buttons[i].cmd == kCmdMaximise) app->buttons[i].icon = app->maximized ? kIconRestore : kIconMaximise;
}

void ui_sync_enabled(App *app)
{
    bool picture = app->image != nullptr;
    for (int i = 0; i < app->button_count; ++i) {
        ToolButton &b = app->buttons[i];
        if (b.kind == kKindSeparator) continue;
        if (b.cmd == kCmdOpen || (b.cmd >= kCmdMore && b.cmd <= kCmdClose))
            b.enabled = 1;
        else if (b.cmd == kCmdCrop)
            b.enabled = picture;
        else
            b.enabled = picture && !app->crop_mode;
        b.toggled = b.kind == kKindToggle && b.cmd == kCmdCrop && app->crop_mode;
    }
    ui_sync_winmax(app);
}

void ui_rebuild_toolbar(App *app)
{
    app->button_count = (int)std::size(kToolbar);
    std::copy(std::begin(kToolbar), std::end(kToolbar), app->buttons);
    app->hot_button = app->pressed_button = 0;
    ui_sync_enabled(app);
    ui_layout(app, app->client_w, app->client_h);
}

void ui_refresh_toolbar(App *app)
{
    if (!app->hwnd) return;
    ui_sync_enabled(app);
    InvalidateRect(app->hwnd, &app->rc_top, FALSE);
}

int ui_sync_toolbar_changed(App *app)
{
    ToolButton before[kToolButtonMax];
    int n = std::min(app->button_count, (int)std::size(before));
    std::copy(app->buttons, app->buttons + n, before);
    ui_sync_enabled(app);
    for (int i = 0; i < n; ++i)
        if (before[i].enabled != app->buttons[i].enabled || before[i].toggled != app->buttons[i].toggled ||
            before[i].icon != app->buttons[i].icon)
            return 1;
    return 0;
}

// ---- layout ----

static int button_width(const App *app, HDC dc, const ToolButton &b)
{
    if (b.label) {
        int w = icon_text_width(dc, b.label, (float)ui_scale(app, 14), 400) + ui_scale(app, 19);
        if (b.icon) w += ui_scale(app, 18) + ui_scale(app, 7);
        return std::max(w, ui_scale(app, 52));
    }
    return ui_scale(app, b.kind == kKindWindow ? 32 : 36);
}

static int right_group_start(const App *app)
{
    for (int i = 0; i < app->button_count; ++i)
        if (app->buttons[i].cmd == kCmdMore) return i;
    return app->button_count;
}

static void place_buttons(App *app, HDC dc, int W)
{
    int p = ui_scale(app, 8), split = right_group_start(app);
    int cursor = p;
    for (int i = 0; i < split; ++i) {
        ToolButton &b = app->buttons[i];
        if (b.kind == kKindSeparator) {
            b.x = cursor + ui_scale(app, 4), b.width = 1;
            cursor += ui_scale(app, 9);
        } else {
            b.x = cursor, b.width = button_width(app, dc, b);
            cursor += b.width + ui_scale(app, 2);
        }
    }
    cursor = W - ui_scale(app, 4);
    for (int i = app->button_count - 1; i >= split; --i) {
        ToolButton &b = app->buttons[i];
        if (b.kind == kKindSeparator) {
            b.x = cursor - 1, b.width = 1;
            cursor -= ui_scale(app, 9) + 1;
        } else {
            b.width = button_width(app, dc, b);
            b.x = cursor - b.width;
            cursor -= b.width + ui_scale(app, 2);
        }
    }
    int left = split > 0 ? app->buttons[split - 1].x + app->buttons[split - 1].width + ui_scale(app, 14) : p;
    int right = split < app->button_count ? app->buttons[split].x - ui_scale(app, 14) : W - p;
    app->rc_title = {left, app->rc_top.top, std::max<int>(right, left), app->rc_top.bottom};
}

// The buttons keep their labels while the title keeps room for a shortened
// name; on a narrower strip they show their icons only (the tooltips still name them).
static void layout_toolbar(App *app, int W)
{
    HDC dc = CreateCompatibleDC(nullptr);  // text is measured the same on any DC
    int n = std::min(app->button_count, (int)std::size(kToolbar));
    for (int i = 0; i < n; ++i)
        if (app->buttons[i].cmd == kToolbar[i].cmd) app->buttons[i].label = kToolbar[i].label;
    place_buttons(app, dc, W);
    if (app->rc_title.right - app->rc_title.left < ui_scale(app, kTitleRoom)) {
        for (int i = 0; i < n; ++i)
            if (app->buttons[i].icon) app->buttons[i].label = nullptr;
        place_buttons(app, dc, W);
    }
    if (dc) DeleteDC(dc);
}

void ui_layout(App *app, int width, int height)
{
    int W = std::max(width, 0), H = std::max(height, 0);
    app->client_w = W;
    app->client_h = H;
    int T = app->fullscreen ? 0 : ui_scale(app, 44), S = app->fullscreen ? 0 : ui_scale(app, 40);
    int p = ui_scale(app, 8);
    app->rc_top = {0, 0, W, T};
    app->rc_bottom = {0, H - S, W, H};
    app->rc_status = app->rc_bottom;
    app->rc_canvas = {0, T, W, std::max(H - S, T)};
    int panel_w = app->crop_mode ? std::min(ui_scale(app, 300), W >> 1) : 0;
    app->rc_panel = {W - panel_w, T, W, app->rc_canvas.bottom};
    app->rc_canvas.right = W - panel_w;

    layout_toolbar(app, W);

    int zoom_left = std::max(p, W - p - ui_scale(app, kZoomBoxW));
    int zoom_top = app->rc_bottom.top + (S - ui_scale(app, kZoomBoxH)) / 2;
    app->rc_zoom = {zoom_left, zoom_top, W - p, zoom_top + ui_scale(app, kZoomBoxH)};
    int strip_right = std::min<int>(zoom_left - ui_scale(app, 12), app->rc_canvas.right - p);
    // The slots: the bottom strip's height less a small inset above and below, never over the canvas.
    int inset = std::min(ui_scale(app, kThumbInset), S / 2);
    app->rc_strip = {p, app->rc_bottom.top + inset, std::max(strip_right, p), app->rc_bottom.bottom - inset};
    if (app->hooks.parts_layout) app->hooks.parts_layout(app);
}

RECT ui_zoom_box(const App *app)
{
    if (!app->fullscreen) return app->rc_zoom;
    const RECT &c = app->rc_canvas;
    int w = ui_scale(app, kZoomBoxW), h = ui_scale(app, kZoomBoxH);
    int left = c.left + (c.right - c.left - w) / 2, bottom = c.bottom - ui_scale(app, 18);
    return {left, bottom - h, left + w, bottom};
}

int strip_geom(const App *app, int xs[kStripMax], int *first)
{
    *first = 0;
    int area = app->rc_strip.right - app->rc_strip.left;
    int f = ui_scale(app, kThumbW + kThumbGap), gap = ui_scale(app, kThumbGap);
    if (app->queue.count <= 0 || area < ui_scale(app, kThumbW)) return 0;
    int n = std::min(app->queue.count, kStripMax);
    while (n > 1 && area < n * f - gap) --n;
    int start = n == 1 ? app->queue_index : app->queue_index - n / 2;
    start = std::clamp(start, 0, app->queue.count - n);
    *first = start;
    for (int k = 0; k < n; ++k) xs[k] = app->rc_strip.right + gap - n * f + k * f;
    return n;
}

int arrow_rect(const App *app, int left, RECT *out)
{
    const RECT &c = app->rc_canvas;
    int box = ui_scale(app, kArrowBox), inset = ui_scale(app, kArrowInset);
    if (app->fullscreen || app->queue.count < 2 || c.bottom - c.top < box + 2 * inset) return 0;
    int mid = (c.top + c.bottom) / 2, half = ui_scale(app, kArrowBox / 2);
    if (left)
        *out = {c.left + inset, mid - half, c.left + inset + box, mid + half};
    else
        *out = {c.right - inset - box, mid - half, c.right - inset, mid + half};
    return c.right - c.left >= 3 * box;
}

// ---- hit testing ----

static bool in_rows(const RECT &r, int y)
{
    return y >= r.top && y < r.bottom;
}

static bool in_rect(const RECT &r, int x, int y)
{
    return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
}

static int zoom_zone(const App *app, const RECT &z, int x)
{
    int L = z.left;
    if (x < L + ui_scale(app, kZoomOutEnd)) return 1;
    if (x < L + ui_scale(app, kZoomPctEnd)) return 4;
    if (x < L + ui_scale(app, kZoomInEnd)) return 2;
    return 3;
}

int ui_zoom_hot(const App *app, int x, int y)
{
    RECT z = ui_zoom_box(app);
    return in_rect(z, x, y) ? zoom_zone(app, z, x) : 0;
}

int ui_canvas_hot(const App *app, int x, int y)
{
    if (!in_rect(app->rc_canvas, x, y)) return 0;
    RECT r;
    if (arrow_rect(app, 1, &r) && in_rect(r, x, y)) return 1;
    if (arrow_rect(app, 0, &r) && in_rect(r, x, y)) return 2;
    return 3;
}

int ui_hit(const App *app, int x, int y)
{
    if (in_rows(app->rc_top, y)) {
        for (int i = 0; i < app->button_count; ++i) {
            const ToolButton &b = app->buttons[i];
            if (b.kind != kKindSeparator && b.enabled && x >= b.x && x < b.x + b.width) return b.cmd;
        }
        return 0;
    }
    RECT z = ui_zoom_box(app);
    if (in_rect(z, x, y)) {
        static constexpr int kZoneToId[] = {0, 22, 23, 24, 21};
        return kZoneToId[zoom_zone(app, z, x)];
    }
    int c = ui_canvas_hot(app, x, y);
    if (c == 1) return 26;
    if (c == 2) return 27;
    if (app->queue.count > 0 && !app->fullscreen && in_rows(app->rc_bottom, y)) {
        int xs[kStripMax], first;
        int n = strip_geom(app, xs, &first);
        for (int k = 0; k < n; ++k)
            if (x >= xs[k] && x < xs[k] + ui_scale(app, kThumbW) && in_rows(app->rc_strip, y)) return 1000 + first + k;
    }
    return 0;
}

int ui_in_caption(const App *app, int x, int y)
{
    if (app->fullscreen || !in_rows(app->rc_top, y)) return 0;
    for (int i = 0; i < app->button_count; ++i) {
        const ToolButton &b = app->buttons[i];
        if (b.kind != kKindSeparator && x >= b.x && x < b.x + b.width) return 0;
    }
    return 1;
}

static HCURSOR cursor_for(int canvas_hot)
{
    return LoadCursorW(nullptr, canvas_hot == 1 || canvas_hot == 2 ? IDC_HAND : IDC_ARROW);
}

void ui_set_cursor(const App *app, int canvas_hot)
{
    static int last = -1;
    if (canvas_hot == last) return;
    last = canvas_hot;
    SetCursor(cursor_for(canvas_hot));
}

void ui_apply_cursor(const App *app)
{
    SetCursor(cursor_for(app->canvas_hot));
}

// ---- status ----

void ui_set_status(App *app, const WCHAR *format, ...)
{
    va_list args;
    va_start(args, format);
    int n = _vsnwprintf(app->status, kStatusMax - 1, format, args);
    va_end(args);
    if (n < 0 || n >= kStatusMax - 1) app->status[kStatusMax - 1] = 0;
    if (app->hwnd) InvalidateRect(app->hwnd, &app->rc_bottom, FALSE);
}
