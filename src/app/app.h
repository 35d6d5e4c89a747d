// The program's top: start-up, loading, the window procedure and the hand-over between instances.
#pragma once
#include "app/handover_block.h"
#include "state/app_state.h"

// Start-up pieces, callable from tests as from WinMain.
void app_init_record(App *app, HINSTANCE instance);
int app_register_class(HINSTANCE instance);
HWND app_create_main_window(App *app);
LRESULT CALLBACK app_wndproc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);

int cli_collect_paths(WCHAR *out[kCliMaxPaths]);
// One argument or dropped name as the command line takes it (a folder gives its first picture); 1 when taken.
int cli_take_path(const WCHAR *arg, WCHAR *slot);
// Same rules on an explicit argument list (argv[0] included, as the command line gives it).
int cli_collect_from_args(int argc, WCHAR **argv, WCHAR *out[kCliMaxPaths]);

void app_load(App *app, const WCHAR *path);
void app_load_no_queue(App *app, const WCHAR *path);
// Shows a picture decoded elsewhere, read when the file had stamp (pic_file_stamp), as a load
// of path would; ownership of it and its reduced copies passes.
void app_show_picture(App *app, const WCHAR *path, Image *img, uint64_t stamp, ImagePyramid *copies);
// Paging on: the unedited picture on screen goes to the pictures decoded ahead instead of
// being freed, since it is a neighbour of the next one.
void app_keep_shown(App *app);
int32_t file_bytes(const WCHAR *path);
void app_browse_hint(App *app);
// The browse hint while the folder is still being listed.
constexpr WCHAR kListingHint[] = L"正在读取这个文件夹里的图片…";
void app_release_picture(App *app);
int app_main(HINSTANCE instance);

// Hand-over between instances.
int handover_build(WCHAR **paths, int count, uint8_t **block, uint32_t *size);
int handover_parse(const void *data, uint32_t size, WCHAR out[kCliMaxPaths][kPathMax]);
// Second instance: hands the command-line pictures to the running window; returns the exit code.
int handover_send_paths();
// Sends a prepared block to the running window, restoring it if the block is not taken; returns the exit code.
int handover_deliver(const uint8_t *block, uint32_t size);
