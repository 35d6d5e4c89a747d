// Window chrome: fonts, DPI scaling and the status line.
#pragma once
#include "app/app.h"

int ui_scale(const App *app, int n);
HFONT make_font(int dpi, int points, int weight);
void ui_init(App *app);
void ui_destroy(App *app);
void ui_layout(App *app, int width, int height);
void ui_set_status(App *app, const WCHAR *format, ...);
void ui_paint(App *app, HDC dc);
