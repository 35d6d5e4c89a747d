// The EXIF functions on files: the block is found and read by exif_core.
#include "codec/exif.h"
#include "codec/codec.h"
#include "codec/codec_heif.h"
#include "codec/codec_probe.h"
#include "codec/exif_core.h"
#include <cstdio>
#include <cstring>
#include <cwchar>

namespace {

struct FileCloser {
    HANDLE h;
    ~FileCloser()
    {
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    }
};

bool read_file(void *context, void *out, uint32_t n)
{
    DWORD got = 0;
    return ReadFile((HANDLE)context, out, n, &got, nullptr) && got == n;
}

bool skip_file(void *context, uint32_t n)
{
    return SetFilePointer((HANDLE)context, (LONG)n, nullptr, FILE_CURRENT) != INVALID_SET_FILE_POINTER;
}

bool read_app1_from_path(const WCHAR *path, std::vector<uint8_t> *payload)
{
    FileCloser f = {CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)};
    if (f.h == INVALID_HANDLE_VALUE) return false;
    ExifReader reader = {f.h, read_file, skip_file};
    if (exif_find_app1(&reader, payload)) return true;
    // A HEIF keeps its EXIF block as an item of its own.
    return codec_probe_file(path).format == kProbeHeif && heif_exif_payload(path, payload);
}

bool extension_has_no_exif(const WCHAR *path)
{
    const WCHAR *ext = codec_file_ext(path);
    return !_wcsicmp(ext, L".png") || !_wcsicmp(ext, L".bmp") || !_wcsicmp(ext, L".gif");
}

struct Lines {
    WCHAR *out;
    int cap;
    int used;
};

// "TAG=VALUE\n" appended when the whole line fits.
bool append_line(void *context, unsigned tag, const char *value)
{
    Lines *lines = (Lines *)context;
    WCHAR wide[1024];
    if (!MultiByteToWideChar(CP_UTF8, 0, value, -1, wide, 1024)) wide[0] = 0;
    WCHAR line[1100];
    int n = _snwprintf(line, 1100, L"%u=%ls\n", tag, wide);
    if (n < 0 || n >= 1100 || n >= lines->cap - lines->used) return false;
    memcpy(lines->out + lines->used, line, (size_t)(n + 1) * sizeof(WCHAR));
    lines->used += n;
    return true;
}

}  // namespace

int exif_read_orientation(const WCHAR *path)
{
    if (!path || !path[0]) return 1;
    std::vector<uint8_t> payload;
    if (!read_app1_from_path(path, &payload)) return 1;
    return exif_orientation_of(payload);
}

int exif_build_carry_over(const WCHAR *src_path, std::vector<uint8_t> *app1)
{
    if (!app1) return 0;
    app1->clear();
    if (!src_path || !src_path[0] || extension_has_no_exif(src_path)) return 0;
    std::vector<uint8_t> payload;
    if (!read_app1_from_path(src_path, &payload)) return 0;  // unreadable, moved away or no EXIF block
    return exif_carry_over_of(payload, app1);
}

int exif_list_carried(const WCHAR *jpeg_path, WCHAR *out, int out_cap)
{
    if (!out || out_cap <= 0) return 0;
    out[0] = 0;
    std::vector<uint8_t> payload;
    if (!jpeg_path || !read_app1_from_path(jpeg_path, &payload)) return 0;
    Lines lines = {out, out_cap, 0};
    return exif_list_values(payload, append_line, &lines);
}
