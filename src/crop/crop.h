// Crop selection on the canvas.
#pragma once
#include "app/app.h"

void crop_clear(App *app);
void crop_paint(App *app, HDC dc);
