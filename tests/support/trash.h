// The host's recycle bin as Wine fills it, so tests can take back what they put there.
#pragma once
#include <windows.h>
#include <string>

// Wine does not pass HOME on; it names the host's home folder in WINEHOMEDIR.
inline std::wstring trash_dir()
{
    WCHAR home[MAX_PATH] = L"";
    DWORD n = GetEnvironmentVariableW(L"WINEHOMEDIR", home, MAX_PATH);
    std::wstring dir = n > 0 && n < MAX_PATH ? std::wstring(home) : std::wstring(L"Z:\\root");
    if (dir.rfind(L"\\??\\", 0) == 0) dir.erase(0, 4);
    return dir + L"\\.local\\share\\Trash";
}

inline bool trash_holds(const std::wstring &name)
{
    return GetFileAttributesW((trash_dir() + L"\\files\\" + name).c_str()) != INVALID_FILE_ATTRIBUTES;
}

inline void trash_take_back(const std::wstring &name)
{
    DeleteFileW((trash_dir() + L"\\files\\" + name).c_str());
    DeleteFileW((trash_dir() + L"\\info\\" + name + L".trashinfo").c_str());
}
