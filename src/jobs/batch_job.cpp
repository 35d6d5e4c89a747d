// The batch engine: one step per file (load, crop, encode, write under a free
// name), the run over the list, and the folder scan that fills the list.
#include "jobs/batch_job.h"
#include "codec/codec.h"
#include "codec/temp_file.h"
#include "compress/compress.h"
#include "files/files.h"
#include "image/resize.h"
#include <shlobj.h>
#include <shlwapi.h>
#include <cwchar>
#include <cwctype>

BatchJob g_bdef;
int g_bdef_inited;

namespace {

constexpr int kErrCap = 600;

// A file loaded, cropped and encoded, waiting to be written.
struct Prepared {
    Blob blob;
    WCHAR ext[8];
    int outcome;
    WCHAR msg[kBatchStatusMax];
};

void copy_text(WCHAR *dst, int cap, const WCHAR *src)
{
    lstrcpynW(dst, src ? src : L"", cap);
}

void format_text(WCHAR *dst, int cap, const WCHAR *format, ...)
{
    va_list args;
    va_start(args, format);
    _vsnwprintf(dst, (size_t)cap - 1, format, args);
    va_end(args);
    dst[cap - 1] = 0;
}

bool ends_with_slash(const WCHAR *path)
{
    size_t n = wcslen(path);
    return n && (path[n - 1] == L'\\' || path[n - 1] == L'/');
}

int clamp_side(int64_t v)
{
    return v < 1 ? 1 : v > 0x7FFFFFFF ? 0x7FFFFFFF : (int)v;
}

// Centre cut of w × h out of the picture.
Image *cut_centre(const Image *img, int w, int h)
{
    return image_crop(img, (int32_t)((img->width - (uint32_t)w) / 2), (int32_t)((img->height - (uint32_t)h) / 2), w,
                      h);
}

// The crop step; null with a message when it cannot be done, so the file fails.
Image *crop_step(const BatchJob *job, const Image *img, WCHAR *msg, int msg_cap)
{
    const int64_t W = img->width, H = img->height;
    int64_t w = W, h = H;
    if (job->crop_mode == 2) {
        w = job->resize_width < 1 ? 1 : job->resize_width;
        double exact = (double)w * (double)H / (double)W + 0.5;
        h = exact >= 9.0e18 ? INT64_MAX : (int64_t)exact;
        if (h < 1) h = 1;
        if (h > 0x7FFFFFFF || (uint64_t)w * (uint64_t)h > kImageMaxPixels) {
            format_text(msg, msg_cap, L"缩放后的尺寸 %lld × %lld 超出一亿像素的上限。", (long long)w, (long long)h);
            return nullptr;
        }
        Image *out = image_resize(img, (int)w, (int)h, kFilterAuto);
        if (!out) format_text(msg, msg_cap, L"内存不足，无法缩放到 %lld × %lld。", (long long)w, (long long)h);
        return out;
    }
    if (job->crop_mode == 1) {
        const BatchRatio &ratio = kRatios[job->ratio_index >= 0 && job->ratio_index < 5 ? job->ratio_index : 0];
        double r = (double)ratio.w / (double)ratio.h;
        if ((double)W / (double)H > r)
            w = (int64_t)((double)H * r + 0.5);
        else
            h = (int64_t)((double)W / r + 0.5);
    } else {
        w = job->crop_w < W ? job->crop_w : W;
        h = job->crop_h < H ? job->crop_h : H;
    }
    w = w < 1 ? 1 : w > W ? W : w;
    h = h < 1 ? 1 : h > H ? H : h;
    Image *out = cut_centre(img, clamp_side(w), clamp_side(h));
    if (!out) format_text(msg, msg_cap, L"内存不足，无法裁剪到 %lld × %lld。", (long long)w, (long long)h);
    return out;
}

// The output extension: the chosen format, else the source's own when it is one we write, else jpg.
void output_ext(const BatchJob *job, const WCHAR *src, WCHAR ext[8])
{
    if (job->convert_on) {
        copy_text(ext, 8, kConvExt[job->format_index >= 0 && job->format_index < 5 ? job->format_index : 0]);
        return;
    }
    const WCHAR *own = PathFindExtensionW(src);
    if (*own == L'.') ++own;
    for (const WCHAR *known : kConvExt)
        if (*own && !_wcsicmp(own, known)) {
            copy_text(ext, 8, own);
            return;
        }
    copy_text(ext, 8, L"jpg");
}

void output_suffix(const BatchJob *job, WCHAR suffix[32])
{
    suffix[0] = 0;
    if (job->crop_on) wcscat(suffix, L"_裁剪");
    if (job->convert_on) {
        wcscat(suffix, L"_转");
        wcscat(suffix, kConvExt[job->format_index >= 0 && job->format_index < 5 ? job->format_index : 0]);
    }
    if (job->compress_on) wcscat(suffix, L"_压缩");
}

void base_name(const BatchJob *job, int index, WCHAR base[kPathMax])
{
    if (job->seq_rename) {
        format_text(base, kPathMax, L"%04d", index + 1);
        return;
    }
    copy_text(base, kPathMax, PathFindFileNameW(job->files[index]));
    WCHAR *dot = wcsrchr(base, L'.');
    if (dot) *dot = 0;
}

// The output path with number n (0: none). A long name loses characters of its
// base, never its number or extension; 0 when not even one character is left.
int output_path(const BatchJob *job, int index, const WCHAR *ext, int n, WCHAR out[kPathMax])
{
    WCHAR base[kPathMax], suffix[32], number[8] = L"";
    base_name(job, index, base);
    output_suffix(job, suffix);
    if (n) format_text(number, 8, L"_%d", n);
    const WCHAR *sep = ends_with_slash(job->out_dir) ? L"" : L"\\";
    size_t fixed = wcslen(job->out_dir) + wcslen(sep) + wcslen(suffix) + wcslen(number) + 1 + wcslen(ext);
    if (fixed >= kPathMax - 1) return 0;
    size_t room = kPathMax - 1 - fixed, len = wcslen(base);
    if (len > room) {
        len = room;
        if (IS_HIGH_SURROGATE(base[len - 1])) --len;
        if (!len) return 0;
        base[len] = 0;
    }
    format_text(out, kPathMax, L"%s%s%s%s%s.%s", job->out_dir, sep, base, suffix, number, ext);
    return 1;
}

bool write_whole(const WCHAR *path, const Blob *blob)
{
    HANDLE f = CreateFileW(path, GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    bool ok = WriteFile(f, blob->data, (DWORD)blob->size, &written, nullptr) && written == (DWORD)blob->size;
    CloseHandle(f);
    return ok;
}

// Writes the encoded file under the first free name. The rename never replaces:
// a file that appears at a name between the check and the rename keeps it, and
// the next number is taken instead.
int commit(const BatchJob *job, int index, Prepared *p, WCHAR written[kPathMax])
{
    WCHAR temp[kPathMax];
    HRESULT hr = codec_temp_create(job->out_dir, temp, kPathMax);
    if (FAILED(hr)) {
        format_text(p->msg, kBatchStatusMax, L"无法在输出文件夹中创建文件（错误码 %lu）。",
                    (unsigned long)HRESULT_CODE(hr));
        return 0;
    }
    if (!write_whole(temp, &p->blob)) {
        format_text(p->msg, kBatchStatusMax, L"写入失败（错误码 %lu）。", GetLastError());
        DeleteFileW(temp);
        return 0;
    }
    WCHAR path[kPathMax];
    for (int n = 0; n <= kBatchMaxNumber; ++n) {
        if (!output_path(job, index, p->ext, n, path)) {
            copy_text(p->msg, kBatchStatusMax, L"输出文件夹的路径太长，放不下文件名。");
            break;
        }
        if (PathFileExistsW(path)) continue;  // cheaper than a refused rename
        if (job->name_checked) job->name_checked(path);
        if (MoveFileExW(temp, path, 0)) {
            copy_text(written, kPathMax, path);
            return 1;
        }
        DWORD e = GetLastError();
        if (e != ERROR_ALREADY_EXISTS && e != ERROR_FILE_EXISTS) {
            format_text(p->msg, kBatchStatusMax, L"写入失败（错误码 %lu）。", e);
            break;
        }
    }
    if (!p->msg[0])
        format_text(p->msg, kBatchStatusMax, L"同名文件已有 %d 个编号，没有可用的文件名。", kBatchMaxNumber);
    DeleteFileW(temp);
    return 0;
}

// Load, crop and encode: everything but the write, so it can run ahead on any thread.
void prepare(const BatchJob *job, int index, Prepared *p)
{
    *p = Prepared{};
    WCHAR err[kErrCap];
    const WCHAR *src = job->files[index];
    Image *img = codec_load(src, err, kErrCap);
    if (!img) {
        copy_text(p->msg, kBatchStatusMax, err);
        return;
    }
    if (job->crop_on) {
        Image *cropped = crop_step(job, img, p->msg, kBatchStatusMax);
        image_free(img);
        if (!(img = cropped)) return;
    }
    output_ext(job, src, p->ext);
    WCHAR dot_ext[8];
    format_text(dot_ext, 8, L".%s", p->ext);
    int ok;
    if (job->compress_on) {
        const WCHAR *keep = job->crop_on ? nullptr : src;  // a cropped picture is not the file's
        CompressParams params = {job->target_kb, job->auto_downscale ? 1u : 0u, 64, 30, 95, keep};
        CompressResult result = {};
        ok = compress_run(img, dot_ext, &params, src, &result, &p->blob, err, kErrCap);
        p->outcome = !ok ? kBatchFailed : result.target_missed ? kBatchOverTarget : kBatchWritten;
    } else {
        int f = job->format_index;
        int quality = job->convert_on && (f == 0 || f == 2 || f == 4) ? job->quality : 92;
        ok = codec_encode_mem(img, dot_ext, quality, src, &p->blob, err, kErrCap);
        p->outcome = ok ? kBatchWritten : kBatchFailed;
    }
    if (!ok) copy_text(p->msg, kBatchStatusMax, err);
    image_free(img);
}

// Writes a prepared file and records what became of it; frees its bytes.
int finish_one(BatchJob *job, int index, Prepared *p)
{
    WCHAR written[kPathMax] = L"";
    int outcome = p->outcome;
    if (outcome != kBatchFailed && !commit(job, index, p, written)) outcome = kBatchFailed;
    if (outcome == kBatchOverTarget)
        format_text(p->msg, kBatchStatusMax, L"没能压到 %d KB 以内。", job->target_kb);
    blob_free(&p->blob);
    if (job->results) {
        copy_text(job->results[index].output, kPathMax, written);
        copy_text(job->results[index].message, kBatchStatusMax, outcome == kBatchWritten ? L"" : p->msg);
    }
    return outcome;
}

struct Tally {
    int written, failed, done;
};

// After each file: the messages, the counts and a scripted cancel.
void report_done(BatchJob *job, int index, int outcome, Tally *t)
{
    PostMessageW(job->hwnd, WM_BATCH_ITEM_DONE, (WPARAM)index, (LPARAM)outcome);
    if (outcome == kBatchFailed)
        ++t->failed;
    else
        ++t->written;
    if (job->stop_after > 0 && ++t->done == job->stop_after) batch_set_cancel(job);
}

void run_single(BatchJob *job, Tally *t)
{
    for (int i = 0; i < job->file_count && !batch_cancelled(job); ++i) {
        PostMessageW(job->hwnd, WM_BATCH_ITEM_START, (WPARAM)i, 0);
        report_done(job, i, batch_process_one(job, i), t);
    }
}

// Several threads load and encode ahead; this thread writes the files in list
// order and posts every message, so names, order, messages and the cancel rule
// are those of a single worker.
struct Pool {
    BatchJob *job;
    int window;
    Prepared *slots;
    HANDLE ready[2 * kBatchMaxWorkers];
    HANDLE room;
    HANDLE stop;
    volatile LONG next;
};

DWORD WINAPI pool_helper(void *arg)
{
    Pool *pool = (Pool *)arg;
    HANDLE waits[2] = {pool->room, pool->stop};
    // Only the writing thread stops a run: an index taken here is always prepared,
    // so the writer never waits for a file nobody works on.
    while (WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0) {
        if (WaitForSingleObject(pool->stop, 0) == WAIT_OBJECT_0) break;
        LONG i = InterlockedIncrement(&pool->next) - 1;
        if (i >= pool->job->file_count) break;
        prepare(pool->job, (int)i, &pool->slots[i % pool->window]);
        SetEvent(pool->ready[i % pool->window]);
    }
    return 0;
}

bool pool_open(Pool *pool, BatchJob *job, int helpers)
{
    *pool = Pool{};
    pool->job = job;
    pool->window = 2 * helpers;
    pool->slots = (Prepared *)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(Prepared) * pool->window);
    pool->room = CreateSemaphoreW(nullptr, pool->window, pool->window, nullptr);
    pool->stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    bool ok = pool->slots && pool->room && pool->stop;
    for (int k = 0; k < pool->window; ++k)
        ok = (pool->ready[k] = CreateEventW(nullptr, FALSE, FALSE, nullptr)) && ok;
    return ok;
}

void pool_close(Pool *pool)
{
    for (int k = 0; k < pool->window; ++k) {
        if (pool->slots) blob_free(&pool->slots[k].blob);
        if (pool->ready[k]) CloseHandle(pool->ready[k]);
    }
    if (pool->slots) HeapFree(GetProcessHeap(), 0, pool->slots);
    if (pool->room) CloseHandle(pool->room);
    if (pool->stop) CloseHandle(pool->stop);
}

// False when no helper could be started (the caller then runs alone).
bool run_pool(BatchJob *job, int helpers, Tally *t)
{
    Pool pool;
    HANDLE threads[kBatchMaxWorkers] = {};
    int started = 0;
    if (pool_open(&pool, job, helpers))
        for (; started < helpers; ++started)
            if (!(threads[started] = CreateThread(nullptr, 0, pool_helper, &pool, 0, nullptr))) break;
    if (!started) {
        pool_close(&pool);
        return false;
    }
    for (int i = 0; i < job->file_count && !batch_cancelled(job); ++i) {
        PostMessageW(job->hwnd, WM_BATCH_ITEM_START, (WPARAM)i, 0);
        WaitForSingleObject(pool.ready[i % pool.window], INFINITE);
        report_done(job, i, finish_one(job, i, &pool.slots[i % pool.window]), t);
        ReleaseSemaphore(pool.room, 1, nullptr);
    }
    SetEvent(pool.stop);
    WaitForMultipleObjects((DWORD)started, threads, TRUE, INFINITE);
    for (int k = 0; k < started; ++k) CloseHandle(threads[k]);
    pool_close(&pool);
    return true;
}

void scan_tree(const WCHAR *root, BatchPath *list, int *count, BatchPath *stack, int32_t *depth)
{
    int top = 1;
    copy_text(stack[0], kPathMax, root);
    depth[0] = 0;
    while (top > 0 && *count < kBatchMaxFiles) {
        --top;
        WCHAR folder[kPathMax], pattern[kPathMax];
        copy_text(folder, kPathMax, stack[top]);
        int d = depth[top];
        if (!files_list_pattern(folder, pattern, kPathMax)) continue;  // a cut pattern would list another folder
        WIN32_FIND_DATAW fd;
        HANDLE find = FindFirstFileW(pattern, &fd);
        if (find == INVALID_HANDLE_VALUE) continue;
        do {
            const WCHAR *name = fd.cFileName;
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                if (!wcscmp(name, L".") || !wcscmp(name, L"..")) continue;
                if ((fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) || d >= kBatchScanMaxDepth) continue;
                if (top >= kBatchScanStack || !PathCombineW(stack[top], folder, name)) continue;
                depth[top++] = d + 1;
                continue;
            }
            WCHAR joined[kPathMax];
            if (PathCombineW(joined, folder, name) && files_is_image_ext(joined))
                copy_text(list[(*count)++], kPathMax, joined);
        } while (*count < kBatchMaxFiles && FindNextFileW(find, &fd));
        FindClose(find);
    }
}

}  // namespace

void batch_settings_default(BatchJob *job)
{
    job->crop_on = 0;
    job->convert_on = 1;
    job->compress_on = 0;
    job->crop_mode = 0;
    job->crop_w = 800;
    job->crop_h = 800;
    job->ratio_index = 0;
    job->resize_width = 800;
    job->format_index = 1;
    job->quality = 90;
    job->target_kb = 200;
    job->auto_downscale = 1;
    job->out_dir[0] = 0;
    job->seq_rename = 0;
}

// The settings a batch keeps between openings, copied both ways by the same list.
static constexpr int32_t BatchJob::*kKeptSettings[] = {
    &BatchJob::crop_on,      &BatchJob::convert_on,   &BatchJob::compress_on, &BatchJob::crop_mode,
    &BatchJob::crop_w,       &BatchJob::crop_h,       &BatchJob::ratio_index, &BatchJob::resize_width,
    &BatchJob::format_index, &BatchJob::quality,      &BatchJob::target_kb,   &BatchJob::auto_downscale,
    &BatchJob::seq_rename,
};

static void copy_settings(BatchJob *to, const BatchJob &from)
{
    for (int32_t BatchJob::*field : kKeptSettings) to->*field = from.*field;
    copy_text(to->out_dir, kPathMax, from.out_dir);
}

void batch_settings_load(BatchJob *job)
{
    if (g_bdef_inited)
        copy_settings(job, g_bdef);
    else
        batch_settings_default(job);
}

void batch_settings_save(const BatchJob *job)
{
    copy_settings(&g_bdef, *job);
    g_bdef_inited = 1;
}

BatchPath *batch_list_new()
{
    return (BatchPath *)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(BatchPath) * kBatchMaxFiles);
}

void batch_list_free(BatchPath *list)
{
    if (list) HeapFree(GetProcessHeap(), 0, list);
}

int batch_add_paths(BatchJob *job, const BatchPath *paths, int count)
{
    int taken = 0;
    for (; taken < count && job->file_count < kBatchMaxFiles; ++taken)
        copy_text(job->files[job->file_count++], kPathMax, paths[taken]);
    return taken;
}

void batch_ensure_outdir(BatchJob *job, const WCHAR *first_path)
{
    if (job->out_dir[0] || !first_path) return;
    WCHAR folder[kPathMax];
    copy_text(folder, kPathMax, first_path);
    PathRemoveFileSpecW(folder);
    if (folder[0])
        format_text(job->out_dir, kPathMax, ends_with_slash(folder) ? L"%s批量输出" : L"%s\\批量输出", folder);
}

int batch_prepare_outdir(const BatchJob *job, WCHAR *msg, int msg_cap)
{
    const WCHAR *dir = job->out_dir;
    bool drive = iswalpha(dir[0]) && dir[1] == L':' && (dir[2] == L'\\' || dir[2] == L'/');
    bool share = dir[0] == L'\\' && dir[1] == L'\\';
    if (!drive && !share) {
        copy_text(msg, msg_cap, L"输出文件夹请填写完整路径，例如 D:\\图片\\输出");
        return 0;
    }
    int rc = SHCreateDirectoryExW(nullptr, dir, nullptr);
    DWORD attributes = GetFileAttributesW(dir);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        format_text(msg, msg_cap, L"无法创建输出文件夹（错误码 %d）", rc ? rc : ERROR_FILE_EXISTS);
        return 0;
    }
    return 1;
}

int batch_process_one(BatchJob *job, int index)
{
    Prepared p;
    prepare(job, index, &p);
    return finish_one(job, index, &p);
}

int batch_worker_count(const BatchJob *job)
{
    int n = job->workers;
    if (n <= 0) {
        SYSTEM_INFO info;
        GetSystemInfo(&info);
        n = (int)info.dwNumberOfProcessors;
    }
    if (n > kBatchMaxWorkers) n = kBatchMaxWorkers;
    if (n > job->file_count) n = job->file_count;
    return n < 1 ? 1 : n;
}

DWORD WINAPI batch_worker(void *arg)
{
    BatchJob *job = (BatchJob *)arg;
    Tally t = {};
    codec_temp_sweep(job->out_dir);  // once per run: a big batch writes thousands of files
    int helpers = batch_worker_count(job);
    if (helpers < 2 || !run_pool(job, helpers, &t)) run_single(job, &t);
    PostMessageW(job->hwnd, WM_BATCH_FINISHED, (WPARAM)t.written, (LPARAM)t.failed);
    return 0;
}

void *batch_scan_arg(BatchJob *job, const WCHAR *root)
{
    constexpr size_t kArgBytes = sizeof(BatchJob *) + kPathMax * sizeof(WCHAR);
    static_assert(kArgBytes == 528);
    uint8_t *arg = (uint8_t *)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, kArgBytes);
    if (!arg) return nullptr;
    *(BatchJob **)arg = job;
    copy_text((WCHAR *)(arg + sizeof(BatchJob *)), kPathMax, root);
    return arg;
}

DWORD WINAPI batch_scan_folder(void *arg)
{
    BatchJob *job = *(BatchJob **)arg;
    const WCHAR *root = (const WCHAR *)((uint8_t *)arg + sizeof(BatchJob *));
    HANDLE heap = GetProcessHeap();
    BatchPath *list = batch_list_new();
    int count = 0;
    if (list) {
        auto *stack = (BatchPath *)HeapAlloc(heap, 0, sizeof(BatchPath) * kBatchScanStack);
        auto *depth = (int32_t *)HeapAlloc(heap, 0, sizeof(int32_t) * kBatchScanStack);
        if (stack && depth) scan_tree(root, list, &count, stack, depth);
        if (stack) HeapFree(heap, 0, stack);
        if (depth) HeapFree(heap, 0, depth);
    }
    job->scan_list = list;
    job->scan_count = count;
    PostMessageW(job->hwnd, WM_BATCH_SCAN_DONE, 0, 0);
    HeapFree(heap, 0, arg);
    return 0;
}

void batch_set_cancel(BatchJob *job)
{
    InterlockedExchange(&job->cancel, 1);
}

int batch_cancelled(const BatchJob *job)
{
    return InterlockedCompareExchange((volatile LONG *)&job->cancel, 0, 0) != 0;
}
