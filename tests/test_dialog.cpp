// The export dialog over a real main window: estimates on a worker thread,
// closing with estimates in flight, input, layout and the estimate job.
#include <gtest/gtest.h>
#include "app/app.h"
#include "jobs/export_job.h"
#include "codec/codec.h"
#include "dialogs/dialog.h"
#include "support/test_support.h"
#include <gdiplus.h>
#include <shlwapi.h>
#include <process.h>
#include <functional>
#include <string>

namespace {

// A stand-in estimate: blocks until released, then answers with a figure
// that tells which request it served (or a set figure).
struct Fake {
    HANDLE release;
    volatile LONG calls;
    volatile LONG jitter;
    uint32_t bytes;
    uint32_t last_target;
} g_fake;

int fake_estimate(uint32_t, const Image *picture, int32_t target_kb, uint32_t format, uint32_t quality, uint32_t,
                  const WCHAR *, const WCHAR *, uint32_t *bytes, uint32_t *width, uint32_t *height,
                  uint32_t *out_quality)
{
    g_fake.last_target = (uint32_t)target_kb;
    InterlockedIncrement(&g_fake.calls);
    WaitForSingleObject(g_fake.release, 20000);
    if (g_fake.jitter) Sleep(GetTickCount() % 3);
    *bytes = g_fake.bytes ? g_fake.bytes : 1000 * (format + 1) + quality;
    *width = picture->width;
    *height = picture->height;
    *out_quality = quality;
    return 1;
}

void pump()
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

bool pump_until(const std::function<bool()> &done, DWORD timeout_ms = 5000)
{
    DWORD start = GetTickCount();
    for (;;) {
        pump();
        if (done()) return true;
        if (GetTickCount() - start > timeout_ms) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
}

void pump_for(DWORD ms) { pump_until([] { return false; }, ms); }

BOOL CALLBACK find_export(HWND hwnd, LPARAM out)
{
    WCHAR cls[64];
    GetClassNameW(hwnd, cls, 64);
    if (wcscmp(cls, L"Veldmoor.ExportDlg") != 0) return TRUE;
    *(HWND *)out = hwnd;
    return FALSE;
}

ExportState *state_of(HWND dlg) { return (ExportState *)GetWindowLongPtrW(dlg, GWLP_USERDATA); }

// Runs the dialog with a script that drives it from inside its modal loop;
// the dialog is cancelled if the script leaves it open.
std::function<void(HWND, ExportState *)> g_script;
bool g_leave_open;

void CALLBACK run_script(HWND, UINT, UINT_PTR id, DWORD)
{
    KillTimer(nullptr, id);
    HWND dlg = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), find_export, (LPARAM)&dlg);
    ASSERT_NE(dlg, nullptr);
    if (g_script) g_script(dlg, state_of(dlg));
    if (IsWindow(dlg) && !g_leave_open) PostMessageW(dlg, WM_CLOSE, 0, 0);
}

int run_dialog(int mode, int kb, int format, std::function<void(HWND, ExportState *)> script)
{
    g_script = std::move(script);
    g_leave_open = false;
    SetTimer(nullptr, 0, 1, run_script);
    int result = dlg_run_export(&g_app, mode, kb, format);
    g_script = nullptr;
    return result;
}

// The centre of the area that hit-tests to zone.
POINT zone_point(const ExportState *s, int zone)
{
    long sx = 0, sy = 0, n = 0;
    for (int y = 0; y < 1200; y += 2)
        for (int x = 0; x < 900; x += 2)
            if (ex_hit(s, x, y) == zone) sx += x, sy += y, ++n;
    return n ? POINT{sx / n, sy / n} : POINT{-1, -1};
}

void click(HWND dlg, int zone)
{
    POINT p = zone_point(state_of(dlg), zone);
    SendMessageW(dlg, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(p.x, p.y));
    if (IsWindow(dlg)) SendMessageW(dlg, WM_LBUTTONUP, 0, MAKELPARAM(p.x, p.y));
}

void key(HWND dlg, WPARAM vk) { SendMessageW(dlg, WM_KEYDOWN, vk, 0); }

bool settled(const ExportState *s) { return s->est_valid && !s->est_busy && !s->worker; }

bool nothing_alive()
{
    ExportCounts c = ex_live_counts();
    return c.jobs == 0 && c.tokens == 0 && c.threads == 0;
}

class ExportDialog : public ::testing::Test {
protected:
    void SetUp() override
    {
        Gdiplus::GdiplusStartupInput input;
        ASSERT_EQ(Gdiplus::GdiplusStartup(&g_gdipToken, &input, nullptr), Gdiplus::Ok);
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        app_init_record(&g_app, GetModuleHandleW(nullptr));
        ASSERT_TRUE(app_register_class(g_app.instance));
        ASSERT_NE(app_create_main_window(&g_app), nullptr);
        ShowWindow(g_app.hwnd, SW_SHOW);
        g_app.image = make_gradient(64, 48, false);
        g_fake = {};
        g_fake.release = CreateEventW(nullptr, TRUE, TRUE, nullptr);
        ex_set_estimate_fn(fake_estimate);
    }
    void TearDown() override
    {
        SetEvent(g_fake.release);
        ex_wait_orphans();
        ex_set_estimate_fn(nullptr);
        CloseHandle(g_fake.release);
        if (IsWindow(g_app.hwnd)) DestroyWindow(g_app.hwnd);
        pump();
        codec_shutdown();
        Gdiplus::GdiplusShutdown(g_gdipToken);
        EXPECT_TRUE(nothing_alive());
    }
};

TEST_F(ExportDialog, TypingIsDebouncedIntoOneEstimateAndSaturates)
{
    struct Typed {
        const char *keys;
        uint32_t target;
    } cases[] = {{"250", 250}, {"0", 1}, {"", 1}, {"100001", 100000}, {"4294967297", 100000},
                 {"999999999999999", 100000}, {"1234567890123456", 100000}};
    for (const Typed &c : cases) {
        run_dialog(0, 200, 0, [&](HWND dlg, ExportState *s) {
            ASSERT_TRUE(pump_until([&] { return settled(s); }));
            LONG before = g_fake.calls;
            click(dlg, kZoneCustom);
            EXPECT_TRUE(s->editing);
            EXPECT_STREQ(s->kb_text, L"200");
            for (int i = 0; i < 3; ++i) key(dlg, VK_BACK);
            for (const char *k = c.keys; *k; ++k) key(dlg, (WPARAM)*k);
            EXPECT_EQ(s->target_kb, c.target) << c.keys;
            EXPECT_LE(wcslen(s->kb_text), 15u);
            ASSERT_TRUE(pump_until([&] { return settled(s); }));
            pump_for(200);
            EXPECT_EQ(g_fake.calls, before + 1) << c.keys;
            EXPECT_EQ(g_fake.last_target, c.target);
        });
    }
}

TEST_F(ExportDialog, TheCustomBoxSelectsItsTextSoTypingReplacesItAt96And144Dpi)
{
    for (int dpi : {96, 144}) {
        RECT suggested;
        GetWindowRect(g_app.hwnd, &suggested);
        SendMessageW(g_app.hwnd, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), (LPARAM)&suggested);
        run_dialog(0, 200, 0, [&](HWND dlg, ExportState *s) {
            ASSERT_EQ(s->dpi, (uint32_t)dpi);
            click(dlg, kZoneCustom);
            Dib shot;
            ASSERT_TRUE(window_shot(dlg, &shot));
            EXPECT_GT(count_colour(shot, s->rc_kb_box, 0x0078D7), 20) << dpi << ": the number is not shown selected";
            for (char k : {'2', '5', '0'}) key(dlg, (WPARAM)k);
            EXPECT_EQ(s->target_kb, 250u) << dpi;
            ASSERT_TRUE(window_shot(dlg, &shot));
            EXPECT_EQ(count_colour(shot, s->rc_kb_box, 0x0078D7), 0) << dpi;
            key(dlg, '9');
            EXPECT_EQ(s->target_kb, 2509u) << "after the first key, typing appends";
            dib_free(&shot);
            key(dlg, VK_ESCAPE);
        });
    }
}

// A picture still as its file holds it: the compression estimate is the file itself,
// shown as kept; after an edit it is an encoding again.
TEST_F(ExportDialog, EstimateKeepsAnUnchangedFileThatAlreadyFits)
{
    std::wstring dir = temp_dir_create(L"keepdlg"), src = dir + L"\\fits.jpg";
    ASSERT_TRUE(codec_save(g_app.image, src.c_str(), 97, nullptr, nullptr, 0));
    app_load_no_queue(&g_app, src.c_str());
    ex_set_estimate_fn(nullptr);
    for (int edited = 0; edited < 2; ++edited) {
        if (edited) app_prepare_edit(&g_app);
        run_dialog(0, 500, 0, [&](HWND, ExportState *s) {
            ASSERT_TRUE(pump_until([s] { return settled(s); }));
            EXPECT_EQ(ex_estimate_kept(s), !edited);
            EXPECT_EQ(s->est_bytes == read_file_bytes(src).size(), !edited);
        });
    }
    temp_dir_remove(dir);
}

TEST_F(ExportDialog, ResultsOfOlderRequestsAreDropped)
{
    ResetEvent(g_fake.release);
    run_dialog(1, 0, 0, [&](HWND dlg, ExportState *s) {
        ASSERT_TRUE(pump_until([&] { return g_fake.calls == 1; }));
        click(dlg, kZoneFormat0 + 2);  // WebP while the JPEG estimate runs
        SetEvent(g_fake.release);
        uint32_t jpeg_figure = 1000 + 90;
        ASSERT_TRUE(pump_until([&] {
            EXPECT_FALSE(s->est_valid && s->est_bytes == jpeg_figure);
            return settled(s);
        }));
        EXPECT_EQ(s->est_bytes, 3000u + 90u);
        EXPECT_EQ(g_fake.calls, 2);
        LONG seq = s->seq;
        click(dlg, kZoneQualityDown);
        click(dlg, kZoneQualityUp);
        EXPECT_EQ(s->quality, 90u);
        for (int i = 0; i < 2; ++i) key(dlg, VK_RIGHT);
        EXPECT_EQ(s->quality, 95u);
        LONG at_top = s->seq;
        click(dlg, kZoneQualityUp);  // already at 95: nothing to estimate
        EXPECT_EQ(s->seq, at_top);
        EXPECT_EQ(at_top, seq + 3);
    });
}

TEST_F(ExportDialog, ClosingMidEstimateLeavesNothingAlive)
{
    // Released while the dialog waits for it: its result lands in a closing window.
    ResetEvent(g_fake.release);
    EXPECT_EQ(run_dialog(0, 0, 0, [&](HWND dlg, ExportState *s) {
        ASSERT_TRUE(pump_until([&] { return g_fake.calls == 1; }));
        HANDLE releaser = CreateThread(nullptr, 0, [](void *) -> DWORD {
            Sleep(100);
            SetEvent(g_fake.release);
            return 0;
        }, nullptr, 0, nullptr);
        key(dlg, VK_ESCAPE);
        WaitForSingleObject(releaser, INFINITE);
        CloseHandle(releaser);
    }), 0);
    EXPECT_TRUE(nothing_alive());

    // Still running after the 3-second wait: the thread frees its own job later.
    ResetEvent(g_fake.release);
    DWORD start = GetTickCount();
    run_dialog(1, 0, 2, [&](HWND dlg, ExportState *) {
        ASSERT_TRUE(pump_until([&] { return g_fake.calls == 2; }));
        key(dlg, VK_ESCAPE);
    });
    EXPECT_LT(GetTickCount() - start, 6000u);
    ExportCounts orphan = ex_live_counts();
    EXPECT_TRUE(orphan.jobs == 1 && orphan.tokens == 1 && orphan.threads == 1);
    SetEvent(g_fake.release);
    ex_wait_orphans();  // as at program exit
    EXPECT_TRUE(nothing_alive());
}

TEST_F(ExportDialog, TwoHundredOpenCloseCyclesWithEstimatesInFlight)
{
    g_fake.jitter = 1;
    int in_flight = 0;
    for (int i = 0; i < 200; ++i) {
        run_dialog(i % 2, 0, 0, [&](HWND dlg, ExportState *s) {
            SendMessageW(dlg, WM_TIMER, kExTimerDebounce, 0);  // start at once
            in_flight += s->worker != nullptr;
            if (i % 3 == 0) click(dlg, kZoneFormat0 + 2);
            if (i % 5 == 0) pump_for(i % 7);
            key(dlg, i % 4 ? VK_ESCAPE : VK_RETURN);
        });
    }
    EXPECT_TRUE(nothing_alive());
    EXPECT_EQ(in_flight, 200);
}

TEST_F(ExportDialog, SaveStoresTheChoicesAndCancelKeepsThem)
{
    auto fields = [] {
        return std::vector<int>{g_app.compress_kb, g_app.compress_allow_downscale, g_app.compress_format,
                                g_app.convert_format, g_app.export_format, g_app.quality};
    };
    struct Run {
        int mode, format;
        WPARAM close;  // 0: a quit request, passed on to the main loop
        int result;
        std::vector<int> after;
    } runs[] = {{0, 0, VK_ESCAPE, 0, {200, 1, 0, 0, 0, 90}},
                {1, 0, 0, 0, {200, 1, 0, 0, 0, 90}},
                {0, 0, VK_RETURN, 1, {500, 0, 2, 0, 2, 85}},
                {1, 7, VK_RETURN, 1, {500, 0, 2, 3, 3, 80}}};  // 7 is out of range: JPEG
    for (const Run &r : runs) {
        EXPECT_EQ(run_dialog(r.mode, 0, r.format, [&](HWND dlg, ExportState *s) {
            EXPECT_EQ(s->format, 0u);
            if (s->mode == 0) click(dlg, kZoneKB1 + 2);  // 500 KB
            if (s->mode == 0) click(dlg, kZoneShrink);
            click(dlg, kZoneFormat0 + (s->mode ? 3 : 2));
            click(dlg, kZoneQualityDown);
            RECT rc;
            GetClientRect(dlg, &rc);
            EXPECT_TRUE(rc.right == 520 && rc.bottom == 460 && !IsWindowEnabled(g_app.hwnd));
            if (r.close) key(dlg, r.close);
            else PostQuitMessage(7), g_leave_open = true;
        }), r.result);
        EXPECT_EQ(fields(), r.after) << r.mode << " " << r.close;
        EXPECT_TRUE(IsWindowEnabled(g_app.hwnd));
        MSG msg;
        EXPECT_EQ(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) && msg.wParam == 7, r.close == 0);
    }
}

TEST_F(ExportDialog, EstimatesThatNeedNoThreadNeverStayBusy)
{
    run_dialog(1, 0, 1, [&](HWND dlg, ExportState *s) {
        EXPECT_TRUE(s->est_valid && !s->est_busy);
        EXPECT_EQ(s->est_bytes, 64u * 48u * 9u / 4u);
        click(dlg, kZoneFormat0 + 3);
        EXPECT_EQ(s->est_bytes, 64u * 3u * 48u + 54u);
    });
    struct Case {
        int mode, format;
        Image *picture;
    } cases[] = {{1, 0, nullptr}, {0, 0, nullptr}, {1, 1, nullptr}, {1, 0, image_new(30001, 10)}};
    for (Case &c : cases) {
        image_free(g_app.image);
        g_app.image = c.picture;
        run_dialog(c.mode, 0, c.format, [&](HWND, ExportState *s) {
            EXPECT_TRUE(pump_until([&] { return !s->est_busy; }, 3000)) << c.mode << c.format;
            EXPECT_FALSE(s->est_valid);
        });
    }
    EXPECT_EQ(g_fake.calls, 0);
}

// Pixels of the exact colour inside r of a painting of the dialog.
int count_colour(ExportState *s, const RECT &r, COLORREF colour)
{
    BITMAPINFO bi = {{sizeof(BITMAPINFOHEADER), 800, -800, 1, 32, BI_RGB}};
    uint32_t *bits = nullptr;
    HBITMAP bmp = CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, (void **)&bits, nullptr, 0);
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, bmp);
    ex_paint(s, dc);
    GdiFlush();
    uint32_t want = (GetRValue(colour) << 16) | (GetGValue(colour) << 8) | GetBValue(colour);
    int n = 0;
    for (int y = r.top; y < r.bottom; ++y)
        for (int x = r.left; x < r.right; ++x) n += (bits[y * 800 + x] & 0xFFFFFF) == want;
    SelectObject(dc, old);
    DeleteDC(dc);
    DeleteObject(bmp);
    return n;
}

TEST_F(ExportDialog, OverTheTargetByMoreThanThreePercentIsFlagged)
{
    struct Case {
        uint32_t bytes;
        int over;
    } cases[] = {{206 * 1024, 0}, {207 * 1024, 1}};  // the limit is 200 × 1055 bytes
    for (const Case &c : cases) {
        g_fake.bytes = c.bytes;
        run_dialog(0, 200, 0, [&](HWND, ExportState *s) {
            ASSERT_TRUE(pump_until([&] { return settled(s); }));
            EXPECT_EQ(s->est_over, c.over) << c.bytes;
            RECT figure = s->rc_est;
            figure.bottom = figure.top + 30;
            EXPECT_EQ(count_colour(s, figure, RGB(255, 138, 92)) > 0, c.over == 1) << c.bytes;
        });
    }
}

TEST_F(ExportDialog, RealEstimateEqualsWhatTheCommandLineWrites)
{
    NEEDS_TESTDATA();
    ex_set_estimate_fn(nullptr);
    std::wstring dir = temp_dir_create(L"exportest");
    struct Case {
        const wchar_t *photo, *out;
        int kb, format, shrink, exact;
    } cases[] = {{L"camera/nikon_e950.jpg", L"a.webp", 40, 2, 1, 1},
                 {L"other/BSG1.tiff", L"b.jpg", 20, 0, 1, 1},
                 {L"camera/nikon_e950.jpg", L"c.jpg", 3, 0, 0, 0}};
    for (const Case &c : cases) {
        image_free(g_app.image);
        g_app.image = nullptr;
        std::wstring photo = testdata_path(c.photo), out = dir + L"\\" + c.out;
        app_load(&g_app, photo.c_str());
        ASSERT_NE(g_app.image, nullptr);
        std::wstring args = L"compress \"" + photo + L"\" \"" + out + L"\" --kb " + std::to_wstring(c.kb);
        ASSERT_EQ(run_cli(c.shrink ? args : args + L" --no-shrink").code, 0u) << c.out;
        uint32_t written = (uint32_t)read_file_bytes(out).size();
        run_dialog(0, c.kb, c.format, [&](HWND dlg, ExportState *s) {
            if (!c.shrink) click(dlg, kZoneShrink);
            ASSERT_TRUE(pump_until([&] { return settled(s); }, 60000));
            // Camera facts carried into a JPEG are not part of the estimate.
            EXPECT_TRUE(!c.exact || s->est_bytes == written) << s->est_bytes << " " << written;
            WCHAR shown[32], expected[32];
            ex_size_text(s->est_bytes, shown, 32);
            ex_size_text(written, expected, 32);
            EXPECT_STREQ(shown, expected);
            EXPECT_EQ(s->est_over, c.shrink ? 0 : 1);
            RECT figure = s->rc_est;
            figure.bottom = figure.top + 30;
            EXPECT_EQ(count_colour(s, figure, RGB(255, 138, 92)) > 0, !c.shrink) << c.out;
            EXPECT_EQ(count_colour(s, figure, RGB(76, 154, 255)) > 0, c.shrink == 1) << c.out;
        });
    }
    temp_dir_remove(dir);
}

TEST(ExportLayout, ZonesFitTheClientDoNotOverlapAndHitTestToTheirIds)
{
    for (int dpi : {96, 144}) {
        for (uint32_t mode : {0u, 1u}) {
            ExportState s = {};
            s.dpi = (uint32_t)dpi;
            s.mode = mode;
            s.format_count = mode ? 5 : 3;
            int w, h;
            ex_client_size(&s, &w, &h);
            EXPECT_EQ(w, dpi == 96 ? 520 : 780);
            EXPECT_EQ(h, dpi == 96 ? 460 : 690);
            if (dpi == 96) {
                EXPECT_EQ(s.content_h, mode ? 110 : 284);
            }
            s.client_h = (uint32_t)h;
            ex_layout(&s);
            std::vector<std::pair<int, RECT>> zones = {{kZoneQualityDown, s.rc_q_down}, {kZoneQualityUp, s.rc_q_up},
                                                       {kZoneSave, s.rc_save}, {kZoneCancel, s.rc_cancel},
                                                       {0, s.rc_est}, {0, s.rc_track}};
            for (int i = 0; i < s.format_count; ++i) zones.push_back({kZoneFormat0 + i, s.rc_fmt[i]});
            for (int i = 0; mode == 0 && i < 6; ++i) zones.push_back({kZoneKB1 + i, s.rc_kb[i]});
            if (mode == 0) zones.insert(zones.end(), {{kZoneCustom, s.rc_custom}, {kZoneShrink, s.rc_shrink}});
            RECT overlap;
            for (size_t i = 0; i < zones.size(); ++i) {
                const RECT &r = zones[i].second;
                std::string where = std::to_string(dpi) + "/" + std::to_string(mode) + "/" + std::to_string(i);
                EXPECT_TRUE(r.left >= 0 && r.top >= 0 && r.right <= w && r.bottom <= h && r.left < r.right &&
                            r.top < r.bottom) << where;
                for (size_t j = 0; j < i; ++j)
                    EXPECT_FALSE(IntersectRect(&overlap, &r, &zones[j].second)) << where;
                if (!zones[i].first) continue;
                EXPECT_EQ(ex_hit(&s, r.left, r.top), zones[i].first) << where;
                EXPECT_EQ(ex_hit(&s, r.right - 1, r.bottom - 1), zones[i].first) << where;
                EXPECT_NE(ex_hit(&s, r.right, r.top), zones[i].first) << where;
            }
            EXPECT_EQ(ex_hit(&s, 0, 0), 0);
            EXPECT_EQ(ex_hit(&s, (s.rc_est.left + s.rc_est.right) / 2, s.rc_est.top + 2), 0);
        }
    }
    // A short window moves the content up by at most 20 scaled pixels; the footer stays.
    ExportState s = {};
    s.dpi = 96;
    s.format_count = 3;
    s.client_h = 400;
    ex_layout(&s);
    EXPECT_EQ(s.rc_q_down.top, 256 - 20);
    EXPECT_EQ(s.rc_save.bottom, 400 - 30);
    EXPECT_GE(s.rc_est.bottom - s.rc_est.top, 52);
}

TEST(ExportEstimateJob, FormulasEncodingsAndRefusals)
{
    uint8_t pixel[4] = {};
    Image huge = {pixel, 10000, 9000, 40000, 0};
    struct Formula {
        uint32_t format, w, h, bytes;
    } formulas[] = {{4, 10000, 9000, 243000000}, {1, 10000, 9000, 202500000}, {3, 10000, 9000, 270000054},
                    {3, 3, 1, 66}, {3, 5, 2, 2 * 16 + 54}};
    for (const Formula &f : formulas) {
        huge.width = f.w;
        huge.height = f.h;
        uint32_t b, w, h, q;
        ASSERT_TRUE(app_export_estimate_job(1, &huge, 0, f.format, 77, 1, L"", nullptr, &b, &w, &h, &q));
        EXPECT_EQ(b, f.bytes) << f.format << " " << f.w;
        EXPECT_EQ(w, f.w);
        EXPECT_EQ(q, 0u);
    }
    uint32_t b = 9, w = 9, h = 9, q = 9;
    EXPECT_FALSE(app_export_estimate_job(0, nullptr, 200, 0, 80, 1, L"", nullptr, &b, &w, &h, &q));
    EXPECT_EQ(b + w + h, 0u);
    EXPECT_EQ(q, 80u);

    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    Image *img = make_gradient(300, 200, false);
    Blob blob = {};
    ASSERT_TRUE(codec_encode_mem(img, L".webp", 70, L"", &blob, nullptr, 0));
    ASSERT_TRUE(app_export_estimate_job(1, img, 0, 2, 70, 1, L"", nullptr, &b, &w, &h, &q));
    EXPECT_EQ(b, (uint32_t)blob.size);
    EXPECT_EQ(q, 70u);
    blob_free(&blob);
    image_free(img);
    codec_shutdown();
    CoUninitialize();
}

}  // namespace
