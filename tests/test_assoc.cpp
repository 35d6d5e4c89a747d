// Open-with registration in the test prefix's registry, read back with reg.exe.
#include <gtest/gtest.h>
#include "app/app.h"
#include "shell/assoc.h"
#include <string>

namespace {

// Runs "reg.exe query ..." and returns what it printed.
std::wstring reg_query(const std::wstring &args)
{
    SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
    HANDLE read_end, write_end;
    if (!CreatePipe(&read_end, &write_end, &sa, 0)) return L"";
    SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW si = {sizeof si};
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = si.hStdError = write_end;
    PROCESS_INFORMATION pi = {};
    std::wstring line = L"reg.exe query " + args;
    BOOL started = CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr,
                                  &si, &pi);
    CloseHandle(write_end);
    std::string out;
    char chunk[4096];
    DWORD got;
    while (started && ReadFile(read_end, chunk, sizeof chunk, &got, nullptr) && got) out.append(chunk, got);
    CloseHandle(read_end);
    if (started) {
        WaitForSingleObject(pi.hProcess, 10000);
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
    }
    int n = MultiByteToWideChar(CP_UTF8, 0, out.data(), (int)out.size(), nullptr, 0);
    std::wstring text(n, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, out.data(), (int)out.size(), &text[0], n);
    return text;
}

bool key_exists(const WCHAR *path)
{
    HKEY key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

std::wstring exe_path()
{
    WCHAR exe[MAX_PATH];
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    return exe;
}

constexpr WCHAR kClasses[] = L"HKCU\\Software\\Classes\\";

class Assoc : public ::testing::Test {
protected:
    void SetUp() override { assoc_remove(); }
    void TearDown() override
    {
        assoc_remove();
        RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Classes\\Applications\\other.exe");
        RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Classes\\Applications\\OldName.exe");
        HKEY key;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Classes\\.jpg\\OpenWithProgids", 0, KEY_SET_VALUE, &key) ==
            ERROR_SUCCESS) {
            RegDeleteValueW(key, L"Other.jpg");
            RegCloseKey(key);
        }
    }
};

TEST_F(Assoc, InstallWritesEveryValueAndRemoveTakesOnlyOurs)
{
    EXPECT_EQ(assoc_is_installed(), 0);
    EXPECT_EQ(assoc_remove(), 1);  // nothing there: still a success
    ASSERT_TRUE(reg_set(L"Software\\Classes\\.jpg\\OpenWithProgids", L"Other.jpg", L""));
    ASSERT_TRUE(reg_set(L"Software\\Classes\\Applications\\other.exe", nullptr, L""));

    ASSERT_EQ(assoc_install(), 1);
    EXPECT_EQ(assoc_is_installed(), 1);
    std::wstring exe = exe_path(), name = exe.substr(exe.rfind(L'\\') + 1);
    for (const WCHAR *ext : kAssocExt) {
        std::wstring progid = std::wstring(L"Veldmoor.") + ext;
        std::wstring out = reg_query(std::wstring(L"\"") + kClasses + progid + L"\\shell\\open\\command\" /ve");
        EXPECT_NE(out.find(L"REG_SZ    \"" + exe + L"\" \"%1\""), std::wstring::npos) << out;
        out = reg_query(std::wstring(L"\"") + kClasses + progid + L"\" /v FriendlyTypeName");
        EXPECT_NE(out.find(L"Veldmoor"), std::wstring::npos) << progid;
        out = reg_query(std::wstring(L"\"") + kClasses + L"." + ext + L"\\OpenWithProgids\" /v " + progid);
        EXPECT_NE(out.find(progid), std::wstring::npos) << out;
    }
    std::wstring app_key = std::wstring(L"\"") + kClasses + L"Applications\\" + name;
    std::wstring types = reg_query(app_key + L"\\SupportedTypes\"");
    for (const WCHAR *ext : kAssocExt)
        EXPECT_NE(types.find(std::wstring(L"    ") + ext + L"    REG_SZ"), std::wstring::npos) << ext;
    EXPECT_EQ(types.find(L".jpg"), std::wstring::npos);
    EXPECT_NE(reg_query(app_key + L"\\DefaultIcon\" /ve").find(L"\"" + exe + L"\",0"), std::wstring::npos);

    EXPECT_EQ(assoc_remove(), 1);
    EXPECT_EQ(assoc_is_installed(), 0);
    EXPECT_FALSE(key_exists((L"Software\\Classes\\Applications\\" + name).c_str()));
    EXPECT_TRUE(key_exists(L"Software\\Classes\\Applications\\other.exe"));
    std::wstring left = reg_query(std::wstring(L"\"") + kClasses + L".jpg\\OpenWithProgids\"");
    EXPECT_NE(left.find(L"Other.jpg"), std::wstring::npos);
    EXPECT_EQ(left.find(L"Veldmoor.jpg"), std::wstring::npos);
}

// The stored command decides which other Applications entry goes with ours;
// a command that names no file must not take the whole Applications key.
TEST_F(Assoc, RemoveFollowsTheStoredCommandButNeverTakesAllApplications)
{
    const WCHAR *command = L"Software\\Classes\\Veldmoor.jpg\\shell\\open\\command";
    std::wstring too_long = L"\"C:\\old\\OldName.exe\" \"%1\"" + std::wstring(400, L' ');  // more than is read
    struct Case { std::wstring stored; bool old_goes; } cases[] = {
        {L"\"C:\\old\\OldName.exe\" \"%1\"", true}, {L"\"\" \"%1\"", false},
        {too_long, false},
    };
    for (const Case &c : cases) {
        ASSERT_EQ(assoc_install(), 1);
        ASSERT_TRUE(reg_set(command, nullptr, c.stored.c_str()));
        ASSERT_TRUE(reg_set(L"Software\\Classes\\Applications\\OldName.exe", nullptr, L""));
        ASSERT_TRUE(reg_set(L"Software\\Classes\\Applications\\other.exe", nullptr, L""));
        EXPECT_EQ(assoc_remove(), 1);
        EXPECT_EQ(key_exists(L"Software\\Classes\\Applications\\OldName.exe"), !c.old_goes) << c.stored.size();
        EXPECT_TRUE(key_exists(L"Software\\Classes\\Applications\\other.exe"));
        EXPECT_EQ(assoc_is_installed(), 0);
    }
}

}  // namespace
