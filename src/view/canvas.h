// The viewer canvas: where the picture sits, zooming about a point, the
// resampled view cache and painting the picture area.
#pragma once
#include "state/app_state.h"

constexpr double kZoomMin = 0.02, kZoomMax = 32.0;

void canvas_sync_gp(App *app);
void canvas_release_gp(App *app);
// Lets go of the picture (its bitmap and view) but keeps the buffers for the next one;
// its reduced copies pass to the caller.
ImagePyramid canvas_drop_picture(App *app);
// Reduced copies of the picture on screen made elsewhere (ownership passes); ignored
// unless they are the picture's own halves.
void canvas_adopt_copies(App *app, ImagePyramid *copies);
void canvas_view_free(App *app);
void canvas_reset(App *app);
void canvas_actual(App *app);
void canvas_zoom_at(App *app, double factor, int x, int y);
void zoom_center(App *app, double factor);
void canvas_paint(App *app, HDC dc);

// Display length of n picture pixels at zoom, rounded, kept within int range.
int canvas_disp_len(uint32_t n, double zoom);
// How the last paint got its picture: 0 nothing, 1 cache reused, 2 cache rebuilt, 3 full resolution.
enum : int { kPathNone = 0, kPathCacheHit = 1, kPathCacheRebuild = 2, kPathFull = 3 };
int canvas_last_path();
