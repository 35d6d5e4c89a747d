// The batch dialog: a modal, custom-drawn window over the main window.
#pragma once
#include "jobs/batch_job.h"

// Runs the dialog modally; 1 when it ran, 0 when it could not be created.
int batch_run(App *app);
// Creates and shows the dialog and disables the main window; batch_run's loop then
// serves it. The record is saved to g_bdef and freed when the window is destroyed.
HWND batch_open(App *app);
LRESULT CALLBACK batch_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
void batch_layout(BatchJob *job);
void batch_update_scroll(BatchJob *job);
int batch_hit(const BatchJob *job, int x, int y);
void batch_paint(BatchJob *job, HDC dc);
void draw_check(BatchJob *job, HDC dc, const RECT &rect, int ticked, const WCHAR *text, HFONT font);
