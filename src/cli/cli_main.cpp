// veldmoor-cli: the engine from the command line, for scripts and checks from outside.
#include "app/app.h"
#include "codec/codec.h"
#include "codec/exif.h"
#include "compress/compress.h"
#include "files/files.h"
#include "image/resize.h"
#include <shlwapi.h>
#include <cwchar>
#include <cstdlib>
#include <vector>

static constexpr int kErrCap = 600;

struct CliArgs {
    int argc;
    WCHAR **argv;
};

static void write_utf8(DWORD which, const WCHAR *text)
{
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 1) return;
    std::vector<char> utf8((size_t)bytes);
    WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8.data(), bytes, nullptr, nullptr);
    DWORD written;
    WriteFile(GetStdHandle(which), utf8.data(), (DWORD)(bytes - 1), &written, nullptr);
}

static void out(const WCHAR *format, ...)
{
    WCHAR line[4096];
    va_list args;
    va_start(args, format);
    _vsnwprintf(line, 4095, format, args);
    va_end(args);
    line[4095] = 0;
    write_utf8(STD_OUTPUT_HANDLE, line);
}

static int fail(const WCHAR *message)
{
    write_utf8(STD_ERROR_HANDLE, message);
    write_utf8(STD_ERROR_HANDLE, L"\n");
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
                             30, 95};
    const WCHAR *ext = PathFindExtensionW(a.argv[3]);
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
    out(L"bytes=%d size=%ux%u quality=%u downscaled=%d target_missed=%d", result.bytes, result.width, result.height,
        result.quality, result.downscaled, result.target_missed);
    if (flag(a, L"--time")) out(L" ms=%.1f", (t1.QuadPart - t0.QuadPart) * 1000.0 / freq.QuadPart);
    out(L"\n");
    return 0;
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
};

static int usage()
{
    write_utf8(STD_ERROR_HANDLE, L"usage: veldmoor-cli COMMAND ARGS\n");
    for (const CliCommand &c : kCommands) {
        write_utf8(STD_ERROR_HANDLE, L"  ");
        write_utf8(STD_ERROR_HANDLE, c.usage);
        write_utf8(STD_ERROR_HANDLE, L"\n");
    }
    return 2;
}

int wmain(int argc, WCHAR **argv)
{
    if (argc < 2) return usage();
    for (const CliCommand &c : kCommands) {
        if (wcscmp(argv[1], c.name)) continue;
        if (argc < 2 + c.positional) return usage();
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        int rc = c.run(CliArgs{argc, argv});
        codec_shutdown();
        CoUninitialize();
        return rc;
    }
    return usage();
}
