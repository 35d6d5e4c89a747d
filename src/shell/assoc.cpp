// Everything lives under HKEY_CURRENT_USER\Software\Classes, so no elevation is needed.
#include "shell/assoc.h"
#include "state/app_state.h"
#include <shellapi.h>
#include <shlwapi.h>
#include <cstdarg>
#include <cwchar>
#include <iterator>

static constexpr int kKeyMax = 512;
static constexpr int kValueMax = 292;

template <size_t N>
static void fmt(WCHAR (&out)[N], const WCHAR *format, ...)
{
    va_list args;
    va_start(args, format);
    _vsnwprintf(out, N - 1, format, args);
    va_end(args);
    out[N - 1] = 0;
}

int reg_set(const WCHAR *sub_key, const WCHAR *value_name, const WCHAR *text)
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, sub_key, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return 0;
    DWORD bytes = (DWORD)((wcslen(text) + 1) * sizeof(WCHAR));
    LONG rc = RegSetValueExW(key, value_name, 0, REG_SZ, (const BYTE *)text, bytes);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}

// The running executable; a path that fills the buffer was cut and is refused.
static int exe_path(WCHAR (&exe)[kPathMax])
{
    DWORD n = GetModuleFileNameW(nullptr, exe, kPathMax);
    if (n == 0 || n >= (DWORD)kPathMax) {
        exe[0] = 0;
        return 0;
    }
    return 1;
}

int assoc_install()
{
    WCHAR exe[kPathMax];
    if (!exe_path(exe)) return 0;
    const WCHAR *exe_name = PathFindFileNameW(exe);
    WCHAR app_key[kKeyMax], key[kKeyMax], value[kValueMax], progid[128];
    int failed = 0;

    fmt(app_key, L"Software\\Classes\\Applications\\%s", exe_name);
    failed += !reg_set(app_key, nullptr, L"");
    failed += !reg_set(app_key, L"FriendlyAppName", kAppName);
    fmt(key, L"%s\\DefaultIcon", app_key);
    fmt(value, L"\"%s\",0", exe);
    failed += !reg_set(key, nullptr, value);
    fmt(key, L"%s\\SupportedTypes", app_key);
    for (const WCHAR *ext : kAssocExt) failed += !reg_set(key, ext, L"");

    for (const WCHAR *ext : kAssocExt) {
        fmt(progid, L"%s.%s", kAppName, ext);
        fmt(key, L"Software\\Classes\\%s", progid);
        failed += !reg_set(key, nullptr, L"图片");
        failed += !reg_set(key, L"FriendlyTypeName", kAppName);
        fmt(key, L"Software\\Classes\\%s\\DefaultIcon", progid);
        fmt(value, L"%s,0", exe);
        failed += !reg_set(key, nullptr, value);
        fmt(key, L"Software\\Classes\\%s\\shell\\open\\command", progid);
        fmt(value, L"\"%s\" \"%%1\"", exe);
        failed += !reg_set(key, nullptr, value);
        fmt(key, L"Software\\Classes\\.%s\\OpenWithProgids", ext);
        failed += !reg_set(key, progid, L"");
    }
    return failed == 0;
}

// The executable named in a registered open command, or an empty string.
static void registered_exe(WCHAR (&out)[kPathMax])
{
    out[0] = 0;
    for (const WCHAR *ext : kAssocExt) {
        WCHAR key_path[kKeyMax];
        fmt(key_path, L"Software\\Classes\\%s.%s\\shell\\open\\command", kAppName, ext);
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, key_path, 0, KEY_READ, &key) != ERROR_SUCCESS) continue;
        WCHAR text[325] = {};
        DWORD bytes = 648, type = 0;
        LONG rc = RegQueryValueExW(key, nullptr, nullptr, &type, (BYTE *)text, &bytes);
        RegCloseKey(key);
        if (rc != ERROR_SUCCESS || type != REG_SZ) continue;  // a value too long reads as none
        text[std::size(text) - 1] = 0;
        const WCHAR *open = wcschr(text, L'"');
        const WCHAR *close = open ? wcschr(open + 1, L'"') : nullptr;
        if (!close || close == open + 1) continue;
        int len = (int)(close - open - 1);
        if (len > kPathMax - 1) len = kPathMax - 1;
        wmemcpy(out, open + 1, (size_t)len);
        out[len] = 0;
        return;
    }
}

static int delete_tree(const WCHAR *sub_key)
{
    LONG rc = RegDeleteTreeW(HKEY_CURRENT_USER, sub_key);
    return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND;
}

// Deletes Applications\<file name of path>. A name that is empty or holds a
// separator would name the Applications key itself, every program's entries.
static int delete_app_entry(const WCHAR *path)
{
    const WCHAR *name = path[0] ? PathFindFileNameW(path) : path;
    if (!name[0] || wcspbrk(name, L"\\/")) return 1;
    WCHAR key[kKeyMax];
    fmt(key, L"Software\\Classes\\Applications\\%s", name);
    return delete_tree(key);
}

int assoc_remove()
{
    int failed = 0;
    WCHAR registered[kPathMax];
    registered_exe(registered);
    failed += !delete_app_entry(registered);

    for (const WCHAR *ext : kAssocExt) {
        WCHAR progid[128], key_path[kKeyMax];
        fmt(progid, L"%s.%s", kAppName, ext);
        fmt(key_path, L"Software\\Classes\\%s", progid);
        failed += !delete_tree(key_path);
        fmt(key_path, L"Software\\Classes\\.%s\\OpenWithProgids", ext);
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, key_path, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
            RegDeleteValueW(key, progid);
            RegCloseKey(key);
        }
    }
    WCHAR exe[kPathMax];
    exe_path(exe);
    failed += !delete_app_entry(exe);
    return failed == 0;
}

int assoc_is_installed()
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Classes\\Veldmoor.jpg", 0, KEY_READ, &key) != ERROR_SUCCESS)
        return 0;
    RegCloseKey(key);
    return 1;
}

void assoc_open_default_apps()
{
    auto rc = (INT_PTR)ShellExecuteW(nullptr, L"open", L"ms-settings:defaultapps", nullptr, nullptr, SW_SHOWNORMAL);
    if (rc <= 32)
        ShellExecuteW(nullptr, L"open", L"control.exe", L"/name Microsoft.DefaultPrograms", nullptr, SW_SHOWNORMAL);
}
