#include "app/nav.h"
#include "files/browse.h"
#include "files/files.h"
#include "codec/codec.h"
#include "shell/modal.h"
#include "shell/util.h"
#include "ui/ui.h"
#include <shlwapi.h>
#include <cstring>
#include <cwchar>

static constexpr WCHAR kOnlyOne[] = L"这个目录里只有这一张图片";
static constexpr WCHAR kNothingOpen[] = L"还没有打开图片";
static constexpr int kSlideshowSeconds = 2;

// Same result as adding or subtracting count until inside, without the loop.
static int wrap_index(long long index, int count)
{
    index %= count;
    return (int)(index < 0 ? index + count : index);
}

// Shows entry index (already wrapped): from the decode-ahead cache when the worker has it.
static void load_entry(App *app, int index)
{
    WCHAR path[kPathMax];
    lstrcpynW(path, queue_path(&app->queue, index), kPathMax);
    app->queue_index = index;
    uint64_t stamp = pic_file_stamp(path);
    ImagePyramid copies;
    Image *ahead = browse_take_ahead(app, path, stamp, &copies);
    if (_wcsicmp(app->file_path, path)) app_keep_shown(app);
    if (ahead)
        app_show_picture(app, path, ahead, stamp, &copies);
    else
        app_load_no_queue(app, path);
    browse_after_show(app);
}

// Same, unless it is the picture on screen.
static void show_entry(App *app, int index)
{
    if (index == app->queue_index && app->image) return;
    load_entry(app, index);
}

int nav_goto(App *app, int index)
{
    if (app->queue.count <= 0) return 0;
    show_entry(app, wrap_index(index, app->queue.count));
    return 1;
}

static void status_too_few(App *app)
{
    if (browse_listing(app))
        ui_set_status(app, L"%s", kListingHint);
    else
        ui_set_status(app, L"%s", app->queue.count == 1 ? kOnlyOne : kNothingOpen);
}

int nav_step(App *app, int delta)
{
    if (app->queue.count < 2) {
        status_too_few(app);
        return 0;
    }
    if (FolderWork *w = browse_work(app)) w->step = delta < 0 ? -1 : 1;
    show_entry(app, wrap_index((long long)app->queue_index + delta, app->queue.count));
    return 1;
}

void nav_open_many(App *app, WCHAR **paths, int n)
{
    if (n <= 0) return;
    browse_open(app, paths[0]);
    for (int i = 0; i < n; ++i)
        files_queue_add(app, paths[i]);
    int first = files_path_in_queue(app, paths[0]);
    app->queue_index = first >= 0 ? first : 0;
    app_load_no_queue(app, paths[0]);
    browse_after_show(app);
    if (n != 1)
        ui_set_status(app, L"已加入 %d 个文件（当前目录共 %d 张，按 ← → 翻看）", n, app->queue.count);
    if (app->hwnd) InvalidateRect(app->hwnd, nullptr, FALSE);
}

// Takes entry index out of the queue; what the caches hold of it goes with it.
static void take_out(App *app, int index)
{
    browse_forget(app, queue_path(&app->queue, index));
    queue_remove(&app->queue, index);
}

static void after_removal(App *app, int removed, bool was_shown, const WCHAR *name)
{
    if (app->queue.count == 0) {
        app->queue_index = -1;
        app->file_name[0] = 0;
        app->file_path[0] = 0;
        util_set_title(app);
        ui_set_status(app, L"已删除 %s，目录里没有其它图片了", name);
        if (app->hwnd) InvalidateRect(app->hwnd, nullptr, FALSE);
        return;
    }
    if (was_shown) {
        int next = removed < app->queue.count ? removed : app->queue.count - 1;
        app->queue_index = -1;
        show_entry(app, next);
    } else if (app->queue_index > removed) {
        --app->queue_index;  // another picture is on screen: it keeps its place
    }
    ui_set_status(app, L"已把 %s 放进回收站（剩 %d 张）", name, app->queue.count);
}

int nav_delete_current(App *app)
{
    if (!app->image || app->queue_index < 0 || app->queue_index >= app->queue.count) {
        ui_set_status(app, L"%s", kNothingOpen);
        return 0;
    }
    return nav_delete_entry(app, app->queue_index);
}

int nav_delete_entry(App *app, int entry)
{
    if (entry < 0 || entry >= app->queue.count) return 0;
    // The question pumps messages: keep the path it names, not the index.
    WCHAR path[kPathMax], name[300], question[400];
    lstrcpynW(path, queue_path(&app->queue, entry), kPathMax);
    lstrcpynW(name, PathFindFileNameW(path), 300);
    _snwprintf(question, 399, L"要把「%s」放进回收站吗？\n\n（可以在回收站里还原）", name);
    question[399] = 0;
    if (modal_message_box(app->hwnd, question, L"删除图片", MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) != IDYES)
        return 0;

    int index = files_path_in_queue(app, path);
    bool shown = index >= 0 && index == app->queue_index;
    bool held = shown || !_wcsicmp(app->file_path, path);
    if (held) app_load_no_queue(app, L"");  // let go of the file
    if (!util_recycle_file(app->hwnd, path)) {
        ui_set_status(app, L"删除失败：%s", name);
        if (held) app_load_no_queue(app, path);
        return 0;
    }
    if (index >= 0) {
        take_out(app, index);
        after_removal(app, index, shown, name);
        return 1;
    }
    // The queue was rebuilt meanwhile: nothing to take out of it.
    if (held) {
        app->file_name[0] = app->file_path[0] = 0;
        util_set_title(app);
    }
    ui_set_status(app, L"已把 %s 放进回收站（剩 %d 张）", name, app->queue.count);
    return 1;
}

void nav_shown_gone(App *app)
{
    WCHAR name[kPathMax];
    lstrcpynW(name, app->file_name, kPathMax);
    if (app->queue.count == 0 || app->queue_index < 0) {
        app_load_no_queue(app, L"");
        app->file_name[0] = app->file_path[0] = 0;
        util_set_title(app);
        ui_set_status(app, L"%s 已被其它程序移走，文件夹里没有其它图片了", name);
        return;
    }
    load_entry(app, app->queue_index);
    if (app->image) ui_set_status(app, L"%s 已被其它程序移走，现在显示下一张", name);
}

int nav_play_toggle(App *app)
{
    if (app->playing) {
        if (app->play_timer) KillTimer(app->hwnd, app->play_timer);
        app->play_timer = 0;
        app->playing = 0;
        ui_set_status(app, L"%s", L"已停止播放");
        return 1;
    }
    if (app->queue.count <= 1) {
        ui_set_status(app, L"%s", L"这个目录里只有一张图片，没什么可放的");
        return 0;
    }
    UINT_PTR timer = SetTimer(app->hwnd, kTimerSlideshow, kSlideshowMs, play_proc);
    if (!timer) {
        ui_set_status(app, L"%s", L"定时器创建失败，无法播放");
        return 0;
    }
    app->play_timer = timer;
    app->playing = 1;
    ui_set_status(app, L"幻灯片播放中（每 %d 秒一张，再点一次停止）", kSlideshowSeconds);
    return 1;
}

void CALLBACK play_proc(HWND hwnd, UINT msg, UINT_PTR id, DWORD time)
{
    // A failed load opens a message box whose loop would run the next ticks
    // inside this one; a question or dialog that is open must keep its picture.
    static int running;
    App *app = (App *)GetWindowLongPtrW(hwnd, GWLP_USERDATA);
    if (!app || !app->playing || running || modal_depth() > 0) return;
    running = 1;
    if (app->queue.count < 2)
        status_too_few(app);
    else
        show_entry(app, wrap_index((long long)app->queue_index + 1, app->queue.count));
    running = 0;
}

void nav_thumb_release(App *app)
{
    browse_close(app);
    queue_free(&app->queue);
    app->queue_index = -1;
}

int nav_key(App *app, WPARAM key)
{
    bool paging = key == VK_LEFT || key == VK_PRIOR || key == VK_RIGHT || key == VK_NEXT;
    if (!paging && key != VK_SPACE && key != VK_DELETE) return 0;
    if (app->crop_mode) return 1;
    if (key == VK_SPACE) {
        nav_play_toggle(app);
    } else if (key == VK_DELETE) {
        nav_delete_current(app);
    } else {
        nav_step(app, key == VK_LEFT || key == VK_PRIOR ? -1 : 1);
        app_browse_hint(app);
    }
    return 1;
}
