#include "ui/ui.h"
#include <cstdarg>
#include <cwchar>

static constexpr COLORREF kColorBackground = RGB(26, 26, 29);
static constexpr COLORREF kColorMuted = RGB(138, 138, 148);
static constexpr WCHAR kStartupStatus[] = L"把图片拖进来，或点左上角「打开」选择文件";

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

void ui_init(App *app)
{
    if (app->dpi < 72) app->dpi = 96;
    app->font_text = make_font(app->dpi, 9, 400);
    app->font_bold = make_font(app->dpi, 9, 600);
    app->font_small = make_font(app->dpi, 8, 400);
    app->font_large = make_font(app->dpi, 15, 400);
    app->crop_mode = 0;
    app->playing = 0;
    export_defaults(app);
    ui_set_status(app, L"%s", kStartupStatus);
}

static void delete_font(HFONT *font)
{
    if (*font) DeleteObject(*font);
    *font = nullptr;
}

void ui_destroy(App *app)
{
    delete_font(&app->font_text);
    delete_font(&app->font_bold);
    delete_font(&app->font_small);
    delete_font(&app->font_large);
    if (app->back_dc) DeleteDC(app->back_dc);
    if (app->back_bitmap) DeleteObject(app->back_bitmap);
    app->back_dc = nullptr;
    app->back_bitmap = nullptr;
    app->back_w = app->back_h = 0;
}

void ui_layout(App *app, int width, int height)
{
    app->client_w = width;
    app->client_h = height;
}

void ui_set_status(App *app, const WCHAR *format, ...)
{
    va_list args;
    va_start(args, format);
    int n = _vsnwprintf(app->status, kStatusMax - 1, format, args);
    va_end(args);
    if (n < 0 || n >= kStatusMax - 1) app->status[kStatusMax - 1] = 0;
    if (app->hwnd) InvalidateRect(app->hwnd, nullptr, FALSE);
}

void ui_paint(App *app, HDC dc)
{
    RECT rc = {0, 0, app->client_w, app->client_h};
    HBRUSH bg = CreateSolidBrush(kColorBackground);
    FillRect(dc, &rc, bg);
    DeleteObject(bg);

    RECT line = {ui_scale(app, 12), app->client_h - ui_scale(app, 30), app->client_w - ui_scale(app, 12),
                 app->client_h};
    HGDIOBJ old_font = SelectObject(dc, app->font_text ? app->font_text : GetStockObject(DEFAULT_GUI_FONT));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, kColorMuted);
    DrawTextW(dc, app->status, -1, &line, DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_END_ELLIPSIS | DT_NOPREFIX);
    SelectObject(dc, old_font);
}
