// The command set: every user action of the main window ends in app_command.
#pragma once
#include "app/app.h"

int app_command(App *app, int id);
void set_crop_mode(App *app, int mode);
void do_rotate(App *app, int direction);  // 0 left, 1 right
// Crops the picture to the selection and saves it under a name the user picks first.
void do_crop_save(App *app);
// "%.1f KB" below 1 MiB, "%.2f MB" from 1 MiB on.
void size_text(uint32_t bytes, WCHAR *out, int cap);
