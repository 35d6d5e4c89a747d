// The command set: every user action of the main window ends in app_command.
#pragma once
#include "app/app.h"

// Format index tables: 0 JPEG, 1 PNG, 2 WebP, 3 BMP, 4 TIFF.
constexpr int kFormatCount = 5;
extern const WCHAR *const kFmtName[kFormatCount];
extern const WCHAR *const kDefExt[kFormatCount];
// Compression presets, commands 120 to 125.
constexpr int kZipCount = 6;
extern const WCHAR *const kZipName[kZipCount];
extern const int kZipKB[kZipCount];

int app_command(App *app, int id);
void set_crop_mode(App *app, int mode);
void do_copy(App *app);
void do_rotate(App *app, int direction);  // 0 left, 1 right
void do_undo(App *app);
void toggle_fullscreen(App *app);
void do_compress_run(App *app, int target_kb);
// Crops the picture to the selection and saves it under a name the user picks first.
void do_crop_save(App *app);
// "%.1f KB" below 1 MiB, "%.2f MB" from 1 MiB on.
void size_text(uint32_t bytes, WCHAR *out, int cap);
// "JPEG", "PNG", … for a saved path's extension; a path without one counts as JPEG, an unknown one is "?".
const WCHAR *app_format_name(const WCHAR *path);

// Menus (commands_menu.cpp). Each shows its menu, destroys it and runs the chosen item.
int popup_under_btn(App *app, HMENU menu, int button_id);
void app_show_convert_menu(App *app);
void app_show_compress_menu(App *app);
void app_show_main_menu(App *app);
void app_show_zoom_menu(App *app);
// Right-click menus of a thumbnail (queue entry index) and of the canvas, at a screen point.
void app_show_thumb_menu(App *app, int index, POINT screen);
void app_show_canvas_menu(App *app, POINT screen);
