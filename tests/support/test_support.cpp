#include "support/test_support.h"
#include <shlwapi.h>
#include <shellapi.h>
#include <cstdio>

std::wstring testdata_path(const wchar_t *relative)
{
    WCHAR full[MAX_PATH];
    std::wstring rel = std::wstring(L"..\\shared\\testdata\\") + relative;
    for (auto &c : rel)
        if (c == L'/') c = L'\\';
    GetFullPathNameW(rel.c_str(), MAX_PATH, full, nullptr);
    return full;
}

std::wstring temp_dir_create(const wchar_t *tag)
{
    WCHAR base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    static int counter;
    WCHAR dir[MAX_PATH];
    swprintf(dir, MAX_PATH, L"%lsvdm_%ls_%lu_%d", base, tag, GetCurrentProcessId(), ++counter);
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
