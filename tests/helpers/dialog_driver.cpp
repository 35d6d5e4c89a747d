// Test helper: opens the real main window and runs one real common dialog for
// an end-to-end script to answer with keys.
//   dialog_driver print PICTURE  prints the picture; exit 3 when it was sent, 4 when not
//   dialog_driver open           the multi-selection open dialog; prints the count and
//                                each path on its own line; exit 3 when something was chosen
#include "app/app.h"
#include "shell/util.h"
#include <gdiplus.h>
#include <cstdio>
#include <cwchar>

static int print_picture(App *app, const WCHAR *path)
{
    app_load(app, path);
    int sent = util_print_image(app, app->image);
    printf("%ls\n", app->status);
    return sent ? 3 : 4;
}

static int open_pictures(App *app)
{
    static WCHAR paths[kOpenMaxPaths * kPathMax];
    int count = 0;
    int chosen = util_open_dialog_multi(app, paths, (int)(sizeof paths / sizeof paths[0]), &count);
    printf("%d\n", count);
    for (int i = 0; i < count; ++i) printf("%ls\n", paths + i * kPathMax);
    return chosen ? 3 : 4;
}

int wmain(int argc, WCHAR **argv)
{
    if (argc < 2) return 2;
    Gdiplus::GdiplusStartupInput input;
    if (Gdiplus::GdiplusStartup(&g_gdipToken, &input, nullptr) != Gdiplus::Ok) return 2;
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    App *app = &g_app;
    app_init_record(app, GetModuleHandleW(nullptr));
    if (!app_register_class(app->instance) || !app_create_main_window(app)) return 2;
    ShowWindow(app->hwnd, SW_SHOW);
    int code = 2;
    if (!wcscmp(argv[1], L"print") && argc > 2)
        code = print_picture(app, argv[2]);
    else if (!wcscmp(argv[1], L"open"))
        code = open_pictures(app);
    fflush(stdout);
    DestroyWindow(app->hwnd);
    Gdiplus::GdiplusShutdown(g_gdipToken);
    return code;
}
