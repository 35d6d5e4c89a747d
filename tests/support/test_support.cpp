#include "support/test_support.h"
#include <shlwapi.h>
#include <shellapi.h>
#include <algorithm>
#include <cstdio>
#include <cstring>

static std::wstring env_text(const wchar_t *name)
{
    WCHAR value[MAX_PATH];
    DWORD n = GetEnvironmentVariableW(name, value, MAX_PATH);
    return n > 0 && n < MAX_PATH ? std::wstring(value, n) : std::wstring();
}

std::wstring testdata_dir()
{
    std::wstring dir = env_text(L"VELDMOOR_TESTDATA");
    if (dir.empty()) dir = L"..\\shared\\testdata";
    if (dir[0] == L'/') dir = L"Z:" + dir;  // a host path, as the test script passes it
    for (auto &c : dir)
        if (c == L'/') c = L'\\';
    WCHAR full[MAX_PATH];
    DWORD n = GetFullPathNameW(dir.c_str(), MAX_PATH, full, nullptr);
    return n > 0 && n < MAX_PATH ? std::wstring(full) : dir;
}

bool testdata_present()
{
    DWORD attr = GetFileAttributesW(testdata_dir().c_str());
    return attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_DIRECTORY);
}

bool testdata_required()
{
    return env_text(L"VELDMOOR_REQUIRE_TESTDATA") == L"1";
}

std::string testdata_where()
{
    std::wstring dir = testdata_dir();
    char utf8[MAX_PATH * 3];
    int n = WideCharToMultiByte(CP_UTF8, 0, dir.c_str(), -1, utf8, sizeof utf8, nullptr, nullptr);
    return n > 0 ? std::string(utf8) : std::string("?");
}

std::wstring testdata_path(const wchar_t *relative)
{
    std::wstring path = testdata_dir() + L"\\" + relative;
    for (auto &c : path)
        if (c == L'/') c = L'\\';
    return path;
}

std::wstring temp_dir_create(const wchar_t *tag)
{
    WCHAR base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    static int counter;
    WCHAR dir[MAX_PATH];
    // Process ids come round again under a long-lived wineserver, and a folder a
    // crashed run left behind must not be mistaken for this one's.
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    swprintf(dir, MAX_PATH, L"%lsvdm_%ls_%lu_%llx_%d", base, tag, GetCurrentProcessId(),
             (unsigned long long)now.QuadPart, ++counter);
    temp_dir_remove(dir);
    CreateDirectoryW(dir, nullptr);
    return dir;
}

void temp_dir_remove(const std::wstring &dir)
{
    std::wstring from = dir + L'\0';
    SHFILEOPSTRUCTW op = {};
    op.wFunc = FO_DELETE;
    op.pFrom = from.c_str();
    op.fFlags = FOF_NO_UI;
    SHFileOperationW(&op);
}

bool write_file_bytes(const std::wstring &path, const void *data, size_t size)
{
    HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    BOOL ok = size == 0 || WriteFile(f, data, (DWORD)size, &written, nullptr);
    CloseHandle(f);
    return ok && (size == 0 || written == size);
}

std::vector<uint8_t> read_file_bytes(const std::wstring &path)
{
    std::vector<uint8_t> bytes;
    HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return bytes;
    LARGE_INTEGER size;
    if (GetFileSizeEx(f, &size) && size.QuadPart > 0) {
        bytes.resize((size_t)size.QuadPart);
        DWORD got = 0;
        if (!ReadFile(f, bytes.data(), (DWORD)bytes.size(), &got, nullptr) || got != bytes.size())
            bytes.clear();
    }
    CloseHandle(f);
    return bytes;
}

bool file_exists(const std::wstring &path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

Image *make_gradient(uint32_t w, uint32_t h, bool with_alpha)
{
    Image *img = image_new(w, h);
    if (!img) return nullptr;
    for (uint32_t y = 0; y < h; ++y) {
        uint8_t *row = img->data + (size_t)y * img->stride;
        for (uint32_t x = 0; x < w; ++x) {
            row[x * 4 + 0] = (uint8_t)(x * 255 / (w > 1 ? w - 1 : 1));
            row[x * 4 + 1] = (uint8_t)(y * 255 / (h > 1 ? h - 1 : 1));
            row[x * 4 + 2] = (uint8_t)((x + y) * 7);
            row[x * 4 + 3] = with_alpha ? (uint8_t)(128 + (x * 127) / (w > 1 ? w - 1 : 1)) : 255;
        }
    }
    image_detect_alpha(img);
    return img;
}

bool dib_create(Dib *dib, int w, int h)
{
    BITMAPINFO bi = {};
    bi.bmiHeader = {sizeof(BITMAPINFOHEADER), w, -h, 1, 32, BI_RGB};
    dib->w = w, dib->h = h;
    dib->dc = CreateCompatibleDC(nullptr);
    dib->bitmap = CreateDIBSection(dib->dc, &bi, DIB_RGB_COLORS, (void **)&dib->px, nullptr, 0);
    if (!dib->bitmap) return false;
    dib->old = SelectObject(dib->dc, dib->bitmap);
    dib_clear(dib);
    return true;
}

void dib_clear(Dib *dib)
{
    GdiFlush();
    memset(dib->px, 0, (size_t)dib->w * dib->h * 4);
}

bool window_shot(HWND hwnd, Dib *dib)
{
    RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    RECT rc;
    if (!GetClientRect(hwnd, &rc) || rc.right <= 0 || rc.bottom <= 0) return false;
    if (dib->dc) dib_free(dib);
    if (!dib_create(dib, rc.right, rc.bottom)) return false;
    HDC screen = GetDC(hwnd);
    if (!screen) return false;
    BOOL ok = BitBlt(dib->dc, 0, 0, rc.right, rc.bottom, screen, 0, 0, SRCCOPY);
    ReleaseDC(hwnd, screen);
    GdiFlush();
    return ok != 0;
}

int count_colour(const Dib &dib, RECT box, uint32_t rgb)
{
    int n = 0;
    for (int y = std::max<int>(box.top, 0); y < std::min<int>(box.bottom, dib.h); ++y)
        for (int x = std::max<int>(box.left, 0); x < std::min<int>(box.right, dib.w); ++x) n += dib.at(x, y) == rgb;
    return n;
}

void dib_free(Dib *dib)
{
    if (dib->old) SelectObject(dib->dc, dib->old);
    if (dib->bitmap) DeleteObject(dib->bitmap);
    if (dib->dc) DeleteDC(dib->dc);
    *dib = Dib();
}

// Output goes to files rather than pipes so that a chatty child can never block.
CliRun run_cli(const std::wstring &args, const std::function<void()> &during)
{
    WCHAR exe[MAX_PATH];
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    PathRemoveFileSpecW(exe);
    PathRemoveFileSpecW(exe);
    PathAppendW(exe, L"veldmoor-cli.exe");
    std::wstring dir = temp_dir_create(L"cliout");
    SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
    std::wstring out_path = dir + L"\\out.txt", err_path = dir + L"\\err.txt";
    HANDLE out = CreateFileW(out_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS, 0, nullptr);
    HANDLE err = CreateFileW(err_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS, 0, nullptr);
    STARTUPINFOW si = {sizeof si};
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = out;
    si.hStdError = err;
    std::wstring line = L"\"" + std::wstring(exe) + L"\" " + args;
    PROCESS_INFORMATION pi = {};
    CliRun run = {0xFFFFFFFF, "", ""};
    if (CreateProcessW(exe, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
        if (during) during();
        WaitForSingleObject(pi.hProcess, 120000);
        GetExitCodeProcess(pi.hProcess, &run.code);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
    CloseHandle(out);
    CloseHandle(err);
    auto o = read_file_bytes(out_path), e = read_file_bytes(err_path);
    run.out.assign(o.begin(), o.end());
    run.err.assign(e.begin(), e.end());
    temp_dir_remove(dir);
    return run;
}
