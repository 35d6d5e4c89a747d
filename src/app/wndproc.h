// Pieces of the main window's life cycle that the window procedure calls.
#pragma once
#include "app/app.h"

void app_on_create(App *app, HWND hwnd);
void app_on_destroy(App *app);
LRESULT app_on_copydata(App *app, HWND hwnd, WPARAM wp, LPARAM lp);
// Dropped files and folders: at most 32 pictures are opened; the drop is finished here.
void app_on_drop(App *app, HDROP drop);
