#include "app/commands.h"
#include "codec/codec.h"
#include "compress/compress.h"
#include "crop/crop.h"
#include "crop/panel.h"
#include "dialogs/batch.h"
#include "dialogs/dialog.h"
#include "app/nav.h"
#include "image/resize.h"
#include "online/online.h"
#include "shell/assoc.h"
#include "shell/modal.h"
#include "shell/util.h"
#include "ui/ui.h"
#include "view/canvas.h"
#include <shellapi.h>
#include <shlwapi.h>
#include <cstring>
#include <cwchar>
#include <iterator>

const WCHAR *const kFmtName[kFormatCount] = {L"JPG   最通用，体积小", L"PNG   无损，支持透明",
                                             L"WebP  同画质体积最小", L"BMP   无压缩位图", L"TIFF  印刷 / 存档"};
const WCHAR *const kDefExt[kFormatCount] = {L"jpg", L"png", L"webp", L"bmp", L"tif"};
const WCHAR *const kZipName[kZipCount] = {L"100 KB   报名系统常见上限", L"200 KB   各类上传限制",
                                          L"500 KB   微信 / QQ 发送",   L"1 MB     邮件附件",
                                          L"2 MB     邮件大附件",       L"5 MB     尽量小但仍要清晰"};
const int kZipKB[kZipCount] = {100, 200, 500, 1024, 2048, 5120};

static constexpr WCHAR kNoPicture[] = L"请先打开一张图片";
static constexpr WCHAR kPictureChanged[] = L"图片已经换了，这次操作已取消";
static constexpr int kCropQuality = 92;
static constexpr int kErrCap = 600;

// Dialogs and menus run message loops: a drop or a hand-over may replace the
// picture meanwhile. A flow notes the picture it started on and stops when it is gone.
struct PictureMark {
    const Image *image;
    WCHAR path[kPathMax];
};

static PictureMark mark_picture(const App *app)
{
    PictureMark m = {app->image, {}};
    lstrcpynW(m.path, app->file_path, kPathMax);
    return m;
}

static bool picture_kept(App *app, const PictureMark &m)
{
    if (app->image && app->image == m.image && !lstrcmpW(app->file_path, m.path)) return true;
    ui_set_status(app, L"%s", app->image ? kPictureChanged : kNoPicture);
    return false;
}

static void warn_box(App *app, const WCHAR *text)
{
    modal_message_box(app->hwnd, text, kAppName, MB_OK | MB_ICONWARNING);
}

// The update check starts as the About box opens, so its answer can arrive while it shows.
static void show_about(App *app)
{
    online_start_async(app->hwnd);
    if (util_show_about(app)) ShellExecuteW(nullptr, L"open", online_web(), nullptr, nullptr, SW_SHOWNORMAL);
}

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
    PictureMark mark = mark_picture(app);
    WCHAR path[kPathMax];
    if (!util_save_dialog(app, path, kPathMax, L"crop")) return;
    if (!picture_kept(app, mark)) return;
    if (!crop_apply_to_image(app)) {
        ui_set_status(app, L"%s", L"裁剪失败（选区无效或内存不足）");
        return;
    }
    set_crop_mode(app, 0);
    WCHAR err[kErrCap];
    if (!codec_save(app->image, path, kCropQuality, app->file_path, err, kErrCap)) {
        ui_set_status(app, L"%s", L"保存失败");
        warn_box(app, err);
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

const WCHAR *app_format_name(const WCHAR *path)
{
    static constexpr struct {
        const WCHAR *ext, *name;
    } kNames[] = {{L".jpg", L"JPEG"}, {L".jpeg", L"JPEG"}, {L".jpe", L"JPEG"}, {L".png", L"PNG"},
                  {L".bmp", L"BMP"},  {L".tif", L"TIFF"},  {L".tiff", L"TIFF"}, {L".gif", L"GIF"},
                  {L".webp", L"WebP"}};
    const WCHAR *ext = path ? PathFindExtensionW(path) : L"";
    if (!ext[0]) ext = L".jpg";
    for (const auto &n : kNames)
        if (!_wcsicmp(ext, n.ext)) return n.name;
    return L"?";
}

// CF_DIB: a 40-byte header, then the rows bottom-up as B G R A. Null and the
// status text when the block cannot be made.
static HGLOBAL dib_block(const Image *img, const WCHAR **failure)
{
    size_t row = (size_t)img->width * 4, pixels = row * img->height;
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, pixels + sizeof(BITMAPINFOHEADER));
    *failure = L"内存不足，复制失败";
    if (!block) return nullptr;
    auto *bytes = (uint8_t *)GlobalLock(block);
    *failure = L"复制失败";
    if (!bytes) return GlobalFree(block), nullptr;
    BITMAPINFOHEADER bih = {};
    bih.biSize = sizeof bih;
    bih.biWidth = (LONG)img->width;
    bih.biHeight = (LONG)img->height;
    bih.biPlanes = 1;
    bih.biBitCount = 32;
    bih.biCompression = BI_RGB;
    bih.biSizeImage = (DWORD)pixels;
    memcpy(bytes, &bih, sizeof bih);
    uint8_t *dst = bytes + sizeof bih;
    for (uint32_t y = 0; y < img->height; ++y)
        memcpy(dst + (size_t)y * row, img->data + (size_t)(img->height - 1 - y) * img->stride, row);
    GlobalUnlock(block);
    return block;
}

void do_copy(App *app)
{
    if (!app->image) {
        ui_set_status(app, L"%s", kNoPicture);
        return;
    }
    const WCHAR *failure = nullptr;
    HGLOBAL block = dib_block(app->image, &failure);
    if (!block) {
        ui_set_status(app, L"%s", failure);
        return;
    }
    if (!OpenClipboard(app->hwnd)) {
        GlobalFree(block);
        ui_set_status(app, L"%s", L"打不开剪贴板，复制失败");
        return;
    }
    EmptyClipboard();
    bool set = SetClipboardData(CF_DIB, block) != nullptr;
    if (!set) GlobalFree(block);  // the clipboard took it only on success
    CloseClipboard();
    if (set)
        ui_set_status(app, L"已复制到剪贴板（%u × %u）", app->image->width, app->image->height);
    else
        ui_set_status(app, L"%s", L"复制失败");
}

void do_undo(App *app)
{
    const Image *loaded = app_loaded_picture(app);
    if (!loaded) {
        ui_set_status(app, L"%s", L"当前没有可撤销的操作");
        return;
    }
    // An unedited picture is already the loaded one: only the view goes back.
    if (loaded != app->image) {
        Image *copy = image_clone(loaded);
        if (!copy) {
            ui_set_status(app, L"%s", L"内存不足，撤销失败");
            return;
        }
        canvas_release_gp(app);
        image_free(app->image);
        app->image = copy;
        canvas_sync_gp(app);
    }
    crop_clear(app);
    canvas_reset(app);
    ui_set_status(app, L"%s", L"已撤销，回到打开时的状态");
    repaint(app);
}

static void fullscreen_leave(App *app)
{
    app->fullscreen = 0;
    SetWindowLongW(app->hwnd, GWL_STYLE, (LONG)app->saved_style);
    SetWindowPlacement(app->hwnd, &app->saved_placement);
    SetWindowPos(app->hwnd, nullptr, 0, 0, 0, 0, SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER);
}

static void fullscreen_enter(App *app)
{
    app->saved_placement.length = sizeof app->saved_placement;
    GetWindowPlacement(app->hwnd, &app->saved_placement);
    app->saved_style = (uint32_t)GetWindowLongW(app->hwnd, GWL_STYLE);
    MONITORINFO mi = {sizeof mi};
    if (!GetMonitorInfoW(MonitorFromWindow(app->hwnd, MONITOR_DEFAULTTONEAREST), &mi)) return;
    SetWindowLongW(app->hwnd, GWL_STYLE, (LONG)((app->saved_style & ~WS_THICKFRAME) | WS_POPUP));
    // Flagged before the move: the WM_SIZE it sends must lay out without the strips.
    app->fullscreen = 1;
    const RECT &r = mi.rcMonitor;
    SetWindowPos(app->hwnd, HWND_TOP, r.left, r.top, r.right - r.left, r.bottom - r.top,
                 SWP_FRAMECHANGED | SWP_NOOWNERZORDER);
}

void toggle_fullscreen(App *app)
{
    if (!app->hwnd) return;
    if (app->fullscreen)
        fullscreen_leave(app);
    else
        fullscreen_enter(app);
    ui_layout(app, app->client_w, app->client_h);
    if (app->fit_mode == 1) canvas_reset(app);
    repaint(app);
    ui_set_status(app, L"%s", app->fullscreen ? L"全屏中 · 按 Esc 或 F11 退出" : L"滚轮缩放 · 拖动平移 · ← → 翻页");
}

static void do_open(App *app)
{
    set_crop_mode(app, 0);
    static WCHAR buffer[kOpenMaxPaths * kPathMax];
    int count = 0;
    if (!util_open_dialog_multi(app, buffer, (int)std::size(buffer), &count) || count <= 0) return;
    if (count == 1) {
        app_load(app, buffer);
    } else {
        WCHAR *list[kOpenMaxPaths];
        for (int i = 0; i < count; ++i) list[i] = buffer + i * kPathMax;
        nav_open_many(app, list, count);
    }
    app_browse_hint(app);
}

static void do_convert(App *app, int format)
{
    PictureMark mark = mark_picture(app);
    if (!dlg_run_export(app, 1, 0, format)) return;
    if (!app->image) {
        ui_set_status(app, L"%s", kNoPicture);
        return;
    }
    if (!picture_kept(app, mark)) return;
    int f = app->export_format >= 0 && app->export_format < kFormatCount ? app->export_format : 0;
    WCHAR path[kPathMax];
    if (!util_save_dialog(app, path, kPathMax, kDefExt[f])) return;
    if (!picture_kept(app, mark)) return;
    ui_set_status(app, L"%s", L"正在转换…");
    if (app->hwnd) UpdateWindow(app->hwnd);
    WCHAR err[kErrCap];
    if (!codec_save(app->image, path, app->quality, app->file_path, err, kErrCap)) {
        ui_set_status(app, L"%s", L"转换失败");
        warn_box(app, err);
        return;
    }
    WCHAR size[32];
    size_text((uint32_t)file_bytes(path), size, 32);
    ui_set_status(app, L"已转换并保存 %s（%s，%s）", PathFindFileNameW(path), app_format_name(path), size);
}

static void compress_save(App *app, int target_kb, const PictureMark &mark)
{
    // The dialog opens on the chosen format, so a PNG or WebP choice stays one.
    int f = app->compress_format >= 0 && app->compress_format < kFormatCount ? app->compress_format : 0;
    WCHAR path[kPathMax];
    if (!util_save_dialog_fmt(app, path, kPathMax, L"zip", f)) return;
    if (!picture_kept(app, mark)) return;
    const WCHAR *ext = PathFindExtensionW(path);
    if (!ext[0]) ext = L".jpg";
    int min_side = app->compress_min_side > 64 ? app->compress_min_side : 64;
    CompressParams params = {target_kb, (uint32_t)app->compress_allow_downscale, (uint32_t)min_side, 30, 95,
                             app_picture_unedited(app) ? app->file_path : nullptr};
    ui_set_status(app, L"正在压缩 %d KB…", target_kb);
    if (app->hwnd) UpdateWindow(app->hwnd);
    CompressResult result = {};
    Blob blob = {};
    WCHAR err[kErrCap];
    if (!compress_run(app->image, ext, &params, app->file_path, &result, &blob, err, kErrCap)) {
        blob_free(&blob);
        ui_set_status(app, L"%s", L"压缩失败");
        warn_box(app, err);
        return;
    }
    int written = codec_write_blob(path, &blob, err, kErrCap);
    blob_free(&blob);
    if (!written) {
        ui_set_status(app, L"%s", L"写入失败");
        warn_box(app, err);
        return;
    }
    WCHAR size[32];
    size_text((uint32_t)result.bytes, size, 32);
    const WCHAR *name = PathFindFileNameW(path);
    if (result.kept_source)
        ui_set_status(app, L"已保存 %s（%s，%u × %u）—— 已经小于目标体积，保留原图", name, size, result.width,
                      result.height);
    else if (result.target_missed)
        ui_set_status(app, L"已保存 %s（%s，%u × %u）—— 已尽力，仍超过 %d KB", name, size, result.width,
                      result.height, target_kb);
    else
        ui_set_status(app, L"已压缩并保存 %s（%s，%u × %u，质量 %d）", name, size, result.width, result.height,
                      (int)result.quality);
}

void do_compress_run(App *app, int target_kb)
{
    if (!app->image) {
        ui_set_status(app, L"%s", kNoPicture);
        return;
    }
    compress_save(app, target_kb, mark_picture(app));
}

// The picture is noted before the dialog, whose estimate was made for it.
static void do_compress(App *app, int id)
{
    PictureMark mark = mark_picture(app);
    int size = id == 130 ? app->compress_kb : kZipKB[id - 120];
    if (!dlg_run_export(app, 0, size, app->compress_format)) return;
    if (!picture_kept(app, mark)) return;
    compress_save(app, app->compress_kb, mark);
}

static void do_assoc(App *app, int install)
{
    static constexpr const WCHAR *kText[2][2] = {
        {L"清理时有几项没删掉，可能被占用。稍后再试一次。",
         L"已经从「打开方式」列表里移除本程序。\n（如果之前把本程序设成了默认，请到系统设置里改回别的看图工具。）"},
        {L"注册没成功（可能是系统策略禁止写入）。\n\n你仍然可以手动关联：右键图片 → 打开方式 → 选择其他应用\n"
         L"→ 浏览到 Veldmoor.exe → 勾上「始终使用此应用」。",
         L"已经加进「打开方式」列表。\n\n接下来：随便找一张图片 → 右键 → 打开方式 → 选择其他应用\n"
         L"→ 选「Veldmoor」→ 勾上「始终使用此应用」。\n\n想更省事就点下一步的「设为默认看图工具」。"}};
    int ok = install ? assoc_install() : assoc_remove();
    modal_message_box(app->hwnd, kText[install][ok ? 1 : 0], kAppName,
                      MB_OK | (ok ? MB_ICONINFORMATION : MB_ICONWARNING));
}

static void page(App *app, int delta)
{
    nav_step(app, delta);
    app_browse_hint(app);
}

static void fit(App *app, int actual)
{
    if (actual)
        canvas_actual(app);
    else
        canvas_reset(app);
    repaint(app);
}

static void need_picture_menu(App *app, void (*show)(App *))
{
    if (app->image)
        show(app);
    else
        ui_set_status(app, L"%s", kNoPicture);
}

static void goto_thumb(App *app, int index)
{
    set_crop_mode(app, 0);
    nav_goto(app, index);
    app_browse_hint(app);
}

static int range_command(App *app, int id)
{
    if (id >= 100 && id <= 104) do_convert(app, id - 100);
    else if (id >= 120 && id <= 125) do_compress(app, id);
    else if (id >= 200 && id <= 204) choose_ratio(app, id - 200);
    else if (id >= 300 && id <= 363) choose_preset(app, id - 300);
    else if (id >= 1000 && id < 1000 + kQueueMax) goto_thumb(app, id - 1000);
    else return 0;
    return 1;
}

static void window_command(App *app, int id)
{
    if (!app->hwnd) return;
    if (id == 13) ShowWindow(app->hwnd, SW_MINIMIZE);
    if (id == 14) ShowWindow(app->hwnd, app->maximized ? SW_RESTORE : SW_MAXIMIZE);
    if (id == 15) PostMessageW(app->hwnd, WM_CLOSE, 0, 0);
}

int app_command(App *app, int id)
{
    app->load_failed = 0;
    if (range_command(app, id)) return 1;
    switch (id) {
    case 1: do_open(app); break;
    case 2: util_print_image(app, app->image); break;
    case 3: case 110: do_copy(app); break;
    case 4: nav_delete_current(app); break;
    case 5: do_undo(app); break;
    case 6: show_about(app); break;
    case 7: need_picture_menu(app, app_show_convert_menu); break;
    case 8: need_picture_menu(app, app_show_compress_menu); break;
    case 9: set_crop_mode(app, app->crop_mode == 1 ? 0 : 1); break;
    case 10: case 208: set_crop_mode(app, 0); break;
    case 11: app_show_main_menu(app); break;
    case 12: batch_run(app); break;
    case 13: case 14: case 15: window_command(app, id); break;
    case 21: app_show_zoom_menu(app); break;
    case 22: case 54: zoom_center(app, 0.8); break;
    case 23: case 53: zoom_center(app, 1.25); break;
    case 24: case 51: fit(app, 0); break;
    case 25: case 52: fit(app, 1); break;
    case 26: case 56: page(app, -1); break;
    case 27: case 55: page(app, 1); break;
    case 28: nav_play_toggle(app); break;
    case 29: case 57: toggle_fullscreen(app); break;
    case 111: case 205: do_rotate(app, 0); break;
    case 112: case 206: do_rotate(app, 1); break;
    case 113: set_crop_mode(app, 1); break;
    case 130: do_compress(app, 130); break;
    case 140: do_assoc(app, 1); break;
    case 141: do_assoc(app, 0); break;
    case 142: assoc_install(); assoc_open_default_apps(); break;
    case 207: do_crop_save(app); break;
    default: return 0;
    }
    return 1;
}
