#include "app/nav.h"
#include "files/files.h"
#include "codec/codec.h"
#include "shell/modal.h"
#include "shell/util.h"
#include "ui/ui.h"
#include <gdiplus.h>
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

// Shows entry index (already wrapped) unless it is the picture on screen.
static void show_entry(App *app, int index)
{
    if (index == app->queue_index && app->image) return;
    WCHAR path[kPathMax];
    lstrcpynW(path, app->queue_paths[index], kPathMax);
    app->queue_index = index;
    app_load_no_queue(app, path);
}

int nav_goto(App *app, int index)
{
    if (app->queue_count <= 0) return 0;
    show_entry(app, wrap_index(index, app->queue_count));
    return 1;
}

static void status_too_few(App *app)
{
    ui_set_status(app, L"%s", app->queue_count == 1 ? kOnlyOne : kNothingOpen);
}

int nav_step(App *app, int delta)
{
    if (app->queue_count < 2) {
        status_too_few(app);
        return 0;
    }
    show_entry(app, wrap_index((long long)app->queue_index + delta, app->queue_count));
    return 1;
}

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

// Takes entry index out of the queue; its thumbnail goes with it.
static void queue_remove(App *app, int index)
{
    thumbs_release_one(app, index);
    int last = app->queue_count - 1;
    for (int i = index; i < last; ++i) {
        lstrcpynW(app->queue_paths[i], app->queue_paths[i + 1], kPathMax);
        app->thumb_bitmap[i] = app->thumb_bitmap[i + 1];
        app->thumb_ready_a[i] = app->thumb_ready_a[i + 1];
        app->thumb_ready_b[i] = app->thumb_ready_b[i + 1];
        app->thumb_failed[i] = app->thumb_failed[i + 1];
    }
    app->queue_paths[last][0] = 0;
    app->thumb_bitmap[last] = nullptr;
    app->thumb_ready_a[last] = app->thumb_ready_b[last] = 0;
    app->thumb_failed[last] = 0;
    app->queue_count = last;
}

static void after_removal(App *app, int removed, bool was_shown, const WCHAR *name)
{
    if (app->queue_count == 0) {
        app->queue_index = -1;
        app->file_name[0] = 0;
        app->file_path[0] = 0;
        util_set_title(app);
        ui_set_status(app, L"已删除 %s，目录里没有其它图片了", name);
        if (app->hwnd) InvalidateRect(app->hwnd, nullptr, FALSE);
        return;
    }
    if (was_shown) {
        int next = removed < app->queue_count ? removed : app->queue_count - 1;
        app->queue_index = -1;
        show_entry(app, next);
    } else if (app->queue_index > removed) {
        --app->queue_index;  // another picture is on screen: it keeps its place
    }
    ui_set_status(app, L"已把 %s 放进回收站（剩 %d 张）", name, app->queue_count);
}

int nav_delete_current(App *app)
{
    if (!app->image || app->queue_index < 0 || app->queue_index >= app->queue_count) {
        ui_set_status(app, L"%s", kNothingOpen);
        return 0;
    }
    // The question pumps messages: keep the path it names, not the index.
    WCHAR path[kPathMax], name[300], question[400];
    lstrcpynW(path, app->queue_paths[app->queue_index], kPathMax);
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
        queue_remove(app, index);
        after_removal(app, index, shown, name);
        return 1;
    }
    // The queue was rebuilt meanwhile: nothing to take out of it.
    if (held) {
        app->file_name[0] = app->file_path[0] = 0;
        util_set_title(app);
    }
    ui_set_status(app, L"已把 %s 放进回收站（剩 %d 张）", name, app->queue_count);
    return 1;
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
    if (app->queue_count <= 1) {
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
    if (app->queue_count < 2)
        status_too_few(app);
    else
        show_entry(app, wrap_index((long long)app->queue_index + 1, app->queue_count));
    running = 0;
}

void nav_thumb_release(App *app)
{
    thumbs_release_all(app);
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

static GpBitmap *thumb_to_bitmap(const Image *thumb)
{
    using namespace Gdiplus::DllExports;
    GpBitmap *bitmap = nullptr;
    if (GdipCreateBitmapFromScan0((INT)thumb->width, (INT)thumb->height, 0, PixelFormat32bppARGB, nullptr,
                                  &bitmap) != Gdiplus::Ok)
        return nullptr;
    Gdiplus::Rect all(0, 0, (INT)thumb->width, (INT)thumb->height);
    Gdiplus::BitmapData data;
    if (GdipBitmapLockBits(bitmap, &all, Gdiplus::ImageLockModeWrite, PixelFormat32bppARGB, &data) != Gdiplus::Ok) {
        GdipDisposeImage(bitmap);
        return nullptr;
    }
    for (uint32_t y = 0; y < thumb->height; ++y)
        memcpy((uint8_t *)data.Scan0 + (size_t)y * data.Stride, thumb->data + (size_t)y * thumb->stride,
               (size_t)thumb->width * 4);
    GdipBitmapUnlockBits(bitmap, &data);
    return bitmap;
}

GpBitmap *nav_thumb_bitmap(App *app, int index)
{
    if (index < 0 || index >= app->queue_count) return nullptr;
    if (app->thumb_bitmap[index] && app->thumb_ready_a[index] > 0 && app->thumb_ready_b[index] > 0)
        return app->thumb_bitmap[index];
    if (app->thumb_failed[index]) return nullptr;
    if (app->thumb_budget_on) {
        if (app->thumb_budget < 1) {
            app->thumb_pending = 1;
            return nullptr;
        }
        --app->thumb_budget;
    }
    WCHAR err[300];
    Image *thumb = codec_load_thumb(app->queue_paths[index], 96, err, 300);
    if (!thumb || !thumb->width || !thumb->height) {
        image_free(thumb);
        app->thumb_failed[index] = 1;
        return nullptr;
    }
    // A GDI+ failure is not the file's fault: the entry is tried again on a later paint.
    GpBitmap *bitmap = thumb_to_bitmap(thumb);
    image_free(thumb);
    if (!bitmap) return nullptr;
    if (app->thumb_bitmap[index]) Gdiplus::DllExports::GdipDisposeImage(app->thumb_bitmap[index]);
    app->thumb_bitmap[index] = bitmap;
    app->thumb_ready_a[index] = app->thumb_ready_b[index] = 1;
    return bitmap;
}
