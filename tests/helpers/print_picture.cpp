// Test helper: opens a picture in the real main window and prints it through
// the real print dialog, for an end-to-end script to answer with keys.
// Exit code 3 when it was sent, 4 when not; the status line goes to stdout.
#include "app/app.h"
#include "shell/util.h"
#include <gdiplus.h>
#include <cstdio>

int wmain(int argc, WCHAR **argv)
{
    Gdiplus::GdiplusStartupInput input;
    if (argc < 2 || Gdiplus::GdiplusStartup(&g_gdipToken, &input, nullptr) != Gdiplus::Ok) return 2;
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    App *app = &g_app;
    app_init_record(app, GetModuleHandleW(nullptr));
    if (!app_register_class(app->instance) || !app_create_main_window(app)) return 2;
    ShowWindow(app->hwnd, SW_SHOW);
    app_load(app, argv[1]);
    int sent = util_print_image(app, app->image);
    printf("%ls\n", app->status);
    DestroyWindow(app->hwnd);
    Gdiplus::GdiplusShutdown(g_gdipToken);
    return sent ? 3 : 4;
}
