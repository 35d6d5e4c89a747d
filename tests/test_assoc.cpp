// Open-with registration in the test prefix's registry.
#include <gtest/gtest.h>
#include "shell/assoc.h"
#include "app/app.h"
#include <shlwapi.h>
#include <string>

namespace {

std::wstring reg_text(const std::wstring &key, const WCHAR *value)
{
    WCHAR text[600] = L"?";
    DWORD bytes = sizeof text;
    if (RegGetValueW(HKEY_CURRENT_USER, (L"Software\\Classes\\" + key).c_str(), value, RRF_RT_REG_SZ, nullptr, text,
                     &bytes) != ERROR_SUCCESS)
        return L"(none)";
    return text;
}

bool key_exists(const std::wstring &key)
{
    HKEY h;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, (L"Software\\Classes\\" + key).c_str(), 0, KEY_READ, &h)) return false;
    RegCloseKey(h);
    return true;
}

class Assoc : public ::testing::Test {
protected:
    void SetUp() override
    {
        assoc_remove();
        reg_set(L"Software\\Classes\\.jpg\\OpenWithProgids", L"Other.jpg", L"");
        reg_set(L"Software\\Classes\\Applications\\other.exe", nullptr, L"");
    }
    void TearDown() override
    {
        assoc_remove();
        RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Classes\\Applications\\other.exe");
        RegDeleteKeyValueW(HKEY_CURRENT_USER, L"Software\\Classes\\.jpg\\OpenWithProgids", L"Other.jpg");
    }
};

TEST_F(Assoc, InstallWritesEveryValueAndRemoveTakesOnlyOurs)
{
    EXPECT_EQ(assoc_is_installed(), 0);
    ASSERT_EQ(assoc_install(), 1);
    EXPECT_EQ(assoc_is_installed(), 1);
    WCHAR exe[MAX_PATH];
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring app = std::wstring(L"Applications\\") + (wcsrchr(exe, L'\\') + 1);
    for (const WCHAR *ext : kAssocExt) {
        std::wstring progid = std::wstring(L"Veldmoor.") + ext;
        EXPECT_EQ(reg_text(progid + L"\\shell\\open\\command", nullptr), L"\"" + std::wstring(exe) + L"\" \"%1\"");
        EXPECT_EQ(reg_text(progid + L"\\DefaultIcon", nullptr), std::wstring(exe) + L",0");
        EXPECT_EQ(reg_text(std::wstring(L".") + ext + L"\\OpenWithProgids", progid.c_str()), L"");
        EXPECT_EQ(reg_text(app + L"\\SupportedTypes", ext), L"");
    }
    EXPECT_EQ(reg_text(app, L"FriendlyAppName"), L"Veldmoor");
    EXPECT_EQ(reg_text(app + L"\\DefaultIcon", nullptr), L"\"" + std::wstring(exe) + L"\",0");

    EXPECT_EQ(assoc_remove(), 1);
    EXPECT_EQ(assoc_remove(), 1);  // nothing left: still a success
    EXPECT_EQ(assoc_is_installed(), 0);
    EXPECT_FALSE(key_exists(app));
    EXPECT_TRUE(key_exists(L"Applications\\other.exe"));
    EXPECT_EQ(reg_text(L".jpg\\OpenWithProgids", L"Other.jpg"), L"");
    EXPECT_EQ(reg_text(L".jpg\\OpenWithProgids", L"Veldmoor.jpg"), L"(none)");
}

// The stored command names an older copy to remove too; one that names no
// file, or is too long to read, must not take the whole Applications key.
TEST_F(Assoc, RemoveFollowsTheStoredCommandOnlyToANamedProgram)
{
    struct Case { std::wstring stored; bool old_goes; } cases[] = {
        {L"\"C:\\old\\OldName.exe\" \"%1\"", true},
        {L"\"\" \"%1\"", false},
        {L"\"C:\\old\\OldName.exe\" \"%1\"" + std::wstring(400, L' '), false},
    };
    for (const Case &c : cases) {
        ASSERT_EQ(assoc_install(), 1);
        ASSERT_TRUE(reg_set(L"Software\\Classes\\Veldmoor.jpg\\shell\\open\\command", nullptr, c.stored.c_str()));
        ASSERT_TRUE(reg_set(L"Software\\Classes\\Applications\\OldName.exe", nullptr, L""));
        EXPECT_EQ(assoc_remove(), 1);
        EXPECT_EQ(key_exists(L"Applications\\OldName.exe"), !c.old_goes) << c.stored.size();
        EXPECT_TRUE(key_exists(L"Applications\\other.exe"));
    }
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Classes\\Applications\\OldName.exe");
}

DWORD run(const std::wstring &exe, const WCHAR *args)
{
    std::wstring line = L"\"" + exe + L"\" " + args;
    STARTUPINFOW si = {sizeof si};
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(exe.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return 0xFFFFFFFF;
    WaitForSingleObject(pi.hProcess, 30000);
    DWORD code = 0xFFFFFFFE;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return code;
}

// The setup program's switches on the real Veldmoor.exe, with another copy
// running: they register and remove that executable and are not handed over.
TEST_F(Assoc, SwitchesOfTheProgramRegisterAndRemoveItself)
{
    WCHAR exe[MAX_PATH];
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    PathRemoveFileSpecW(exe);  // tests folder
    PathRemoveFileSpecW(exe);  // build folder
    PathAppendW(exe, L"Veldmoor.exe");
    HANDLE running = CreateMutexW(nullptr, FALSE, kMutexName);
    ASSERT_EQ(run(exe, L"--add-open-with"), 0u);
    EXPECT_EQ(reg_text(L"Veldmoor.png\\shell\\open\\command", nullptr), L"\"" + std::wstring(exe) + L"\" \"%1\"");
    EXPECT_EQ(reg_text(L"Applications\\Veldmoor.exe", L"FriendlyAppName"), L"Veldmoor");
    ASSERT_EQ(run(exe, L"--remove-open-with"), 0u);
    EXPECT_EQ(assoc_is_installed(), 0);
    EXPECT_FALSE(key_exists(L"Applications\\Veldmoor.exe"));
    EXPECT_TRUE(key_exists(L"Applications\\other.exe"));
    CloseHandle(running);
}

}  // namespace
