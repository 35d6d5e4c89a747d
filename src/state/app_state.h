// The one application state record every part of the window reads, its limits and sub-records.
#pragma once
#include <windows.h>
#include "image/image.h"
#include "image/pyramid.h"
#include "state/queue.h"

namespace Gdiplus { class GpBitmap; }  // GDI+ flat-API bitmap
using Gdiplus::GpBitmap;

constexpr int kPathMax = 260;
constexpr int kStatusMax = 512;
constexpr int kCliMaxPaths = 32;

constexpr int kToolButtonMax = 24;
constexpr int kTipMax = 320;

// A toolbar button; x and width are set by the layout.
struct ToolButton {
    int32_t cmd;     // command number, 0 for a separator
    int32_t icon;    // icon id, 0 for none
    const WCHAR *label;
    const WCHAR *tooltip;
    int32_t kind;    // 0 command, 2 toggle, 3 window control, 4 separator
    int32_t x, width;
    int32_t toggled;
    int32_t enabled;
};

// Box-reduced copies of the picture (halves, quarters, …) and the reused pixel
// buffers of the view cache, so that zooming never resamples the full picture.
struct ViewPyramid {
    ImagePyramid copies;
    uint8_t *cache_px;  // pixels under view_cache: part of the picture at display size
    size_t cache_cap;
    int32_t cache_dw, cache_dh;  // display size the part was resampled for
    int32_t cache_x, cache_y;    // the part's offset from the picture's displayed corner
    void *scratch;      // row accumulators of the resampler
    size_t scratch_cap;
};

constexpr int kPanelMax = 24;
constexpr int kPanelTextMax = 900;

// One item of the crop settings panel: a heading, a row of up to four
// buttons, the primary button or the info text.
struct PanelItem {
    int32_t kind;         // 0 heading, 2 button row, 5 primary button, 6 info text
    const WCHAR *label;   // heading or primary text, or the info text buffer
    int32_t btn_cmd[4];
    const WCHAR *btn_label[4];
    int32_t btn_count;
    int32_t selected;     // highlighted button of a row, -1 none
    int32_t enabled;
    RECT rect;
    RECT btn_rect[4];
};

constexpr WCHAR kAppName[] = L"Veldmoor";
constexpr WCHAR kMainClass[] = L"Veldmoor.MainWnd";
constexpr WCHAR kMutexName[] = L"Veldmoor.SingleInstance";
struct App;

// Work of the modules above the chrome, handed down at start-up so the chrome and the
// crop panel never include upwards: the chrome lays out and paints what lies inside it,
// the panel's buttons run commands. Any hook may be null (a record made for a test).
struct AppHooks {
    void (*parts_reset)(App *app);             // the crop panel's defaults and items
    void (*parts_layout)(App *app);            // after the chrome's own layout
    void (*parts_paint)(App *app, HDC dc);     // canvas, crop selection and panel
    int (*command)(App *app, int id);
    int (*modal_depth)();                      // menus and dialogs open now
};

struct App {
    AppHooks hooks;
    HINSTANCE instance;
    HWND hwnd;
    int32_t dpi;
    HFONT font_text, font_bold, font_small, font_large;
    int32_t client_w, client_h;
    RECT rc_top, rc_title, rc_canvas, rc_panel, rc_bottom, rc_status, rc_strip, rc_zoom;
    ToolButton buttons[kToolButtonMax];
    int32_t button_count;
    int32_t hot_button, pressed_button, zoom_hot, canvas_hot, maximized;
    int32_t tip_id;
    WCHAR tip_text[kTipMax];

    int32_t crop_mode;
    WCHAR status[kStatusMax];
    int32_t load_failed;  // the last load failed: its status outlives the browse hint until the next action
    WCHAR file_name[kPathMax];
    WCHAR file_path[kPathMax];
    int32_t file_size;
    uint64_t file_stamp;  // pic_file_stamp of the file when the picture on screen was read
    int32_t export_format;

    // FileQueue: the pictures of the current folder in natural order.
    FileQueue queue;
    int32_t queue_index;
    WCHAR queue_dir[kPathMax];
    struct FolderWork *folder;  // listing, watching, thumbnails and decoding ahead (files/browse.h)

    int32_t playing;
    UINT_PTR play_timer;

    Image *image;       // the picture on screen, owned
    int32_t undo_pending; // 1 while image is still as loaded and undo_image not yet made
    Image *undo_image;  // the picture exactly as loaded, owned
    double zoom;
    int32_t fit_mode;
    int32_t fullscreen;
    WINDOWPLACEMENT saved_placement;  // before full screen
    uint32_t saved_style;
    int32_t view_x, view_y;
    GpBitmap *gp_image; // wraps image's pixels; released before image
    GpBitmap *view_cache;  // resampled copy at display size, over view_pyramid.cache_px
    int32_t view_cache_w, view_cache_h;
    HBITMAP checker_bitmap;
    int32_t checker_cell;
    ViewPyramid view_pyramid;  // box-reduced copies the cache is resampled from

    HDC back_dc;
    HBITMAP back_bitmap;
    int32_t back_w, back_h;
    int32_t mouse_x, mouse_y;

    // Crop settings panel.
    PanelItem panel_items[kPanelMax];
    int32_t panel_count;
    int32_t panel_hot_row, panel_hot_btn;
    int32_t panel_focus;
    int32_t panel_scroll, panel_scroll_max;  // how far the items above the pinned buttons are scrolled
    WCHAR panel_text[kPanelTextMax];

    int32_t compress_kb, compress_allow_downscale, compress_min_side;
    int32_t compress_format, convert_format, quality;

    // Crop tool: ratio choice, common size and the selection in picture pixels.
    int32_t crop_ratio;   // 0 free, 1 1:1, 2 4:3, 3 16:9, 4 9:16
    int32_t crop_preset;  // row of the size presets, -1 none
    int32_t sel_active;
    int32_t sel_x, sel_y, sel_w, sel_h;
    int32_t drag_mode;    // 0 idle, 1 drawing, 2 moving, 3 resizing by a handle
    int32_t drag_handle;
    int32_t drag_anchor_x, drag_anchor_y;
    int32_t drag_start_x, drag_start_y, drag_start_w, drag_start_h;
};

extern App g_app;
extern ULONG_PTR g_gdipToken;

// The undo copy is made just before the first edit, not at load: call this before
// rotating or cropping. Returns 1 when an undo copy exists afterwards.
int app_prepare_edit(App *app);
// The picture as loaded (what undo returns to): the undo copy, or the picture
// itself while it is unedited; null when there is none.
const Image *app_loaded_picture(const App *app);
// 1 while the picture on screen is the file's as loaded: no rotation or crop yet.
int app_picture_unedited(const App *app);
