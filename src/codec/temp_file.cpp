// Our temporary files: "~Veldmoor-<process>-<count>.tmp", created new, never reused.
#include "codec/temp_file.h"
#include <cwchar>

namespace {

constexpr WCHAR kPrefix[] = L"~Veldmoor-";
constexpr WCHAR kSuffix[] = L".tmp";
constexpr int kCreateTries = 100;
constexpr ULONGLONG kStaleAge = 60ull * 60 * 10000000;  // one hour in FILETIME units

volatile LONG g_count;

bool join_path(const WCHAR *folder, const WCHAR *name, WCHAR *out, int cap)
{
    size_t n = wcslen(folder);
    const WCHAR *sep = n && (folder[n - 1] == L'\\' || folder[n - 1] == L'/') ? L"" : L"\\";
    int len = _snwprintf(out, (size_t)cap, L"%s%s%s", folder, sep, name);
    return len >= 0 && len < cap;
}

ULONGLONG as_number(FILETIME t)
{
    return ((ULONGLONG)t.dwHighDateTime << 32) | t.dwLowDateTime;
}

}  // namespace

HRESULT codec_temp_create(const WCHAR *folder, WCHAR *temp, int cap)
{
    for (int i = 0; i < kCreateTries; ++i) {
        WCHAR name[64];
        _snwprintf(name, 64, L"%s%lx-%lx%s", kPrefix, GetCurrentProcessId(),
                   (unsigned long)InterlockedIncrement(&g_count), kSuffix);
        name[63] = 0;
        if (!join_path(folder, name, temp, cap)) return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
        HANDLE f = CreateFileW(temp, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (f != INVALID_HANDLE_VALUE) {
            CloseHandle(f);
            return S_OK;
        }
        // A name left by an earlier process with our id and count: take the next.
        DWORD e = GetLastError();
        if (e != ERROR_FILE_EXISTS && e != ERROR_ALREADY_EXISTS) return HRESULT_FROM_WIN32(e);
    }
    return HRESULT_FROM_WIN32(ERROR_FILE_EXISTS);
}

void codec_temp_sweep(const WCHAR *folder)
{
    WCHAR pattern[MAX_PATH], path[MAX_PATH];
    WCHAR mask[32];
    _snwprintf(mask, 32, L"%s*%s", kPrefix, kSuffix);
    mask[31] = 0;
    if (!folder || !join_path(folder, mask, pattern, MAX_PATH)) return;
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    WIN32_FIND_DATAW fd;
    HANDLE find = FindFirstFileW(pattern, &fd);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        // The mask also matches short names: check the long one.
        size_t len = wcslen(fd.cFileName), pre = wcslen(kPrefix), suf = wcslen(kSuffix);
        if (len <= pre + suf || wcsncmp(fd.cFileName, kPrefix, pre) || _wcsicmp(fd.cFileName + len - suf, kSuffix))
            continue;
        if (as_number(now) - as_number(fd.ftLastWriteTime) < kStaleAge) continue;
        if (join_path(folder, fd.cFileName, path, MAX_PATH)) DeleteFileW(path);
    } while (FindNextFileW(find, &fd));
    FindClose(find);
}
