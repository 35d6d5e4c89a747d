// Crash reports: real processes crash and the report and dump they leave are read back.
#include <gtest/gtest.h>
#include "app/crash.h"
#include "version.h"
#include "support/test_support.h"
#include <shlwapi.h>
#include <string>
#include <vector>

namespace {

std::wstring built(const wchar_t *name)
{
    WCHAR dir[MAX_PATH];
    GetModuleFileNameW(nullptr, dir, MAX_PATH);
    PathRemoveFileSpecW(dir);  // tests folder
    PathRemoveFileSpecW(dir);  // build folder
    return std::wstring(dir) + L"\\" + name;
}

// Starts a program; its process handle, null on failure.
HANDLE start(const std::wstring &exe, const std::wstring &args, DWORD *main_thread)
{
    std::wstring line = L"\"" + exe + L"\" " + args;
    STARTUPINFOW si = {sizeof si};
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(exe.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return nullptr;
    CloseHandle(pi.hThread);
    if (main_thread) *main_thread = pi.dwThreadId;
    return pi.hProcess;
}

DWORD finish(HANDLE process)
{
    DWORD code = 0;
    if (WaitForSingleObject(process, 30000) != WAIT_OBJECT_0) TerminateProcess(process, 0);
    GetExitCodeProcess(process, &code);
    CloseHandle(process);
    return code;
}

// A copy of a built program in dir, with stale report files a crash must replace.
std::wstring place(const std::wstring &dir, const wchar_t *name)
{
    std::wstring exe = dir + L"\\" + PathFindFileNameW(name);
    EXPECT_TRUE(CopyFileW(built(name).c_str(), exe.c_str(), FALSE));
    if (!CreateDirectoryW((dir + L"\\crash").c_str(), nullptr)) return exe;
    std::string junk(100000, 'j');
    for (const wchar_t *f : {L"\\crash\\Veldmoor-crash.txt", L"\\crash\\Veldmoor-crash.dmp"})
        write_file_bytes(dir + f, junk.data(), junk.size());
    return exe;
}

// Checks the report and dump in dir\crash; returns the report's lines.
std::vector<std::string> check_report(const std::wstring &dir, DWORD code, DWORD thread)
{
    std::vector<uint8_t> bytes = read_file_bytes(dir + L"\\crash\\Veldmoor-crash.txt");
    std::string text(bytes.begin(), bytes.end());
    EXPECT_EQ(text.substr(0, 3), "\xEF\xBB\xBF");
    std::vector<std::string> lines;
    for (size_t at = 3, end; at < text.size(); at = end + 2) {
        end = text.find("\r\n", at);
        if (end == std::string::npos) end = text.size();  // a last line without CR LF fails below
        lines.push_back(text.substr(at, end - at));
    }
    char head[200];
    snprintf(head, sizeof head, "Veldmoor " VELDMOOR_VERSION " crash|exception code : 0x%08X|exception addr : |thread id      : %u|",
             (unsigned)code, (unsigned)thread);
    std::string got;
    for (size_t i = 0; i < 4 && i < lines.size(); ++i) got += (i == 2 ? lines[i].substr(0, 17) : lines[i]) + "|";
    EXPECT_EQ(got, head);
    unsigned frames = lines.size() > 4 ? (unsigned)atoi(lines[4].c_str() + 17) : 0;
    EXPECT_TRUE(frames >= 1 && frames <= 48 && lines.size() == 5 + frames) << text.substr(0, 400);
    for (unsigned i = 0; i < frames && 5 + i < lines.size(); ++i) {
        snprintf(head, sizeof head, "  #%02u  ", i);
        EXPECT_EQ(lines[5 + i].rfind(head, 0), 0u) << lines[5 + i];
    }
    std::vector<uint8_t> dump = read_file_bytes(dir + L"\\crash\\Veldmoor-crash.dmp");
    EXPECT_EQ(std::string(dump.begin(), dump.begin() + std::min<size_t>(4, dump.size())), "MDMP");
    return lines;
}

std::string utf8(const std::wstring &w)
{
    char out[1000] = "";
    WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, out, sizeof out, nullptr, nullptr);
    return out;
}

TEST(CrashReport, TheHelpersOwnCrashesReplaceTheReportAndNameTheProgramReadably)
{
    struct Case {
        const wchar_t *folder, *mode;
        DWORD code;
        bool blocked;  // a plain file named crash stands where the folder belongs
    };
    static constexpr Case kCases[] = {{L"plain", L"main", 0xC0000005, false},
                                      {L"崩溃 报告", L"main", 0xC0000005, false},
                                      {L"deep", L"overflow", 0xC00000FD, false},
                                      {L"blocked", L"main", 0xC0000005, true}};
    std::wstring root = temp_dir_create(L"crash");
    for (const Case &c : kCases) {
        std::wstring dir = root + L"\\" + c.folder;
        CreateDirectoryW(dir.c_str(), nullptr);
        if (c.blocked) write_file_bytes(dir + L"\\crash", "x", 1);
        std::wstring exe = place(dir, L"tests\\crash_helper.exe");
        DWORD main_thread = 0;
        EXPECT_EQ(finish(start(exe, c.mode, &main_thread)), c.code);
        if (c.blocked) {
            EXPECT_EQ(read_file_bytes(dir + L"\\crash").size(), 1u);
            continue;
        }
        std::vector<std::string> lines = check_report(dir, c.code, main_thread);
        int ours = 0;  // frames in the program, its path whole in UTF-8
        for (auto &l : lines) ours += l.size() > 25 && l.substr(25) == utf8(exe);
        EXPECT_GE(ours, c.code == 0xC00000FD ? 40 : 1) << utf8(exe);
    }
    temp_dir_remove(root);
}

TEST(CrashReport, ARemoteThreadAtAddressZeroCrashesARunningVeldmoor)
{
    std::wstring dir = temp_dir_create(L"crashremote");
    DWORD main_thread = 0, pid = 0;
    HANDLE veldmoor = start(place(dir, L"Veldmoor.exe"), L"", &main_thread);
    ASSERT_NE(veldmoor, nullptr);
    for (int i = 0; i < 200 && !pid; ++i, Sleep(50))
        GetWindowThreadProcessId(FindWindowW(L"Veldmoor.MainWnd", nullptr), &pid);
    EXPECT_EQ(pid, GetProcessId(veldmoor)) << "Veldmoor's window did not appear";

    DWORD remote = finish(start(built(L"tests\\crash_helper.exe"), L"remote " + std::to_wstring(pid), nullptr));
    EXPECT_NE(remote, 0u);
    EXPECT_NE(remote, main_thread);
    EXPECT_EQ(finish(veldmoor) & 0xFF, 5u);
    std::vector<std::string> lines = check_report(dir, 0xC0000005, remote);
    EXPECT_TRUE(lines.size() > 2 && lines[2] == "exception addr : 0000000000000000");
    temp_dir_remove(dir);
}

DWORD WINAPI enter_filter(void *)
{
    return (DWORD)ps_crash_filter(nullptr);
}

// In this process: no exception pointers, then the same thread again, then another thread.
TEST(CrashReport, TheFilterRunsOnceAndWorksWithoutExceptionPointers)
{
    std::wstring dir = built(L"tests"), txt = dir + L"\\crash\\Veldmoor-crash.txt";
    EXPECT_EQ(ps_crash_filter(nullptr), EXCEPTION_EXECUTE_HANDLER);
    std::vector<std::string> lines = check_report(dir, 0, GetCurrentThreadId());
    EXPECT_TRUE(lines.size() > 2 && lines[2] == "exception addr : 0000000000000000");

    ASSERT_TRUE(DeleteFileW(txt.c_str()));
    EXPECT_EQ(ps_crash_filter(nullptr), EXCEPTION_EXECUTE_HANDLER);
    HANDLE other = CreateThread(nullptr, 0, enter_filter, nullptr, 0, nullptr);
    EXPECT_EQ(WaitForSingleObject(other, 500), (DWORD)WAIT_TIMEOUT);  // parked until the process ends
    CloseHandle(other);
    EXPECT_FALSE(file_exists(txt));
    DeleteFileW((dir + L"\\crash\\Veldmoor-crash.dmp").c_str());
    RemoveDirectoryW((dir + L"\\crash").c_str());
}

}  // namespace
