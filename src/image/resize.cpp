// Separable resampling on premultiplied floats, and the common output sizes.
#include "image/resize.h"
#include "image/resize_internal.h"
#include "image/worker.h"
#include <cmath>
#include <cstdlib>
#include <atomic>
#include <cstring>
#include <thread>

namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kPi2 = 9.869604401089358;
// Below this much work a second thread costs more to start than it saves (see resize_work).
constexpr double kThreadMinWork = 4e6;

constexpr SizePreset kPresets[] = {
    {0, L"1080 × 1080", L"方图 · 朋友圈/小红书", 1080, 1080},
    {0, L"1920 × 1080", L"横屏 · 公众号/PPT", 1920, 1080},
    {0, L"1080 × 1920", L"竖屏 · 手机全屏", 1080, 1920},
    {0, L"1200 × 628", L"公众号头图", 1200, 628},
    {0, L"800 × 800", L"电商主图", 800, 800},
    {1, L"295 × 413", L"一寸", 295, 413},
    {1, L"413 × 579", L"二寸", 413, 579},
    {1, L"260 × 378", L"小一寸", 260, 378},
    {1, L"390 × 567", L"大一寸", 390, 567},
};

double filter_radius(int filter)
{
    switch (filter) {
    case kFilterBox: return 0.5;
    case kFilterTriangle: return 1.0;
    case kFilterCatmullRom: return 2.0;
    default: return 3.0;
    }
}

double kernel(int filter, double t)
{
    switch (filter) {
    case kFilterBox: return t <= 0.5 ? 1.0 : 0.0;
    case kFilterTriangle: return t < 1.0 ? 1.0 - t : 0.0;
    case kFilterCatmullRom:
        if (t < 1.0) return (1.5 * t - 2.5) * t * t + 1.0;
        if (t < 2.0) return ((-0.5 * t + 2.5) * t - 4.0) * t + 2.0;
        return 0.0;
    default:
        if (t < 1e-9) return 1.0;
        if (t >= 3.0) return 0.0;
        return 3.0 * std::sin(kPi * t) * std::sin(kPi * t / 3.0) / (kPi2 * t * t);
    }
}

int resolve_filter(const Image *src, int dst_w, int dst_h, int filter)
{
    if (filter != kFilterAuto) return filter > kFilterLanczos3 ? kFilterLanczos3 : filter;
    bool shrinks = (uint32_t)dst_w < src->width || (uint32_t)dst_h < src->height;
    return shrinks ? kFilterLanczos3 : kFilterCatmullRom;
}

uint8_t to_byte(float v)
{
    int i = (int)(v + 0.5f);  // truncation toward zero: small negatives end at 0
    return (uint8_t)(i < 0 ? 0 : i > 255 ? 255 : i);
}

// Premultiplied sums back to straight bytes.
void store_row(const float *sums, int dst_w, uint8_t *dst)
{
    for (int x = 0; x < dst_w; ++x, sums += 4, dst += 4) {
        float a = sums[3];
        dst[3] = to_byte(255.0f * a);
        if (a > 1e-6f) {
            float inv = 1.0f / a;
            dst[0] = to_byte(sums[0] * inv);
            dst[1] = to_byte(sums[1] * inv);
            dst[2] = to_byte(sums[2] * inv);
        } else {
            dst[0] = dst[1] = dst[2] = 0;
        }
    }
}

bool cpu_has_avx2()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}

// Set once on first use (any thread arrives at the same choice) or by tests.
std::atomic<const ResizeKernels *> g_kernels;

const ResizeKernels *kernels()
{
    const ResizeKernels *k = g_kernels.load(std::memory_order_relaxed);
    if (!k) {
        k = cpu_has_avx2() ? &kResizeAvx2Kernels : &kResizeSse2Kernels;
        g_kernels.store(k, std::memory_order_relaxed);
    }
    return k;
}

}  // namespace

void contrib_free(Contrib *c)
{
    free(c->first);
    free(c->count);
    free(c->weights);
    c->first = nullptr;
    c->count = nullptr;
    c->weights = nullptr;
}

int contrib_build(Contrib *c, uint32_t src_len, uint32_t dst_len, int filter)
{
    memset(c, 0, sizeof *c);
    double scale = (double)src_len / dst_len;
    double s = scale > 1.0 ? scale : 1.0;
    double b = filter_radius(filter) * s;
    c->taps = (int32_t)std::ceil(2.0 * b) + 2;
    c->first = (int32_t *)malloc(sizeof(int32_t) * dst_len);
    c->count = (uint32_t *)malloc(sizeof(uint32_t) * dst_len);
    c->weights = (float *)calloc((size_t)dst_len * c->taps, sizeof(float));
    if (!c->first || !c->count || !c->weights) {
        contrib_free(c);
        return 0;
    }
    for (uint32_t i = 0; i < dst_len; ++i) {
        double h = (i + 0.5) * scale;
        double left_d = std::ceil(h - b - 0.5);
        int64_t left = left_d > 0 ? (int64_t)left_d : 0;
        int64_t right = (int64_t)(h + b - 0.5);
        if (right > (int64_t)src_len - 1) right = (int64_t)src_len - 1;
        float *w = c->weights + (size_t)i * c->taps;
        if (right < left) {
            int64_t only = (int64_t)h;
            c->first[i] = (int32_t)(only > (int64_t)src_len - 1 ? (int64_t)src_len - 1 : only);
            c->count[i] = 1;
        } else {
            int64_t n = right - left + 1;
            c->first[i] = (int32_t)left;
            c->count[i] = (uint32_t)(n > c->taps ? c->taps : n);
        }
        double sum = 0;
        for (uint32_t k = 0; k < c->count[i]; ++k) {
            double t = std::fabs((c->first[i] + k + 0.5 - h) / s);
            w[k] = (float)kernel(filter, t);
            sum += w[k];
        }
        if (sum == 0.0) {
            c->count[i] = 1;
            w[0] = 1.0f;
        } else {
            for (uint32_t k = 0; k < c->count[i]; ++k) w[k] = (float)(w[k] / sum);
        }
    }
    return 1;
}

namespace {

// One resize shared by its threads. The caller works down from the top row and the
// helper up from the bottom, a few rows per claim, until they meet: both stay busy
// however late the helper starts, and only the rows around the meeting point are
// filtered across twice. Each output row depends only on the source, so any split
// gives the same bytes.
struct RowJob {
    const Image *src;
    Image *dst;
    const Contrib *cx;
    const Contrib *cy;
    const ResizeKernels *k;
    std::atomic<int> claimed;
    std::atomic<int> done;
};

// Per thread: the horizontally filtered source rows still needed, by source row.
struct RowScratch {
    float *cache;
    float *premultiplied;
    float *sums;
    int32_t *slot_row;
    const float **rows;
};

void scratch_free(RowScratch *s)
{
    free(s->cache);
    free(s->premultiplied);
    free(s->sums);
    free(s->slot_row);
    free(s->rows);
}

bool scratch_new(RowScratch *s, const RowJob *job)
{
    int taps = job->cy->taps;
    size_t row_floats = (size_t)job->dst->width * 4;
    s->cache = (float *)malloc(sizeof(float) * row_floats * taps);
    s->premultiplied = (float *)malloc(sizeof(float) * job->src->width * 4);
    s->sums = (float *)malloc(sizeof(float) * row_floats);
    s->slot_row = (int32_t *)malloc(sizeof(int32_t) * taps);
    s->rows = (const float **)malloc(sizeof(float *) * taps);
    if (!s->cache || !s->premultiplied || !s->sums || !s->slot_row || !s->rows) {
        scratch_free(s);
        return false;
    }
    for (int i = 0; i < taps; ++i) s->slot_row[i] = -1;
    return true;
}

void resize_row(const RowJob *job, RowScratch *s, int y)
{
    const Image *src = job->src;
    const Contrib *cy = job->cy;
    const ResizeKernels *k = job->k;
    int dst_w = (int)job->dst->width;
    size_t row_floats = (size_t)dst_w * 4;
    for (uint32_t t = 0; t < cy->count[y]; ++t) {
        int32_t sy = cy->first[y] + (int32_t)t;
        int slot = sy % cy->taps;
        float *cached = s->cache + (size_t)slot * row_floats;
        if (s->slot_row[slot] != sy) {
            k->premultiply(src->data + (size_t)sy * src->stride, src->width, s->premultiplied);
            k->horizontal(s->premultiplied, job->cx, dst_w, cached);
            s->slot_row[slot] = sy;
        }
        s->rows[t] = cached;
    }
    k->vertical(s->rows, cy->weights + (size_t)y * cy->taps, cy->count[y], dst_w, s->sums);
    store_row(s->sums, dst_w, job->dst->data + (size_t)y * job->dst->stride);
}

// How many of the next want rows are still unclaimed by either thread.
int claim_rows(RowJob *job, int want)
{
    int left = (int)job->dst->height - job->claimed.fetch_add(want);
    return left <= 0 ? 0 : left < want ? left : want;
}

// A thread without scratch memory claims no rows; the other one does them all.
void resize_worker(RowJob *job, bool from_bottom)
{
    constexpr int kClaimRows = 4;
    RowScratch s;
    if (!scratch_new(&s, job)) return;
    int next = from_bottom ? (int)job->dst->height - 1 : 0;
    for (int n; (n = claim_rows(job, kClaimRows)) > 0;) {
        for (int i = 0; i < n; ++i, next += from_bottom ? -1 : 1) resize_row(job, &s, next);
        job->done.fetch_add(n);
    }
    scratch_free(&s);
}

void resize_helper(void *job)
{
    resize_worker((RowJob *)job, true);
}

std::atomic<int> g_threads;  // 0: chosen by size; 1 or 2: forced by tests and benchmarks
std::atomic<bool> g_helper_busy;  // a resize has its helper thread running

// Multiply-adds per channel, roughly: premultiplying and filtering every source row
// across, then every output row down.
double resize_work(const Image *src, int dst_w, int dst_h, const Contrib *cx, const Contrib *cy)
{
    return (double)src->height * (src->width + (double)dst_w * cx->taps) + (double)dst_h * dst_w * cy->taps;
}

int resize_threads(const Image *src, int dst_w, int dst_h, const Contrib *cx, const Contrib *cy)
{
    if (dst_h < 2) return 1;
    int forced = g_threads.load(std::memory_order_relaxed);
    if (forced) return forced;
    if (std::thread::hardware_concurrency() < 2) return 1;
    return resize_work(src, dst_w, dst_h, cx, cy) >= kThreadMinWork ? 2 : 1;
}

bool resize_all_rows(const Image *src, Image *dst, const Contrib *cx, const Contrib *cy, int threads)
{
    RowJob job;
    job.src = src;
    job.dst = dst;
    job.cx = cx;
    job.cy = cy;
    job.k = kernels();
    job.claimed = 0;
    job.done = 0;
    // Resizes running at once on other threads (batch workers) share the one helper.
    bool helped = threads > 1 && !g_helper_busy.exchange(true);
    std::thread helper;
    if (helped) worker_start(&helper, resize_helper, &job);  // without one, this thread does every row
    resize_worker(&job, false);
    if (helper.joinable()) helper.join();
    if (helped) g_helper_busy = false;
    return job.done.load() == (int)dst->height;
}

}  // namespace

Image *image_resize(const Image *src, int dst_w, int dst_h, int filter)
{
    if (!src || !src->data || dst_w <= 0 || dst_h <= 0) return nullptr;
    if ((uint32_t)dst_w == src->width && (uint32_t)dst_h == src->height) return image_clone(src);
    filter = resolve_filter(src, dst_w, dst_h, filter);

    Contrib cx, cy;
    if (!contrib_build(&cx, src->width, (uint32_t)dst_w, filter)) return nullptr;
    if (!contrib_build(&cy, src->height, (uint32_t)dst_h, filter)) {
        contrib_free(&cx);
        return nullptr;
    }
    Image *dst = image_new((uint32_t)dst_w, (uint32_t)dst_h);
    if (dst && !resize_all_rows(src, dst, &cx, &cy, resize_threads(src, dst_w, dst_h, &cx, &cy))) {
        image_free(dst);
        dst = nullptr;
    }
    if (dst) {
        if (src->has_alpha)
            image_detect_alpha(dst);
        else
            dst->has_alpha = 0;
    }
    contrib_free(&cx);
    contrib_free(&cy);
    return dst;
}

void image_resize_set_threads(int threads)
{
    g_threads = threads < 0 ? 0 : threads > 2 ? 2 : threads;
}

int image_resize_avx2_available()
{
    return cpu_has_avx2() ? 1 : 0;
}

int image_resize_set_path(int path)
{
    switch (path) {
    case kResizeScalar: g_kernels = &kResizeScalarKernels; return 1;
    case kResizeSse2: g_kernels = &kResizeSse2Kernels; return 1;
    case kResizeAvx2:
        if (!cpu_has_avx2()) return 0;
        g_kernels = &kResizeAvx2Kernels;
        return 1;
    default: g_kernels = nullptr; return 1;
    }
}

const wchar_t *filter_name(int filter)
{
    switch (filter) {
    case kFilterBox: return L"方框（最快）";
    case kFilterTriangle: return L"双线性（快）";
    case kFilterCatmullRom: return L"Catmull-Rom（锐）";
    case kFilterLanczos3: return L"Lanczos3（最佳）";
    default: return L"自动";
    }
}

uint32_t preset_count()
{
    return (uint32_t)(sizeof kPresets / sizeof kPresets[0]);
}

const SizePreset *preset_at(uint32_t index)
{
    return index < preset_count() ? &kPresets[index] : nullptr;
}
