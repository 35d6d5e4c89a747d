#include "app/commands.h"
#include "codec/codec.h"
#include "crop/crop.h"
#include "crop/panel.h"
#include "image/resize.h"
#include "shell/modal.h"
#include "shell/util.h"
#include "ui/ui.h"
#include "view/canvas.h"
#include <shlwapi.h>
#include <cwchar>

static constexpr WCHAR kNoPicture[] = L"请先打开一张图片";
static constexpr int kCropQuality = 92;

static void repaint(App *app)
{
    if (app->hwnd) InvalidateRect(app->hwnd, nullptr, FALSE);
}

void size_text(uint32_t bytes, WCHAR *out, int cap)
{
    if (bytes < 1048576u)
        _snwprintf(out, cap - 1, L"%.1f KB", bytes / 1024.0);
    else
        _snwprintf(out, cap - 1, L"%.2f MB", bytes / 1048576.0);
    out[cap - 1] = 0;
}

void set_crop_mode(App *app, int mode)
{
    if (mode == app->crop_mode) return;
    app->crop_mode = mode;
    crop_clear(app);
    if (mode == 1) lstrcpynW(app->panel_text, L"在图上拖出要保留的区域，再点下面的按钮。", kPanelTextMax);
    ui_rebuild_toolbar(app);
    panel_rebuild(app);
    if (app->fit_mode == 1) canvas_reset(app);
    repaint(app);
    if (mode == 1)
        ui_set_status(app, L"%s", L"裁剪：在图上拖出要保留的区域 · Esc 退出");
    else
        app_browse_hint(app);
}

void do_rotate(App *app, int direction)
{
    if (!app->image) {
        ui_set_status(app, L"%s", kNoPicture);
        return;
    }
    Image *turned = image_transform(app->image, direction == 0 ? 8 : 6);
    if (!turned) {
        ui_set_status(app, L"%s", L"内存不足，旋转失败");
        return;
    }
    app_prepare_edit(app);
    Image *old = app->image;
    app->image = turned;
    canvas_sync_gp(app);
    image_free(old);
    // A selection drawn on the old orientation would cut the wrong part.
    crop_clear(app);
    canvas_reset(app);
    const WCHAR *word = direction == 0 ? L"逆时针" : L"顺时针";
    _snwprintf(app->panel_text, kPanelTextMax - 1, L"已旋转 %s 90°\n当前尺寸    %u × %u", word, turned->width,
               turned->height);
    app->panel_text[kPanelTextMax - 1] = 0;
    panel_layout(app);
    if (app->hwnd) InvalidateRect(app->hwnd, &app->rc_panel, FALSE);
    ui_set_status(app, L"已%s旋转 90°，当前 %u × %u", word, turned->width, turned->height);
    repaint(app);
}

// The name is asked for first, so that a cancelled save leaves the picture as it was.
void do_crop_save(App *app)
{
    if (!app->image) {
        ui_set_status(app, L"%s", kNoPicture);
        return;
    }
    if (!app->sel_active || app->sel_w <= 1 || app->sel_h <= 1) {
        ui_set_status(app, L"%s", L"请先在图上拖出要保留的区域");
        return;
    }
    WCHAR path[kPathMax];
    if (!util_save_dialog(app, path, kPathMax, L"crop")) return;
    if (!crop_apply_to_image(app)) {
        ui_set_status(app, L"%s", L"裁剪失败（选区无效或内存不足）");
        return;
    }
    set_crop_mode(app, 0);
    WCHAR err[600];
    if (!codec_save(app->image, path, kCropQuality, app->file_path, err, 600)) {
        ui_set_status(app, L"%s", L"保存失败");
        modal_message_box(app->hwnd, err, kAppName, MB_OK | MB_ICONWARNING);
        return;
    }
    WCHAR size[32];
    size_text((uint32_t)file_bytes(path), size, 32);
    ui_set_status(app, L"已裁剪并保存 %s（%s，%u × %u）", PathFindFileNameW(path), size, app->image->width,
                  app->image->height);
}

static void choose_ratio(App *app, int ratio)
{
    app->crop_preset = -1;
    app->crop_ratio = ratio;
    panel_rebuild(app);
    if (app->hwnd) InvalidateRect(app->hwnd, &app->rc_panel, FALSE);
    ui_set_status(app, L"%s", ratio == 0 ? L"自由比例，在图上拖动即可框选" : L"比例已锁定，在图上拖动即可框选");
}

static void choose_preset(App *app, int index)
{
    const SizePreset *row = preset_at((uint32_t)index);
    if (!row) return;
    app->crop_preset = index;
    panel_rebuild(app);
    if (app->hwnd) InvalidateRect(app->hwnd, &app->rc_panel, FALSE);
    ui_set_status(app, L"已选 %s（%s）—— 在图上拖出要保留的区域，再点「应用裁剪并保存」", row->size_text, row->label);
}

int app_command(App *app, int id)
{
    if (id >= 200 && id <= 204) {
        choose_ratio(app, id - 200);
        return 1;
    }
    if (id >= 300 && id <= 363) {
        choose_preset(app, id - 300);
        return 1;
    }
    switch (id) {
    case 9:
        set_crop_mode(app, app->crop_mode == 1 ? 0 : 1);
        return 1;
    case 10:
    case 208:
        set_crop_mode(app, 0);
        return 1;
    case 111:
    case 205:
        do_rotate(app, 0);
        return 1;
    case 112:
    case 206:
        do_rotate(app, 1);
        return 1;
    case 207:
        do_crop_save(app);
        return 1;
    }
    return 0;
}
