// Crop settings panel beside the canvas.
#pragma once
#include "app/app.h"

void panel_rebuild(App *app);
void panel_layout(App *app);
void panel_paint(App *app, HDC dc);
int panel_hit(App *app, int x, int y);
int panel_hit_btn(App *app, int item, int x, int y);
