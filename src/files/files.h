// The folder queue: the pictures of the opened picture's folder in natural order.
#pragma once
#include "state/app_state.h"

int files_is_image_ext(const WCHAR *path);
int files_queue_add(App *app, const WCHAR *path);
int files_path_in_queue(const App *app, const WCHAR *path);
int files_dir_scan(App *app, const WCHAR *path);
int que_cmp(const void *a, const void *b);
void thumbs_release_one(App *app, int index);
void thumbs_release_all(App *app);
