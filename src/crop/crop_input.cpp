// What the main window's mouse and keys do while the crop tool is involved.
#include "crop/crop.h"
#include "crop/panel.h"

static void invalidate(App *app, const RECT *rc)
{
    if (app->hwnd) InvalidateRect(app->hwnd, rc, FALSE);
}

int crop_on_mouse_move(App *app, int x, int y, WPARAM keys)
{
    if (app->drag_mode != kDragIdle) {
        // The release was lost (capture taken by another window): end the drag here.
        if (!(keys & MK_LBUTTON)) {
            crop_on_lbutton_up(app);
            return 1;
        }
        crop_move(app, x, y);
        invalidate(app, &app->rc_canvas);
        return 1;
    }
    if (!app->crop_mode) return 0;
    int row = panel_hit(app, x, y);
    int btn = row >= 0 ? panel_hit_btn(app, row, x, y) : -1;
    if (row != app->panel_hot_row || btn != app->panel_hot_btn) {
        app->panel_hot_row = row;
        app->panel_hot_btn = btn;
        invalidate(app, &app->rc_panel);
    }
    return 0;
}

int crop_on_lbutton_up(App *app)
{
    if (app->drag_mode == kDragIdle) return 0;
    crop_end(app);
    if (app->hwnd && GetCapture() == app->hwnd) ReleaseCapture();
    invalidate(app, &app->rc_canvas);
    return 1;
}

void crop_on_escape(App *app)
{
    if (app->drag_mode != kDragIdle) crop_on_lbutton_up(app);
}
