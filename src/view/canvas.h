// The viewer canvas: the GDI+ bitmap over the current picture's pixels.
#pragma once
#include "app/app.h"

void canvas_sync_gp(App *app);
void canvas_release_gp(App *app);
