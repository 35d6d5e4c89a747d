// Crop settings panel beside the canvas: ratio buttons, common sizes,
// rotation, the result text and the apply and cancel buttons.
#pragma once
#include "state/app_state.h"

enum : int { kPanelHeading = 0, kPanelRow = 2, kPanelPrimary = 5, kPanelInfo = 6 };

// Start values of the crop settings and the result text.
void panel_defaults(App *app);
void panel_rebuild(App *app);
void panel_layout(App *app);
void panel_paint(App *app, HDC dc);
int panel_hit(App *app, int x, int y);
// Scrolls the items above the pinned buttons by wheel notches (positive: up) when
// the point is over a panel too short for them; 1 when taken.
int panel_wheel(App *app, int x, int y, int notches);
int panel_hit_btn(App *app, int item, int x, int y);
void panel_click(App *app, int item, int button);
void panel_focus_off(App *app);
int panel_key(App *app, int key, int ctrl);
