// Navigation over the folder queue.
#pragma once
#include "app/app.h"

void nav_open_many(App *app, WCHAR **paths, int n);
void nav_thumb_release(App *app);
// The thumbnail of queue entry index, decoded on first use within the paint's budget.
GpBitmap *nav_thumb_bitmap(App *app, int index);
