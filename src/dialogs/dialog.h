// The export dialog: picks a target size or a format and shows a live size
// estimate computed on a worker thread. Custom drawn, no child controls.
#pragma once
#include <windows.h>
#include <cstdint>
#include "state/app_state.h"

constexpr UINT WM_EX_RESULT = WM_APP + 41;  // wParam: the job's seq, lParam: the EstimateJob
constexpr UINT_PTR kExTimerDebounce = 1, kExTimerPoll = 2;
constexpr int32_t kExMaxKB = 100000;

// Zone numbers returned by ex_hit.
enum ExZone : int32_t {
    kZoneNone = 0,
    kZoneKB1 = 1,  // 1..6: the size chips, in the order of kKB
    kZoneCustom = 7,
    kZoneShrink = 8,
    kZoneQualityDown = 9,
    kZoneQualityUp = 10,
    kZoneSave = 11,
    kZoneCancel = 12,
    kZoneFormat0 = 13,  // 13..13+format_count-1: the format chips
};

// Shared between a dialog and its estimate threads.
struct ExportToken {
    volatile LONG cancel;  // 1 once the dialog closes
    HWND hwnd;             // where results go; null once the dialog takes none
    volatile LONG refs;    // 1 for the dialog plus 1 per live job
    SRWLOCK lock;          // held around clearing hwnd and around a worker's check-and-post
};

// One estimate request; the thread owns it until it posts, the dialog after.
struct EstimateJob {
    ExportToken *token;
    uint32_t mode, target_kb, format, quality, auto_shrink;
    int32_t seq;
    WCHAR src_path[kPathMax];
    WCHAR keep_path[kPathMax];  // the picture's file while the picture is unchanged, else empty
    uint32_t width, height, stride;
    int32_t has_alpha;
    uint8_t *pixels;  // process heap
    uint32_t ok;
    uint32_t out_bytes, out_width, out_height, out_quality;
};

struct ExportState {
    App *app;
    uint32_t mode;  // 0 compress, 1 convert
    HWND hwnd;
    uint32_t result;
    uint32_t target_kb;
    uint32_t auto_shrink;
    uint32_t format;
    uint32_t quality;
    int32_t format_count;
    int32_t hot, pressed, editing;
    int32_t kb_selected;  // the box's whole text is selected: the next digit replaces it
    uint32_t dpi;
    HFONT font_text, font_small, font_bold;  // borrowed from the App
    WCHAR kb_text[16];

    RECT rc_label_kb, rc_kb[6], rc_custom, rc_kb_box, rc_shrink;
    RECT rc_label_fmt, rc_fmt[5];
    RECT rc_q_down, rc_q_up, rc_q_label, rc_track;
    RECT rc_est, rc_sep, rc_save, rc_cancel;

    uint32_t est_bytes, est_width, est_height, est_quality;
    int32_t est_over, est_valid, est_busy;
    int32_t measuring;
    uint32_t client_h;
    int32_t content_h;
    HANDLE worker;
    ExportToken *token;
    volatile LONG seq;
    uint32_t req_target_kb, req_format, req_quality, req_auto_shrink;
};

// Runs the modal dialog over the App's window; 1 when the user confirmed (the
// choices are then stored in the App), else 0.
int dlg_run_export(App *app, int mode, int target_kb, int format);

LRESULT CALLBACK ex_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
void ex_update_estimate(ExportState *state);
DWORD WINAPI ex_worker(void *param);
void job_free(EstimateJob *job);
void ex_finish(ExportState *state, uint32_t result);
// Blocks until every estimate thread that outlived its dialog has ended; call
// before the codecs shut down.
void ex_wait_orphans();

// Layout, hit testing and painting.
void ex_layout(ExportState *state);
int ex_hit(const ExportState *state, int x, int y);
void ex_paint(ExportState *state, HDC dc);
// Client size of the dialog for the state's mode and DPI (runs the measuring pass).
void ex_client_size(ExportState *state, int *width, int *height);
// 1 when the compression estimate keeps the picture's file as it is (no quality).
int ex_estimate_kept(const ExportState *state);
// "%.2f MB" / "%.0f KB" figure of an estimate.
void ex_size_text(uint32_t bytes, WCHAR *out, int cap);

// The estimate the workers run; tests put a fake in its place (null restores
// app_export_estimate_job). Change it only while no dialog is open.
using ExportEstimateFn = int (*)(uint32_t mode, const Image *picture, int32_t target_kb, uint32_t format,
                                 uint32_t quality, uint32_t allow_downscale, const WCHAR *src_path,
                                 const WCHAR *keep_path, uint32_t *out_bytes, uint32_t *out_width, uint32_t *out_height,
                                 uint32_t *out_quality);
void ex_set_estimate_fn(ExportEstimateFn fn);

// What is alive right now: jobs, tokens and estimate threads.
struct ExportCounts {
    LONG jobs, tokens, threads;
};
ExportCounts ex_live_counts();
