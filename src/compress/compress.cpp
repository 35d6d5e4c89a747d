// Compression to a target size: the highest quality that fits, then smaller
// pictures step by step when quality alone cannot get there.
#include "compress/compress.h"
#include "codec/codec_probe.h"
#include "codec/codec_trials.h"
#include "image/resize.h"
#include "image/worker.h"
#include <shlwapi.h>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <cstdint>
#include <iterator>
#include <thread>

namespace {

constexpr int kMaxDownscales = 7;
// Below this a trial is quicker than starting the helper thread.
constexpr uint64_t kParallelMinPixels = 1000000;
constexpr int kTrialErrCap = 300;
constexpr double kRoomyBitsPerPixel = 1.0;
// A shrink aimed from two stages aims this far under the limit, so that a slightly
// optimistic fit still fits instead of costing one more stage.
constexpr double kFitAim = 0.97;
constexpr const WCHAR *kSearchableExt[] = {L".jpg", L".jpeg", L".jpe", L".tif", L".tiff", L".webp"};

thread_local CompressTrialHook t_hook;
thread_local void *t_hook_ctx;

void report_trial(const Image *p, int quality, const Blob *blob)
{
    if (!t_hook) return;
    CompressTrial trial = {quality, blob ? blob->size : -1, p->width, p->height, blob ? blob->data : nullptr, 0};
    t_hook(&trial, t_hook_ctx);
}

void report_bound(const Image *p, int quality, int64_t floor)
{
    if (!t_hook) return;
    CompressTrial trial = {quality, floor > INT32_MAX ? INT32_MAX : (int32_t)floor, p->width, p->height, nullptr, 1};
    t_hook(&trial, t_hook_ctx);
}

bool quality_searchable(const WCHAR *ext)
{
    if (!ext) return false;
    for (const WCHAR *known : kSearchableExt)
        if (!_wcsicmp(ext, known)) return true;
    return false;
}

double shrink_factor(double target, double size)
{
    double f = std::sqrt(target / size);
    return f < 0.25 ? 0.25 : f > 0.95 ? 0.95 : f;
}

// A stage's smallest encoding: its size against the picture's pixel count.
struct Sample {
    double pixels;
    double bytes;  // <= 0: unknown
};

// From the second shrink on, two stages tell how fast the size falls with the pixel
// count: for a photo much slower than in proportion, as a smaller picture keeps more
// detail per pixel, so square-root steps would creep up on the limit stage by stage.
double fitted_factor(Sample before, Sample now, double target, double fallback)
{
    if (before.bytes <= 0 || now.bytes <= 0 || before.pixels <= now.pixels || before.bytes <= now.bytes)
        return fallback;
    double power = std::log(before.bytes / now.bytes) / std::log(before.pixels / now.pixels);
    power = power < 0.4 ? 0.4 : power > 1.2 ? 1.2 : power;
    double f = std::pow(kFitAim * target / now.bytes, 0.5 / power);
    return f < 0.25 ? 0.25 : f > 0.95 ? 0.95 : f;
}

void replace_blob(Blob *dst, Blob *src)
{
    blob_free(dst);
    *dst = *src;
    src->data = nullptr;
    src->size = 0;
}

// The state of one run: the current picture and what has been settled so far.
struct Run;
struct Trial;
void encode_into(const Run *run, Trial *t, int quality, int32_t limit);

// The second core's thread, started at the first trial it can take and kept for
// the whole run: under Wine starting a thread costs about as much as a trial of
// a small picture.
struct Helper {
    std::thread thread;
    std::mutex lock;
    std::condition_variable wake;
    const Run *run;
    Trial *trial;  // the job; null when there is none
    int quality;
    int32_t limit;
    bool busy, quit, failed;
};

void helper_loop(Helper *h)
{
    std::unique_lock<std::mutex> hold(h->lock);
    for (;;) {
        h->wake.wait(hold, [h] { return h->quit || h->trial; });
        if (h->quit) return;
        Trial *t = h->trial;
        hold.unlock();
        encode_into(h->run, t, h->quality, h->limit);
        hold.lock();
        h->trial = nullptr;
        h->busy = false;
        h->wake.notify_all();
    }
}

void helper_main(void *h)
{
    helper_loop((Helper *)h);
}

// False when no thread can be had: the caller encodes the trial itself.
bool helper_start_job(Helper *h, const Run *run, Trial *t, int quality, int32_t limit)
{
    if (h->failed) return false;
    if (!h->thread.joinable() && !worker_start(&h->thread, helper_main, h)) {
        h->failed = true;
        return false;
    }
    std::lock_guard<std::mutex> hold(h->lock);
    h->run = run;
    h->trial = t;
    h->quality = quality;
    h->limit = limit;
    h->busy = true;
    h->wake.notify_all();
    return true;
}

void helper_wait(Helper *h)
{
    std::unique_lock<std::mutex> hold(h->lock);
    h->wake.wait(hold, [h] { return !h->busy; });
}

void helper_stop(Helper *h)
{
    if (!h->thread.joinable()) return;
    {
        std::lock_guard<std::mutex> hold(h->lock);
        h->quit = true;
        h->wake.notify_all();
    }
    h->thread.join();
}

struct Run {
    const Image *src;
    const Image *p;  // src or a downscaled copy owned by the run
    const WCHAR *ext;
    const CompressParams *params;
    const WCHAR *exif_src;
    CodecTrials *trials;  // p prepared for encoding at many qualities; null when that failed
    Helper *helper;
    CompressResult *result;
    Blob *out;
    WCHAR *err;
    int err_cap;
};

void set_current(Run *run, const Image *next)
{
    codec_trials_end(run->trials);
    if (run->p != run->src) image_free((Image *)run->p);
    run->p = next;
    run->trials = next ? codec_trials_begin(next, run->ext, run->exif_src) : nullptr;
}

int encode_at(const Run *run, int quality, Blob *blob, WCHAR *err, int err_cap)
{
    if (run->trials) return codec_trials_encode(run->trials, quality, blob, err, err_cap);
    return codec_encode_mem(run->p, run->ext, quality, run->exif_src, blob, err, err_cap);
}

int encode_trial(const Run *run, int quality, Blob *blob)
{
    int ok = encode_at(run, quality, blob, run->err, run->err_cap);
    report_trial(run->p, quality, ok ? blob : nullptr);
    return ok;
}

int succeed(Run *run, int quality, int missed)
{
    run->result->quality = (uint32_t)quality;
    run->result->bytes = run->out->size;
    run->result->width = run->p->width;
    run->result->height = run->p->height;
    run->result->target_missed = missed;
    return 1;
}

// Settles for the current picture at the lowest quality, unchecked against the limit.
int settle_at_min_quality(Run *run)
{
    Blob trial = {};
    if (!encode_trial(run, run->params->min_quality, &trial)) {
        blob_free(run->out);
        return 0;
    }
    replace_blob(run->out, &trial);
    return succeed(run, run->params->min_quality, 1);
}

enum StageOutcome { kStageFits, kStageShrink, kStageSettle, kStageFailed };

// One trial encoding of the current picture, possibly made ahead of its turn.
struct Trial {
    bool used;
    int quality;
    int ok;
    bool over;      // known to be over the limit without being written; no blob
    int64_t floor;  // then: a lower bound of its size
    Blob blob;
    WCHAR err[kTrialErrCap];
};

// Encodes of one stage, by quality. The search asks for them in its own order;
// on a second core the likely next quality is encoded while the current one is.
struct Ahead {
    Trial slots[4];
    bool parallel;
};

Trial *ahead_find(Ahead *a, int quality)
{
    for (Trial &t : a->slots)
        if (t.used && t.quality == quality) return &t;
    return nullptr;
}

Trial *ahead_free_slot(Ahead *a)
{
    for (Trial &t : a->slots)
        if (!t.used) return &t;
    return nullptr;
}

void ahead_clear(Ahead *a)
{
    for (Trial &t : a->slots) {
        blob_free(&t.blob);
        t.used = false;
    }
}

// A trial sure to miss the limit stops before writing: the search only needs to
// know that it missed.
void encode_into(const Run *run, Trial *t, int quality, int32_t limit)
{
    t->used = true;
    t->quality = quality;
    t->blob = Blob{};
    t->over = false;
    if (!run->trials) {
        t->ok = encode_at(run, quality, &t->blob, t->err, kTrialErrCap);
        return;
    }
    // The lowest quality is written in full: when nothing fits, its size is the
    // stage's smallest, which sizes the next stage.
    if (quality == run->params->min_quality) limit = INT32_MAX;
    int r = codec_trials_encode_within(run->trials, quality, limit, &t->blob, &t->floor, t->err, kTrialErrCap);
    t->ok = r != 0;
    t->over = r == 2;
}

// The quality the search asks for after mid, guessing that mid fares as the last
// trial did (a stage opens expecting the limit to be tight); false after the last.
bool likely_next(int lo, int hi, int mid, bool last_fitted, int *next)
{
    if (last_fitted) lo = mid + 1;
    else hi = mid - 1;
    *next = lo + ((hi - lo) >> 1);
    return lo <= hi;
}

// Makes the trial at mid, and in parallel the likely next one.
Trial *encode_round(Run *run, Ahead *a, int lo, int hi, int mid, bool last_fitted, int32_t limit)
{
    Trial *now = ahead_free_slot(a);
    if (!now) {
        ahead_clear(a);
        now = &a->slots[0];
    }
    int next = 0;
    bool ahead = a->parallel && likely_next(lo, hi, mid, last_fitted, &next);
    now->used = true;  // claims the slot before the next one is picked
    now->quality = mid;
    Trial *later = ahead && !ahead_find(a, next) ? ahead_free_slot(a) : nullptr;
    if (!later) {
        encode_into(run, now, mid, limit);
        return now;
    }
    if (!helper_start_job(run->helper, run, later, next, limit)) {
        later->used = false;
        encode_into(run, now, mid, limit);
        return now;
    }
    encode_into(run, now, mid, limit);
    helper_wait(run->helper);
    return now;
}

// Takes a trial as the search's own: reported, its message left as the encoder gave it.
int consume(Run *run, Trial *t, Blob *blob)
{
    if (t->over)
        report_bound(run->p, t->quality, t->floor);
    else
        report_trial(run->p, t->quality, t->ok ? &t->blob : nullptr);
    if (t->ok)
        clear_err(run->err, run->err_cap);
    else
        set_err(run->err, run->err_cap, L"%s", t->err);
    *blob = t->blob;
    t->blob = Blob{};
    t->used = false;
    return t->ok;
}

// Trials that missed the limit by their bound alone, for finding the stage's
// smallest encoding afterwards.
struct Bounds {
    int quality[8];
    int64_t floor[8];
    int count;
};

// The smallest encoding of a stage that fitted nowhere: trials known only by a bound
// below the smallest size seen are written after all, lowest bound first.
bool settle_smallest(Run *run, Bounds *b, int32_t *smallest)
{
    for (;;) {
        int pick = -1;
        for (int i = 0; i < b->count; ++i)
            if ((*smallest < 0 || b->floor[i] < *smallest) && (pick < 0 || b->floor[i] < b->floor[pick])) pick = i;
        if (pick < 0) return true;
        Blob blob = {};
        if (!encode_at(run, b->quality[pick], &blob, run->err, run->err_cap)) return false;
        if (*smallest < 0 || blob.size < *smallest) *smallest = blob.size;
        blob_free(&blob);
        b->quality[pick] = b->quality[--b->count];
        b->floor[pick] = b->floor[b->count];
    }
}

// Binary search for the highest fitting quality; out holds the encoding made at best.
StageOutcome search_stage(Run *run, int32_t target, double *factor, int *best, int32_t *smallest_out)
{
    int lo = run->params->min_quality, hi = run->params->max_quality;
    int32_t smallest = -1;
    bool found = false;
    // Which way the first trial goes decides what the second core encodes next: a
    // photo at the middle quality rarely takes a bit per pixel, and a shrunk picture
    // is sized so that only the lowest qualities fit.
    bool last_fitted = run->p == run->src &&
                       (double)target * 8 >= (double)run->p->width * run->p->height * kRoomyBitsPerPixel;
    Bounds bounds = {};
    Ahead ahead = {};
    ahead.parallel = (uint64_t)run->p->width * run->p->height >= kParallelMinPixels &&
                     std::thread::hardware_concurrency() > 1;
    StageOutcome outcome = kStageFits;
    while (lo <= hi) {
        int mid = lo + ((hi - lo) >> 1);
        Trial *made = ahead_find(&ahead, mid);
        if (!made) made = encode_round(run, &ahead, lo, hi, mid, last_fitted, target);
        bool over = made->over;
        int64_t floor = made->floor;
        Blob trial = {};
        if (!consume(run, made, &trial)) {
            *factor = 0.8;
            outcome = kStageShrink;
            break;
        }
        if (over) {
            if (bounds.count < (int)std::size(bounds.quality)) {
                bounds.quality[bounds.count] = mid;
                bounds.floor[bounds.count++] = floor;
            }
            last_fitted = false;
            hi = mid - 1;
            continue;
        }
        if (smallest < 0 || trial.size < smallest) smallest = trial.size;
        last_fitted = trial.size <= target;
        if (last_fitted) {
            replace_blob(run->out, &trial);
            found = true;
            *best = mid;
            lo = mid + 1;
        } else {
            blob_free(&trial);
            hi = mid - 1;
        }
    }
    ahead_clear(&ahead);
    if (outcome == kStageShrink || found) return outcome;
    if (!settle_smallest(run, &bounds, &smallest)) {
        *factor = 0.8;
        return kStageShrink;
    }
    *factor = smallest > 0 ? shrink_factor(target, smallest) : 0.8;
    *smallest_out = smallest;
    return kStageShrink;
}

StageOutcome single_stage(Run *run, int32_t target, double *factor, int32_t *smallest)
{
    Blob trial = {};
    if (!encode_trial(run, run->params->max_quality, &trial))
        return kStageFailed;
    if (trial.size <= target) {
        replace_blob(run->out, &trial);
        return kStageFits;
    }
    *factor = shrink_factor(target, trial.size);
    *smallest = trial.size;
    blob_free(&trial);
    return kStageShrink;
}

uint32_t scaled(uint32_t side, double f)
{
    uint32_t v = (uint32_t)(side * f + 0.5);
    return v ? v : 1;
}

int run_with_limit(Run *run)
{
    const CompressParams *params = run->params;
    int32_t target = (int32_t)((int64_t)params->target_kb * 1024 > 0x7FFFFFFF ? 0x7FFFFFFF
                                                                               : (int64_t)params->target_kb * 1024);
    bool searchable = quality_searchable(run->ext);
    Sample before = {};
    for (int downscales = 0;;) {
        double factor = 0.8;
        int best = params->max_quality;
        int32_t smallest = -1;
        StageOutcome outcome = searchable ? search_stage(run, target, &factor, &best, &smallest)
                                          : single_stage(run, target, &factor, &smallest);
        if (outcome == kStageFailed) {
            blob_free(run->out);
            return 0;
        }
        if (outcome == kStageFits) return succeed(run, searchable ? best : params->max_quality, 0);
        if (!params->allow_downscale) return settle_at_min_quality(run);
        Sample now = {(double)run->p->width * run->p->height, (double)smallest};
        factor = fitted_factor(before, now, target, factor);
        before = now;

        uint32_t w = scaled(run->p->width, factor), h = scaled(run->p->height, factor);
        if ((w > h ? w : h) < params->min_side) return settle_at_min_quality(run);
        Image *smaller = image_resize(run->p, (int)w, (int)h, kFilterLanczos3);
        if (!smaller) {
            set_err(run->err, run->err_cap, L"内存不足，无法把图片缩小到 %u × %u 继续压缩。", w, h);
            blob_free(run->out);
            return 0;
        }
        set_current(run, smaller);
        run->result->downscaled = 1;
        if (++downscales == kMaxDownscales) {
            blob_free(run->out);
            if (run->err && run->err_cap > 0 && !run->err[0])
                set_err(run->err, run->err_cap, L"压缩失败：无法在保持可读画质的前提下达到目标体积。");
            return 0;
        }
    }
}

struct ExtFormat {
    const WCHAR *ext;
    ProbeFormat format;
};
constexpr ExtFormat kExtFormats[] = {{L".jpg", kProbeJpeg},  {L".jpeg", kProbeJpeg}, {L".jpe", kProbeJpeg},
                                     {L".png", kProbePng},   {L".gif", kProbeGif},   {L".bmp", kProbeBmp},
                                     {L".tif", kProbeTiff},  {L".tiff", kProbeTiff}, {L".webp", kProbeWebp}};

ProbeFormat format_of_ext(const WCHAR *ext)
{
    for (const ExtFormat &e : kExtFormats)
        if (ext && !_wcsicmp(ext, e.ext)) return e.format;
    return kProbeUnknown;
}

bool read_whole_file(const WCHAR *path, int64_t limit, Blob *out)
{
    HANDLE f = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size = {};
    bool ok = GetFileSizeEx(f, &size) && size.QuadPart > 0 && size.QuadPart <= limit &&
              (out->data = (uint8_t *)malloc((size_t)size.QuadPart)) != nullptr;
    DWORD got = 0;
    if (ok) ok = ReadFile(f, out->data, (DWORD)size.QuadPart, &got, nullptr) && got == (DWORD)size.QuadPart;
    CloseHandle(f);
    if (ok) out->size = (int32_t)got;
    if (!ok) blob_free(out);
    return ok;
}

// The source file itself when it already answers: the target's format (by content),
// the picture's size (either way round, as EXIF orientation may turn it) and within
// the limit.
bool keep_source(const Image *src, const WCHAR *ext, const WCHAR *path, int64_t limit, Blob *out)
{
    if (!path || !path[0]) return false;
    ProbeFormat want = format_of_ext(ext);
    if (want == kProbeUnknown) return false;
    ProbeResult probe = codec_probe_file(path);
    if (probe.format != want || probe.verdict != kProbeFine) return false;
    bool same = (probe.width == src->width && probe.height == src->height) ||
                (probe.width == src->height && probe.height == src->width);
    return same && read_whole_file(path, limit, out);
}

}  // namespace

void compress_set_trial_hook(CompressTrialHook hook, void *ctx)
{
    t_hook = hook;
    t_hook_ctx = ctx;
}

int compress_run(const Image *src, const WCHAR *ext, const CompressParams *params, const WCHAR *exif_src_path,
                 CompressResult *result, Blob *out_blob, WCHAR *err, int err_cap)
{
    clear_err(err, err_cap);
    if (!src || !params || !result || !out_blob) return 0;
    blob_free(out_blob);
    *result = CompressResult{};
    result->width = src->width;
    result->height = src->height;

    if (params->target_kb <= 0) {
        if (!codec_encode_mem(src, ext, params->max_quality, exif_src_path, out_blob, err, err_cap)) return 0;
        report_trial(src, params->max_quality, out_blob);
        result->quality = (uint32_t)params->max_quality;
        result->bytes = out_blob->size;
        return 1;
    }
    if (keep_source(src, ext, params->keep_path, (int64_t)params->target_kb * 1024, out_blob)) {
        result->bytes = out_blob->size;
        result->kept_source = 1;
        return 1;
    }
    Helper helper = {};
    Run run = {src,    src,     ext, params, exif_src_path, codec_trials_begin(src, ext, exif_src_path), &helper,
               result, out_blob, err, err_cap};
    int ok = run_with_limit(&run);
    helper_stop(&helper);
    set_current(&run, nullptr);
    // The trials reused one set of encoder buffers; the run is over, so they go.
    codec_release_buffers();
    return ok;
}
