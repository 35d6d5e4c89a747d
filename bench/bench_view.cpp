// Drives the real main window in this process through a wheel-zoom sequence on
// a generated 6000 x 4000 photo and a 4000 x 3000 picture with transparency,
// and prints per step the path the canvas took and min / median of the runs.
// The same run times the plain alternative for every cache rebuild: a box
// resample of the full picture with image_resize into fresh memory.
#include "bench_clock.h"
#include "app/app.h"
#include "image/resize.h"
#include "ui/ui.h"
#include "view/canvas.h"
#include <gdiplus.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// Something like a photo: smooth light with fine texture, optionally with holes.
Image *make_picture(uint32_t w, uint32_t h, bool alpha)
{
    Image *img = image_new(w, h);
    uint32_t seed = 12345;
    for (uint32_t y = 0; y < h; ++y) {
        uint8_t *row = img->data + (size_t)y * img->stride;
        for (uint32_t x = 0; x < w; ++x) {
            seed = seed * 1664525u + 1013904223u;
            int noise = (int)(seed >> 27) - 16;
            row[4 * x + 0] = (uint8_t)std::clamp((int)(x * 200 / w) + noise, 0, 255);
            row[4 * x + 1] = (uint8_t)std::clamp((int)(y * 200 / h) + noise, 0, 255);
            row[4 * x + 2] = (uint8_t)std::clamp(128 + noise * 2, 0, 255);
            row[4 * x + 3] = alpha ? (uint8_t)((x / 64 + y / 64) % 3 == 0 ? 0 : 200) : 255;
        }
    }
    image_detect_alpha(img);
    return img;
}

enum StepKind { kZoom, kActual, kPan };
struct Step {
    StepKind kind;
    double factor;
    const char *name;
};

std::vector<Step> sequence()
{
    std::vector<Step> s;
    for (int i = 0; i < 6; ++i) s.push_back({kZoom, 1.25, "wheel in 1.25"});
    for (int i = 0; i < 6; ++i) s.push_back({kZoom, 0.8, "wheel out 0.8"});
    for (int i = 0; i < 20; ++i) s.push_back({kZoom, 1.05, "ctrl wheel 1.05"});
    s.push_back({kActual, 1, "100 %"});
    for (int i = 0; i < 10; ++i) s.push_back({kPan, 40, "pan 40 px"});
    for (int i = 0; i < 12; ++i) s.push_back({kZoom, 1.25, "wheel in > 100 %"});
    for (int i = 0; i < 4; ++i) s.push_back({kPan, 40, "pan 40 px"});
    return s;
}

const char *path_name(int p)
{
    static const char *kNames[] = {"none", "cache hit", "cache rebuild", "full resolution"};
    return kNames[p];
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void pump()
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
}

void run_picture(App *app, const char *label, Image *picture, int runs)
{
    std::vector<Step> steps = sequence();
    std::vector<std::vector<double>> times(steps.size() + 1), plain(steps.size() + 1);
    std::vector<int> paths(steps.size() + 1);
    std::vector<double> zooms(steps.size() + 1);
    for (int r = 0; r < runs; ++r) {
        app->image = picture;
        canvas_sync_gp(app);  // drops the caches: every run starts cold
        canvas_reset(app);
        int cx = (app->rc_canvas.left + app->rc_canvas.right) / 2 + 37;
        int cy = (app->rc_canvas.top + app->rc_canvas.bottom) / 2 - 21;
        for (size_t i = 0; i <= steps.size(); ++i) {
            double t0 = now_ms();
            if (i == 0) {
                // the first picture of the view: fitted
            } else if (steps[i - 1].kind == kZoom) {
                canvas_zoom_at(app, steps[i - 1].factor, cx, cy);
            } else if (steps[i - 1].kind == kActual) {
                canvas_actual(app);
            } else {
                app->view_x += 40;
                app->view_y -= 10;
            }
            InvalidateRect(app->hwnd, &app->rc_canvas, FALSE);
            InvalidateRect(app->hwnd, &app->rc_bottom, FALSE);
            UpdateWindow(app->hwnd);
            GdiFlush();
            times[i].push_back(now_ms() - t0);
            paths[i] = canvas_last_path();
            zooms[i] = app->zoom;
            if (paths[i] == kPathCacheRebuild && r < 2) {
                double p0 = now_ms();
                Image *full = image_resize(picture, app->view_pyramid.cache_dw, app->view_pyramid.cache_dh, kFilterBox);
                plain[i].push_back(now_ms() - p0);
                image_free(full);
            }
            pump();
        }
    }
    printf("\n%s (%u x %u%s), %d runs, ms per step from the change to the picture on the window:\n", label,
           picture->width, picture->height, picture->has_alpha ? ", transparent" : "", runs);
    printf("%-4s %-16s %-16s %8s %8s %8s   %s\n", "step", "action", "path", "zoom", "min", "median",
           "plain box of the full picture");
    double worst = 0;
    for (size_t i = 0; i <= steps.size(); ++i) {
        double mn = *std::min_element(times[i].begin(), times[i].end()), md = median(times[i]);
        if (i > 0) worst = std::max(worst, md);
        char plain_text[32] = "";
        if (!plain[i].empty()) snprintf(plain_text, sizeof plain_text, "%.1f", median(plain[i]));
        printf("%-4zu %-16s %-16s %8.4f %8.1f %8.1f   %s\n", i, i ? steps[i - 1].name : "fit (first)",
               path_name(paths[i]), zooms[i], mn, md, plain_text);
    }
    printf("worst median after the first step: %.1f ms (goal 16 ms)\n", worst);
    canvas_release_gp(app);
    app->image = nullptr;
}

}  // namespace

int wmain(int argc, wchar_t **argv)
{
    int runs = argc > 1 ? _wtoi(argv[1]) : 5;
    if (runs < 1) runs = 5;
    Gdiplus::GdiplusStartupInput input;
    Gdiplus::GdiplusStartup(&g_gdipToken, &input, nullptr);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    App *app = &g_app;
    app_init_record(app, GetModuleHandleW(nullptr));
    if (!app_register_class(app->instance) || !app_create_main_window(app)) {
        fprintf(stderr, "no window\n");
        return 1;
    }
    ShowWindow(app->hwnd, SW_SHOW);
    RECT rc;
    GetClientRect(app->hwnd, &rc);
    ui_layout(app, rc.right, rc.bottom);
    UpdateWindow(app->hwnd);
    pump();
    printf("window client %d x %d, canvas %ld x %ld\n", app->client_w, app->client_h,
           app->rc_canvas.right - app->rc_canvas.left, app->rc_canvas.bottom - app->rc_canvas.top);

    if (getenv("BENCH_PARTS")) {
        Image *pic = make_picture(6000, 4000, false);
        app->image = pic;
        canvas_sync_gp(app);
        canvas_reset(app);
        UpdateWindow(app->hwnd);
        InvalidateRect(app->hwnd, nullptr, FALSE);
        UpdateWindow(app->hwnd);
        HDC dc = app->back_dc;
        for (int i = 0; i < 3; ++i) {
            double t0 = now_ms();
            canvas_paint(app, dc);
            GdiFlush();
            double t1 = now_ms();
            paint_top(app, dc);
            GdiFlush();
            double t2 = now_ms();
            paint_bottom(app, dc);
            GdiFlush();
            double t3 = now_ms();
            HDC wdc = GetDC(app->hwnd);
            BitBlt(wdc, 0, 0, app->client_w, app->client_h, dc, 0, 0, SRCCOPY);
            GdiFlush();
            ReleaseDC(app->hwnd, wdc);
            double t4 = now_ms();
            printf("canvas %.1f (path %d)  top %.1f  bottom %.1f  blit %.1f\n", t1 - t0, canvas_last_path(), t2 - t1,
                   t3 - t2, t4 - t3);
        }
        canvas_actual(app);
        for (int i = 0; i < 3; ++i) {
            double t0 = now_ms();
            canvas_paint(app, dc);
            GdiFlush();
            printf("100%% canvas %.1f (path %d)\n", now_ms() - t0, canvas_last_path());
        }
        return 0;
    }
    Image *photo = make_picture(6000, 4000, false);
    run_picture(app, "photo", photo, runs);
    image_free(photo);
    Image *clear = make_picture(4000, 3000, true);
    run_picture(app, "picture with transparency", clear, runs);
    image_free(clear);
    DestroyWindow(app->hwnd);
    pump();
    Gdiplus::GdiplusShutdown(g_gdipToken);
    return 0;
}
