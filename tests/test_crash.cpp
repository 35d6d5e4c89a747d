// Crash reports: real processes crash and the report and dump they leave are read back.
#include <gtest/gtest.h>
#include "app/crash.h"
#include "support/test_support.h"
#include <shlwapi.h>
#include <string>
#include <vector>

namespace {

std::wstring build_file(const wchar_t *name)
{
    WCHAR self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    PathRemoveFileSpecW(self);  // tests folder
    PathRemoveFileSpecW(self);  // build folder
    return std::wstring(self) + L"\\" + name;
}

struct Outcome {
    DWORD exit_code = 0xFFFFFFFF;
    DWORD main_thread = 0;
};

HANDLE start(const std::wstring &exe, const std::wstring &args, DWORD *main_thread)
{
    std::wstring line = L"\"" + exe + L"\" " + args;
    STARTUPINFOW si = {sizeof si};
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(exe.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return nullptr;
    CloseHandle(pi.hThread);
    *main_thread = pi.dwThreadId;
    return pi.hProcess;
}

DWORD finish(HANDLE process)
{
    DWORD code = 0xFFFFFFFE;
    if (WaitForSingleObject(process, 30000) == WAIT_OBJECT_0) GetExitCodeProcess(process, &code);
    CloseHandle(process);
    return code;
}

Outcome run(const std::wstring &exe, const std::wstring &args)
{
    Outcome r;
    if (HANDLE p = start(exe, args, &r.main_thread)) r.exit_code = finish(p);
    return r;
}

// A copy of a built program in a folder of its own, so that its crash folder is fresh.
std::wstring copy_into(const std::wstring &dir, const wchar_t *name)
{
    std::wstring to = dir + L"\\" + PathFindFileNameW(name);
    EXPECT_TRUE(CopyFileW(build_file(name).c_str(), to.c_str(), FALSE)) << GetLastError();
    return to;
}

std::string utf8(const std::wstring &w)
{
    int n = WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string s(n > 0 ? n - 1 : 0, '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, &s[0], n, nullptr, nullptr);
    return s;
}

struct Report {
    bool bom = false;
    std::vector<std::string> lines;  // without CR LF
    bool crlf = true;
    std::vector<uint8_t> dump;
};

Report read_report(const std::wstring &dir)
{
    Report r;
    std::vector<uint8_t> bytes = read_file_bytes(dir + L"\\crash\\Veldmoor-crash.txt");
    r.dump = read_file_bytes(dir + L"\\crash\\Veldmoor-crash.dmp");
    std::string text(bytes.begin(), bytes.end());
    r.bom = text.compare(0, 3, "\xEF\xBB\xBF") == 0;
    size_t at = r.bom ? 3 : 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        if (line.empty() || line.back() != '\r') r.crlf = false;
        else line.pop_back();
        r.lines.push_back(line);
        at = end + 1;
    }
    return r;
}

// Checks the header, the frame count against the frame lines, and the dump; returns the frame lines.
std::vector<std::string> check_report(const Report &r, DWORD code, DWORD thread)
{
    EXPECT_TRUE(r.bom);
    EXPECT_TRUE(r.crlf);
    if (r.lines.size() < 5) {
        ADD_FAILURE() << "report has " << r.lines.size() << " lines";
        return {};
    }
    char expect[64];
    EXPECT_EQ(r.lines[0], "Veldmoor 1.0.0 crash");
    snprintf(expect, sizeof expect, "exception code : 0x%08X", (unsigned)code);
    EXPECT_EQ(r.lines[1], expect);
    EXPECT_EQ(r.lines[2].rfind("exception addr : ", 0), 0u);
    snprintf(expect, sizeof expect, "thread id      : %u", (unsigned)thread);
    EXPECT_EQ(r.lines[3], expect);
    EXPECT_EQ(r.lines[4].rfind("stack frames   : ", 0), 0u);
    unsigned frames = (unsigned)atoi(r.lines[4].c_str() + 17);
    EXPECT_GE(frames, 1u);
    EXPECT_LE(frames, 48u);
    EXPECT_EQ(r.lines.size(), 5 + frames);
    std::vector<std::string> out(r.lines.begin() + 5, r.lines.end());
    for (size_t i = 0; i < out.size(); ++i) {
        snprintf(expect, sizeof expect, "  #%02u  ", (unsigned)i);
        EXPECT_EQ(out[i].rfind(expect, 0), 0u) << out[i];
    }
    EXPECT_GT(r.dump.size(), 1000u);
    EXPECT_EQ(std::string(r.dump.begin(), r.dump.begin() + std::min<size_t>(4, r.dump.size())), "MDMP");
    return out;
}

bool any_line_ends_with(const std::vector<std::string> &lines, const std::string &tail)
{
    for (auto &l : lines)
        if (l.size() >= tail.size() && l.compare(l.size() - tail.size(), tail.size(), tail) == 0) return true;
    return false;
}

struct FolderCase {
    const wchar_t *folder;
};

TEST(CrashReport, NullReadOnTheUiThreadLeavesAReadableReportAndADump)
{
    static constexpr FolderCase kCases[] = {{L"plain"}, {L"崩溃 报告"}};
    std::wstring root = temp_dir_create(L"crash");
    for (const FolderCase &c : kCases) {
        std::wstring dir = root + L"\\" + c.folder;
        ASSERT_TRUE(CreateDirectoryW(dir.c_str(), nullptr));
        std::wstring exe = copy_into(dir, L"tests\\crash_helper.exe");
        Outcome r = run(exe, L"main");
        EXPECT_EQ(r.exit_code, 0xC0000005u);
        EXPECT_EQ(r.exit_code & 0xFF, 5u);
        std::vector<std::string> frames = check_report(read_report(dir), 0xC0000005, r.main_thread);
        // The filter's own frame lies in the program: its full path comes out whole, in UTF-8.
        EXPECT_TRUE(any_line_ends_with(frames, "  " + utf8(exe))) << utf8(exe);
    }

    // A second crash replaces both files.
    std::wstring dir = root + L"\\plain";
    std::string junk(100000, 'j');
    ASSERT_TRUE(write_file_bytes(dir + L"\\crash\\Veldmoor-crash.txt", junk.data(), junk.size()));
    ASSERT_TRUE(write_file_bytes(dir + L"\\crash\\Veldmoor-crash.dmp", junk.data(), junk.size()));
    Outcome again = run(dir + L"\\crash_helper.exe", L"main");
    Report second = read_report(dir);
    check_report(second, 0xC0000005, again.main_thread);
    for (auto &line : second.lines) EXPECT_EQ(line.find("jjjj"), std::string::npos);
    temp_dir_remove(root);
}

TEST(CrashReport, StackOverflowAndTwoFaultingThreadsStillGiveOneWholeReport)
{
    std::wstring dir = temp_dir_create(L"crashso");
    std::wstring exe = copy_into(dir, L"tests\\crash_helper.exe");

    Outcome overflow = run(exe, L"overflow");
    EXPECT_EQ(overflow.exit_code, 0xC00000FDu);
    std::vector<std::string> frames = check_report(read_report(dir), 0xC00000FD, overflow.main_thread);
    // Unwound from the fault: the recursion fills the frame list with the program's own frames.
    EXPECT_EQ(frames.size(), 48u);
    EXPECT_TRUE(any_line_ends_with(frames, "  " + utf8(exe)));

    Outcome both = run(exe, L"both");
    EXPECT_EQ(both.exit_code, 0xC0000005u);
    Report r = read_report(dir);
    ASSERT_GE(r.lines.size(), 4u);
    DWORD thread = (DWORD)strtoul(r.lines[3].c_str() + 17, nullptr, 10);
    EXPECT_NE(thread, both.main_thread);
    check_report(r, 0xC0000005, thread);
    temp_dir_remove(dir);
}

TEST(CrashReport, APlainFileNamedCrashMeansNoReportAndTheSameExit)
{
    std::wstring dir = temp_dir_create(L"crashblocked");
    std::wstring exe = copy_into(dir, L"tests\\crash_helper.exe");
    ASSERT_TRUE(write_file_bytes(dir + L"\\crash", "x", 1));
    Outcome r = run(exe, L"main");
    EXPECT_EQ(r.exit_code, 0xC0000005u);
    EXPECT_EQ(read_file_bytes(dir + L"\\crash").size(), 1u);
    WIN32_FIND_DATAW fd;
    HANDLE find = FindFirstFileW((dir + L"\\Veldmoor-crash*").c_str(), &fd);
    EXPECT_EQ(find, INVALID_HANDLE_VALUE);
    if (find != INVALID_HANDLE_VALUE) FindClose(find);
    temp_dir_remove(dir);
}

struct FindByProcess {
    DWORD pid;
    HWND found;
};

BOOL CALLBACK match_main_window(HWND hwnd, LPARAM lp)
{
    auto *f = (FindByProcess *)lp;
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    WCHAR cls[64] = L"";
    GetClassNameW(hwnd, cls, 64);
    if (pid != f->pid || wcscmp(cls, L"Veldmoor.MainWnd") != 0) return TRUE;
    f->found = hwnd;
    return FALSE;
}

TEST(CrashReport, ARemoteThreadAtAddressZeroCrashesARunningVeldmoor)
{
    std::wstring dir = temp_dir_create(L"crashremote");
    std::wstring exe = copy_into(dir, L"Veldmoor.exe");
    DWORD main_thread = 0;
    HANDLE veldmoor = start(exe, L"", &main_thread);
    ASSERT_NE(veldmoor, nullptr);
    FindByProcess f = {GetProcessId(veldmoor), nullptr};
    for (int i = 0; i < 200 && !f.found; ++i) {
        Sleep(50);
        EnumWindows(match_main_window, (LPARAM)&f);
    }
    if (!f.found) {
        TerminateProcess(veldmoor, 1);
        DWORD code = finish(veldmoor);
        temp_dir_remove(dir);
        FAIL() << "Veldmoor's window did not appear; exit code " << std::hex << code;
    }

    Outcome helper = run(build_file(L"tests\\crash_helper.exe"), L"remote " + std::to_wstring(f.pid));
    DWORD remote_thread = helper.exit_code;
    EXPECT_GT(remote_thread, 4u);
    EXPECT_NE(remote_thread, main_thread);
    EXPECT_EQ(finish(veldmoor), 0xC0000005u);

    Report r = read_report(dir);
    check_report(r, 0xC0000005, remote_thread);
    ASSERT_GE(r.lines.size(), 3u);
    EXPECT_EQ(r.lines[2], "exception addr : 0000000000000000");
    temp_dir_remove(dir);
}

DWORD WINAPI call_filter(void *)
{
    ps_crash_filter(nullptr);
    return 0;
}

// The filter called in this process: no exception pointers, then re-entered on the
// same thread, then from another thread while the first one owns it.
TEST(CrashReport, FilterWithoutPointersReportsZerosAndIsEnteredOnce)
{
    std::wstring crash_dir = build_file(L"tests\\crash");
    std::wstring txt = crash_dir + L"\\Veldmoor-crash.txt", dmp = crash_dir + L"\\Veldmoor-crash.dmp";
    DeleteFileW(txt.c_str());
    DeleteFileW(dmp.c_str());

    EXPECT_EQ(ps_crash_filter(nullptr), EXCEPTION_EXECUTE_HANDLER);
    Report r = read_report(build_file(L"tests"));
    check_report(r, 0, GetCurrentThreadId());
    ASSERT_GE(r.lines.size(), 3u);
    EXPECT_EQ(r.lines[2], "exception addr : 0000000000000000");

    ASSERT_TRUE(DeleteFileW(txt.c_str()));
    ASSERT_TRUE(DeleteFileW(dmp.c_str()));
    EXPECT_EQ(ps_crash_filter(nullptr), EXCEPTION_EXECUTE_HANDLER);
    EXPECT_FALSE(file_exists(txt));
    EXPECT_FALSE(file_exists(dmp));

    HANDLE other = CreateThread(nullptr, 0, call_filter, nullptr, 0, nullptr);
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(WaitForSingleObject(other, 500), (DWORD)WAIT_TIMEOUT);  // parked for good
    CloseHandle(other);
    EXPECT_FALSE(file_exists(txt));
    RemoveDirectoryW(crash_dir.c_str());
}

}  // namespace
