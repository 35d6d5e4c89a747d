// The folder queue of the App record: the pictures of the opened picture's folder in natural order.
#pragma once
#include "state/app_state.h"
#include "files/listing.h"

int files_queue_add(App *app, const WCHAR *path);
int files_path_in_queue(const App *app, const WCHAR *path);
// Rebuilds the queue from the folder of path on the caller's thread; the new count.
int files_dir_scan(App *app, const WCHAR *path);
// Natural order of two paths by their file-name parts.
int que_cmp(const void *a, const void *b);
