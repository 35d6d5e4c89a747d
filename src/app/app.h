// The one application state record and the loading operations every part uses.
#pragma once
#include <windows.h>
#include "image/image.h"

namespace Gdiplus { class GpBitmap; }  // GDI+ flat-API bitmap
using Gdiplus::GpBitmap;

constexpr int kQueueMax = 64;
constexpr int kPathMax = 260;
constexpr int kStatusMax = 512;
constexpr int kCliMaxPaths = 32;

constexpr WCHAR kAppName[] = L"Veldmoor";
constexpr WCHAR kMainClass[] = L"Veldmoor.MainWnd";
constexpr WCHAR kMutexName[] = L"Veldmoor.SingleInstance";
constexpr uint32_t kHandoverMagic = 0x524D4456;  // "VDMR"
constexpr uint32_t kHandoverVersion = 1;

struct App {
    HINSTANCE instance;
    HWND hwnd;
    int32_t dpi;
    HFONT font_text, font_bold, font_small, font_large;
    int32_t client_w, client_h;

    int32_t crop_mode;
    WCHAR status[kStatusMax];
    WCHAR file_name[kPathMax];
    WCHAR file_path[kPathMax];
    int32_t file_size;
    int32_t export_format;

    // FileQueue: the pictures of the current folder in natural order.
    WCHAR queue_paths[kQueueMax][kPathMax];
    int32_t queue_count;
    int32_t queue_index;
    WCHAR queue_dir[kPathMax];
    GpBitmap *thumb_bitmap[kQueueMax];
    int32_t thumb_ready_a[kQueueMax];
    int32_t thumb_ready_b[kQueueMax];
    int32_t thumb_failed[kQueueMax];

    int32_t playing;
    UINT_PTR play_timer;

    Image *image;       // the picture on screen, owned
    int32_t undo_pending; // 1 while image is still as loaded and undo_image not yet made
    Image *undo_image;  // the picture exactly as loaded, owned
    GpBitmap *gp_image; // wraps image's pixels; released before image

    HDC back_dc;
    HBITMAP back_bitmap;
    int32_t back_w, back_h;

    int32_t compress_kb, compress_allow_downscale, compress_min_side;
    int32_t compress_format, convert_format, quality;
};

extern App g_app;
extern ULONG_PTR g_gdipToken;

// Start-up pieces, callable from tests as from WinMain.
void app_init_record(App *app, HINSTANCE instance);
int app_register_class(HINSTANCE instance);
HWND app_create_main_window(App *app);
LRESULT CALLBACK app_wndproc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);

int cli_collect_paths(WCHAR *out[kCliMaxPaths]);
// Same rules on an explicit argument list (argv[0] included, as the command line gives it).
int cli_collect_from_args(int argc, WCHAR **argv, WCHAR *out[kCliMaxPaths]);

void app_load(App *app, const WCHAR *path);
void app_load_no_queue(App *app, const WCHAR *path);
int32_t file_bytes(const WCHAR *path);
void app_browse_hint(App *app);
void app_release_picture(App *app);
// The undo copy is made just before the first edit, not at load: call this before
// rotating or cropping. Returns 1 when an undo copy exists afterwards.
int app_prepare_edit(App *app);
// The picture as loaded (what undo returns to): the undo copy, or the picture
// itself while it is unedited; null when there is none.
const Image *app_loaded_picture(const App *app);
int app_main(HINSTANCE instance);

// Hand-over between instances.
int handover_build(WCHAR **paths, int count, uint8_t **block, uint32_t *size);
int handover_parse(const void *data, uint32_t size, WCHAR out[kCliMaxPaths][kPathMax]);
// Second instance: hands the command-line pictures to the running window; returns the exit code.
int handover_send_paths();
// Sends a prepared block to the running window, restoring it if the block is not taken; returns the exit code.
int handover_deliver(const uint8_t *block, uint32_t size);
