// Shell utilities: the open and save dialogs, default output names, the
// recycle bin, printing, the About box and the window title.
#pragma once
#include "state/app_state.h"

// Save-filter order: index i here is filter index i + 1 of the save dialog.
static constexpr const WCHAR *kSaveExt[] = {L"jpg", L"png", L"webp", L"bmp", L"tif"};
static constexpr const WCHAR *kSaveTag[] = {L"转jpg", L"转png", L"转webp", L"转bmp", L"转tif"};
static_assert(sizeof kSaveExt / sizeof kSaveExt[0] == sizeof kSaveTag / sizeof kSaveTag[0]);

// Multi-selection results: path k in the 260-unit slot starting at k * 260.
constexpr int kOpenMaxPaths = 32;

int util_open_dialog_multi(App *app, WCHAR *buffer, int capacity, int *out_count);
int util_open_dialog_multi_owner(App *app, HWND owner, WCHAR *buffer, int capacity, int *out_count);
int util_open_dialog(App *app, WCHAR *buffer, int capacity);
void util_fmt_tag(const WCHAR *op, int *out_index, WCHAR *buffer, size_t capacity);
void util_default_save_name(const WCHAR *source_name, const WCHAR *op, WCHAR *buffer, size_t capacity);
int util_save_dialog(App *app, WCHAR *buffer, int capacity, const WCHAR *op);
// The same dialog opened on the filter and extension of a format index (0 JPEG … 4 TIFF); -1 derives it from op.
int util_save_dialog_fmt(App *app, WCHAR *buffer, int capacity, const WCHAR *op, int format);
int util_recycle_file(HWND owner, const WCHAR *path);
int util_print_image(App *app, const Image *image);
// Shows the About box; 1 when the user asks for the product page.
int util_show_about(App *app);
// The About text with the product name and version filled in.
void util_about_text(WCHAR *buffer, int capacity);
void util_set_title(App *app);
