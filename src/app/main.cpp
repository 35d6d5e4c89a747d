// Start-up, the main window's life cycle and loading pictures.
#include "app/app.h"
#include "app/crash.h"
#include "app/commands.h"
#include "app/switches.h"
#include "app/wndproc.h"
#include "codec/codec.h"
#include "dialogs/dialog.h"
#include "crop/crop.h"
#include "crop/panel.h"
#include "files/browse.h"
#include "files/files.h"
#include "app/nav.h"
#include "online/online.h"
#include "shell/modal.h"
#include "shell/util.h"
#include "ui/ui.h"
#include "view/canvas.h"
#include <dwmapi.h>
#include <windowsx.h>
#include <gdiplus.h>
#include <shellapi.h>
#include <shlwapi.h>
#include <cwchar>

App g_app;
ULONG_PTR g_gdipToken;

static constexpr int kWindowWidth = 1100;
static constexpr int kWindowHeight = 720;

static void parts_reset(App *app)
{
    panel_defaults(app);
    panel_rebuild(app);
}

static void parts_paint(App *app, HDC dc)
{
    canvas_paint(app, dc);
    crop_paint(app, dc);
    panel_paint(app, dc);
}

void app_init_record(App *app, HINSTANCE instance)
{
    ZeroMemory(app, sizeof *app);
    app->hooks = {parts_reset, panel_layout, parts_paint, app_command, modal_depth};
    app->instance = instance;
    app->dpi = 96;
    app->queue_index = -1;
}

int app_register_class(HINSTANCE instance)
{
    WNDCLASSEXW wc = {sizeof wc};
    wc.style = CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS;
    wc.lpfnWndProc = app_wndproc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(101));
    if (!wc.hIcon) wc.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
    wc.hIconSm = wc.hIcon;
    wc.lpszClassName = kMainClass;
    return RegisterClassExW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

HWND app_create_main_window(App *app)
{
    int x = (GetSystemMetrics(SM_CXSCREEN) - kWindowWidth) / 2;
    int y = (GetSystemMetrics(SM_CYSCREEN) - kWindowHeight) / 2;
    HWND hwnd = CreateWindowExW(0, kMainClass, kAppName, WS_POPUP | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX,
                                x, y, kWindowWidth, kWindowHeight, nullptr, nullptr, app->instance, app);
    app->hwnd = hwnd;
    // Wine keeps the frame at creation; a frame change gives the whole window to the client.
    if (hwnd)
        SetWindowPos(hwnd, nullptr, 0, 0, 0, 0,
                     SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    return hwnd;
}

static void fatal_box(const WCHAR *text)
{
    modal_message_box(nullptr, text, kAppName, MB_OK | MB_ICONERROR);
}

static void run_first_instance(App *app)
{
    ShowWindow(app->hwnd, SW_SHOW);
    UpdateWindow(app->hwnd);
    RECT rc;
    GetClientRect(app->hwnd, &rc);
    ui_layout(app, rc.right - rc.left, rc.bottom - rc.top);

    WCHAR *paths[kCliMaxPaths];
    int count = cli_collect_paths(paths);
    if (count == 1)
        app_load(app, paths[0]);
    else if (count > 1)
        nav_open_many(app, paths, count);
    if (count > 0) app_browse_hint(app);
    ui_refresh_toolbar(app);
    InvalidateRect(app->hwnd, nullptr, FALSE);
}

static int message_loop()
{
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return (int)msg.wParam;
}

int app_main(HINSTANCE instance)
{
    App *app = &g_app;
    app_init_record(app, instance);
    crash_install();
    // The setup program's jobs run before the instance check: a running window must not take them.
    int switch_code = 0;
    if (switch_take_command_line(&switch_code)) return switch_code;

    HANDLE mutex = CreateMutexW(nullptr, FALSE, kMutexName);
    if (mutex && GetLastError() == ERROR_ALREADY_EXISTS) {
        handover_send_paths();
        CloseHandle(mutex);
        return 0;
    }

    Gdiplus::GdiplusStartupInput gdip_input;
    if (Gdiplus::GdiplusStartup(&g_gdipToken, &gdip_input, nullptr) != Gdiplus::Ok) {
        fatal_box(L"GDI+ 初始化失败，程序无法启动。");
        if (mutex) CloseHandle(mutex);
        return 1;
    }
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

    int exit_code = 1;
    if (!app_register_class(instance)) {
        fatal_box(L"窗口类注册失败。");
    } else if (!app_create_main_window(app)) {
        fatal_box(L"窗口创建失败。");
    } else {
        run_first_instance(app);
        exit_code = message_loop();
    }

    ex_wait_orphans();
    codec_shutdown();
    CoUninitialize();
    Gdiplus::GdiplusShutdown(g_gdipToken);
    if (mutex) CloseHandle(mutex);
    return exit_code;
}

// GetDpiForWindow exists from Windows 10 1607 on; older systems fall back to the DC.
static int window_dpi(HWND hwnd)
{
    using GetDpiForWindowFn = UINT(WINAPI *)(HWND);
    auto get_dpi = (GetDpiForWindowFn)(void *)GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow");
    if (get_dpi) {
        UINT dpi = get_dpi(hwnd);
        if (dpi > 71) return (int)dpi;
    }
    int dpi = 96;
    if (HDC dc = GetDC(hwnd)) {
        dpi = GetDeviceCaps(dc, LOGPIXELSX);
        ReleaseDC(hwnd, dc);
    }
    return dpi < 72 ? 96 : dpi;
}

static void apply_dark_frame(HWND hwnd)
{
    BOOL dark = TRUE;
    if (FAILED(DwmSetWindowAttribute(hwnd, 20, &dark, sizeof dark)))
        DwmSetWindowAttribute(hwnd, 19, &dark, sizeof dark);
    int round = 2;
    DwmSetWindowAttribute(hwnd, 33, &round, sizeof round);
    MARGINS margins = {0, 0, 0, 0};
    DwmExtendFrameIntoClientArea(hwnd, &margins);
}

void app_on_create(App *app, HWND hwnd)
{
    app->hwnd = hwnd;
    app->dpi = window_dpi(hwnd);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, (LONG_PTR)app);
    apply_dark_frame(hwnd);
    ui_init(app);
    DragAcceptFiles(hwnd, TRUE);
    util_set_title(app);
}

// The picture and its undo copy; the canvas must have let go of the picture first.
static void free_picture(App *app)
{
    image_free(app->image);
    app->image = nullptr;
    image_free(app->undo_image);
    app->undo_image = nullptr;
    app->undo_pending = 0;
}

void app_release_picture(App *app)
{
    canvas_release_gp(app);
    free_picture(app);
}

void app_on_destroy(App *app)
{
    if (app->play_timer) {
        KillTimer(app->hwnd, app->play_timer);
        app->play_timer = 0;
    }
    KillTimer(app->hwnd, kTimerTooltip);
    KillTimer(app->hwnd, kTimerHoverMenu);
    DragAcceptFiles(app->hwnd, FALSE);
    nav_thumb_release(app);
    app_release_picture(app);
    ui_destroy(app);
    PostQuitMessage(0);
}

LRESULT app_on_copydata(App *app, HWND hwnd, WPARAM wp, LPARAM lp)
{
    auto *cds = (const COPYDATASTRUCT *)lp;
    if (!cds || cds->dwData != (ULONG_PTR)kHandoverMagic)
        return DefWindowProcW(hwnd, WM_COPYDATA, wp, lp);
    WCHAR paths[kCliMaxPaths][kPathMax];
    int count = handover_parse(cds->lpData, cds->cbData, paths);
    if (count <= 0) return DefWindowProcW(hwnd, WM_COPYDATA, wp, lp);

    WCHAR *list[kCliMaxPaths];
    for (int i = 0; i < count; ++i) list[i] = paths[i];
    set_crop_mode(app, 0);
    if (count == 1)
        app_load(app, list[0]);
    else
        nav_open_many(app, list, count);
    app_browse_hint(app);
    if (IsIconic(hwnd)) ShowWindow(hwnd, SW_RESTORE);
    SetForegroundWindow(hwnd);
    return 1;
}

void app_browse_hint(App *app)
{
    if (app->load_failed && !app->image) return;
    if (app->queue.count > 1)
        ui_set_status(app, L"%s", L"滚轮缩放 · 拖动平移 · ← → 翻页");
    else if (browse_listing(app))
        ui_set_status(app, L"%s", kListingHint);
    else if (app->queue.count == 1)
        ui_set_status(app, L"%s", L"这个目录里只有这一张图片");
    else
        ui_set_status(app, L"%s", L"把图片拖进来，或双击打开、按 Ctrl+O");
}

static int32_t open_file_size(const WCHAR *path, DWORD share)
{
    HANDLE f = CreateFileW(path, GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return 0;
    LARGE_INTEGER size = {};
    GetFileSizeEx(f, &size);
    CloseHandle(f);
    return (int32_t)(uint32_t)size.LowPart;
}

int32_t file_bytes(const WCHAR *path)
{
    return path ? open_file_size(path, FILE_SHARE_READ) : 0;
}

static void copy_path(WCHAR *dst, const WCHAR *src)
{
    lstrcpynW(dst, src, kPathMax);
}

static void refresh_view(App *app)
{
    util_set_title(app);
    ui_refresh_toolbar(app);
    if (app->hwnd) InvalidateRect(app->hwnd, nullptr, FALSE);
}

// Paging changes the picture, the title and the bottom strip; the toolbar only when its state does.
static void refresh_paged(App *app)
{
    util_set_title(app);
    if (!app->hwnd) return;
    if (app->crop_mode) {
        refresh_view(app);
        return;
    }
    InvalidateRect(app->hwnd, ui_sync_toolbar_changed(app) ? &app->rc_top : &app->rc_title, FALSE);
    InvalidateRect(app->hwnd, &app->rc_canvas, FALSE);
    InvalidateRect(app->hwnd, &app->rc_bottom, FALSE);
}

static void show_loaded(App *app, const WCHAR *path, Image *img, bool paged = false)
{
    app->image = img;
    app->undo_pending = 1;  // copied by app_prepare_edit before the first edit
    crop_clear(app);
    app->file_size = open_file_size(path, FILE_SHARE_READ | FILE_SHARE_WRITE);
    canvas_sync_gp(app);
    canvas_reset(app);
    panel_rebuild(app);
    if (paged)
        refresh_paged(app);
    else
        refresh_view(app);
}

// The next picture follows: the canvas keeps its buffers, fresh memory being slow to touch.
static void release_for_next(App *app)
{
    ImagePyramid copies = canvas_drop_picture(app);
    image_pyramid_free(&copies);
    free_picture(app);
}

void app_keep_shown(App *app)
{
    if (!app_picture_unedited(app) || !app->file_stamp) return;
    ImagePyramid copies = canvas_drop_picture(app);
    Image *img = app->image;
    app->image = nullptr;
    app->undo_pending = 0;
    browse_keep_shown(app, app->file_path, app->file_stamp, img, &copies);
}

void app_show_picture(App *app, const WCHAR *path, Image *img, uint64_t stamp, ImagePyramid *copies)
{
    release_for_next(app);
    copy_path(app->file_name, PathFindFileNameW(path));
    copy_path(app->file_path, path);
    app->file_stamp = stamp;
    show_loaded(app, path, img, true);
    canvas_adopt_copies(app, copies);
}

void app_load_no_queue(App *app, const WCHAR *path)
{
    if (!path || !path[0]) {
        app_release_picture(app);
        app->load_failed = 0;
        app->file_size = 0;
        refresh_view(app);
        return;
    }
    release_for_next(app);

    WCHAR err[600];
    uint64_t stamp = pic_file_stamp(path);  // before reading: a change while it is read shows as stale
    Image *img = codec_load(path, err, 600);
    copy_path(app->file_name, PathFindFileNameW(path));
    copy_path(app->file_path, path);
    app->load_failed = img == nullptr;
    if (img) {
        app->file_stamp = stamp;
        show_loaded(app, path, img);
        codec_release_buffers();  // buffers this load did not reuse are not held while the viewer idles
        return;
    }
    app_release_picture(app);  // nothing to show: the canvas's buffers go too
    app->file_stamp = 0;
    app->file_size = 0;
    util_set_title(app);
    panel_rebuild(app);  // "apply" goes grey with the picture
    ui_set_status(app, L"载入失败：%s", PathFindFileNameW(path));
    ui_refresh_toolbar(app);
    modal_message_box(app->hwnd, err, kAppName, MB_OK | MB_ICONWARNING);
    if (app->hwnd) InvalidateRect(app->hwnd, nullptr, FALSE);
}

void app_load(App *app, const WCHAR *path)
{
    browse_open(app, path);
    app_load_no_queue(app, path);
    browse_after_show(app);
    app_browse_hint(app);
    if (app->hwnd) InvalidateRect(app->hwnd, nullptr, FALSE);
}
