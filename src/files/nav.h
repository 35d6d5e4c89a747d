// Navigation over the folder queue.
#pragma once
#include "app/app.h"

void nav_open_many(App *app, WCHAR **paths, int n);
void nav_thumb_release(App *app);
