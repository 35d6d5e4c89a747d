// The probe's file access: one handle, read where the probe asks.
#include "codec/codec_probe.h"

namespace {

bool read_file_at(void *context, uint64_t offset, uint8_t *out, size_t n, size_t *got)
{
    LARGE_INTEGER at;
    at.QuadPart = (LONGLONG)offset;
    DWORD read = 0;
    if (!SetFilePointerEx((HANDLE)context, at, nullptr, FILE_BEGIN) || !ReadFile((HANDLE)context, out, (DWORD)n, &read, nullptr))
        return false;
    *got = read;
    return true;
}

}  // namespace

ProbeResult codec_probe_file(const WCHAR *path)
{
    ProbeResult res = {};
    if (!path) return res;
    HANDLE f = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return res;
    LARGE_INTEGER size = {};
    if (GetFileSizeEx(f, &size)) {
        ProbeSource source = {f, (uint64_t)size.QuadPart, read_file_at};
        res = codec_probe_source(&source);
    }
    CloseHandle(f);
    return res;
}
