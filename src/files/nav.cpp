#include "files/nav.h"
#include "files/files.h"
#include "ui/ui.h"

void nav_open_many(App *app, WCHAR **paths, int n)
{
    if (n <= 0) return;
    files_dir_scan(app, paths[0]);
    for (int i = 0; i < n; ++i)
        files_queue_add(app, paths[i]);
    int first = files_path_in_queue(app, paths[0]);
    app->queue_index = first >= 0 ? first : 0;
    app_load_no_queue(app, paths[0]);
    if (n != 1)
        ui_set_status(app, L"已加入 %d 个文件（当前目录共 %d 张，按 ← → 翻看）", n, app->queue_count);
    if (app->hwnd) InvalidateRect(app->hwnd, nullptr, FALSE);
}

void nav_thumb_release(App *app)
{
    thumbs_release_all(app);
}
