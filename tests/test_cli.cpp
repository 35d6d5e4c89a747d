// The console front end, run as a real process as a script would run it.
#include <gtest/gtest.h>
#include "codec/codec.h"
#include "support/test_support.h"
#include <shlwapi.h>
#include <cstring>
#include <cwctype>
#include <set>
#include <string>

namespace {

std::wstring in_quotes(const std::wstring &s)
{
    return L"\"" + s + L"\"";
}

TEST(CliInfo, ReportsUprightSizeAndTransparency)
{
    NEEDS_TESTDATA();
    CliRun r = run_cli(L"info " + in_quotes(testdata_path(L"orientation/Landscape_6.jpg")));
    EXPECT_EQ(r.code, 0u);
    EXPECT_EQ(r.out, "1800x1200 alpha=0\n");
    r = run_cli(L"info " + in_quotes(testdata_path(L"other/BSG1.tiff")));  // its alpha is all opaque
    EXPECT_EQ(r.code, 0u);
    EXPECT_EQ(r.out, "635x348 alpha=0\n");

    std::wstring dir = temp_dir_create(L"cliinfo");
    std::wstring png = dir + L"\\clear.png";
    Image *img = make_gradient(33, 17, true);
    WCHAR err[300];
    ASSERT_TRUE(codec_save(img, png.c_str(), 90, nullptr, err, 300)) << err;
    image_free(img);
    r = run_cli(L"info " + in_quotes(png));
    EXPECT_EQ(r.out, "33x17 alpha=1\n");
    temp_dir_remove(dir);
}

TEST(CliInfo, FailureGivesTheMessageOnStderrAndExitOne)
{
    NEEDS_TESTDATA();
    CliRun r = run_cli(L"info " + in_quotes(testdata_path(L"fuzz-findings")));
    EXPECT_EQ(r.code, 1u);
    EXPECT_TRUE(r.out.empty());
    EXPECT_EQ(r.err.rfind("无法读取「fuzz-findings」。", 0), 0u) << r.err;
}

// What veldmoor-cli ARGS leaves on a new console of this process's own, as its text.
std::wstring run_cli_on_console(const std::wstring &args)
{
    FreeConsole();
    AllocConsole();
    SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
    HANDLE con = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                             OPEN_EXISTING, 0, nullptr);
    WCHAR exe[MAX_PATH];
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    PathRemoveFileSpecW(exe);
    PathRemoveFileSpecW(exe);
    PathAppendW(exe, L"veldmoor-cli.exe");
    STARTUPINFOW si = {sizeof si};
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = si.hStdError = con;
    std::wstring line = in_quotes(exe) + L" " + args;
    PROCESS_INFORMATION pi = {};
    if (CreateProcessW(exe, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
        WaitForSingleObject(pi.hProcess, 60000);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
    std::wstring text(4000, L' ');
    DWORD got = 0;
    ReadConsoleOutputCharacterW(con, &text[0], (DWORD)text.size(), COORD{0, 0}, &got);
    CloseHandle(con);
    FreeConsole();
    return text.substr(0, got);
}

// Chinese reaches a console intact on standard output (a listed name) and on
// standard error (a message); redirected output stays UTF-8 (the tests above).
TEST(CliOutput, ChineseReachesAConsoleIntact)
{
    std::wstring dir = temp_dir_create(L"cliconsole"), picture = dir + L"\\照片一.png";
    Image *img = make_gradient(8, 8, false);
    ASSERT_TRUE(codec_save(img, picture.c_str(), 90, nullptr, nullptr, 0));
    image_free(img);
    std::wstring listed = run_cli_on_console(L"queue " + in_quotes(picture));
    std::wstring refused = run_cli_on_console(L"info " + in_quotes(dir + L"\\缺少.jpg"));
    EXPECT_NE(listed.find(L"照片一.png"), std::wstring::npos) << listed.size();
    EXPECT_NE(refused.find(L"找不到文件「缺少.jpg」"), std::wstring::npos) << refused.size();
    temp_dir_remove(dir);
}

TEST(CliConvert, WritesTheTargetFormatAndPrintsItsSize)
{
    NEEDS_TESTDATA();
    std::wstring dir = temp_dir_create(L"cliconv");
    std::wstring png = dir + L"\\out.png";
    CliRun r = run_cli(L"convert " + in_quotes(testdata_path(L"camera/nikon_e950.jpg")) + L" " + in_quotes(png));
    ASSERT_EQ(r.code, 0u) << r.err;
    std::vector<uint8_t> bytes = read_file_bytes(png);
    ASSERT_GT(bytes.size(), 8u);
    EXPECT_EQ(bytes[1], 'P');
    EXPECT_EQ(r.out, std::to_string(bytes.size()) + "\n");

    std::wstring webp = dir + L"\\out.webp";
    r = run_cli(L"convert " + in_quotes(testdata_path(L"camera/nikon_e950.jpg")) + L" " + in_quotes(webp));
    ASSERT_EQ(r.code, 0u) << r.err;
    bytes = read_file_bytes(webp);
    ASSERT_GT(bytes.size(), 12u);
    EXPECT_EQ(0, memcmp(bytes.data() + 8, "WEBP", 4));

    std::wstring low = dir + L"\\low.jpg", high = dir + L"\\high.jpg";
    std::wstring src = in_quotes(testdata_path(L"camera/nikon_e950.jpg"));
    ASSERT_EQ(run_cli(L"convert " + src + L" " + in_quotes(low) + L" --quality 30").code, 0u);
    ASSERT_EQ(run_cli(L"convert " + src + L" " + in_quotes(high) + L" --quality 90").code, 0u);
    EXPECT_LT(read_file_bytes(low).size() * 3 / 2, read_file_bytes(high).size());
    temp_dir_remove(dir);
}

TEST(CliEngine, ResizeThumbAndExifWorkFromOutside)
{
    NEEDS_TESTDATA();
    std::wstring dir = temp_dir_create(L"cliengine");
    std::wstring small = dir + L"\\small.png", thumb = dir + L"\\thumb.png", copy = dir + L"\\copy.jpg";
    CliRun r = run_cli(L"resize " + in_quotes(testdata_path(L"camera/nikon_e950.jpg")) + L" " + in_quotes(small) +
                       L" --size 200x150 --filter 4");
    ASSERT_EQ(r.code, 0u) << r.err;
    EXPECT_EQ(run_cli(L"info " + in_quotes(small)).out, "200x150 alpha=0\n");
    EXPECT_EQ(run_cli(L"resize a.jpg b.jpg --size 0x5").code, 1u);

    r = run_cli(L"thumb " + in_quotes(testdata_path(L"camera/canon_sx60_orient6.jpg")) + L" " + in_quotes(thumb) +
                L" --max 64");
    ASSERT_EQ(r.code, 0u) << r.err;
    EXPECT_EQ(run_cli(L"info " + in_quotes(thumb)).out, "48x64 alpha=0\n");

    ASSERT_EQ(run_cli(L"convert " + in_quotes(testdata_path(L"camera/iphone6.jpg")) + L" " + in_quotes(copy)).code, 0u);
    r = run_cli(L"exif " + in_quotes(copy));
    EXPECT_EQ(r.code, 0u);
    EXPECT_EQ(r.out.rfind("274=", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("\n271=Apple\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\n42036=iPhone 6 back camera 4.15mm f/2.2\n"), std::string::npos) << r.out;
    temp_dir_remove(dir);
}

TEST(CliEngine, TimeOptionAddsTheDecodeMilliseconds)
{
    std::wstring dir = temp_dir_create(L"clitime");
    std::wstring jpg = dir + L"\\timed.jpg", thumb = dir + L"\\timed.png";
    Image *img = make_gradient(400, 300, false);
    WCHAR err[600];
    ASSERT_TRUE(codec_save(img, jpg.c_str(), 90, nullptr, err, 600)) << err;
    image_free(img);
    double ms = -1;
    CliRun r = run_cli(L"info " + in_quotes(jpg) + L" --time");
    EXPECT_EQ(r.code, 0u) << r.err;
    EXPECT_EQ(sscanf(r.out.c_str(), "400x300 alpha=0 ms=%lf\n", &ms), 1) << r.out;
    EXPECT_GE(ms, 0.0);
    int bytes = 0;
    ms = -1;
    r = run_cli(L"thumb " + in_quotes(jpg) + L" " + in_quotes(thumb) + L" --time");
    EXPECT_EQ(r.code, 0u) << r.err;
    EXPECT_EQ(sscanf(r.out.c_str(), "%d ms=%lf\n", &bytes, &ms), 2) << r.out;
    EXPECT_EQ((size_t)bytes, read_file_bytes(thumb).size());
    EXPECT_GE(ms, 0.0);
    temp_dir_remove(dir);
}

TEST(CliEngine, QueueListsTheFolderInNaturalOrder)
{
    NEEDS_TESTDATA();
    CliRun r = run_cli(L"queue " + in_quotes(testdata_path(L"orientation/Landscape_3.jpg")));
    ASSERT_EQ(r.code, 0u);
    std::vector<std::string> lines;
    size_t at = 0;
    for (size_t nl; (nl = r.out.find('\n', at)) != std::string::npos; at = nl + 1) lines.push_back(r.out.substr(at, nl - at));
    ASSERT_EQ(lines.size(), 9u) << r.out;
    for (int i = 0; i < 9; ++i) {
        std::string tail = "Landscape_" + std::to_string(i) + ".jpg";
        EXPECT_EQ(lines[i].compare(lines[i].size() - tail.size(), tail.size(), tail), 0) << lines[i];
        EXPECT_EQ(lines[i][0] == '*', i == 3) << lines[i];
    }
}

TEST(CliEngine, CompressStaysUnderTheLimitAndSaysHow)
{
    NEEDS_TESTDATA();
    std::wstring dir = temp_dir_create(L"clicompress");
    std::wstring out = dir + L"\\small.jpg";
    CliRun r = run_cli(L"compress " + in_quotes(testdata_path(L"camera/iphone6.jpg")) + L" " + in_quotes(out) +
                       L" --kb 600");
    ASSERT_EQ(r.code, 0u) << r.err;
    size_t bytes = read_file_bytes(out).size();
    EXPECT_LE(bytes, 600u * 1024);
    EXPECT_EQ(r.out.rfind("bytes=" + std::to_string(bytes) + " size=", 0), 0u) << r.out;
    EXPECT_NE(r.out.find(" downscaled=0 target_missed=0 kept=0\n"), std::string::npos) << r.out;

    r = run_cli(L"compress " + in_quotes(testdata_path(L"camera/nikon_e950.jpg")) + L" " + in_quotes(dir + L"\\x.png") +
                L" --kb 10 --no-shrink");
    ASSERT_EQ(r.code, 0u) << r.err;
    EXPECT_NE(r.out.find("size=800x600 quality=30 downscaled=0 target_missed=1 kept=0\n"), std::string::npos) << r.out;
    temp_dir_remove(dir);
}

// DLLs a run of the CLI loads (file names, lower case), seen as its debugger.
std::set<std::wstring> cli_dlls(const std::wstring &args, DWORD *code)
{
    WCHAR exe[MAX_PATH], path[MAX_PATH];
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    PathRemoveFileSpecW(exe);
    PathRemoveFileSpecW(exe);
    PathAppendW(exe, L"veldmoor-cli.exe");
    SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
    HANDLE nul = CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_WRITE, &sa, OPEN_EXISTING, 0, nullptr);
    STARTUPINFOW si = {sizeof si};
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = si.hStdError = nul;
    std::wstring line = in_quotes(exe) + L" " + args;
    PROCESS_INFORMATION pi = {};
    std::set<std::wstring> dlls;
    *code = 0xFFFFFFFF;
    DEBUG_EVENT ev;
    bool started = CreateProcessW(exe, &line[0], nullptr, nullptr, TRUE, DEBUG_ONLY_THIS_PROCESS, nullptr, nullptr,
                                  &si, &pi);
    while (started && WaitForDebugEvent(&ev, 120000)) {
        HANDLE file = ev.dwDebugEventCode == LOAD_DLL_DEBUG_EVENT        ? ev.u.LoadDll.hFile
                      : ev.dwDebugEventCode == CREATE_PROCESS_DEBUG_EVENT ? ev.u.CreateProcessInfo.hFile
                                                                          : nullptr;
        if (file && ev.dwDebugEventCode == LOAD_DLL_DEBUG_EVENT && GetFinalPathNameByHandleW(file, path, MAX_PATH, 0)) {
            std::wstring name = PathFindFileNameW(path);
            for (WCHAR &c : name) c = (WCHAR)towlower(c);
            dlls.insert(name);
        }
        if (file) CloseHandle(file);
        bool fault = ev.dwDebugEventCode == EXCEPTION_DEBUG_EVENT &&
                     ev.u.Exception.ExceptionRecord.ExceptionCode != EXCEPTION_BREAKPOINT;
        ContinueDebugEvent(ev.dwProcessId, ev.dwThreadId, fault ? DBG_EXCEPTION_NOT_HANDLED : DBG_CONTINUE);
        if (ev.dwDebugEventCode == EXIT_PROCESS_DEBUG_EVENT) break;
    }
    if (started) {
        WaitForSingleObject(pi.hProcess, 10000);
        GetExitCodeProcess(pi.hProcess, code);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
    CloseHandle(nul);
    return dlls;
}

// A JPEG in and out needs neither COM nor WIC nor the window system: those DLLs
// cost more to load under Wine than the whole job on a small photo.
TEST(CliStart, JpegJobsLoadOnlyWhatTheyUse)
{
    NEEDS_TESTDATA();
    std::wstring dir = temp_dir_create(L"climodules");
    std::wstring photo = in_quotes(testdata_path(L"camera/nikon_e950.jpg"));
    const std::pair<std::wstring, bool> jobs[] = {  // arguments, goes through WIC
        {L"info " + photo, false},
        {L"compress " + photo + L" " + in_quotes(dir + L"\\small.jpg") + L" --kb 60", false},
        {L"convert " + photo + L" " + in_quotes(dir + L"\\copy.png"), true},
    };
    for (const auto &[args, wic] : jobs) {
        DWORD code;
        std::set<std::wstring> dlls = cli_dlls(args, &code);
        EXPECT_EQ(code, 0u) << args;
        ASSERT_EQ(dlls.count(L"kernel32.dll"), 1u) << "no DLL loads seen";
        for (const WCHAR *dll : {L"ole32.dll", L"windowscodecs.dll"})
            EXPECT_EQ(dlls.count(dll), wic ? 1u : 0u) << args << dll;
        for (const WCHAR *dll : {L"user32.dll", L"gdi32.dll", L"shlwapi.dll", L"gdiplus.dll", L"comdlg32.dll"})
            EXPECT_TRUE(wic || !dlls.count(dll)) << args << dll;
    }
    temp_dir_remove(dir);
}

TEST(CliUsage, UnknownCommandsAndMissingArgumentsAreRefused)
{
    EXPECT_EQ(run_cli(L"").code, 2u);
    EXPECT_EQ(run_cli(L"frobnicate x").code, 2u);
    CliRun r = run_cli(L"convert onlyone.jpg");
    EXPECT_EQ(r.code, 2u);
    EXPECT_NE(r.err.find("usage"), std::string::npos);
}

}  // namespace
