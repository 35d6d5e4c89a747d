#include "crop/panel.h"
#include "image/resize.h"
#include "ui/ui.h"
#include <algorithm>
#include <cwchar>

static constexpr WCHAR kStartText[] = L"结果会显示在这里。";
static constexpr COLORREF kPanelBack = RGB(30, 30, 34), kLine = RGB(46, 46, 52), kAccent = RGB(76, 154, 255);
static constexpr COLORREF kAccentHot = RGB(99, 170, 255), kButton = RGB(44, 44, 49), kButtonOn = RGB(43, 74, 116);
static constexpr COLORREF kButtonOff = RGB(36, 36, 39), kPrimaryOff = RGB(51, 51, 56), kInfoBack = RGB(26, 26, 29);
static constexpr COLORREF kText = RGB(230, 230, 234), kMuted = RGB(138, 138, 148);
static constexpr COLORREF kScrollMark = RGB(88, 88, 98);

// Lengths at 96 dpi.
static constexpr int kMargin = 14, kGap = 6, kHeadingH = 22, kRowH = 28, kPrimaryH = 36, kCancelH = 30;

void panel_defaults(App *app)
{
    app->crop_ratio = 0;
    app->crop_preset = -1;
    app->panel_focus = -1;
    lstrcpynW(app->panel_text, kStartText, kPanelTextMax);
}

// ---- building ----

// A zeroed, enabled item; null once the list is full.
static PanelItem *add_item(App *app, int kind, const WCHAR *label)
{
    if (app->panel_count >= kPanelMax) return nullptr;
    PanelItem *it = &app->panel_items[app->panel_count++];
    *it = PanelItem{};
    it->kind = kind;
    it->label = label;
    it->enabled = 1;
    return it;
}

static void add_button(PanelItem *row, int cmd, const WCHAR *label)
{
    if (!row || row->btn_count >= 4) return;
    row->btn_cmd[row->btn_count] = cmd;
    row->btn_label[row->btn_count] = label;
    ++row->btn_count;
}

static void add_size_rows(App *app)
{
    uint32_t n = preset_count();
    for (uint32_t i = 0; i < n; i += 2) {
        PanelItem *row = add_item(app, kPanelRow, nullptr);
        if (!row) return;
        row->selected = -1;
        for (uint32_t k = i; k < i + 2 && k < n; ++k) {
            if (app->crop_preset == (int)k) row->selected = (int)(k - i);
            add_button(row, 300 + (int)k, preset_at(k)->size_text);
        }
    }
}

void panel_rebuild(App *app)
{
    app->panel_count = 0;
    add_item(app, kPanelHeading, L"裁剪设置");
    PanelItem *ratios = add_item(app, kPanelRow, nullptr);
    add_button(ratios, 200, L"自由");
    add_button(ratios, 201, L"1:1");
    add_button(ratios, 202, L"4:3");
    add_button(ratios, 203, L"16:9");
    if (ratios) ratios->selected = app->crop_ratio;
    PanelItem *tall = add_item(app, kPanelRow, nullptr);
    add_button(tall, 204, L"9:16");
    if (tall) tall->selected = app->crop_ratio == 4 ? 0 : -1;
    add_item(app, kPanelHeading, L"常用尺寸");
    add_size_rows(app);
    add_item(app, kPanelHeading, L"旋转");
    PanelItem *rotate = add_item(app, kPanelRow, nullptr);
    add_button(rotate, 205, L"左转 90°");
    add_button(rotate, 206, L"右转 90°");
    add_item(app, kPanelHeading, L"结果");
    add_item(app, kPanelInfo, app->panel_text);
    if (PanelItem *apply = add_item(app, kPanelPrimary, L"应用裁剪并保存…")) {
        apply->btn_cmd[0] = 207;
        apply->enabled = app->image != nullptr;
    }
    PanelItem *cancel = add_item(app, kPanelRow, nullptr);
    add_button(cancel, 208, L"取消裁剪（Esc）");
    if (cancel) cancel->selected = -1;
    app->panel_focus = app->panel_hot_row = app->panel_hot_btn = -1;
    panel_layout(app);
}

// ---- layout ----

static int text_lines(const WCHAR *text)
{
    int lines = 1;
    for (const WCHAR *p = text; p && *p; ++p)
        if (*p == L'\n') ++lines;
    return lines;
}

static void layout_buttons(PanelItem *it, int gap)
{
    int n = std::max(it->btn_count, 1);
    int w = (it->rect.right - it->rect.left - gap * (n - 1)) / n;
    for (int k = 0; k < it->btn_count; ++k) {
        int left = it->rect.left + k * (w + gap);
        int right = k == it->btn_count - 1 ? it->rect.right : left + w;
        it->btn_rect[k] = {left, it->rect.top, right, it->rect.bottom};
    }
}

// The apply and cancel buttons are pinned to the bottom; the items above them
// scroll when the panel is too short to show them all.
static int first_pinned(const App *app)
{
    for (int i = 0; i < app->panel_count; ++i)
        if (app->panel_items[i].kind == kPanelPrimary) return i;
    return app->panel_count;
}

// Bottom of the area the scrolling items show in.
static int flow_bottom(const App *app)
{
    int bottom = app->rc_panel.bottom;
    for (int i = first_pinned(app); i < app->panel_count; ++i)
        bottom = std::min<int>(bottom, app->panel_items[i].rect.top - ui_scale(app, kGap));
    return bottom;
}

static void offset_item(PanelItem *it, int dy)
{
    OffsetRect(&it->rect, 0, dy);
    for (int k = 0; k < it->btn_count; ++k) OffsetRect(&it->btn_rect[k], 0, dy);
}

static void layout_pinned(App *app, int primary, int left, int right)
{
    const RECT &p = app->rc_panel;
    int m = ui_scale(app, kMargin), g = ui_scale(app, kGap);
    int bottom = p.bottom - m, ph = ui_scale(app, kPrimaryH);
    app->panel_items[primary].rect = {left, bottom - ph, right, bottom};
    for (int i = primary + 1; i < app->panel_count; ++i) {
        PanelItem *it = &app->panel_items[i];
        if (it->kind != kPanelRow) continue;
        it->rect = {left, bottom - ph - g - ui_scale(app, kCancelH), right, bottom - ph - g};
        for (int k = 0; k < it->btn_count; ++k) it->btn_rect[k] = it->rect;
        break;
    }
}

void panel_layout(App *app)
{
    const RECT &p = app->rc_panel;
    int m = ui_scale(app, kMargin), g = ui_scale(app, kGap);
    if (p.right - p.left <= 2 * m) return;
    int left = p.left + m, right = p.right - m, y = p.top + m;
    int primary = first_pinned(app), end = y;
    for (int i = 0; i < primary; ++i) {
        PanelItem *it = &app->panel_items[i];
        int h = 0;
        if (it->kind == kPanelHeading) {
            if (i > 0) y += 2 * g;
            h = ui_scale(app, kHeadingH);
        } else if (it->kind == kPanelRow) {
            h = ui_scale(app, kRowH);
        } else if (it->kind == kPanelInfo) {
            h = ui_scale(app, 12) + ui_scale(app, 17) * text_lines(it->label);
        }
        it->rect = {left, y, right, y + h};
        if (it->kind == kPanelRow) layout_buttons(it, g);
        end = y + h;
        y += h + g;
    }
    if (primary < app->panel_count) layout_pinned(app, primary, left, right);
    app->panel_scroll_max = std::max(0, end - flow_bottom(app));
    app->panel_scroll = std::clamp(app->panel_scroll, 0, app->panel_scroll_max);
    for (int i = 0; i < primary; ++i) offset_item(&app->panel_items[i], -app->panel_scroll);
}

int panel_wheel(App *app, int x, int y, int notches)
{
    const RECT &p = app->rc_panel;
    if (!app->crop_mode || x < p.left || x >= p.right || y < p.top || y >= p.bottom) return 0;
    if (app->panel_scroll_max <= 0) return 0;
    app->panel_scroll -= notches * ui_scale(app, kRowH + kGap);
    panel_layout(app);
    app->panel_hot_row = app->panel_hot_btn = -1;
    if (app->hwnd) InvalidateRect(app->hwnd, &app->rc_panel, FALSE);
    return 1;
}

// ---- hit testing ----

static bool clickable(const PanelItem &it)
{
    return it.enabled && (it.kind == kPanelRow || it.kind == kPanelPrimary);
}

// A scrolling item is hit only where it shows, above the pinned buttons.
static bool shown_at(const App *app, int item, int y)
{
    return item >= first_pinned(app) || (y >= app->rc_panel.top && y < flow_bottom(app));
}

int panel_hit(App *app, int x, int y)
{
    if (x < app->rc_panel.left || x >= app->rc_panel.right) return -1;
    for (int i = app->panel_count - 1; i >= 0; --i) {
        const PanelItem &it = app->panel_items[i];
        if (clickable(it) && y >= it.rect.top && y < it.rect.bottom && shown_at(app, i, y)) return i;
    }
    return -1;
}

int panel_hit_btn(App *app, int item, int x, int y)
{
    if (item < 0 || item >= app->panel_count) return -1;
    const PanelItem &it = app->panel_items[item];
    if (!clickable(it) || y < it.rect.top || y >= it.rect.bottom || !shown_at(app, item, y)) return -1;
    if (it.kind == kPanelPrimary) return 0;
    for (int k = 0; k < it.btn_count; ++k)
        if (x >= it.btn_rect[k].left && x < it.btn_rect[k].right) return k;
    return -1;
}

static void run_command(App *app, int id)
{
    if (app->hooks.command) app->hooks.command(app, id);
}

void panel_click(App *app, int item, int button)
{
    if (item < 0 || item >= app->panel_count) return;
    PanelItem &it = app->panel_items[item];
    if (!it.enabled) return;
    if (it.kind == kPanelRow && button >= 0 && button < it.btn_count) {
        it.selected = button;
        run_command(app, it.btn_cmd[button]);
    } else if (it.kind == kPanelPrimary && it.btn_cmd[0] != 0) {
        run_command(app, it.btn_cmd[0]);
    }
}

void panel_focus_off(App *app)
{
    app->panel_focus = -1;
}

// No item of this panel takes typed input.
int panel_key(App *app, int key, int ctrl)
{
    return 0;
}

// ---- painting ----

static void fill(HDC dc, const RECT &r, COLORREF colour)
{
    HBRUSH brush = CreateSolidBrush(colour);
    FillRect(dc, &r, brush);
    DeleteObject(brush);
}

static void frame(HDC dc, const RECT &r, COLORREF colour)
{
    HBRUSH brush = CreateSolidBrush(colour);
    FrameRect(dc, &r, brush);
    DeleteObject(brush);
}

static void text(HDC dc, HFONT font, const WCHAR *s, RECT r, COLORREF colour, UINT format)
{
    if (!s) return;
    HGDIOBJ old = SelectObject(dc, font ? (HGDIOBJ)font : GetStockObject(DEFAULT_GUI_FONT));
    SetTextColor(dc, colour);
    DrawTextW(dc, s, -1, &r, format | DT_NOPREFIX);
    SelectObject(dc, old);
}

static void paint_row(App *app, HDC dc, int index, const PanelItem &it)
{
    for (int k = 0; k < it.btn_count; ++k) {
        const RECT &r = it.btn_rect[k];
        bool on = k == it.selected;
        fill(dc, r, !it.enabled ? kButtonOff : on ? kButtonOn : kButton);
        if (app->panel_hot_row == index && app->panel_hot_btn == k) frame(dc, r, kLine);
        COLORREF colour = !it.enabled ? kMuted : on ? kAccent : kText;
        text(dc, on && it.enabled ? app->font_bold : app->font_text, it.btn_label[k], r, colour,
             DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    }
}

static void paint_item(App *app, HDC dc, int index, const PanelItem &it)
{
    switch (it.kind) {
    case kPanelHeading:
        text(dc, app->font_bold, it.label, it.rect, kAccent, DT_LEFT | DT_BOTTOM | DT_SINGLELINE);
        break;
    case kPanelRow:
        paint_row(app, dc, index, it);
        break;
    case kPanelPrimary: {
        bool hot = app->panel_hot_row == index;
        fill(dc, it.rect, !it.enabled ? kPrimaryOff : hot ? kAccentHot : kAccent);
        text(dc, app->font_bold, it.label, it.rect, it.enabled ? RGB(255, 255, 255) : kMuted,
             DT_CENTER | DT_VCENTER | DT_SINGLELINE);
        break;
    }
    case kPanelInfo: {
        fill(dc, it.rect, kInfoBack);
        frame(dc, it.rect, kLine);
        RECT inner = {it.rect.left + ui_scale(app, 8), it.rect.top + ui_scale(app, 6),
                      it.rect.right - ui_scale(app, 8), it.rect.bottom - ui_scale(app, 6)};
        text(dc, app->font_small, it.label, inner, kMuted, DT_LEFT | DT_TOP | DT_WORDBREAK);
        break;
    }
    }
}

// A thin bar at the right edge tells that there is more above or below.
static void paint_scroll_mark(App *app, HDC dc, int bottom)
{
    if (app->panel_scroll_max <= 0) return;
    const RECT &p = app->rc_panel;
    int top = p.top + ui_scale(app, 4), track = bottom - top, view = bottom - p.top;
    if (track <= 0) return;
    int len = std::max(ui_scale(app, 16), (int)((int64_t)track * view / (view + app->panel_scroll_max)));
    len = std::min(len, track);
    int at = top + (int)((int64_t)(track - len) * app->panel_scroll / app->panel_scroll_max);
    int w = ui_scale(app, 4), right = p.right - ui_scale(app, 3);
    fill(dc, {right - w, at, right, at + len}, kScrollMark);
}

void panel_paint(App *app, HDC dc)
{
    const RECT &p = app->rc_panel;
    if (p.left >= p.right || p.top >= p.bottom) return;
    fill(dc, p, kPanelBack);
    fill(dc, {p.left, p.top, p.left + 1, p.bottom}, kLine);
    int mode = SetBkMode(dc, TRANSPARENT);
    COLORREF colour = GetTextColor(dc);
    int pinned = first_pinned(app), bottom = flow_bottom(app);
    int saved = SaveDC(dc);
    IntersectClipRect(dc, p.left, p.top, p.right, bottom);
    for (int i = 0; i < pinned; ++i) paint_item(app, dc, i, app->panel_items[i]);
    RestoreDC(dc, saved);
    for (int i = pinned; i < app->panel_count; ++i) paint_item(app, dc, i, app->panel_items[i]);
    paint_scroll_mark(app, dc, bottom);
    SetTextColor(dc, colour);
    SetBkMode(dc, mode);
}
