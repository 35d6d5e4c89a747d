// The export dialog's geometry, hit testing and painting.
#include "dialogs/dialog.h"
#include "dialogs/dlg_common.h"
#include <cwchar>
#include <iterator>

static constexpr const WCHAR *kFmtName5[] = {L"JPEG", L"PNG", L"WebP", L"BMP", L"TIFF"};

static constexpr COLORREF kBg = RGB(30, 30, 34);
static constexpr COLORREF kLabel = RGB(138, 138, 148);
static constexpr COLORREF kText = RGB(230, 230, 234);
static constexpr COLORREF kChip = RGB(44, 44, 49);
static constexpr COLORREF kChipHot = RGB(42, 42, 48);
static constexpr COLORREF kChipSelected = RGB(43, 74, 116);
static constexpr COLORREF kAccent = RGB(76, 154, 255);
static constexpr COLORREF kAccentHot = RGB(99, 170, 255);
static constexpr COLORREF kInputFill = RGB(26, 26, 29);
static constexpr COLORREF kSelection = RGB(0, 120, 215);
static constexpr COLORREF kTrackFill = RGB(24, 24, 27);
static constexpr COLORREF kEstimateFill = RGB(23, 23, 26);
static constexpr COLORREF kWarning = RGB(255, 138, 92);
static constexpr COLORREF kWhite = RGB(255, 255, 255);

static int S(const ExportState *s, int n)
{
    return MulDiv(n, (int)s->dpi, 96);
}

static RECT rect(int l, int t, int r, int b)
{
    return RECT{l, t, r, b};
}

static void shift_up(RECT *r, int dy)
{
    r->top -= dy;
    r->bottom -= dy;
}

// Top of the format section; compress mode first lays out its size rows.
static int layout_size_rows(ExportState *s, int a, int g, int h, int e, int R)
{
    if (s->mode != 0) return S(s, 16);
    s->rc_label_kb = rect(a, S(s, 16), R, S(s, 16) + S(s, 16));
    int t1 = S(s, 16) + S(s, 20);
    int chip4 = (e - 3 * g) / 4;
    for (int i = 0; i < 4; ++i) s->rc_kb[i] = rect(a + i * (chip4 + g), t1, a + i * (chip4 + g) + chip4, t1 + h);
    int t2 = t1 + h + g;
    int chip2 = (e - g) / 2;
    for (int i = 0; i < 2; ++i)
        s->rc_kb[4 + i] = rect(a + i * (chip2 + g), t2, a + i * (chip2 + g) + chip2, t2 + h);
    int t3 = t2 + h + g + S(s, 2);
    s->rc_custom = rect(a, t3, R, t3 + S(s, 26));
    s->rc_kb_box = rect(R - S(s, 104), t3 + S(s, 2), R, t3 + S(s, 26) - S(s, 2));
    int t4 = t3 + S(s, 26) + S(s, 8);
    s->rc_shrink = rect(a, t4, R, t4 + S(s, 20));
    return t4 + g + S(s, 20) + S(s, 4);
}

// Moves every content row up when the window is shorter than the content needs.
static void shift_content(ExportState *s, int dy)
{
    RECT *rows[] = {&s->rc_label_kb, &s->rc_custom, &s->rc_kb_box, &s->rc_shrink, &s->rc_label_fmt,
                    &s->rc_q_down,   &s->rc_q_up,   &s->rc_q_label, &s->rc_track};
    for (RECT *r : rows) shift_up(r, dy);
    for (RECT &r : s->rc_kb) shift_up(&r, dy);
    for (RECT &r : s->rc_fmt) shift_up(&r, dy);
}

void ex_layout(ExportState *s)
{
    int a = S(s, 20), g = S(s, 10), h = S(s, 32), W = S(s, 520), e = W - 2 * a, R = a + e;
    int H = s->client_h ? (int)s->client_h : S(s, 460);
    memset(s->rc_kb, 0, sizeof s->rc_kb);
    memset(s->rc_fmt, 0, sizeof s->rc_fmt);
    s->rc_label_kb = s->rc_custom = s->rc_kb_box = s->rc_shrink = RECT{};

    int G = layout_size_rows(s, a, g, h, e, R);
    s->rc_label_fmt = rect(a, G, R, G + S(s, 16));
    int n = s->format_count > 0 && s->format_count <= 5 ? s->format_count : 5;
    int tf = G + S(s, 20);
    int chip = (e - g * (n - 1)) / n;
    for (int i = 0; i < n; ++i) s->rc_fmt[i] = rect(a + i * (chip + g), tf, a + i * (chip + g) + chip, tf + h);
    int tq = tf + h + g + S(s, 4);
    s->rc_q_down = rect(a, tq, a + S(s, 28), tq + S(s, 28));
    s->rc_q_up = rect(R - S(s, 28), tq, R, tq + S(s, 28));
    s->rc_track = rect(a + S(s, 38) + S(s, 62), tq + S(s, 10), R - S(s, 28) - S(s, 12), tq + S(s, 18));
    s->rc_q_label = rect(a + S(s, 28) + S(s, 10), tq, s->rc_track.left, tq + S(s, 28));
    int cb = tq + S(s, 28);
    if (s->measuring) {
        s->content_h = cb;
        return;
    }

    int limit = H - S(s, 10) - S(s, 52) - S(s, 18) - S(s, 34) - S(s, 30);
    if (limit < S(s, 80)) limit = S(s, 80);
    if (cb > limit) {
        int dy = cb - limit < S(s, 20) ? cb - limit : S(s, 20);
        shift_content(s, dy);
        cb -= dy;
    }
    s->content_h = cb;

    int tb = H - S(s, 30) - S(s, 34);
    s->rc_save = rect(W - a - S(s, 96), tb, W - a, H - S(s, 30));
    s->rc_cancel = rect(W - a - 2 * S(s, 96) - S(s, 10), tb, W - a - S(s, 96) - S(s, 10), H - S(s, 30));
    int ts = tb - S(s, 18);
    s->rc_sep = rect(0, ts, W, ts + 1);
    int est_top = cb + S(s, 10), est_bottom = ts - S(s, 10);
    if (est_bottom - est_top < S(s, 52)) est_top = est_bottom - S(s, 52);
    s->rc_est = rect(a, est_top, R, est_bottom);
}

void ex_client_size(ExportState *s, int *width, int *height)
{
    s->measuring = 1;
    ex_layout(s);
    s->measuring = 0;
    int h = s->content_h + S(s, 10 + 52 + 18 + 34 + 30);
    *width = S(s, 520);
    *height = h > S(s, 460) ? h : S(s, 460);
}

static bool inside(const RECT &r, int x, int y)
{
    return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
}

int ex_hit(const ExportState *s, int x, int y)
{
    if (s->mode == 0) {
        for (int i = 0; i < (int)std::size(kKB); ++i)
            if (inside(s->rc_kb[i], x, y)) return kZoneKB1 + i;
        if (inside(s->rc_custom, x, y)) return kZoneCustom;
        if (inside(s->rc_shrink, x, y)) return kZoneShrink;
    }
    for (int i = 0; i < s->format_count && i < 5; ++i)
        if (inside(s->rc_fmt[i], x, y)) return kZoneFormat0 + i;
    if (inside(s->rc_q_down, x, y)) return kZoneQualityDown;
    if (inside(s->rc_q_up, x, y)) return kZoneQualityUp;
    if (inside(s->rc_save, x, y)) return kZoneSave;
    if (inside(s->rc_cancel, x, y)) return kZoneCancel;
    return kZoneNone;
}

void ex_size_text(uint32_t bytes, WCHAR *out, int cap)
{
    if (bytes > 1048575)
        _snwprintf(out, cap, L"%.2f MB", bytes / 1048576.0);
    else
        _snwprintf(out, cap, L"%.0f KB", bytes / 1024.0);
    out[cap - 1] = 0;
}

// A compression never encodes below quality 30: quality 0 means nothing was encoded.
int ex_estimate_kept(const ExportState *s)
{
    return s->mode == 0 && s->est_valid && s->est_quality == 0 ? 1 : 0;
}

// ---- painting ----

static HFONT pick(HFONT font)
{
    return font ? font : (HFONT)GetStockObject(DEFAULT_GUI_FONT);
}

static void text(HDC dc, const WCHAR *s, RECT r, HFONT font, COLORREF color, UINT flags)
{
    HGDIOBJ old = SelectObject(dc, pick(font));
    SetTextColor(dc, color);
    DrawTextW(dc, s, -1, &r, flags | DT_SINGLELINE | DT_NOPREFIX);
    SelectObject(dc, old);
}

static void fill(HDC dc, const RECT &r, COLORREF color)
{
    HBRUSH brush = CreateSolidBrush(color);
    FillRect(dc, &r, brush);
    DeleteObject(brush);
}

static void chip(ExportState *s, HDC dc, const RECT &r, const WCHAR *label, bool selected, bool hot)
{
    if (selected) {
        drrect(dc, r, S(s, 5), kChipSelected, false);
        text(dc, label, r, s->font_bold, kAccent, DT_CENTER | DT_VCENTER);
    } else {
        drrect(dc, r, S(s, 5), hot ? kChipHot : kChip, true);
        text(dc, label, r, s->font_text, kText, DT_CENTER | DT_VCENTER);
    }
}

static void paint_check(ExportState *s, HDC dc, int x, int y, int k)
{
    HPEN pen = CreatePen(PS_SOLID, S(s, 2), kWhite);
    HGDIOBJ old = SelectObject(dc, pen);
    POINT pts[] = {{x + k / 5, y + k / 2}, {x + 2 * k / 5, y + k - k / 4}, {x + k - k / 5, y + k / 4}};
    Polyline(dc, pts, (int)std::size(pts));
    SelectObject(dc, old);
    DeleteObject(pen);
}

// The selected number of the box, highlighted as an edit control shows a selection.
static void paint_selection(ExportState *s, HDC dc, const RECT &box, const WCHAR *number)
{
    HGDIOBJ old = SelectObject(dc, s->font_text);
    SIZE size = {};
    GetTextExtentPoint32W(dc, number, (int)wcsspn(number, L"0123456789"), &size);
    SelectObject(dc, old);
    RECT sel = {box.left - S(s, 2), box.top + S(s, 4), box.left + size.cx + S(s, 2), box.bottom - S(s, 4)};
    HBRUSH brush = CreateSolidBrush(kSelection);
    FillRect(dc, &sel, brush);
    DeleteObject(brush);
}

static void paint_size_rows(ExportState *s, HDC dc)
{
    text(dc, L"目标体积", s->rc_label_kb, s->font_small, kLabel, DT_LEFT | DT_BOTTOM);
    for (int i = 0; i < (int)std::size(kKB); ++i)
        chip(s, dc, s->rc_kb[i], kKBName[i], (uint32_t)kKB[i] == s->target_kb, s->hot == kZoneKB1 + i);

    RECT custom = s->rc_custom;
    custom.right = s->rc_kb_box.left - S(s, 8);
    text(dc, L"自定义", custom, s->font_text, kText, DT_LEFT | DT_VCENTER);
    drrect(dc, s->rc_kb_box, S(s, 4), kInputFill, true);
    WCHAR kb[32];
    _snwprintf(kb, std::size(kb), L"%d KB", (int)s->target_kb);
    kb[std::size(kb) - 1] = 0;
    RECT box = s->rc_kb_box;
    box.left += S(s, 10);
    if (s->editing && s->kb_selected) paint_selection(s, dc, box, kb);
    text(dc, kb, box, s->font_text, kText, DT_LEFT | DT_VCENTER);

    int k = S(s, 15);
    int x = s->rc_shrink.left, y = s->rc_shrink.top + (s->rc_shrink.bottom - s->rc_shrink.top - k) / 2;
    drrect(dc, rect(x, y, x + k, y + k), S(s, 3), s->auto_shrink ? kAccent : kChip, true);
    if (s->auto_shrink) paint_check(s, dc, x, y, k);
    RECT label = s->rc_shrink;
    label.left = x + k + S(s, 8);
    text(dc, L"必要时自动缩小尺寸", label, s->font_text, kText, DT_LEFT | DT_VCENTER);
}

static bool format_has_quality(uint32_t format)
{
    return format != 1 && format != 3 && format != 4;
}

static void paint_quality(ExportState *s, HDC dc)
{
    WCHAR label[32];
    _snwprintf(label, std::size(label), L"质量 %d", (int)s->quality);
    label[std::size(label) - 1] = 0;
    text(dc, label, s->rc_q_label, s->font_small, kLabel, DT_LEFT | DT_BOTTOM);

    COLORREF sign = format_has_quality(s->format) ? kText : kLabel;
    drrect(dc, s->rc_q_down, S(s, 4), s->hot == kZoneQualityDown ? kChipHot : kChip, true);
    text(dc, L"−", s->rc_q_down, s->font_bold, sign, DT_CENTER | DT_VCENTER);
    drrect(dc, s->rc_q_up, S(s, 4), s->hot == kZoneQualityUp ? kChipHot : kChip, true);
    text(dc, L"＋", s->rc_q_up, s->font_bold, sign, DT_CENTER | DT_VCENTER);

    const RECT &t = s->rc_track;
    drrect(dc, t, S(s, 3), kTrackFill, true);
    int width = t.right - t.left;
    if (!format_has_quality(s->format)) {
        RECT hint = t;
        hint.left += S(s, 6);
        text(dc, L"该格式无质量参数", hint, s->font_small, kLabel, DT_LEFT | DT_VCENTER);
    } else if (width * (int)s->quality > 299) {
        drrect(dc, rect(t.left, t.top, t.left + width * (int)s->quality / 100, t.bottom), S(s, 3), kAccent, false);
    }
}

static void paint_status(ExportState *s, HDC dc, RECT r)
{
    r.left += S(s, 92);
    if (s->mode == 1) {
        text(dc, L"预计体积", r, s->font_small, kLabel, DT_LEFT | DT_VCENTER);
        return;
    }
    r.right -= S(s, 8);
    WCHAR status[64];
    COLORREF color = kLabel;
    if (s->est_over) {
        _snwprintf(status, std::size(status), L"已尽力，仍超过 %d KB", (int)s->target_kb);
        color = kWarning;
    } else if (ex_estimate_kept(s)) {
        _snwprintf(status, std::size(status), L"%s", L"已经小于目标体积，保留原图");
    } else if (s->est_bytes > 0 && (uint64_t)s->est_bytes < (uint64_t)s->target_kb * 2048 / 3) {
        _snwprintf(status, std::size(status), L"%s", L"满足目标（远低于上限）");
    } else {
        _snwprintf(status, std::size(status), L"%s", L"满足目标");
    }
    status[std::size(status) - 1] = 0;
    text(dc, status, r, s->font_small, color, DT_LEFT | DT_VCENTER);
}

static void paint_estimate(ExportState *s, HDC dc, const WCHAR *fmt_name)
{
    drrect(dc, s->rc_est, S(s, 6), kEstimateFill, true);
    // Text keeps to the top of a tall box (convert mode) as in the smallest one.
    RECT b = s->rc_est;
    if (b.bottom - b.top > S(s, 52)) b.bottom = b.top + S(s, 52);
    RECT details = rect(b.left + S(s, 14), b.top + S(s, 26), b.right, b.bottom);
    WCHAR line[160];
    if (s->est_valid) {
        RECT figure = rect(b.left + S(s, 14), b.top + S(s, 5), b.right - S(s, 8), b.top + S(s, 27));
        ex_size_text(s->est_bytes, line, (int)std::size(line));
        text(dc, line, figure, s->font_bold, s->est_over ? kWarning : kAccent, DT_LEFT | DT_VCENTER);
        paint_status(s, dc, figure);
        if (ex_estimate_kept(s))
            _snwprintf(line, std::size(line), L"%u × %u   ·   原图   ·   %s", s->est_width, s->est_height, fmt_name);
        else
            _snwprintf(line, std::size(line), L"%u × %u   ·   质量 %d   ·   %s", s->est_width, s->est_height,
                       (int)s->est_quality, fmt_name);
        line[std::size(line) - 1] = 0;
        text(dc, line, details, s->font_small, kLabel, DT_LEFT | DT_VCENTER);
        if (s->est_busy)
            text(dc, L"重新计算中…", rect(b.left, b.top + S(s, 6), b.right - S(s, 12), b.top + S(s, 22)),
                 s->font_small, kLabel, DT_RIGHT | DT_VCENTER);
        return;
    }
    text(dc, s->est_busy ? L"计算中…" : L"这一项算不出来，不影响保存", rect(b.left + S(s, 14), b.top, b.right, b.bottom),
         s->font_small, kLabel, DT_LEFT | DT_VCENTER);
    const Image *img = s->app ? s->app->image : nullptr;
    _snwprintf(line, std::size(line), L"%u × %u   ·   %s", img ? img->width : 0u, img ? img->height : 0u, fmt_name);
    line[std::size(line) - 1] = 0;
    text(dc, line, details, s->font_small, kLabel, DT_LEFT | DT_VCENTER);
}

static void paint_footer(ExportState *s, HDC dc)
{
    fill(dc, s->rc_sep, kDlgOutline);
    drrect(dc, s->rc_cancel, S(s, 5), s->hot == kZoneCancel ? kChipHot : kChip, true);
    text(dc, L"取消", s->rc_cancel, s->font_text, kText, DT_CENTER | DT_VCENTER);
    drrect(dc, s->rc_save, S(s, 5), s->hot == kZoneSave ? kAccentHot : kAccent, false);
    text(dc, L"保存为…", s->rc_save, s->font_bold, kWhite, DT_CENTER | DT_VCENTER);
}

void ex_paint(ExportState *s, HDC dc)
{
    if (s->format > 4) s->format = 0;
    int W = S(s, 520), H = s->client_h ? (int)s->client_h : S(s, 460);
    fill(dc, rect(0, 0, W, H), kBg);
    SetBkMode(dc, TRANSPARENT);
    if (s->mode == 0) paint_size_rows(s, dc);
    text(dc, L"输出格式", s->rc_label_fmt, s->font_small, kLabel, DT_LEFT | DT_BOTTOM);
    for (int i = 0; i < s->format_count && i < 5; ++i)
        chip(s, dc, s->rc_fmt[i], kFmtName5[i], (uint32_t)i == s->format, s->hot == kZoneFormat0 + i);
    paint_quality(s, dc);
    paint_estimate(s, dc, kFmtName5[s->format]);
    paint_footer(s, dc);
}
