// The export dialog's life cycle, its estimate machinery and its input.
#include "dialogs/dialog.h"
#include "jobs/export_job.h"
#include "dialogs/dlg_common.h"
#include "shell/modal.h"
#include <iterator>

static constexpr WCHAR kExportClass[] = L"Veldmoor.ExportDlg";
static constexpr DWORD kExStyle = WS_POPUP | WS_CAPTION | WS_BORDER | WS_DLGFRAME | WS_SYSMENU;
static constexpr DWORD kExExStyle = WS_EX_DLGMODALFRAME;
static constexpr UINT kDebounceMs = 110, kPollMs = 250;
static constexpr DWORD kCloseWaitMs = 3000;
static constexpr uint32_t kMaxEstimateSide = 30000;
static constexpr int kMaxOrphans = 64;

static volatile LONG g_live_jobs, g_live_tokens, g_live_threads;
static ExportEstimateFn volatile g_estimate_fn = app_export_estimate_job;

// Threads still running after their dialog closed; waited for at exit.
static SRWLOCK g_orphan_lock = SRWLOCK_INIT;
static HANDLE g_orphans[kMaxOrphans];
static int g_orphan_count;

static void ex_start_worker(ExportState *s);
static void ex_poll_worker(ExportState *s);
static void ex_on_result(HWND hwnd, EstimateJob *job);
static void ex_teardown(ExportState *s);

void ex_set_estimate_fn(ExportEstimateFn fn)
{
    g_estimate_fn = fn ? fn : app_export_estimate_job;
}

ExportCounts ex_live_counts()
{
    return {InterlockedCompareExchange(&g_live_jobs, 0, 0), InterlockedCompareExchange(&g_live_tokens, 0, 0),
            InterlockedCompareExchange(&g_live_threads, 0, 0)};
}

// ---- token and jobs ----

static ExportToken *token_new()
{
    auto *t = (ExportToken *)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(ExportToken));
    if (!t) return nullptr;
    t->refs = 1;
    InitializeSRWLock(&t->lock);
    InterlockedIncrement(&g_live_tokens);
    return t;
}

static void token_ref(ExportToken *t)
{
    InterlockedIncrement(&t->refs);
}

static void token_release(ExportToken *t)
{
    if (!t || InterlockedDecrement(&t->refs) != 0) return;
    HeapFree(GetProcessHeap(), 0, t);
    InterlockedDecrement(&g_live_tokens);
}

void job_free(EstimateJob *job)
{
    if (!job) return;
    token_release(job->token);
    if (job->pixels) HeapFree(GetProcessHeap(), 0, job->pixels);
    HeapFree(GetProcessHeap(), 0, job);
    InterlockedDecrement(&g_live_jobs);
}

static EstimateJob *job_new(ExportState *s)
{
    const Image *img = s->app->image;
    auto *job = (EstimateJob *)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(EstimateJob));
    if (!job) return nullptr;
    InterlockedIncrement(&g_live_jobs);
    job->token = s->token;
    token_ref(s->token);
    job->mode = s->mode;
    job->target_kb = s->req_target_kb;
    job->format = s->req_format;
    job->quality = s->req_quality;
    job->auto_shrink = s->req_auto_shrink;
    job->seq = s->seq;
    if (app_picture_unedited(s->app)) lstrcpynW(job->keep_path, s->app->file_path, kPathMax);
    job->width = img->width;
    job->height = img->height;
    job->stride = img->stride;
    job->has_alpha = img->has_alpha;
    SIZE_T bytes = (SIZE_T)img->stride * img->height;
    job->pixels = (uint8_t *)HeapAlloc(GetProcessHeap(), 0, bytes);
    if (!job->pixels) {
        job_free(job);
        return nullptr;
    }
    memcpy(job->pixels, img->data, bytes);
    return job;
}

// ---- orphaned threads ----

static void orphan_add(HANDLE thread)
{
    AcquireSRWLockExclusive(&g_orphan_lock);
    int kept = 0;
    for (int i = 0; i < g_orphan_count; ++i) {
        if (WaitForSingleObject(g_orphans[i], 0) == WAIT_OBJECT_0)
            CloseHandle(g_orphans[i]);
        else
            g_orphans[kept++] = g_orphans[i];
    }
    g_orphan_count = kept;
    if (g_orphan_count < kMaxOrphans) {
        g_orphans[g_orphan_count++] = thread;
        thread = nullptr;
    }
    ReleaseSRWLockExclusive(&g_orphan_lock);
    // Only with 64 threads still stuck: wait here rather than lose track of one.
    if (thread) {
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
    }
}

void ex_wait_orphans()
{
    AcquireSRWLockExclusive(&g_orphan_lock);
    for (int i = 0; i < g_orphan_count; ++i) {
        WaitForSingleObject(g_orphans[i], INFINITE);
        CloseHandle(g_orphans[i]);
    }
    g_orphan_count = 0;
    ReleaseSRWLockExclusive(&g_orphan_lock);
}

// ---- the estimate thread ----

DWORD WINAPI ex_worker(void *param)
{
    auto *job = (EstimateJob *)param;
    HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    Image picture = {job->pixels, job->width, job->height, job->stride, job->has_alpha};
    ExportToken *token = job->token;
    job->ok = 0;
    if (token && InterlockedCompareExchange(&token->cancel, 0, 0) == 0)
        job->ok = g_estimate_fn(job->mode, &picture, (int32_t)job->target_kb, job->format, job->quality,
                                job->auto_shrink, job->src_path, job->keep_path, &job->out_bytes, &job->out_width,
                                &job->out_height, &job->out_quality) ? 1 : 0;
    BOOL posted = FALSE;
    if (token) {
        // Our own reference keeps the token (and its lock) alive past the post,
        // after which the job and its reference belong to the dialog.
        token_ref(token);
        AcquireSRWLockExclusive(&token->lock);
        if (token->hwnd) posted = PostMessageW(token->hwnd, WM_EX_RESULT, (WPARAM)job->seq, (LPARAM)job);
        ReleaseSRWLockExclusive(&token->lock);
        if (!posted) job_free(job);
        token_release(token);
    } else {
        job_free(job);
    }
    if (SUCCEEDED(com)) CoUninitialize();
    InterlockedDecrement(&g_live_threads);
    return 0;
}

// ---- estimate requests ----

static bool has_picture(const ExportState *s)
{
    return s->app->image && s->app->image->data;
}

static void repaint_estimate(ExportState *s)
{
    if (s->hwnd) InvalidateRect(s->hwnd, &s->rc_est, FALSE);
}

static void estimate_unavailable(ExportState *s)
{
    s->est_busy = 0;
    s->est_over = 0;
    repaint_estimate(s);
}

void ex_update_estimate(ExportState *s)
{
    s->req_target_kb = s->target_kb;
    s->req_format = s->format;
    s->req_quality = s->quality;
    s->req_auto_shrink = s->auto_shrink;
    InterlockedIncrement(&s->seq);
    if (!has_picture(s)) {
        // Nothing to estimate: say so rather than wait for a computation that never starts.
        if (s->hwnd) KillTimer(s->hwnd, kExTimerDebounce);
        s->est_valid = 0;
        estimate_unavailable(s);
        return;
    }
    uint32_t bytes;
    if (s->mode == 1 && export_formula_bytes(s->format, s->app->image->width, s->app->image->height, &bytes)) {
        if (s->hwnd) KillTimer(s->hwnd, kExTimerDebounce);
        s->est_bytes = bytes;
        s->est_width = s->app->image->width;
        s->est_height = s->app->image->height;
        s->est_quality = 0;
        s->est_over = 0;
        s->est_valid = 1;
        s->est_busy = s->worker ? 1 : 0;
        repaint_estimate(s);
        return;
    }
    s->est_busy = 1;
    if (s->hwnd) SetTimer(s->hwnd, kExTimerDebounce, kDebounceMs, nullptr);
    repaint_estimate(s);
}

static void ex_start_worker(ExportState *s)
{
    KillTimer(s->hwnd, kExTimerDebounce);
    if (!IsWindow(s->hwnd) || !s->token || s->worker) return;
    if (!has_picture(s)) {
        s->est_valid = 0;
        estimate_unavailable(s);
        return;
    }
    const Image *img = s->app->image;
    if (img->width < 1 || img->height < 1 || img->width > kMaxEstimateSide || img->height > kMaxEstimateSide) {
        estimate_unavailable(s);
        return;
    }
    EstimateJob *job = job_new(s);
    if (!job) {
        estimate_unavailable(s);
        return;
    }
    InterlockedIncrement(&g_live_threads);
    // Suspended until lowered: its helper threads start at its priority.
    HANDLE thread = CreateThread(nullptr, 0, ex_worker, job, CREATE_SUSPENDED, nullptr);
    if (!thread) {
        InterlockedDecrement(&g_live_threads);
        job_free(job);
        estimate_unavailable(s);
        return;
    }
    SetThreadPriority(thread, THREAD_PRIORITY_LOWEST);
    ResumeThread(thread);
    s->worker = thread;
    s->est_busy = 1;
    SetTimer(s->hwnd, kExTimerPoll, kPollMs, nullptr);
    repaint_estimate(s);
}

static void ex_poll_worker(ExportState *s)
{
    if (!s->worker || WaitForSingleObject(s->worker, 0) != WAIT_OBJECT_0) return;
    CloseHandle(s->worker);
    s->worker = nullptr;
    KillTimer(s->hwnd, kExTimerPoll);
    if (s->est_busy) ex_update_estimate(s);
}

static void ex_on_result(HWND hwnd, EstimateJob *job)
{
    auto *s = (ExportState *)GetWindowLongPtrW(hwnd, GWLP_USERDATA);
    if (!s) {
        job_free(job);
        return;
    }
    if (job->seq == s->seq) {
        if (job->ok) {
            s->est_bytes = job->out_bytes;
            s->est_width = job->out_width;
            s->est_height = job->out_height;
            s->est_quality = job->out_quality;
            s->est_valid = 1;
            s->est_busy = 0;
            s->est_over = s->mode == 0 && (uint64_t)job->out_bytes > (uint64_t)s->target_kb * 1055;
        } else {
            s->est_busy = 0;
            s->est_over = 0;
            s->est_valid = 0;
        }
    }
    job_free(job);
    repaint_estimate(s);
}

// ---- closing ----

// Stops the estimates and cuts the window off from its token; runs once,
// whether the dialog is closed by us or destroyed from outside.
static void ex_teardown(ExportState *s)
{
    ExportToken *t = s->token;
    if (!t) return;
    InterlockedExchange(&t->cancel, 1);
    KillTimer(s->hwnd, kExTimerDebounce);
    KillTimer(s->hwnd, kExTimerPoll);
    if (s->worker) {
        if (WaitForSingleObject(s->worker, kCloseWaitMs) == WAIT_OBJECT_0)
            CloseHandle(s->worker);
        else
            orphan_add(s->worker);  // it sees hwnd cleared below and frees its own job
        s->worker = nullptr;
    }
    AcquireSRWLockExclusive(&t->lock);
    t->hwnd = nullptr;
    ReleaseSRWLockExclusive(&t->lock);
    // No worker posts from here on; results already queued would die with the window.
    MSG msg;
    while (PeekMessageW(&msg, s->hwnd, WM_EX_RESULT, WM_EX_RESULT, PM_REMOVE))
        job_free((EstimateJob *)msg.lParam);
    s->token = nullptr;
    token_release(t);
}

void ex_finish(ExportState *s, uint32_t result)
{
    ex_teardown(s);
    s->result = result;
    // The owner is enabled before the dialog goes, so activation returns to it.
    if (s->app->hwnd) EnableWindow(s->app->hwnd, TRUE);
    if (IsWindow(s->hwnd)) DestroyWindow(s->hwnd);
}

// ---- input ----

static void set_quality(ExportState *s, int quality)
{
    quality = quality < 30 ? 30 : quality > 95 ? 95 : quality;
    if ((uint32_t)quality == s->quality) return;
    s->quality = (uint32_t)quality;
    ex_update_estimate(s);
}

// Digits typed into the custom box as a KB value, saturated into 1..100000.
static uint32_t parse_kb(const WCHAR *text)
{
    uint32_t value = 0;
    for (; *text >= L'0' && *text <= L'9'; ++text) {
        value = value * 10 + (uint32_t)(*text - L'0');
        if (value > kExMaxKB) value = kExMaxKB;
    }
    return value < 1 ? 1 : value;
}

static void ex_act(ExportState *s, int zone)
{
    if (zone >= kZoneKB1 && zone < kZoneKB1 + (int)std::size(kKB)) {
        s->target_kb = (uint32_t)kKB[zone - kZoneKB1];
        s->editing = 0;
        ex_update_estimate(s);
    } else if (zone == kZoneShrink) {
        s->auto_shrink = !s->auto_shrink;
        ex_update_estimate(s);
    } else if (zone == kZoneQualityDown || zone == kZoneQualityUp) {
        set_quality(s, (int)s->quality + (zone == kZoneQualityUp ? 5 : -5));
    } else if (zone == kZoneSave || zone == kZoneCancel) {
        ex_finish(s, zone == kZoneSave ? 1 : 0);
    } else if (zone >= kZoneFormat0 && zone - kZoneFormat0 < s->format_count) {
        s->format = (uint32_t)(zone - kZoneFormat0);
        ex_update_estimate(s);
    }
}

static void on_button_down(ExportState *s, int x, int y)
{
    SetFocus(s->hwnd);
    s->pressed = ex_hit(s, x, y);
    s->editing = s->pressed == kZoneCustom;
    s->kb_selected = s->editing;
    if (s->editing) _snwprintf(s->kb_text, std::size(s->kb_text), L"%u", s->target_kb);
    s->kb_text[std::size(s->kb_text) - 1] = 0;
    InvalidateRect(s->hwnd, nullptr, FALSE);
}

static void on_button_up(ExportState *s, int x, int y)
{
    int zone = ex_hit(s, x, y);
    int pressed = s->pressed;
    s->pressed = 0;
    if (zone != 0 && zone == pressed) ex_act(s, zone);
    if (IsWindow(s->hwnd)) InvalidateRect(s->hwnd, nullptr, FALSE);
}

static void on_mouse_move(ExportState *s, int x, int y)
{
    int zone = ex_hit(s, x, y);
    if (zone != s->hot) {
        s->hot = zone;
        InvalidateRect(s->hwnd, nullptr, FALSE);
    }
    TRACKMOUSEEVENT tme = {sizeof tme, TME_LEAVE, s->hwnd, 0};
    TrackMouseEvent(&tme);
}

static int key_digit(WPARAM key)
{
    if (key >= '0' && key <= '9') return (int)(key - '0');
    if (key >= VK_NUMPAD0 && key <= VK_NUMPAD9) return (int)(key - VK_NUMPAD0);
    return -1;
}

static void on_edit_key(ExportState *s, WPARAM key)
{
    int digit = key_digit(key);
    if (s->kb_selected && (digit >= 0 || key == VK_BACK)) s->kb_text[0] = 0;  // typing replaces the selection
    s->kb_selected = 0;
    size_t len = wcslen(s->kb_text);
    if (key == VK_BACK) {
        if (len > 0) s->kb_text[len - 1] = 0;
    } else if (digit >= 0) {
        if (len > 14) return;
        s->kb_text[len] = (WCHAR)(L'0' + digit);
        s->kb_text[len + 1] = 0;
    } else {
        return;
    }
    s->target_kb = parse_kb(s->kb_text);
    ex_update_estimate(s);
    InvalidateRect(s->hwnd, nullptr, FALSE);
}

static void on_key(ExportState *s, WPARAM key)
{
    if (key == VK_ESCAPE || key == VK_RETURN) {
        ex_finish(s, key == VK_RETURN ? 1 : 0);
    } else if (s->editing) {
        on_edit_key(s, key);
    } else if (key == VK_RIGHT || key == VK_LEFT) {
        set_quality(s, (int)s->quality + (key == VK_RIGHT ? 5 : -5));
        InvalidateRect(s->hwnd, nullptr, FALSE);
    }
}

static bool on_set_cursor(ExportState *s, LPARAM lp)
{
    if (LOWORD(lp) != HTCLIENT) return false;
    POINT pt;
    GetCursorPos(&pt);
    ScreenToClient(s->hwnd, &pt);
    SetCursor(LoadCursorW(nullptr, ex_hit(s, pt.x, pt.y) ? IDC_HAND : IDC_ARROW));
    return true;
}

static void on_paint(ExportState *s)
{
    RECT rc;
    GetClientRect(s->hwnd, &rc);
    dlg_paint_buffered(s->hwnd, rc.right, rc.bottom, [s](HDC mem) { ex_paint(s, mem); });
}

LRESULT CALLBACK ex_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    auto *s = (ExportState *)GetWindowLongPtrW(hwnd, GWLP_USERDATA);
    if (msg == WM_EX_RESULT) {
        ex_on_result(hwnd, (EstimateJob *)lp);
        return 0;
    }
    if (!s) return DefWindowProcW(hwnd, msg, wp, lp);
    switch (msg) {
    case WM_SIZE:
        s->client_h = HIWORD(lp);
        ex_layout(s);
        InvalidateRect(hwnd, nullptr, FALSE);
        return 0;
    case WM_PAINT:
        on_paint(s);
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case WM_SETCURSOR:
        if (on_set_cursor(s, lp)) return TRUE;
        break;
    case WM_MOUSEMOVE:
        on_mouse_move(s, (short)LOWORD(lp), (short)HIWORD(lp));
        return 0;
    case WM_MOUSELEAVE:
        s->hot = 0;
        InvalidateRect(hwnd, nullptr, FALSE);
        return 0;
    case WM_LBUTTONDOWN:
        on_button_down(s, (short)LOWORD(lp), (short)HIWORD(lp));
        return 0;
    case WM_LBUTTONUP:
        on_button_up(s, (short)LOWORD(lp), (short)HIWORD(lp));
        return 0;
    case WM_KEYDOWN:
        on_key(s, wp);
        return 0;
    case WM_TIMER:
        if (wp == kExTimerDebounce) ex_start_worker(s);
        if (wp == kExTimerPoll) ex_poll_worker(s);
        return 0;
    case WM_CLOSE:
        ex_finish(s, 0);
        return 0;
    case WM_DESTROY:
        ex_teardown(s);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

// ---- opening ----

static uint32_t initial_target(const App *app, int target_kb)
{
    if (target_kb <= 0) target_kb = app->compress_kb > 0 ? app->compress_kb : 200;
    return (uint32_t)(target_kb > kExMaxKB ? kExMaxKB : target_kb);
}

static void fill_state(ExportState *s, App *app, int mode, int target_kb, int format)
{
    s->app = app;
    s->mode = mode ? 1 : 0;
    s->target_kb = initial_target(app, target_kb);
    s->quality = app->quality >= 30 && app->quality <= 95 ? (uint32_t)app->quality : 90;
    s->auto_shrink = app->compress_allow_downscale ? 1 : 0;
    s->format_count = s->mode ? 5 : 3;
    s->dpi = app->dpi < 72 ? 96 : (uint32_t)app->dpi;
    s->format = format < 0 || format >= s->format_count ? 0 : (uint32_t)format;
    s->font_text = app->font_text;
    s->font_small = app->font_small;
    s->font_bold = app->font_bold;
}

// Centred on the main window, never at negative coordinates.
static HWND create_window(ExportState *s)
{
    int cw, ch;
    ex_client_size(s, &cw, &ch);
    RECT frame = {0, 0, cw, ch};
    AdjustWindowRectEx(&frame, kExStyle, FALSE, kExExStyle);
    int ww = frame.right - frame.left, wh = frame.bottom - frame.top;
    RECT owner = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    if (s->app->hwnd) GetWindowRect(s->app->hwnd, &owner);
    int x = owner.left + (owner.right - owner.left - ww) / 2;
    int y = owner.top + (owner.bottom - owner.top - wh) / 2;
    return CreateWindowExW(kExExStyle, kExportClass, s->mode ? L"转换格式" : L"压缩图片", kExStyle,
                           x < 0 ? 0 : x, y < 0 ? 0 : y, ww, wh, s->app->hwnd, nullptr, s->app->instance,
                           nullptr);
}

static void store_choices(const ExportState *s, App *app)
{
    app->compress_kb = (int32_t)s->target_kb;
    app->compress_allow_downscale = (int32_t)s->auto_shrink;
    app->quality = (int32_t)s->quality;
    if (s->mode)
        app->convert_format = (int32_t)s->format;
    else
        app->compress_format = (int32_t)s->format;
    app->export_format = (int32_t)s->format;
}

// Returns 1 and the exit code when a quit request ended the loop.
static int run_modal_loop(ExportState *s, int *quit_code)
{
    MSG msg;
    while (IsWindow(s->hwnd)) {
        BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got <= 0) {
            // Closed as by cancel; a quit request is passed on to the main loop.
            if (IsWindow(s->hwnd)) ex_finish(s, 0);
            *quit_code = (int)msg.wParam;
            return got == 0;
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}

int dlg_run_export(App *app, int mode, int target_kb, int format)
{
    if (!dlg_register_class(app->instance, ex_proc, kExportClass)) return 0;
    auto *s = (ExportState *)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(ExportState));
    if (!s) return 0;
    s->token = token_new();
    if (!s->token) {
        HeapFree(GetProcessHeap(), 0, s);
        return 0;
    }
    fill_state(s, app, mode, target_kb, format);
    s->hwnd = create_window(s);
    if (!s->hwnd) {
        token_release(s->token);
        HeapFree(GetProcessHeap(), 0, s);
        return 0;
    }
    s->token->hwnd = s->hwnd;
    SetWindowLongPtrW(s->hwnd, GWLP_USERDATA, (LONG_PTR)s);
    RECT rc;
    GetClientRect(s->hwnd, &rc);
    s->client_h = (uint32_t)rc.bottom;
    ex_layout(s);
    ex_update_estimate(s);

    modal_enter();
    if (app->hwnd) EnableWindow(app->hwnd, FALSE);
    ShowWindow(s->hwnd, SW_SHOW);
    UpdateWindow(s->hwnd);
    int quit_code = 0;
    int quit = run_modal_loop(s, &quit_code);
    if (app->hwnd) {
        EnableWindow(app->hwnd, TRUE);
        SetForegroundWindow(app->hwnd);
    }
    modal_leave();
    if (quit) PostQuitMessage(quit_code);

    if (s->token) ex_teardown(s);  // the window went some other way
    uint32_t result = s->result;
    if (result == 1) store_choices(s, app);
    HeapFree(GetProcessHeap(), 0, s);
    return (int)result;
}
