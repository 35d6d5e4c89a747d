// Window chrome: layout of the strips, the toolbar, hit testing, the status
// line, tooltips and painting the whole window.
#pragma once
#include "state/app_state.h"

constexpr int kStripMax = 9;  // thumbnails in the bottom row at most
enum : UINT_PTR { kTimerTooltip = 3, kTimerHoverMenu = 4 };
constexpr UINT kTooltipDelayMs = 420, kHoverMenuDelayMs = 320;

int ui_scale(const App *app, int n);
HFONT make_font(int dpi, int points, int weight);
void ui_init(App *app);
void ui_destroy(App *app);
// Fonts, toolbar and layout made again for a new app->dpi; settings, texts and the picture stay.
void ui_rescale(App *app);

void ui_rebuild_toolbar(App *app);
void ui_refresh_toolbar(App *app);
void ui_sync_enabled(App *app);
// ui_sync_enabled, telling whether any button now looks different; 1 when one does.
int ui_sync_toolbar_changed(App *app);
void ui_sync_winmax(App *app);
void ui_layout(App *app, int width, int height);
int strip_geom(const App *app, int xs[kStripMax], int *first);
int arrow_rect(const App *app, int left, RECT *out);
// The zoom box as drawn: floating over the canvas in full screen.
RECT ui_zoom_box(const App *app);

int ui_hit(const App *app, int x, int y);
int ui_in_caption(const App *app, int x, int y);
int ui_canvas_hot(const App *app, int x, int y);
int ui_zoom_hot(const App *app, int x, int y);
void ui_set_cursor(const App *app, int canvas_hot);
// The cursor for the pointer's current zone, set unconditionally (WM_SETCURSOR).
void ui_apply_cursor(const App *app);

void ui_set_status(App *app, const WCHAR *format, ...);
int ui_tip_check(App *app);
void ui_tip_hide(App *app);
void ui_paint(App *app, HDC dc);
void paint_top(App *app, HDC dc);
void paint_bottom(App *app, HDC dc);
void paint_zoom_box(App *app, HDC dc);
// The title text for the span, shortened in the middle; 0 when none fits.
int ui_fit_title(HDC dc, const WCHAR *title, int span, float size, WCHAR *out, int cap);

// One text of the bottom strip as laid out: a whole item, or the status shortened with "…".
struct StripText {
    WCHAR text[kStatusMax];
    int32_t left, right;
    COLORREF colour;
};
constexpr int kStripTexts = 4;
// The bottom strip's texts (facts, position, status) that fit before the thumbnails
// and the zoom box; an item that does not fit whole is left out, never cut.
int ui_strip_texts(App *app, HDC dc, StripText out[kStripTexts]);
// Text shortened at its end with "…" to fit span pixels, never inside a number; 0 when nothing fits.
int ui_elide_end(HDC dc, const WCHAR *text, int span, float size, WCHAR *out, int cap);

// "W × H   size" of the current picture, empty without one.
void ui_facts_text(const App *app, WCHAR *out, int cap);
void ui_zoom_text(double zoom, WCHAR *out, int cap);

// Hover wiring of the window procedure.
void ui_hover(App *app, int x, int y);
void ui_leave(App *app);
void ui_timer(App *app, UINT_PTR id);
