// The update check and usage report: the pure parts directly; the requests against
// a local stand-in server reached through http_proxy, with the notice shown by the
// real main window of this process.
#include <gtest/gtest.h>
#include "app/app.h"
#include "online/online.h"
#include "shell/modal.h"
#include "support/test_support.h"
#include <gdiplus.h>
#include <string>
#include <vector>

namespace {

constexpr WCHAR kKey[] = L"Software\\Quennick";

void set_machine_value(DWORD type, const void *data, DWORD bytes)
{
    HKEY key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr), 0);
    if (data) RegSetValueExW(key, L"MachineGuid", 0, type, (const BYTE *)data, bytes);
    else RegDeleteValueW(key, L"MachineGuid");
    RegCloseKey(key);
}

TEST(UpdateDocument, VersionIsReadSanitisedAndComparedWithOurs)
{
    static const std::string kLong = "{\"version\":\"1.0.1" + std::string(195, 'a') + "\"}";
    const struct {
        const char *body;
        const wchar_t *newer;  // empty: no update
    } cases[] = {
        {"{\"version\":\"1.0.1\"}", L"1.0.1"}, {"{\"version\": \"2\"}", L"2"}, {"{\"version\": 3, \"x\": 1}", L"3"},
        {"{\"a\":\"x\",\r\n \"version\" :\t\"1.1\"}", L"1.1"}, {"{\"version\":\"1.0.0\"}", L""},
        {"{\"version\":\"1.0\"}", L""}, {"{\"version\":\"1.0.0.1\"}", L""}, {"{\"version\":\"0.9.9\"}", L""},
        {"{\"version\":\"\"}", L""}, {"{\"version\":\"v1.2\"}", L""}, {"{\"version\"}", L""},
        {"<html>404 Not Found</html>", L""}, {"{\"version\":\"\x1b[2J\"}", L""},
        {"{\"version\":\"1.0.1\x07\r\nrun me\"}", L"1.0.1"}, {"{\"version\":\"9%s%n%s\"}", L"9"},
        {kLong.c_str(), L"1.0.1aaaaaaaaaaaaaaaaaaaaaaaaaa"},
    };
    for (const auto &c : cases) {
        WCHAR out[32] = L"junk";
        EXPECT_EQ(online_parse_update(c.body, out, 32), c.newer[0] != 0) << c.body;
        EXPECT_STREQ(out, c.newer) << c.body;
    }
}

TEST(UsageReport, MachineCodeIsTakenOnlyWholeFromTheRegistry)
{
    set_machine_value(REG_SZ, nullptr, 0);
    WCHAR made[kMachineMax];
    online_machine_read(made);
    std::wstring m = made;
    EXPECT_TRUE(m == L"UNKNOWN-HOST" || (m.size() == 12 && m.rfind(L"VOL-", 0) == 0)) << m.c_str();
    std::wstring w79(79, L'7'), w80(80, L'8');
    DWORD dword = 5;
    const struct {
        DWORD type;
        const void *data;
        DWORD bytes;
        const WCHAR *expect;
    } cases[] = {{REG_SZ, L"机器 A~1", 14, L"机器 A~1"}, {REG_SZ, w79.c_str(), 158, w79.c_str()},
                 {REG_SZ, w80.c_str(), 160, made}, {REG_SZ, L"", 2, made}, {REG_DWORD, &dword, 4, made}};
    for (const auto &c : cases) {
        set_machine_value(c.type, c.data, c.bytes);
        WCHAR out[kMachineMax + 8];
        wmemset(out, L'#', kMachineMax + 8);
        online_machine_read(out);
        EXPECT_EQ(std::wstring(out, wcsnlen(out, kMachineMax + 8)), c.expect) << c.bytes;
    }
    set_machine_value(REG_SZ, nullptr, 0);
}

// A stand-in server (a Python script of the test tree) and the real main window,
// whose message boxes are answered "Cancel".
class Online : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = temp_dir_create(L"standin");
        auto unix_name = (char *(CDECL *)(const WCHAR *))(void *)GetProcAddress(GetModuleHandleW(L"kernel32.dll"),
                                                                                  "wine_get_unix_file_name");
        ASSERT_NE(unix_name, nullptr) << "the stand-in server runs under Wine only";
        char *unix_dir = unix_name(dir_.c_str());
        std::string line = std::string("\"" VELDMOOR_PYTHON "\" \"" VELDMOOR_STANDIN "\" \"") + unix_dir + "\"";
        HeapFree(GetProcessHeap(), 0, unix_dir);
        std::wstring wline(line.begin(), line.end());
        STARTUPINFOW si = {sizeof si};
        PROCESS_INFORMATION pi = {};
        ASSERT_TRUE(CreateProcessW(nullptr, &wline[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
        std::string port;
        for (int i = 0; i < 200 && port.empty(); ++i, Sleep(50)) port = file(L"port");
        ASSERT_FALSE(port.empty()) << "the stand-in server did not start";
        _wputenv((L"http_proxy=http://127.0.0.1:" + std::wstring(port.begin(), port.end())).c_str());

        Gdiplus::GdiplusStartupInput input;
        ASSERT_EQ(Gdiplus::GdiplusStartup(&g_gdipToken, &input, nullptr), Gdiplus::Ok);
        boxes.clear();
        modal_set_answerer([](HWND, const WCHAR *text, const WCHAR *caption, UINT flags) {
            boxes.push_back(std::wstring(caption) + L"|" + std::to_wstring(flags) + L"|" + text);
            return IDCANCEL;
        });
        app_init_record(&g_app, GetModuleHandleW(nullptr));
        ASSERT_TRUE(app_register_class(g_app.instance));
        ASSERT_NE(app_create_main_window(&g_app), nullptr);
    }
    void TearDown() override
    {
        if (IsWindow(g_app.hwnd)) DestroyWindow(g_app.hwnd);
        modal_set_answerer(nullptr);
        Gdiplus::GdiplusShutdown(g_gdipToken);
        close_port();
        temp_dir_remove(dir_);
    }
    std::string file(const wchar_t *name)
    {
        std::vector<uint8_t> b = read_file_bytes(dir_ + L"\\" + name);
        return std::string(b.begin(), b.end());
    }
    void reply(int status, const std::string &body, const char *delay = "0")
    {
        std::string code = std::to_string(status);
        write_file_bytes(dir_ + L"\\status", code.data(), code.size());
        write_file_bytes(dir_ + L"\\body", body.data(), body.size());
        write_file_bytes(dir_ + L"\\delay", delay, strlen(delay));
    }
    int count(const char *fragment)
    {
        std::string log = file(L"requests.log");
        int n = 0;
        for (size_t at = log.find(fragment); at != std::string::npos; at = log.find(fragment, at + 1)) ++n;
        return n;
    }
    void close_port()  // later connections are refused
    {
        write_file_bytes(dir_ + L"\\stop", "", 0);
        for (int i = 0; i < 100 && file_exists(dir_ + L"\\port"); ++i) Sleep(50);
    }
    // Serves the window until the running check ends (20 s at most).
    static bool serve()
    {
        MSG msg;
        for (int i = 0; i < 400; ++i) {
            bool ended = !online_busy();  // the notice is posted before the thread ends
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
            if (ended) return true;
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        }
        return false;
    }
    // Starts a check as opening the About box does, and serves the window until it ends.
    void check(int status, const std::string &body)
    {
        reply(status, body);
        ASSERT_EQ(online_start_async(g_app.hwnd), 1);
        ASSERT_TRUE(serve()) << "the check did not end";
    }
    static std::wstring prompt(const wchar_t *version)
    {
        return std::wstring(L"有新版了|65|发现新版本 ") + version +
               L"（当前 " VELDMOOR_VERSION_W L"）。\n\n为避免被杀毒软件误拦，本程序不自动下载安装包。\n点「确定」去官网下载页，手动下载替换即可。";
    }
    static inline std::vector<std::wstring> boxes;
    std::wstring dir_;
};

TEST_F(Online, ReportAndCheckSendTheExactRequestsToTheMakersHost)
{
    set_machine_value(REG_SZ, L"机器 A~1", 14);
    reply(200, "{\"version\":\"1.0.0\"}");
    online_report();
    WCHAR ver[32];
    EXPECT_EQ(online_check_update(ver, 32), 0);
    std::string log = file(L"requests.log");
    const std::string head = "GET http://www.quennick.com:80/api/identity?action=touch&machine_code=%E6%9C%BA%E5%99%A8"
                             "%20A%7E1&product=veldmoor&platform=win32&version=" VELDMOOR_VERSION
                             "&version_code=" VELDMOOR_VERSION_CODE "&model=Windows%20";
    EXPECT_EQ(log.rfind(head, 0), 0u) << log;
    // Both carry the release's version as their user agent.
    const std::string end = "&use_sec=0 Host=www.quennick.com UA=" VELDMOOR_USER_AGENT
                            "\nGET http://www.quennick.com:80/product/tool/veldmoor/download/version.json"
                            " Host=www.quennick.com UA=" VELDMOOR_USER_AGENT "\n";
    size_t tail = log.find(end);
    EXPECT_TRUE(tail != std::string::npos && tail + end.size() == log.size()) << log;
    EXPECT_EQ(log.substr(head.size(), tail - head.size()).find_first_not_of("0123456789."), std::string::npos);
    WCHAR stored[20] = L"";
    DWORD bytes = sizeof stored;
    RegGetValueW(HKEY_CURRENT_USER, kKey, L"MachineGuid", RRF_RT_REG_SZ, nullptr, stored, &bytes);
    EXPECT_STREQ(stored, L"机器 A~1");
    set_machine_value(REG_SZ, nullptr, 0);
}

TEST_F(Online, OnlyANewerVersionIsAnnouncedAndOnlyWithItsSanitisedText)
{
    check(200, "{\"version\":\"1.2.0\"}");
    check(200, "{\"version\":\"1.0.1\r\n\x07%s%s%n<script>\"}");
    check(200, "{\"version\":\"2" + std::string(199, '0') + "\"}");
    check(200, "{\"version\":\"1.0.0\"}");
    check(200, "\x01\x02 not json \xff\xfe");
    check(404, "<html><head><title>404 Not Found</title></head><body>Not Found</body></html>");
    EXPECT_EQ(count("/version.json") * 10 + count("/api/identity?"), 66);
    close_port();  // refused
    check(200, "{\"version\":\"9.9.9\"}");
    EXPECT_EQ(count("/version.json"), 6);
    EXPECT_EQ(boxes, (std::vector<std::wstring>{prompt(L"1.2.0"), prompt(L"1.0.1"),
                                                prompt(L"2000000000000000000000000000000")}));
}

TEST_F(Online, TwoQuickStartsRunOneCheckAndAPendingNoticeBlocksTheNext)
{
    reply(200, "{\"version\":\"1.0.7\"}");
    EXPECT_EQ(online_start_async(g_app.hwnd), 1);
    EXPECT_EQ(online_start_async(g_app.hwnd), 0);
    for (int i = 0; i < 400 && online_busy(); ++i) Sleep(50);  // the window is not served: the notice waits
    EXPECT_EQ(count("/version.json") * 10 + count("/api/identity?"), 11);
    EXPECT_EQ(online_start_async(g_app.hwnd), 0);
    ASSERT_TRUE(serve());
    EXPECT_EQ(boxes, std::vector<std::wstring>{prompt(L"1.0.7")});
    check(200, "{\"version\":\"1.0.0\"}");
}

TEST_F(Online, AWindowGoneBeforeTheNoticeLeavesLaterChecksWorking)
{
    HWND gone = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    reply(200, "{\"version\":\"1.5\"}", "0.5");
    ASSERT_EQ(online_start_async(gone), 1);
    DestroyWindow(gone);
    ASSERT_TRUE(serve());
    check(200, "{\"version\":\"1.6\"}");
    EXPECT_EQ(boxes, std::vector<std::wstring>{prompt(L"1.6")});
}

}  // namespace
