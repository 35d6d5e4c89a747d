// The folder queue of the App record, over the growable queue.
#include "files/files.h"
#include <shlwapi.h>

int files_path_in_queue(const App *app, const WCHAR *path)
{
    return queue_find(&app->queue, path);
}

int files_queue_add(App *app, const WCHAR *path)
{
    return queue_add(&app->queue, path);
}

int que_cmp(const void *a, const void *b)
{
    return queue_name_cmp(PathFindFileNameW((const WCHAR *)a), PathFindFileNameW((const WCHAR *)b));
}

int files_dir_scan(App *app, const WCHAR *path)
{
    app->queue_dir[0] = 0;
    int index;
    int count = listing_scan_file(path, &app->queue, &index);
    app->queue_index = index >= 0 ? index : count > 0 ? 0 : -1;
    listing_folder_of(path, app->queue_dir);
    return count;
}
