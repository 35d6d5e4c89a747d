// The main window's message handler: frame and hit testing, painting, keys,
// wheel, mouse, menus, dropped files and timers, each passed to a named function.
#include "app/wndproc.h"
#include "app/commands.h"
#include "crop/crop.h"
#include "crop/panel.h"
#include "app/nav.h"
#include "files/browse.h"
#include "online/online.h"
#include "shell/modal.h"
#include "ui/ui.h"
#include "view/canvas.h"
#include <shellapi.h>
#include <windowsx.h>
#include <cstdlib>

namespace {

// The picture follows the pointer from where the drag began.
struct PanState {
    int active;
    POINT start;
    int origin_x, origin_y;
};

PanState g_pan;
POINT g_rdown;      // where the right button went down, for the drag threshold
int g_rdown_valid;
int g_trackingMouse;

bool in_rect(const RECT &r, int x, int y)
{
    return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
}

void repaint(App *app)
{
    InvalidateRect(app->hwnd, nullptr, FALSE);
}

void invalidate(App *app, const RECT &r)
{
    InvalidateRect(app->hwnd, &r, FALSE);
}

bool ctrl_held()
{
    return (GetKeyState(VK_CONTROL) & 0x8000) != 0;
}

// ---- frame ----

LRESULT on_nchittest(App *app, LPARAM lp)
{
    if (app->fullscreen) return HTCLIENT;
    POINT p = {GET_X_LPARAM(lp), GET_Y_LPARAM(lp)};
    RECT wr;
    GetWindowRect(app->hwnd, &wr);
    if (!app->maximized) {
        int b = ui_scale(app, 6);
        int dx = p.x - wr.left, dy = p.y - wr.top, w = wr.right - wr.left, h = wr.bottom - wr.top;
        bool left = dx < b, right = dx >= w - b, top = dy < b, bottom = dy >= h - b;
        if (left && top) return HTTOPLEFT;
        if (right && top) return HTTOPRIGHT;
        if (left && bottom) return HTBOTTOMLEFT;
        if (right && bottom) return HTBOTTOMRIGHT;
        if (left) return HTLEFT;
        if (right) return HTRIGHT;
        if (top) return HTTOP;
        if (bottom) return HTBOTTOM;
    }
    ScreenToClient(app->hwnd, &p);
    return ui_in_caption(app, p.x, p.y) ? HTCAPTION : HTCLIENT;
}

// A maximised window covers the work area, not the taskbar.
void on_minmax(App *app, MINMAXINFO *mm)
{
    mm->ptMinTrackSize = {ui_scale(app, 760), ui_scale(app, 520)};
    if (app->fullscreen) return;  // full screen covers the whole monitor, taskbar included
    MONITORINFO mi = {sizeof mi};
    if (!GetMonitorInfoW(MonitorFromWindow(app->hwnd, MONITOR_DEFAULTTONEAREST), &mi)) return;
    const RECT &w = mi.rcWork, &m = mi.rcMonitor;
    mm->ptMaxSize = {w.right - w.left, w.bottom - w.top};
    mm->ptMaxTrackSize = mm->ptMaxSize;
    mm->ptMaxPosition = {w.left - m.left, w.top - m.top};
}

void on_size(App *app, WPARAM wp, LPARAM lp)
{
    app->client_w = LOWORD(lp);
    app->client_h = HIWORD(lp);
    app->maximized = wp == SIZE_MAXIMIZED;
    ui_sync_winmax(app);
    ui_layout(app, LOWORD(lp), HIWORD(lp));
    if (app->fit_mode == 1) canvas_reset(app);
    repaint(app);
}

// A zoomed picture keeps the point at the canvas centre where it was.
static void keep_view_centre(App *app, const RECT &before)
{
    int ox = (before.left + before.right) / 2, oy = (before.top + before.bottom) / 2;
    const RECT &now = app->rc_canvas;
    app->view_x += (now.left + now.right) / 2 - ox;
    app->view_y += (now.top + now.bottom) / 2 - oy;
}

// Only what depends on the scale is made again; a drag in progress cannot
// survive it, but the selection (in picture pixels) and every setting do.
void on_dpi_changed(App *app, WPARAM wp, LPARAM lp)
{
    app->dpi = HIWORD(wp);
    app->drag_mode = 0;
    if (GetCapture() == app->hwnd) ReleaseCapture();
    RECT before = app->rc_canvas;
    ui_rescale(app);
    canvas_sync_gp(app);  // the cache holds a board of the old cell size
    const RECT *r = (const RECT *)lp;
    if (r)
        SetWindowPos(app->hwnd, nullptr, r->left, r->top, r->right - r->left, r->bottom - r->top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
    ui_layout(app, app->client_w, app->client_h);
    if (app->fit_mode == 1)
        canvas_reset(app);
    else
        keep_view_centre(app, before);
    repaint(app);
}

// ---- painting ----

// The DC goes before the bitmap selected into it, or the bitmap would outlive it.
void back_buffer_free(App *app)
{
    if (app->back_dc) DeleteDC(app->back_dc);
    if (app->back_bitmap) DeleteObject(app->back_bitmap);
    app->back_dc = nullptr;
    app->back_bitmap = nullptr;
    app->back_w = app->back_h = 0;
}

bool back_buffer_ensure(App *app, HDC dc)
{
    int w = app->client_w, h = app->client_h;
    if (w <= 0 || h <= 0) return false;
    if (app->back_dc && app->back_w == w && app->back_h == h) return true;
    back_buffer_free(app);
    app->back_dc = CreateCompatibleDC(dc);
    if (!app->back_dc) return false;
    app->back_bitmap = CreateCompatibleBitmap(dc, w, h);
    if (!app->back_bitmap) {
        back_buffer_free(app);
        return false;
    }
    SelectObject(app->back_dc, app->back_bitmap);
    app->back_w = w;
    app->back_h = h;
    return true;
}

void on_paint(App *app)
{
    // The region itself, not its bounding box: paging invalidates the title, the canvas and
    // the strip, and the toolbar buttons between them need not be painted again.
    HRGN update = CreateRectRgn(0, 0, 0, 0);
    if (update && GetUpdateRgn(app->hwnd, update, FALSE) == ERROR) {
        DeleteObject(update);
        update = nullptr;
    }
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(app->hwnd, &ps);
    if (!back_buffer_ensure(app, dc)) {
        if (app->client_w > 0 && app->client_h > 0) ui_paint(app, dc);
        EndPaint(app->hwnd, &ps);
        if (update) DeleteObject(update);
        return;
    }
    // The back buffer keeps the rest; only the invalidated part is painted and copied.
    const RECT &r = ps.rcPaint;
    int saved = SaveDC(app->back_dc);
    IntersectClipRect(app->back_dc, r.left, r.top, r.right, r.bottom);
    if (update) {
        ExtSelectClipRgn(app->back_dc, update, RGN_AND);
        DeleteObject(update);
    }
    ui_paint(app, app->back_dc);
    RestoreDC(app->back_dc, saved);
    BitBlt(dc, r.left, r.top, r.right - r.left, r.bottom - r.top, app->back_dc, r.left, r.top, SRCCOPY);
    EndPaint(app->hwnd, &ps);
}

// ---- keys ----

void on_escape(App *app, LPARAM lp)
{
    if (app->crop_mode) {
        crop_on_escape(app);
        set_crop_mode(app, 0);
    } else if (app->fullscreen)
        toggle_fullscreen(app);
    else if (!(lp & (1 << 30)))  // a held key must not close what the first press only left
        PostMessageW(app->hwnd, WM_CLOSE, 0, 0);
}

int ctrl_command(WPARAM key)
{
    switch (key) {
    case 'C': return 3;
    case 'E': return 9;
    case 'O': return 1;
    case 'Z': return 5;
    default: return 0;
    }
}

void on_key(App *app, WPARAM key, LPARAM lp)
{
    switch (key) {
    case VK_ESCAPE: on_escape(app, lp); return;
    case VK_F11: toggle_fullscreen(app); return;
    case '0': canvas_reset(app); repaint(app); return;
    case '1': canvas_actual(app); repaint(app); return;
    case VK_ADD: case VK_OEM_PLUS: zoom_center(app, 1.25); return;
    case VK_SUBTRACT: case VK_OEM_MINUS: zoom_center(app, 0.8); return;
    }
    if (nav_key(app, key)) return;  // paging, slideshow and delete; ignored in crop mode
    int id = ctrl_command(key);
    if (id && ctrl_held()) app_command(app, id);
}

void on_wheel(App *app, WPARAM wp, LPARAM lp)
{
    POINT p = {GET_X_LPARAM(lp), GET_Y_LPARAM(lp)};
    ScreenToClient(app->hwnd, &p);
    bool up = GET_WHEEL_DELTA_WPARAM(wp) > 0;
    if (panel_wheel(app, p.x, p.y, up ? 1 : -1)) return;
    if (!app->image) return;
    double factor = ctrl_held() ? (up ? 1.05 : 1 / 1.05) : (up ? 1.25 : 0.8);
    canvas_zoom_at(app, factor, p.x, p.y);
    invalidate(app, app->rc_canvas);
    invalidate(app, app->rc_bottom);
}

// ---- mouse ----

void pan_begin(App *app, int x, int y)
{
    g_pan.active = 1;
    g_pan.start = {x, y};
    g_pan.origin_x = app->view_x;
    g_pan.origin_y = app->view_y;
    SetCapture(app->hwnd);
}

// Cleared before the capture goes, so the capture-changed notice finds nothing to end.
void pan_end(App *app)
{
    if (!g_pan.active) return;
    g_pan.active = 0;
    if (GetCapture() == app->hwnd) ReleaseCapture();
}

void track_leave(App *app)
{
    if (g_trackingMouse) return;
    TRACKMOUSEEVENT tme = {sizeof tme, TME_LEAVE, app->hwnd, 0};
    if (TrackMouseEvent(&tme)) g_trackingMouse = 1;
}

void on_mouse_move(App *app, WPARAM wp, LPARAM lp)
{
    int x = GET_X_LPARAM(lp), y = GET_Y_LPARAM(lp);
    app->mouse_x = x;
    app->mouse_y = y;
    if (g_pan.active) {
        app->view_x = g_pan.origin_x + (x - g_pan.start.x);
        app->view_y = g_pan.origin_y + (y - g_pan.start.y);
        invalidate(app, app->rc_canvas);
        return;
    }
    if (app->drag_mode != kDragIdle) {
        crop_on_mouse_move(app, x, y, wp);  // also ends a drag whose release was lost
        return;
    }
    if (wp & MK_RBUTTON) {
        pan_begin(app, x, y);
        return;
    }
    crop_on_mouse_move(app, x, y, wp);  // panel hover in crop mode
    ui_hover(app, x, y);
    track_leave(app);
}

void on_mouse_leave(App *app)
{
    g_trackingMouse = 0;
    ui_leave(app);
}

// The class cursor would undo a hand set on mouse movement: answer from the hover state.
LRESULT on_set_cursor(App *app, HWND hwnd, WPARAM wp, LPARAM lp)
{
    if (LOWORD(lp) != HTCLIENT) return DefWindowProcW(hwnd, WM_SETCURSOR, wp, lp);
    ui_apply_cursor(app);
    return TRUE;
}

bool arrow_step(App *app, int x, int y)
{
    if (app->crop_mode || app->fullscreen) return false;
    int c = ui_canvas_hot(app, x, y);
    if (c != 1 && c != 2) return false;
    app_command(app, c == 1 ? 26 : 27);
    return true;
}

void on_lbutton_down(App *app, int x, int y)
{
    if (app->crop_mode) {
        int item = panel_hit(app, x, y);
        if (item >= 0) {
            panel_click(app, item, panel_hit_btn(app, item, x, y));
            invalidate(app, app->rc_panel);
            return;
        }
        panel_focus_off(app);
    }
    if (arrow_step(app, x, y)) return;
    int h = ui_hit(app, x, y);
    if (h) {
        app->pressed_button = h;
        repaint(app);
        return;
    }
    if (!in_rect(app->rc_canvas, x, y) || !app->image) return;
    if (app->crop_mode)
        crop_begin(app, x, y);
    else
        pan_begin(app, x, y);
    SetCapture(app->hwnd);
    invalidate(app, app->rc_canvas);
}

void on_lbutton_up(App *app, int x, int y)
{
    if (crop_on_lbutton_up(app)) return;
    pan_end(app);
    int h = ui_hit(app, x, y);
    int pressed = app->pressed_button;
    app->pressed_button = 0;
    repaint(app);
    if (h && h == pressed) app_command(app, h);
}

// The second click of a double click on a paging arrow is another step.
void on_double_click(App *app, int x, int y)
{
    if (ui_in_caption(app, x, y)) {
        app_command(app, 14);
        return;
    }
    if (!in_rect(app->rc_canvas, x, y)) return;
    if (arrow_step(app, x, y)) return;
    if (app->image)
        set_crop_mode(app, app->crop_mode == 1 ? 0 : 1);
    else
        app_command(app, 1);
}

bool dragged_past_threshold(int x, int y)
{
    POINT from = g_rdown_valid ? g_rdown : g_pan.start;
    return abs(x - from.x) > GetSystemMetrics(SM_CXDRAG) || abs(y - from.y) > GetSystemMetrics(SM_CYDRAG);
}

void on_rbutton_up(App *app, int x, int y)
{
    bool dragged = g_pan.active && dragged_past_threshold(x, y);
    pan_end(app);
    g_rdown_valid = 0;
    if (dragged) return;  // the drag was the gesture; no menu after it
    int h = ui_hit(app, x, y);
    if (!app->fullscreen && y >= app->rc_bottom.top && y < app->rc_bottom.bottom && h >= 1000) {
        if (h - 1000 >= app->queue.count) return;
        POINT cursor;
        GetCursorPos(&cursor);
        app_show_thumb_menu(app, h - 1000, cursor);
        return;
    }
    if (!in_rect(app->rc_canvas, x, y)) return;
    POINT p = {x, y};
    ClientToScreen(app->hwnd, &p);
    app_show_canvas_menu(app, p);
}

// Another window took the mouse: a pan or crop drag would otherwise stick to the pointer.
void on_capture_changed(App *app, HWND taker)
{
    if (taker == app->hwnd) return;
    if (g_pan.active) {
        g_pan.active = 0;
        invalidate(app, app->rc_canvas);
    }
    crop_on_lbutton_up(app);
}

// ---- timers ----

void on_hover_menu(App *app)
{
    KillTimer(app->hwnd, kTimerHoverMenu);
    if (!app->image || app->crop_mode || (app->hot_button != 7 && app->hot_button != 8)) return;
    if (modal_depth() > 0) return;  // a menu or dialog is already open
    ui_tip_hide(app);
    invalidate(app, app->rc_top);
    UpdateWindow(app->hwnd);
    if (app->hot_button == 7)
        app_show_convert_menu(app);
    else
        app_show_compress_menu(app);
}

// A worker's message changed the queue or brought a thumbnail.
void on_folder_work(App *app, int changed)
{
    if (changed & kBrowseShownGone) nav_shown_gone(app);
    if (changed & kBrowseQueue) {
        if (!browse_listing(app) && !wcscmp(app->status, kListingHint)) app_browse_hint(app);
        ui_refresh_toolbar(app);
        InvalidateRect(app->hwnd, nullptr, FALSE);  // the position, the strip and the paging arrows
    } else if (changed & kBrowseThumb) {
        InvalidateRect(app->hwnd, &app->rc_strip, FALSE);
    }
}

void on_timer(App *app, WPARAM id)
{
    if (id == kTimerHoverMenu)
        on_hover_menu(app);
    else if (id == kTimerAhead)
        browse_ahead_timer(app);
    else if (id == kTimerListing)
        on_folder_work(app, browse_listing_timer(app));
    else
        ui_timer(app, id);
}

LRESULT on_nc_double_click(App *app, HWND hwnd, WPARAM wp, LPARAM lp)
{
    if (wp != HTCAPTION) return DefWindowProcW(hwnd, WM_NCLBUTTONDBLCLK, wp, lp);
    app_command(app, 14);
    return 0;
}

}  // namespace

void app_on_drop(App *app, HDROP drop)
{
    static WCHAR slots[kCliMaxPaths][kPathMax];
    WCHAR *list[kCliMaxPaths];
    int count = 0;
    UINT n = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT i = 0; i < n && count < kCliMaxPaths; ++i) {
        // A name too long for the buffer would be cut into some other file's name.
        UINT len = DragQueryFileW(drop, i, nullptr, 0);
        if (len == 0 || len >= (UINT)kPathMax) continue;
        WCHAR name[kPathMax];
        if (DragQueryFileW(drop, i, name, kPathMax) != len) continue;
        if (cli_take_path(name, slots[count])) list[count] = slots[count], ++count;
    }
    DragFinish(drop);
    SetForegroundWindow(app->hwnd);
    if (count == 0) {
        ui_set_status(app, L"%s", L"拖入的内容里没有可识别的图片");
        return;
    }
    if (count == 1)
        app_load(app, list[0]);
    else
        nav_open_many(app, list, count);
    app_browse_hint(app);
}

// The setup program asks a running copy to close with WM_CLOSE. While a dialog or
// message box is open a save may be under way, so the request is refused then;
// the setup program waits and asks again.
static LRESULT on_close(HWND hwnd)
{
    if (modal_depth() == 0) DestroyWindow(hwnd);
    return 0;
}

LRESULT CALLBACK app_wndproc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    App *app = (App *)GetWindowLongPtrW(hwnd, GWLP_USERDATA);
    if (msg == WM_CREATE) {
        app_on_create((App *)((CREATESTRUCTW *)lp)->lpCreateParams, hwnd);
        return 0;
    }
    if (!app) return DefWindowProcW(hwnd, msg, wp, lp);
    int x = GET_X_LPARAM(lp), y = GET_Y_LPARAM(lp);
    int changed = browse_message(app, msg, lp);
    if (changed >= 0) {
        on_folder_work(app, changed);
        return 0;
    }

    switch (msg) {
    case WM_CLOSE: return on_close(hwnd);
    case WM_DESTROY: app_on_destroy(app); return 0;
    case WM_NCCALCSIZE:
        if (wp) return 0;  // the whole window is client area
        break;
    case WM_NCACTIVATE: return 1;
    case WM_ERASEBKGND: return 1;
    case WM_NCHITTEST: return on_nchittest(app, lp);
    case WM_GETMINMAXINFO: on_minmax(app, (MINMAXINFO *)lp); return 0;
    case WM_SIZE: on_size(app, wp, lp); return 0;
    case WM_DPICHANGED: on_dpi_changed(app, wp, lp); return 0;
    case WM_PAINT: on_paint(app); return 0;
    case WM_KEYDOWN: on_key(app, wp, lp); return 0;
    case WM_MOUSEWHEEL: on_wheel(app, wp, lp); return 0;
    case WM_MOUSEMOVE: on_mouse_move(app, wp, lp); return 0;
    case WM_MOUSELEAVE: on_mouse_leave(app); return 0;
    case WM_SETCURSOR: return on_set_cursor(app, hwnd, wp, lp);
    case WM_LBUTTONDOWN: on_lbutton_down(app, x, y); return 0;
    case WM_LBUTTONUP: on_lbutton_up(app, x, y); return 0;
    case WM_LBUTTONDBLCLK: on_double_click(app, x, y); return 0;
    case WM_NCLBUTTONDBLCLK: return on_nc_double_click(app, hwnd, wp, lp);
    case WM_RBUTTONDOWN: g_rdown = {x, y}, g_rdown_valid = 1; return 0;
    case WM_RBUTTONUP: on_rbutton_up(app, x, y); return 0;
    case WM_CAPTURECHANGED: on_capture_changed(app, (HWND)lp); return 0;
    case WM_DROPFILES: app_on_drop(app, (HDROP)wp); return 0;
    case WM_TIMER: on_timer(app, wp); return 0;
    case WM_COPYDATA: return app_on_copydata(app, hwnd, wp, lp);
    case WM_UPDATE_FOUND: online_update_prompt(hwnd); return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}
