// What the main window's mouse and keys do while the crop tool is involved.
#include "crop/crop.h"
#include "app/commands.h"
#include "crop/panel.h"
#include "ui/ui.h"

static bool in_canvas(const App *app, int x, int y)
{
    const RECT &c = app->rc_canvas;
    return x >= c.left && x < c.right && y >= c.top && y < c.bottom;
}

static void invalidate(App *app, const RECT *rc)
{
    if (app->hwnd) InvalidateRect(app->hwnd, rc, FALSE);
}

// Panel clicks go no further; a press on the canvas starts a drag.
int crop_on_lbutton_down(App *app, int x, int y)
{
    if (!app->crop_mode) return 0;
    int item = panel_hit(app, x, y);
    if (item >= 0) {
        panel_click(app, item, panel_hit_btn(app, item, x, y));
        invalidate(app, &app->rc_panel);
        return 1;
    }
    panel_focus_off(app);
    if (ui_hit(app, x, y) != 0 || !in_canvas(app, x, y) || !app->image) return 0;
    crop_begin(app, x, y);
    if (app->hwnd) SetCapture(app->hwnd);
    invalidate(app, &app->rc_canvas);
    return 1;
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

// A double click on the picture switches crop mode; elsewhere it is not ours.
int crop_on_double_click(App *app, int x, int y)
{
    if (ui_in_caption(app, x, y) || !in_canvas(app, x, y) || !app->image) return 0;
    set_crop_mode(app, app->crop_mode == 1 ? 0 : 1);
    return 1;
}

void crop_on_escape(App *app)
{
    if (app->drag_mode != kDragIdle) crop_on_lbutton_up(app);
    set_crop_mode(app, 0);
}
