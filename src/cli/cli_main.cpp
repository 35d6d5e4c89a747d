// veldmoor-cli: the engine from the command line, for scripts and checks from outside.
#include "app/app.h"
#include "codec/codec.h"
#include "codec/exif.h"
#include "compress/compress.h"
#include "jobs/batch_job.h"
#include "files/files.h"
#include "image/resize.h"
#include <cwchar>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <vector>

static constexpr int kErrCap = 600;

struct CliArgs {
    int argc;
    WCHAR **argv;
};

// A console shows UTF-8 bytes through its own code page, so Chinese comes out garbled:
// it gets UTF-16 through WriteConsoleW. A file or a pipe gets UTF-8.
static void write_text(DWORD which, const WCHAR *text)
{
    HANDLE handle = GetStdHandle(which);
    DWORD mode, written;
    if (GetConsoleMode(handle, &mode)) {
        WriteConsoleW(handle, text, (DWORD)wcslen(text), &written, nullptr);
        return;
    }
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 1) return;
    std::vector<char> utf8((size_t)bytes);
    WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8.data(), bytes, nullptr, nullptr);
    WriteFile(handle, utf8.data(), (DWORD)(bytes - 1), &written, nullptr);
}

static void out(const WCHAR *format, ...)
{
    WCHAR line[4096];
    va_list args;
    va_start(args, format);
    _vsnwprintf(line, 4095, format, args);
    va_end(args);
    line[4095] = 0;
    write_text(STD_OUTPUT_HANDLE, line);
}

static int fail(const WCHAR *message)
{
    write_text(STD_ERROR_HANDLE, message);
    write_text(STD_ERROR_HANDLE, L"\n");
    return 1;
}

// Value of "--name VALUE" among the arguments after the positional ones, or null.
static const WCHAR *option(const CliArgs &a, const WCHAR *name)
{
    for (int i = 2; i + 1 < a.argc; ++i)
        if (!wcscmp(a.argv[i], name)) return a.argv[i + 1];
    return nullptr;
}

static bool flag(const CliArgs &a, const WCHAR *name)
{
    for (int i = 2; i < a.argc; ++i)
        if (!wcscmp(a.argv[i], name)) return true;
    return false;
}

static int int_option(const CliArgs &a, const WCHAR *name, int fallback)
{
    const WCHAR *v = option(a, name);
    return v ? _wtoi(v) : fallback;
}

static int usage();
static double ms_since(const LARGE_INTEGER &t0)
{
    LARGE_INTEGER t1, freq;
    QueryPerformanceCounter(&t1);
    QueryPerformanceFrequency(&freq);
    return (t1.QuadPart - t0.QuadPart) * 1000.0 / freq.QuadPart;
}

static void out_time(const CliArgs &a, double ms)
{
    if (flag(a, L"--time")) out(L" ms=%.1f", ms);
    out(L"\n");
}

static int cmd_info(const CliArgs &a)
{
    WCHAR err[kErrCap];
    LARGE_INTEGER t0;
    QueryPerformanceCounter(&t0);
    Image *img = codec_load(a.argv[2], err, kErrCap);
    double ms = ms_since(t0);
    if (!img) return fail(err);
    out(L"%ux%u alpha=%d", img->width, img->height, img->has_alpha);
    out_time(a, ms);
    image_free(img);
    return 0;
}

static int save_and_report(const Image *img, const WCHAR *path, int quality, const WCHAR *exif_src)
{
    WCHAR err[kErrCap];
    if (!codec_save(img, path, quality, exif_src, err, kErrCap)) return fail(err);
    out(L"%d\n", file_bytes(path));
    return 0;
}

static int cmd_convert(const CliArgs &a)
{
    WCHAR err[kErrCap];
    Image *img = codec_load(a.argv[2], err, kErrCap);
    if (!img) return fail(err);
    int rc = save_and_report(img, a.argv[3], int_option(a, L"--quality", 90), a.argv[2]);
    image_free(img);
    return rc;
}

static int cmd_exif(const CliArgs &a)
{
    WCHAR list[8192];
    exif_list_carried(a.argv[2], list, 8192);
    out(L"%s", list);
    return 0;
}

static int cmd_resize(const CliArgs &a)
{
    const WCHAR *size = option(a, L"--size");
    unsigned w = 0, h = 0;
    if (!size || swscanf(size, L"%ux%u", &w, &h) != 2 || !w || !h) return fail(L"--size WxH is required");
    WCHAR err[kErrCap];
    Image *img = codec_load(a.argv[2], err, kErrCap);
    if (!img) return fail(err);
    Image *resized = image_resize(img, (int)w, (int)h, int_option(a, L"--filter", 0));
    image_free(img);
    if (!resized) return fail(L"内存不足，无法缩放图片。");
    int rc = save_and_report(resized, a.argv[3], 90, a.argv[2]);
    image_free(resized);
    return rc;
}

static int cmd_thumb(const CliArgs &a)
{
    WCHAR err[kErrCap];
    LARGE_INTEGER t0;
    QueryPerformanceCounter(&t0);
    Image *img = codec_load_thumb(a.argv[2], (uint32_t)int_option(a, L"--max", 96), err, kErrCap);
    double ms = ms_since(t0);
    if (!img) return fail(err);
    if (!codec_save(img, a.argv[3], 90, nullptr, err, kErrCap)) {
        image_free(img);
        return fail(err);
    }
    out(L"%d", file_bytes(a.argv[3]));
    out_time(a, ms);
    image_free(img);
    return 0;
}

static int cmd_queue(const CliArgs &a)
{
    App *app = (App *)calloc(1, sizeof(App));
    if (!app) return fail(L"内存不足。");
    app->queue_index = -1;
    WCHAR full[MAX_PATH];
    if (!GetFullPathNameW(a.argv[2], MAX_PATH, full, nullptr)) lstrcpynW(full, a.argv[2], MAX_PATH);
    files_dir_scan(app, full);
    for (int i = 0; i < app->queue_count; ++i)
        out(L"%s%s\n", i == app->queue_index ? L"*" : L"", app->queue_paths[i]);
    free(app);
    return 0;
}

static int cmd_compress(const CliArgs &a)
{
    const WCHAR *kb = option(a, L"--kb");
    if (!kb) return fail(L"--kb N is required");
    WCHAR err[kErrCap];
    Image *img = codec_load(a.argv[2], err, kErrCap);
    if (!img) return fail(err);
    int min_side = int_option(a, L"--min-side", 64);
    CompressParams params = {_wtoi(kb), flag(a, L"--no-shrink") ? 0u : 1u, (uint32_t)(min_side > 0 ? min_side : 0),
                             30, 95, a.argv[2]};
    const WCHAR *ext = codec_file_ext(a.argv[3]);
    CompressResult result = {};
    Blob blob = {};
    LARGE_INTEGER t0, t1, freq;
    QueryPerformanceFrequency(&freq);
    QueryPerformanceCounter(&t0);
    int ok = compress_run(img, *ext ? ext : L".jpg", &params, a.argv[2], &result, &blob, err, kErrCap);
    QueryPerformanceCounter(&t1);
    image_free(img);
    if (!ok) return fail(err);
    ok = codec_write_blob(a.argv[3], &blob, err, kErrCap);
    blob_free(&blob);
    if (!ok) return fail(err);
    out(L"bytes=%d size=%ux%u quality=%u downscaled=%d target_missed=%d kept=%d", result.bytes, result.width,
        result.height, result.quality, result.downscaled, result.target_missed, result.kept_source);
    if (flag(a, L"--time")) out(L" ms=%.1f", (t1.QuadPart - t0.QuadPart) * 1000.0 / freq.QuadPart);
    out(L"\n");
    return 0;
}

// ---- batch: the batch engine with its real threads, reporting to a message-only window ----

struct BatchCli {
    BatchJob *job;
    bool scan_only;
    bool console;  // progress goes to stderr only when a person watches
};

static BatchJob *volatile g_cli_job;

static BOOL WINAPI cli_batch_ctrl(DWORD type)
{
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) return FALSE;
    if (g_cli_job) batch_set_cancel(g_cli_job);
    return TRUE;
}

// One line per file: tabs and line breaks inside a message would break the columns.
static void out_field(const WCHAR *text, WCHAR *dst, int cap)
{
    lstrcpynW(dst, text, cap);
    for (WCHAR *c = dst; *c; ++c)
        if (*c == L'\t' || *c == L'\r' || *c == L'\n') *c = L' ';
}

static void cli_batch_progress(const BatchCli *run, int index)
{
    if (!run->console) return;
    WCHAR line[400];
    // Padded rather than cleared with an escape sequence, which older consoles print.
    _snwprintf(line, 399, L"\r%d / %d  %-60.60s", index + 1, run->job->file_count,
               codec_file_part(run->job->files[index]));
    line[399] = 0;
    write_text(STD_ERROR_HANDLE, line);
}

static void cli_batch_item(const BatchCli *run, int index, int outcome)
{
    const BatchItemResult &r = run->job->results[index];
    static constexpr const WCHAR *kWord[] = {L"fail", L"ok", L"partial"};
    WCHAR what[kBatchStatusMax];
    out_field(outcome == kBatchFailed ? r.message : r.output, what, kBatchStatusMax);
    out(L"%d\t%s\t%s\t%s\n", index + 1, kWord[outcome >= 0 && outcome <= 2 ? outcome : 0], run->job->files[index],
        what);
}

static void cli_batch_finished(const BatchCli *run)
{
    const BatchJob *job = run->job;
    if (run->console) write_text(STD_ERROR_HANDLE, L"\n");
    bool cut_short = batch_cancelled(job) && job->ok_count + job->partial_count + job->fail_count < job->file_count;
    out(L"written=%d partial=%d failed=%d cancelled=%d\n", job->ok_count, job->partial_count, job->fail_count,
        cut_short ? 1 : 0);
}

static LRESULT CALLBACK cli_batch_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    auto *run = (BatchCli *)GetWindowLongPtrW(hwnd, GWLP_USERDATA);
    if (!run) return DefWindowProcW(hwnd, msg, wp, lp);
    BatchJob *job = run->job;
    switch (msg) {
    case WM_BATCH_SCAN_DONE:
        WaitForSingleObject(job->scan_thread, INFINITE);
        if (job->scan_list) batch_add_paths(job, job->scan_list, job->scan_count);
        batch_list_free(job->scan_list);
        job->scan_list = nullptr;
        job->scanning = 0;
        PostQuitMessage(0);
        return 0;
    case WM_BATCH_ITEM_START: cli_batch_progress(run, (int)wp); return 0;
    case WM_BATCH_ITEM_DONE:
        if (lp == kBatchWritten) ++job->ok_count;
        else if (lp == kBatchOverTarget) ++job->partial_count;
        else ++job->fail_count;
        cli_batch_item(run, (int)wp, (int)lp);
        return 0;
    case WM_BATCH_FINISHED:
        cli_batch_finished(run);
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

static void pump_until_quit()
{
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
}

static HWND cli_batch_window(BatchCli *run)
{
    WNDCLASSEXW wc = {sizeof wc};
    wc.lpfnWndProc = cli_batch_proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"Veldmoor.BatchCli";
    RegisterClassExW(&wc);
    HWND hwnd = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
    if (hwnd) SetWindowLongPtrW(hwnd, GWLP_USERDATA, (LONG_PTR)run);
    return hwnd;
}

static void full_path(const WCHAR *path, WCHAR out[kPathMax])
{
    DWORD n = GetFullPathNameW(path, kPathMax, out, nullptr);
    if (!n || n >= (DWORD)kPathMax) lstrcpynW(out, path, kPathMax);
}

// --crop fixed:WxH | ratio:W:H | width:N
static bool parse_crop(const WCHAR *text, BatchJob *job)
{
    int a = 0, b = 0;
    WCHAR tail;
    job->crop_on = 1;
    if (swscanf(text, L"fixed:%dx%d%lc", &a, &b, &tail) == 2 && a >= 1 && a <= 20000 && b >= 1 && b <= 20000) {
        job->crop_mode = 0;
        job->crop_w = a;
        job->crop_h = b;
        return true;
    }
    if (swscanf(text, L"width:%d%lc", &a, &tail) == 1 && a >= 1 && a <= 20000) {
        job->crop_mode = 2;
        job->resize_width = a;
        return true;
    }
    if (swscanf(text, L"ratio:%d:%d%lc", &a, &b, &tail) == 2)
        for (int i = 0; i < (int)std::size(kRatios); ++i)
            if (kRatios[i].w == a && kRatios[i].h == b) {
                job->crop_mode = 1;
                job->ratio_index = i;
                return true;
            }
    return false;
}

static bool parse_convert(const WCHAR *ext, BatchJob *job)
{
    for (int i = 0; i < (int)std::size(kConvExt); ++i)
        if (!_wcsicmp(ext, kConvExt[i]) || !_wcsicmp(ext, kConvName[i])) {
            job->convert_on = 1;
            job->format_index = i;
            return true;
        }
    return false;
}

static bool is_number(const WCHAR *text, int lo, int hi, int *value)
{
    WCHAR *end = nullptr;
    long v = text ? wcstol(text, &end, 10) : 0;
    if (!text || !*text || *end || v < lo || v > hi) return false;
    *value = (int)v;
    return true;
}

// Reads a UTF-8 list of paths, one a line.
static bool read_list(const WCHAR *file, BatchJob *job)
{
    HANDLE f = CreateFileW(file, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size = {};
    GetFileSizeEx(f, &size);
    std::vector<char> bytes((size_t)(size.QuadPart > 0 && size.QuadPart < (1 << 26) ? size.QuadPart : 0));
    DWORD got = 0;
    bool ok = bytes.empty() || (ReadFile(f, bytes.data(), (DWORD)bytes.size(), &got, nullptr) && got == bytes.size());
    CloseHandle(f);
    if (!ok) return false;
    size_t at = bytes.size() >= 3 && !memcmp(bytes.data(), "\xEF\xBB\xBF", 3) ? 3 : 0;
    while (at < bytes.size() && job->file_count < kBatchMaxFiles) {
        size_t end = at;
        while (end < bytes.size() && bytes[end] != '\n') ++end;
        size_t len = end - at;
        while (len && (bytes[at + len - 1] == '\r' || bytes[at + len - 1] == ' ')) --len;
        WCHAR path[kPathMax];
        int n = len ? MultiByteToWideChar(CP_UTF8, 0, bytes.data() + at, (int)len, path, kPathMax - 1) : 0;
        if (n > 0) {
            path[n] = 0;
            full_path(path, job->files[job->file_count++]);
        }
        at = end + 1;
    }
    return true;
}

struct BatchSource {
    const WCHAR *dir, *list;
    int pictures;
};

// Options into the job; false for bad usage.
static bool parse_batch(const CliArgs &a, BatchJob *job, BatchSource *src, BatchCli *run)
{
    static constexpr const WCHAR *kValued[] = {L"--dir", L"--list", L"--out", L"--crop", L"--convert", L"--quality",
                                               L"--compress", L"--workers", L"--cancel-after"};
    for (int i = 2; i < a.argc; ++i) {
        const WCHAR *arg = a.argv[i];
        if (!wcscmp(arg, L"--no-shrink")) {
            job->auto_downscale = 0;
            continue;
        }
        if (!wcscmp(arg, L"--scan-only")) {
            run->scan_only = true;
            continue;
        }
        if (wcsncmp(arg, L"--", 2)) {
            if (job->file_count < kBatchMaxFiles) full_path(arg, job->files[job->file_count++]);
            ++src->pictures;
            continue;
        }
        bool valued = false;
        for (const WCHAR *name : kValued) valued = valued || !wcscmp(arg, name);
        if (!valued || i + 1 >= a.argc) return false;
        const WCHAR *v = a.argv[++i];
        bool ok = true;
        if (!wcscmp(arg, L"--dir")) src->dir = v;
        else if (!wcscmp(arg, L"--list")) src->list = v;
        else if (!wcscmp(arg, L"--out")) full_path(v, job->out_dir);
        else if (!wcscmp(arg, L"--crop")) ok = parse_crop(v, job);
        else if (!wcscmp(arg, L"--convert")) ok = parse_convert(v, job);
        else if (!wcscmp(arg, L"--quality")) ok = is_number(v, 30, 95, &job->quality);
        else if (!wcscmp(arg, L"--compress")) ok = (job->compress_on = is_number(v, 1, 2000000, &job->target_kb));
        else if (!wcscmp(arg, L"--workers")) ok = is_number(v, 1, kBatchMaxWorkers, &job->workers);
        else ok = is_number(v, 1, kBatchMaxFiles, &job->stop_after);
        if (!ok) return false;
    }
    return (src->dir != nullptr) + (src->list != nullptr) + (src->pictures > 0) == 1;
}

static bool cli_batch_scan(BatchJob *job, const WCHAR *dir)
{
    WCHAR root[kPathMax];
    full_path(dir, root);
    void *arg = batch_scan_arg(job, root);
    job->scanning = 1;
    job->scan_thread = arg ? CreateThread(nullptr, 0, batch_scan_folder, arg, 0, nullptr) : nullptr;
    if (!job->scan_thread) return false;
    pump_until_quit();
    CloseHandle(job->scan_thread);
    job->scan_thread = nullptr;
    return true;
}

static int cli_batch_start(BatchCli *run)
{
    BatchJob *job = run->job;
    WCHAR msg[kBatchStatusMax];
    if (!job->file_count) return fail(L"请先添加图片");
    if (!job->crop_on && !job->convert_on && !job->compress_on) return fail(L"请至少勾选一种操作");
    if (!job->out_dir[0]) return fail(L"请选择输出文件夹");
    if (!batch_prepare_outdir(job, msg, kBatchStatusMax)) return fail(msg);
    job->results = (BatchItemResult *)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY,
                                                sizeof(BatchItemResult) * (size_t)job->file_count);
    if (!job->results) return fail(L"内存不足。");
    g_cli_job = job;
    SetConsoleCtrlHandler(cli_batch_ctrl, TRUE);
    job->worker_thread = CreateThread(nullptr, 0, batch_worker, job, 0, nullptr);
    if (!job->worker_thread) return fail(L"无法启动处理线程");
    pump_until_quit();
    WaitForSingleObject(job->worker_thread, INFINITE);
    CloseHandle(job->worker_thread);
    g_cli_job = nullptr;
    return 0;
}

static int cmd_batch(const CliArgs &a)
{
    auto *job = (BatchJob *)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(BatchJob));
    BatchPath *files = batch_list_new();
    if (!job || !files) return fail(L"内存不足。");
    batch_settings_default(job);
    job->convert_on = 0;  // only the operations named on the command line
    job->files = files;
    DWORD mode;
    BatchCli run = {job, false, GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0};
    BatchSource src = {};
    int rc = 0;
    if (!parse_batch(a, job, &src, &run)) rc = usage();
    HWND hwnd = rc ? nullptr : cli_batch_window(&run);
    job->hwnd = hwnd;
    if (!rc && !hwnd) rc = fail(L"无法创建消息窗口。");
    if (!rc && src.list && !read_list(src.list, job)) rc = fail(L"读不了文件列表。");
    if (!rc && src.dir && !cli_batch_scan(job, src.dir)) rc = fail(L"无法启动扫描线程。");
    if (!rc && run.scan_only)
        for (int i = 0; i < job->file_count; ++i) out(L"%s\n", job->files[i]);
    else if (!rc)
        rc = cli_batch_start(&run);
    if (hwnd) DestroyWindow(hwnd);
    if (job->results) HeapFree(GetProcessHeap(), 0, job->results);
    batch_list_free(files);
    HeapFree(GetProcessHeap(), 0, job);
    return rc;
}

struct CliCommand {
    const WCHAR *name;
    int positional;  // arguments after the subcommand name
    int (*run)(const CliArgs &);
    const WCHAR *usage;
};

static constexpr CliCommand kCommands[] = {
    {L"info", 1, cmd_info, L"info FILE [--time]             size and transparency of the picture as loaded"},
    {L"convert", 2, cmd_convert, L"convert IN OUT [--quality Q]   re-encode by OUT's extension; prints bytes written"},
    {L"exif", 1, cmd_exif, L"exif FILE                      carried EXIF items of a JPEG, TAG=VALUE"},
    {L"resize", 2, cmd_resize, L"resize IN OUT --size WxH [--filter 0-4]"},
    {L"thumb", 2, cmd_thumb, L"thumb IN OUT [--max N] [--time] thumbnail as the strip makes it"},
    {L"queue", 1, cmd_queue, L"queue FILE                     the folder queue in order, current marked *"},
    {L"compress", 2, cmd_compress, L"compress IN OUT --kb N [--no-shrink] [--min-side N] [--time]"},
    {L"batch", 0, cmd_batch,
     L"batch (--dir D | --list FILE | PICTURE...) --out DIR [--crop fixed:WxH|ratio:W:H|width:N]\n"
     L"        [--convert EXT] [--quality Q] [--compress KB] [--no-shrink] [--scan-only]\n"
     L"        [--workers N] [--cancel-after N]\n"
     L"                                 one line per file: N<TAB>ok|partial|fail<TAB>source<TAB>output or message,\n"
     L"                                 then written=N partial=P failed=M cancelled=0|1"},
};

static int usage()
{
    write_text(STD_ERROR_HANDLE, L"usage: veldmoor-cli COMMAND ARGS\n");
    for (const CliCommand &c : kCommands) {
        write_text(STD_ERROR_HANDLE, L"  ");
        write_text(STD_ERROR_HANDLE, c.usage);
        write_text(STD_ERROR_HANDLE, L"\n");
    }
    return 2;
}

int wmain(int argc, WCHAR **argv)
{
    if (argc < 2) return usage();
    for (const CliCommand &c : kCommands) {
        if (wcscmp(argv[1], c.name)) continue;
        if (argc < 2 + c.positional) return usage();
        // No COM here: the codecs bring it in only when a picture needs WIC.
        int rc = c.run(CliArgs{argc, argv});
        codec_shutdown();
        return rc;
    }
    return usage();
}
