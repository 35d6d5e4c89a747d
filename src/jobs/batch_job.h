// Batch processing: the job record, the per-file step, the worker and the folder scan.
#pragma once
#include "state/app_state.h"

constexpr int kBatchMaxFiles = 4096;
constexpr int kBatchScanStack = 8192;
constexpr int kBatchScanMaxDepth = 48;
constexpr int kBatchMaxNumber = 999;
constexpr int kBatchStatusMax = 256;
// Each preparing thread may hold a picture of up to 100 M pixels at once.
constexpr int kBatchMaxWorkers = 4;

// Posted by the worker and the scan thread to job->hwnd.
constexpr UINT WM_BATCH_ITEM_START = WM_APP + 0x3C;  // wParam index
constexpr UINT WM_BATCH_ITEM_DONE = WM_APP + 0x3D;   // wParam index, lParam a BatchOutcome
constexpr UINT WM_BATCH_FINISHED = WM_APP + 0x3E;    // wParam files written, lParam files failed
constexpr UINT WM_BATCH_SCAN_DONE = WM_APP + 0x3F;

// Result of one file. Missing the size target still writes the file, so it
// counts among the files written but is reported on its own.
enum BatchOutcome : int { kBatchFailed = 0, kBatchWritten = 1, kBatchOverTarget = 2 };

struct BatchRatio {
    int32_t w, h;
    const WCHAR *label;
};
static constexpr BatchRatio kRatios[] = {{1, 1, L"1:1"}, {4, 3, L"4:3"}, {3, 4, L"3:4"}, {16, 9, L"16:9"},
                                         {9, 16, L"9:16"}};
static constexpr const WCHAR *kConvName[] = {L"JPEG", L"PNG", L"WebP", L"BMP", L"TIFF"};
static constexpr const WCHAR *kConvExt[] = {L"jpg", L"png", L"webp", L"bmp", L"tif"};

// What became of one file, for front ends that list them (the console one).
struct BatchItemResult {
    WCHAR output[kPathMax];  // the file written, or empty
    WCHAR message[kBatchStatusMax];
};

using BatchPath = WCHAR[kPathMax];

// Hit ids of the dialog's controls (also the indices of rc).
constexpr int kBatchIds = 39;

struct BatchJob {
    App *app;
    HWND hwnd;
    int32_t dpi;
    HFONT font_text, font_small, font_bold;
    int32_t hot;
    int32_t edit_id;
    int32_t edit_text;
    int32_t edit_all;  // a number field's whole text is selected: the next digit replaces it
    WCHAR edit_buf[kPathMax];  // a whole folder path fits, so editing never shortens it
    int32_t *edit_target;
    BatchPath *files;
    int32_t file_count;
    int32_t list_top;

    // Settings, kept in g_bdef between openings.
    int32_t crop_on, convert_on, compress_on;
    int32_t crop_mode;
    int32_t crop_w, crop_h;
    int32_t ratio_index;
    int32_t resize_width;
    int32_t format_index;
    int32_t quality;
    int32_t target_kb;
    int32_t auto_downscale;
    WCHAR out_dir[kPathMax];
    int32_t seq_rename;

    HANDLE worker_thread;
    HANDLE scan_thread;
    int32_t scanning;
    BatchPath *scan_list;
    int32_t scan_count;
    volatile LONG cancel;  // set by the UI thread, read by the worker: interlocked both ways
    int32_t running;
    int32_t current;
    int32_t ok_count;
    int32_t fail_count;
    int32_t finished;
    WCHAR status[kBatchStatusMax];
    int32_t client_w, client_h;
    int32_t content_h;
    int32_t view_h;
    int32_t scroll_y;

    RECT rc[kBatchIds];  // by hit id; empty when hidden
    RECT rc_header, rc_list, rc_track, rc_status;

    int32_t partial_count;     // written, but over the size target
    int32_t workers;           // threads that prepare files; 0 picks one per processor
    int32_t stop_after;        // scripted cancel once this many files are done; 0 for none
    BatchItemResult *results;  // per file, when the front end wants them; else null
    // Called between a name's free check and the rename into it (tests race files in here).
    void (*name_checked)(const WCHAR *path);
};

extern BatchJob g_bdef;
extern int g_bdef_inited;

void batch_settings_default(BatchJob *job);
// Settings from g_bdef when a dialog was closed before, else the defaults.
void batch_settings_load(BatchJob *job);
// Remembers the whole record (its lists already detached) for the next opening.
void batch_settings_save(const BatchJob *job);

BatchPath *batch_list_new();
void batch_list_free(BatchPath *list);
// Appends while there is room; returns the number taken.
int batch_add_paths(BatchJob *job, const BatchPath *paths, int count);

void batch_ensure_outdir(BatchJob *job, const WCHAR *first_path);
// Creates the output folder; on failure writes the reason into msg and returns 0.
int batch_prepare_outdir(const BatchJob *job, WCHAR *msg, int msg_cap);
// Returns a BatchOutcome; fills job->results[index] when there are results.
int batch_process_one(BatchJob *job, int index);
DWORD WINAPI batch_worker(void *job);
DWORD WINAPI batch_scan_folder(void *arg);
// The scan thread's argument: the job followed by the root folder (528 bytes).
void *batch_scan_arg(BatchJob *job, const WCHAR *root);
// Number of preparing threads a run uses.
int batch_worker_count(const BatchJob *job);
void batch_set_cancel(BatchJob *job);
int batch_cancelled(const BatchJob *job);
