#include "files/nav.h"
#include "files/files.h"
#include "codec/codec.h"
#include "ui/ui.h"
#include <gdiplus.h>
#include <cstring>

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
