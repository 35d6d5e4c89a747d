// Navigation over the folder queue: paging, the slideshow and delete to the recycle bin.
#pragma once
#include "app/app.h"

constexpr UINT_PTR kTimerSlideshow = 1;
constexpr UINT kSlideshowMs = 2500;

int nav_goto(App *app, int index);
int nav_step(App *app, int delta);
void nav_open_many(App *app, WCHAR **paths, int n);
int nav_delete_current(App *app);
int nav_play_toggle(App *app);
void CALLBACK play_proc(HWND hwnd, UINT msg, UINT_PTR id, DWORD time);
void nav_thumb_release(App *app);
// The paging, slideshow and delete keys of the main window; 1 when the key was one of them.
int nav_key(App *app, WPARAM key);
// The thumbnail of queue entry index, decoded on first use within the paint's budget.
GpBitmap *nav_thumb_bitmap(App *app, int index);
