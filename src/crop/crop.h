// Crop selection on the canvas: drawn, moved and resized in picture pixels,
// optionally locked to a ratio, and applied to the picture.
#pragma once
#include "state/app_state.h"

enum : int { kDragIdle = 0, kDragDraw = 1, kDragMove = 2, kDragResize = 3 };
constexpr int kHandleInside = 8;

// Width-to-height ratio in force while dragging: the chosen common size wins
// over the ratio buttons; 0 when none is in force.
double crop_effective_ratio(const App *app);
// Picture pixel under a client point; 0 when there is no picture or no view scale.
int crop_pixel_at(const App *app, int x, int y, int *px, int *py);

void sel_screen_rect(const App *app, RECT *out);
int crop_handle_at(const App *app, int x, int y);
void crop_clear(App *app);
void crop_begin(App *app, int x, int y);
void crop_move(App *app, int x, int y);
void crop_end(App *app);
void crop_paint(App *app, HDC dc);
void hairline(HDC dc, int x1, int y1, int x2, int y2);
int crop_apply_to_image(App *app);

// Window-procedure wiring; each returns 1 when it took the message.
int crop_on_mouse_move(App *app, int x, int y, WPARAM keys);
int crop_on_lbutton_up(App *app);
// Ends a drag in progress; leaving crop mode is the caller's part.
void crop_on_escape(App *app);

