// The update check and the usage report: the pure parts directly, the requests
// against a local stand-in server reached through http_proxy, and the notice
// through the real main window.
#include <gtest/gtest.h>
#include "app/app.h"
#include "online/online.h"
#include "shell/modal.h"
#include "support/test_support.h"
#include <gdiplus.h>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr WCHAR kKey[] = L"Software\\Quennick";
constexpr char kHostLine[] = "Host=www.quennick.com";

void pump_messages()
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

// Serves the window while a started check runs; false if it has not ended in 20 s.
bool wait_for_check()
{
    for (int i = 0; i < 400 && online_busy(); ++i) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        pump_messages();
    }
    pump_messages();
    return !online_busy();
}

// The stand-in server: a Python script run from the test tree on a free loopback port.
class StandIn {
public:
    bool start()
    {
        dir_ = temp_dir_create(L"standin");
        using UnixNameFn = char *(CDECL *)(const WCHAR *);
        auto unix_name = (UnixNameFn)(void *)GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name");
        if (!unix_name) return false;
        char *unix_dir = unix_name(dir_.c_str());
        if (!unix_dir) return false;
        std::string line = std::string("\"") + VELDMOOR_PYTHON + "\" \"" + VELDMOOR_STANDIN + "\" \"" + unix_dir + "\"";
        HeapFree(GetProcessHeap(), 0, unix_dir);
        std::wstring wline(line.begin(), line.end());
        STARTUPINFOW si = {sizeof si};
        PROCESS_INFORMATION pi = {};
        if (!CreateProcessW(nullptr, &wline[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return false;
        CloseHandle(pi.hThread);
        process_ = pi.hProcess;
        for (int i = 0; i < 200 && !port; ++i) {
            Sleep(50);
            std::vector<uint8_t> text = read_file_bytes(dir_ + L"\\port");
            port = atoi(std::string(text.begin(), text.end()).c_str());
        }
        if (port) _wputenv((L"http_proxy=http://127.0.0.1:" + std::to_wstring(port)).c_str());
        return port != 0;
    }
    // Closes the port; later connections are refused.
    void close_port()
    {
        write_file_bytes(dir_ + L"\\stop", "", 0);
        for (int i = 0; i < 100 && file_exists(dir_ + L"\\port"); ++i) Sleep(50);
    }
    void stop()
    {
        close_port();
        if (process_) CloseHandle(process_);
        temp_dir_remove(dir_);
    }
    void reply(int status, const std::string &body, const char *delay = "0")
    {
        std::string code = std::to_string(status);
        write_file_bytes(dir_ + L"\\status", code.data(), code.size());
        write_file_bytes(dir_ + L"\\body", body.data(), body.size());
        write_file_bytes(dir_ + L"\\delay", delay, strlen(delay));
    }
    std::vector<std::string> requests()
    {
        std::vector<uint8_t> bytes = read_file_bytes(dir_ + L"\\requests.log");
        std::vector<std::string> lines;
        std::string text(bytes.begin(), bytes.end()), line;
        for (char c : text) {
            if (c != '\n') {
                line += c;
                continue;
            }
            lines.push_back(line);
            line.clear();
        }
        return lines;
    }
    int count(const char *fragment)
    {
        int n = 0;
        for (auto &l : requests()) n += l.find(fragment) != std::string::npos;
        return n;
    }
    int port = 0;

private:
    std::wstring dir_;
    HANDLE process_ = nullptr;
};

void delete_machine_value()
{
    HKEY key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, KEY_WRITE, &key) != ERROR_SUCCESS) return;
    RegDeleteValueW(key, L"MachineGuid");
    RegCloseKey(key);
}

void set_machine_value(DWORD type, const void *data, DWORD bytes)
{
    HKEY key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr), ERROR_SUCCESS);
    RegSetValueExW(key, L"MachineGuid", 0, type, (const BYTE *)data, bytes);
    RegCloseKey(key);
}

std::wstring stored_machine_value()
{
    WCHAR value[100] = L"";
    DWORD bytes = sizeof value - sizeof(WCHAR);
    RegGetValueW(HKEY_CURRENT_USER, kKey, L"MachineGuid", RRF_RT_REG_SZ, nullptr, value, &bytes);
    return value;
}

struct ParseCase {
    const char *body;
    int newer;
    const wchar_t *text;
};

TEST(UpdateDocument, VersionIsReadSanitisedAndComparedWithOurs)
{
    static const std::string kLong = "{\"version\":\"1.0.1" + std::string(195, 'a') + "\"}";
    const ParseCase cases[] = {
        {"{\"version\":\"1.0.1\"}", 1, L"1.0.1"},
        {"{\"version\": \"2\"}", 1, L"2"},
        {"{\"name\":\"x\",\r\n \"version\" :\t\"1.1\"}", 1, L"1.1"},
        {"{\"version\": 3, \"notes\": \"x\"}", 1, L"3"},
        {"{\"version\":\"1.0.0\"}", 0, L""},
        {"{\"version\":\"1.0\"}", 0, L""},
        {"{\"version\":\"1.0.0.1\"}", 0, L""},
        {"{\"version\":\"0.9.9\"}", 0, L""},
        {"{\"version\":\"\"}", 0, L""},
        {"{\"version\":\"v1.2\"}", 0, L""},
        {"{\"version\"}", 0, L""},
        {"<html><body>404 Not Found</body></html>", 0, L""},
        {"", 0, L""},
        // Control characters and format directives end the value.
        {"{\"version\":\"1.0.1\x07\r\nrun me\"}", 1, L"1.0.1"},
        {"{\"version\":\"9%s%n%s\"}", 1, L"9"},
        {"{\"version\":\"\x1b[2J\"}", 0, L""},
        {kLong.c_str(), 1, L"1.0.1aaaaaaaaaaaaaaaaaaaaaaaaaa"},
    };
    for (const ParseCase &c : cases) {
        WCHAR out[32] = L"junk";
        EXPECT_EQ(online_parse_update(c.body, out, 32), c.newer) << c.body;
        EXPECT_STREQ(out, c.text) << c.body;
    }
}

TEST(Query, PercentEncodesAllButUnreservedAndNeverRunsPastTheBuffer)
{
    static char query[kQueryMax];
    int pos = 0;
    enc_w(query, &pos, L"aZ09-._ ~/&=中");
    EXPECT_STREQ(query, "aZ09-._%20%7E%2F%26%3D%E4%B8%AD");
    EXPECT_EQ(pos, (int)strlen(query));

    memset(query, 'x', sizeof query);
    pos = kQueryMax - 6;  // room for one %XX triple, not two
    enc_w(query, &pos, L"  ");
    EXPECT_EQ(pos, kQueryMax - 3);
    EXPECT_STREQ(query + kQueryMax - 6, "%20");
    enc_w(query, &pos, L"ab");
    EXPECT_EQ(pos, kQueryMax - 1);
    EXPECT_EQ(query[kQueryMax - 1], 0);
}

struct MachineCase {
    const char *what;
    DWORD type;
    std::wstring value;
    DWORD bytes;  // 0: the text with its NUL
    bool taken;
};

TEST(MachineCode, TakesOnlyAWholeStoredCodeAndMakesOneOtherwise)
{
    delete_machine_value();
    WCHAR made[kMachineMax];
    online_machine_read(made);
    std::wstring m = made;
    EXPECT_TRUE(m == L"UNKNOWN-HOST" || (m.size() == 12 && m.rfind(L"VOL-", 0) == 0 &&
                                         m.find_first_not_of(L"0123456789ABCDEF", 4) == std::wstring::npos))
        << m.c_str();

    std::wstring w79(79, L'7'), w80(80, L'8'), w200(200, L'2');
    DWORD dword = 5;
    const MachineCase cases[] = {
        {"stored", REG_SZ, L"机器 A~1", 0, true},
        {"79 units, no NUL", REG_SZ, w79, 79 * 2, true},
        {"80 units, no NUL", REG_SZ, w80, 80 * 2, false},
        {"200 units", REG_SZ, w200, 0, false},
        {"empty", REG_SZ, L"", 0, false},
        {"dword", REG_DWORD, L"", 4, false},
    };
    for (const MachineCase &c : cases) {
        if (c.type == REG_DWORD)
            set_machine_value(c.type, &dword, 4);
        else
            set_machine_value(c.type, c.value.c_str(), c.bytes ? c.bytes : (DWORD)(c.value.size() + 1) * 2);
        WCHAR out[kMachineMax + 8];
        wmemset(out, L'#', kMachineMax + 8);
        online_machine_read(out);
        EXPECT_LT(wcsnlen(out, kMachineMax + 8), (size_t)kMachineMax) << c.what;
        EXPECT_EQ(std::wstring(out), c.taken ? c.value : m) << c.what;
    }
    delete_machine_value();
}

class OnlineServer : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server_.start()) << "the stand-in server did not start"; }
    void TearDown() override { server_.stop(); }
    StandIn server_;
};

TEST_F(OnlineServer, ReportAndCheckSendTheExactRequestsToTheMakersHost)
{
    const WCHAR code[] = L"机器 A~1";
    set_machine_value(REG_SZ, code, sizeof code);
    server_.reply(200, "{\"version\":\"1.0.0\"}");
    online_report();
    WCHAR ver[32];
    EXPECT_EQ(online_check_update(ver, 32), 0);
    EXPECT_STREQ(ver, L"");

    std::vector<std::string> log = server_.requests();
    ASSERT_EQ(log.size(), 2u);
    const std::string report_head = "GET http://www.quennick.com:80/api/identity?action=touch"
                                    "&machine_code=%E6%9C%BA%E5%99%A8%20A%7E1&product=veldmoor&platform=win32"
                                    "&version=1.0.0&version_code=10000&model=Windows%20";
    EXPECT_EQ(log[0].rfind(report_head, 0), 0u) << log[0];
    std::string rest = log[0].substr(std::min(report_head.size(), log[0].size()));
    size_t dot = rest.find('.'), amp = rest.find("&use_sec=0 ");
    EXPECT_TRUE(dot != std::string::npos && dot > 0 && amp != std::string::npos && amp > dot + 1) << rest;
    EXPECT_NE(log[0].find(kHostLine), std::string::npos) << log[0];
    EXPECT_EQ(log[1], std::string("GET http://www.quennick.com:80/product/tool/veldmoor/download/version.json ") +
                          kHostLine);
    // The report stores the code it sent.
    EXPECT_EQ(stored_machine_value(), code);
    delete_machine_value();
}

// The real main window in this process, its message boxes answered "Cancel".
class OnlineWindow : public OnlineServer {
protected:
    void SetUp() override
    {
        OnlineServer::SetUp();
        Gdiplus::GdiplusStartupInput input;
        ASSERT_EQ(Gdiplus::GdiplusStartup(&g_gdipToken, &input, nullptr), Gdiplus::Ok);
        boxes().clear();
        modal_set_answerer(answer_cancel);
        app_init_record(&g_app, GetModuleHandleW(nullptr));
        ASSERT_TRUE(app_register_class(g_app.instance));
        ASSERT_NE(app_create_main_window(&g_app), nullptr);
    }
    void TearDown() override
    {
        if (IsWindow(g_app.hwnd)) DestroyWindow(g_app.hwnd);
        pump_messages();
        modal_set_answerer(nullptr);
        Gdiplus::GdiplusShutdown(g_gdipToken);
        OnlineServer::TearDown();
    }
    struct Box {
        std::wstring text, caption;
        UINT flags;
    };
    static std::vector<Box> &boxes()
    {
        static std::vector<Box> list;
        return list;
    }
    static int answer_cancel(HWND owner, const WCHAR *text, const WCHAR *caption, UINT flags)
    {
        boxes().push_back({text, caption, flags});
        return IDCANCEL;
    }
    // Starts a check as the About box does and serves the window until it ends.
    void check(int status, const std::string &body)
    {
        server_.reply(status, body);
        ASSERT_EQ(online_start_async(g_app.hwnd), 1);
        ASSERT_TRUE(wait_for_check()) << "the check did not end";
    }
};

std::wstring prompt_for(const wchar_t *version)
{
    return std::wstring(L"发现新版本 ") + version +
           L"（当前 1.0.0）。\n\n为避免被杀毒软件误拦，本程序不自动下载安装包。\n点「确定」去官网下载页，手动下载替换即可。";
}

TEST_F(OnlineWindow, ANewerVersionIsAnnouncedWithOnlyItsSanitisedText)
{
    struct Shown {
        const char *body;
        const wchar_t *version;
    };
    static const std::string kLong = "{\"version\":\"2" + std::string(199, '0') + "\"}";
    const Shown cases[] = {
        {"{\"version\":\"1.2.0\"}", L"1.2.0"},
        {"{\"version\":\"1.0.1\r\n\x07%s%s%n<script>\"}", L"1.0.1"},
        {kLong.c_str(), L"2000000000000000000000000000000"},
    };
    for (const Shown &c : cases) {
        boxes().clear();
        check(200, c.body);
        ASSERT_EQ(boxes().size(), 1u) << c.body;
        EXPECT_EQ(boxes()[0].text, prompt_for(c.version));
        EXPECT_EQ(boxes()[0].caption, L"有新版了");
        EXPECT_EQ(boxes()[0].flags, (UINT)(MB_OKCANCEL | MB_ICONINFORMATION));
    }
    EXPECT_EQ(server_.count("/version.json"), 3);
    EXPECT_EQ(server_.count("/api/identity?"), 3);
    EXPECT_STREQ(online_web(), L"https://www.quennick.com/product/tool/veldmoor/");
}

TEST_F(OnlineWindow, NoNewerVersionOrNoAnswerShowsNothing)
{
    struct Quiet {
        int status;
        const char *body;
    };
    const Quiet cases[] = {
        {200, "{\"version\":\"1.0.0\"}"},
        {200, "\x01\x02 not json at all \xff\xfe"},
        {404, "<html><head><title>404 Not Found</title></head><body>Not Found</body></html>"},
        {500, ""},
    };
    for (const Quiet &c : cases) check(c.status, c.body);
    EXPECT_EQ(server_.count("/version.json"), 4);

    server_.close_port();
    check(200, "{\"version\":\"9.9.9\"}");
    EXPECT_EQ(server_.count("/version.json"), 4);
    EXPECT_TRUE(boxes().empty());
    WCHAR ver[32];
    EXPECT_EQ(online_take_update(ver, 32), 0);
}

TEST_F(OnlineWindow, TwoQuickStartsRunOneCheckAndAPendingNoticeBlocksTheNext)
{
    server_.reply(200, "{\"version\":\"1.0.7\"}");
    EXPECT_EQ(online_start_async(g_app.hwnd), 1);
    EXPECT_EQ(online_start_async(g_app.hwnd), 0);
    // Wait without serving the window: the notice stays pending.
    for (int i = 0; i < 400 && online_busy(); ++i) Sleep(50);
    ASSERT_FALSE(online_busy());
    EXPECT_EQ(server_.count("/version.json"), 1);
    EXPECT_EQ(server_.count("/api/identity?"), 1);
    EXPECT_EQ(online_start_async(g_app.hwnd), 0);

    pump_messages();
    ASSERT_EQ(boxes().size(), 1u);
    EXPECT_EQ(boxes()[0].text, prompt_for(L"1.0.7"));
    EXPECT_EQ(online_start_async(nullptr), 0);
    check(200, "{\"version\":\"1.0.0\"}");
    EXPECT_EQ(server_.count("/version.json"), 2);
}

TEST_F(OnlineWindow, AWindowGoneBeforeTheNoticeLeavesLaterChecksWorking)
{
    HWND gone = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(gone, nullptr);
    server_.reply(200, "{\"version\":\"1.5\"}", "0.5");
    ASSERT_EQ(online_start_async(gone), 1);
    DestroyWindow(gone);
    ASSERT_TRUE(wait_for_check());
    EXPECT_EQ(server_.count("/version.json"), 1);

    check(200, "{\"version\":\"1.6\"}");
    ASSERT_EQ(boxes().size(), 1u);
    EXPECT_EQ(boxes()[0].text, prompt_for(L"1.6"));
}

}  // namespace
