// Whole folders in the real main window of this process.
//   bench_folder queue PICTURE            open, time the picture's paint and the whole queue known,
//                                         and the private memory with the folder open
//   bench_folder page PICTURE STEPS AHEAD one Right every 0.5 s: Right to painted, median and 95th
//                                         percentile; AHEAD 0 turns decoding ahead off
#include "bench_clock.h"
#include "app/app.h"
#include "app/nav.h"
#include "files/browse.h"
#include "ui/ui.h"
#include <gdiplus.h>
#include <psapi.h>
#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <vector>

namespace {

void pump_for(double ms)
{
    double end = now_ms() + ms;
    MSG msg;
    while (now_ms() < end) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    }
}

double private_mb()
{
    PROCESS_MEMORY_COUNTERS_EX pmc = {sizeof pmc};
    GetProcessMemoryInfo(GetCurrentProcess(), (PROCESS_MEMORY_COUNTERS *)&pmc, sizeof pmc);
    // Wine leaves PrivateUsage at 0; its page-file usage counts the same private bytes.
    return (pmc.PrivateUsage ? pmc.PrivateUsage : pmc.PagefileUsage) / 1048576.0;
}

double image_mb(const Image *img)
{
    return img ? (double)img->stride * img->height / 1048576.0 : 0;
}

int run_queue(App *app, const WCHAR *path)
{
    double t0 = now_ms();
    app_load(app, path);
    UpdateWindow(app->hwnd);
    double shown = now_ms() - t0;
    MSG msg;
    while (browse_listing(app) && now_ms() - t0 < 60000) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_ALLINPUT);
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    }
    UpdateWindow(app->hwnd);
    double known = now_ms() - t0;
    pump_for(300);  // thumbnails of the strip
    FolderWork *w = browse_work(app);
    double decoded = image_mb(app->image) + (w ? w->ahead_cache.bytes / 1048576.0 : 0);
    printf("queue %d: picture painted %.0f ms, whole queue known %.0f ms (\"%d / %d\"), private %.0f MB of which "
           "decoded pictures %.0f MB\n",
           app->queue.count, shown, known, app->queue_index + 1, app->queue.count, private_mb(), decoded);
    return 0;
}

int run_page(App *app, const WCHAR *path, int steps, bool ahead)
{
    app_load(app, path);
    browse_work(app)->ahead_off = !ahead;
    pump_for(2000);
    std::vector<double> times;
    for (int i = 0; i < steps; ++i) {
        pump_for(500);
        double t0 = now_ms();
        SendMessageW(app->hwnd, WM_KEYDOWN, VK_RIGHT, 0);
        UpdateWindow(app->hwnd);
        times.push_back(now_ms() - t0);
    }
    std::sort(times.begin(), times.end());
    double median = times[times.size() / 2], p95 = times[std::min(times.size() - 1, times.size() * 95 / 100)];
    printf("decode ahead %s: Right to painted median %.1f ms, 95th percentile %.1f ms (%d steps)\n",
           ahead ? "on " : "off", median, p95, steps);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t **argv)
{
    if (argc < 3) {
        fwprintf(stderr, L"usage: bench_folder queue PICTURE | page PICTURE STEPS AHEAD\n");
        return 2;
    }
    App *app = &g_app;
    Gdiplus::GdiplusStartupInput input;
    Gdiplus::GdiplusStartup(&g_gdipToken, &input, nullptr);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    app_init_record(app, GetModuleHandleW(nullptr));
    if (!app_register_class(app->instance) || !app_create_main_window(app)) return 1;
    ShowWindow(app->hwnd, SW_SHOW);
    RECT rc;
    GetClientRect(app->hwnd, &rc);
    ui_layout(app, rc.right, rc.bottom);
    pump_for(200);
    int code = !wcscmp(argv[1], L"queue") ? run_queue(app, argv[2])
               : argc > 4             ? run_page(app, argv[2], _wtoi(argv[3]), _wtoi(argv[4]) != 0)
                                      : 2;
    DestroyWindow(app->hwnd);
    return code;
}
