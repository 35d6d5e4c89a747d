#include "online/online.h"
#include "online/online_parse.h"
#include "shell/modal.h"
#include <winhttp.h>
#include <shellapi.h>
#include <cstring>
#include <cwchar>
#include <iterator>

static constexpr WCHAR kUpdateUrl[] = L"http://www.quennick.com/product/tool/veldmoor/download/version.json";
static constexpr WCHAR kReportUrl[] = L"http://www.quennick.com/api/identity";
static constexpr WCHAR kProductPage[] = L"https://www.quennick.com/product/tool/veldmoor/";
static constexpr WCHAR kMachineKey[] = L"Software\\Quennick";
static constexpr WCHAR kMachineValue[] = L"MachineGuid";
static constexpr WCHAR kUnknownHost[] = L"UNKNOWN-HOST";
static constexpr int kNewverMax = 32;
static constexpr int kUpdateBody = 2048, kReportBody = 256;
static constexpr int kReportUrlMax = 640;
static constexpr int kVersionBytes = 63;

// Loader state: 0 not tried, 1 loaded, -1 failed for good.
static LONG g_loaded;
static HMODULE g_hWinHttp;
static decltype(&WinHttpOpen) pOpen;
static decltype(&WinHttpConnect) pConnect;
static decltype(&WinHttpOpenRequest) pOpenRequest;
static decltype(&WinHttpSendRequest) pSendRequest;
static decltype(&WinHttpReceiveResponse) pReceiveResponse;
static decltype(&WinHttpQueryDataAvailable) pQueryData;
static decltype(&WinHttpReadData) pReadData;
static decltype(&WinHttpSetTimeouts) pSetTimeouts;
static decltype(&WinHttpCloseHandle) pCloseHandle;
static decltype(&WinHttpCrackUrl) pCrackUrl;

static WCHAR g_machine[kMachineMax];
static WCHAR g_newver[kNewverMax];
static volatile LONG g_update_ready;
// 1 from a start until its thread ends: loader state and machine code are never shared by two runs.
static volatile LONG g_running;

namespace {
struct Entry {
    const char *name;
    FARPROC *slot;
};

// Closes a WinHTTP handle on every path out of a request.
struct NetHandle {
    HINTERNET h;
    ~NetHandle()
    {
        if (h) pCloseHandle(h);
    }
};
}  // namespace

int winhttp_load()
{
    static const Entry kEntries[] = {
        {"WinHttpOpen", (FARPROC *)&pOpen},
        {"WinHttpConnect", (FARPROC *)&pConnect},
        {"WinHttpOpenRequest", (FARPROC *)&pOpenRequest},
        {"WinHttpSendRequest", (FARPROC *)&pSendRequest},
        {"WinHttpReceiveResponse", (FARPROC *)&pReceiveResponse},
        {"WinHttpQueryDataAvailable", (FARPROC *)&pQueryData},
        {"WinHttpReadData", (FARPROC *)&pReadData},
        {"WinHttpSetTimeouts", (FARPROC *)&pSetTimeouts},
        {"WinHttpCloseHandle", (FARPROC *)&pCloseHandle},
        {"WinHttpCrackUrl", (FARPROC *)&pCrackUrl},
    };
    g_loaded = -1;
    g_hWinHttp = LoadLibraryW(L"winhttp.dll");
    if (!g_hWinHttp) return 0;
    for (const Entry &e : kEntries) {
        *e.slot = GetProcAddress(g_hWinHttp, e.name);
        if (!*e.slot) {
            FreeLibrary(g_hWinHttp);
            g_hWinHttp = nullptr;
            return 0;
        }
    }
    g_loaded = 1;
    return 1;
}

static int winhttp_ready()
{
    if (g_loaded == 0) winhttp_load();
    return g_loaded == 1;
}

namespace {
// Host, port and object name (path and query) of a URL.
struct UrlParts {
    WCHAR host[256];
    WCHAR object[1024];
    INTERNET_PORT port;
    int secure;
};
}  // namespace

static int copy_part(WCHAR *dst, size_t cap, const WCHAR *src, size_t len)
{
    if (!src || len >= cap) return 0;
    wmemcpy(dst, src, len);
    dst[len] = 0;
    return 1;
}

// Proxies and servers alike expect the path and query as the object name, not the whole URL.
static int url_split(const WCHAR *url, UrlParts *out)
{
    URL_COMPONENTS c = {sizeof c};
    c.dwHostNameLength = c.dwUrlPathLength = c.dwExtraInfoLength = (DWORD)-1;
    if (!pCrackUrl(url, 0, 0, &c)) return 0;
    if (!copy_part(out->host, std::size(out->host), c.lpszHostName, c.dwHostNameLength)) return 0;
    out->port = c.nPort;
    out->secure = c.nScheme == INTERNET_SCHEME_HTTPS;
    // The query follows the path directly in the URL text.
    const WCHAR *path = c.dwUrlPathLength ? c.lpszUrlPath : c.lpszExtraInfo;
    size_t len = (size_t)c.dwUrlPathLength + c.dwExtraInfoLength;
    if (len == 0) return copy_part(out->object, std::size(out->object), L"/", 1);
    return copy_part(out->object, std::size(out->object), path, len);
}

static int http_read_body(HINTERNET request, char *buf, int cap)
{
    int got = 0;
    while (got < cap - 1) {
        DWORD avail = 0, read = 0;
        if (!pQueryData(request, &avail) || avail == 0) break;
        DWORD want = avail < (DWORD)(cap - 1 - got) ? avail : (DWORD)(cap - 1 - got);
        if (!pReadData(request, buf + got, want, &read) || read == 0) break;
        got += (int)read;
        buf[got] = 0;
    }
    return got;
}

int http_get(const WCHAR *url, char *buf, int cap)
{
    if (!buf || cap <= 0) return 0;
    buf[0] = 0;
    if (!url || !winhttp_ready()) return 0;
    UrlParts parts = {};
    if (!url_split(url, &parts)) return 0;

    // The default proxy: the system's setting on Windows, http_proxy under Wine.
    NetHandle session = {pOpen(VELDMOOR_USER_AGENT_W, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                               WINHTTP_NO_PROXY_BYPASS, 0)};
    if (!session.h) return 0;
    pSetTimeouts(session.h, 3000, 3000, 5000, 5000);
    NetHandle connect = {pConnect(session.h, parts.host, parts.port, 0)};
    if (!connect.h) return 0;
    NetHandle request = {pOpenRequest(connect.h, L"GET", parts.object, nullptr, WINHTTP_NO_REFERER,
                                      WINHTTP_DEFAULT_ACCEPT_TYPES, parts.secure ? WINHTTP_FLAG_SECURE : 0)};
    if (!request.h) return 0;
    if (!pSendRequest(request.h, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0)) return 0;
    if (!pReceiveResponse(request.h, nullptr)) return 0;
    return http_read_body(request.h, buf, cap);
}

static int unreserved(WCHAR c)
{
    return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') || (c >= L'0' && c <= L'9') || c == L'-' ||
           c == L'.' || c == L'_';
}

void enc_w(char *buf, int *pos, const WCHAR *text)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (; *text; ++text) {
        if (unreserved(*text)) {
            if (*pos <= kQueryMax - 2) buf[(*pos)++] = (char)*text;
            continue;
        }
        char bytes[4];
        int n = WideCharToMultiByte(CP_UTF8, 0, text, 1, bytes, 4, nullptr, nullptr);
        for (int i = 0; i < n; ++i) {
            if (*pos > kQueryMax - 5) continue;  // a byte that does not fit is dropped
            unsigned char b = (unsigned char)bytes[i];
            buf[(*pos)++] = '%';
            buf[(*pos)++] = kHex[b >> 4];
            buf[(*pos)++] = kHex[b & 15];
        }
    }
    buf[*pos] = 0;
}

static void query_put(char *buf, int *pos, char c)
{
    if (*pos <= kQueryMax - 2) buf[(*pos)++] = c;
    buf[*pos] = 0;
}

// "VOL-" and the serial of the executable's volume, or "UNKNOWN-HOST".
static void machine_from_volume(WCHAR *out)
{
    lstrcpynW(out, kUnknownHost, kMachineMax);
    WCHAR path[MAX_PATH], root[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return;
    WCHAR *sep = wcsrchr(path, L'\\');
    WCHAR *slash = wcsrchr(path, L'/');
    if (slash > sep) sep = slash;
    if (!sep) return;
    sep[1] = 0;
    // The volume query wants the volume's root, not the program's folder.
    if (!GetVolumePathNameW(path, root, MAX_PATH)) return;
    DWORD serial = 0;
    if (GetVolumeInformationW(root, nullptr, 0, &serial, nullptr, nullptr, nullptr, 0))
        _snwprintf(out, kMachineMax, L"VOL-%08lX", serial);
}

void online_machine_read(WCHAR *out)
{
    out[0] = 0;
    HKEY key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kMachineKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
        // Room for the longest code and a NUL the stored value may lack.
        WCHAR raw[kMachineMax + 1] = {};
        DWORD type = 0, bytes = kMachineMax * sizeof(WCHAR);
        LONG rc = RegQueryValueExW(key, kMachineValue, nullptr, &type, (BYTE *)raw, &bytes);
        RegCloseKey(key);
        raw[bytes / sizeof(WCHAR)] = 0;
        if (rc == ERROR_SUCCESS && type == REG_SZ && raw[0] && wcslen(raw) < (size_t)kMachineMax) {
            wcscpy(out, raw);
            return;
        }
    }
    machine_from_volume(out);
}

const WCHAR *online_machine()
{
    if (!g_machine[0]) online_machine_read(g_machine);
    return g_machine;
}

static void machine_store(const WCHAR *code)
{
    HKEY key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kMachineKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return;
    RegSetValueExW(key, kMachineValue, 0, REG_SZ, (const BYTE *)code, (DWORD)(wcslen(code) + 1) * sizeof(WCHAR));
    RegCloseKey(key);
}

static void model_text(WCHAR *out, int cap)
{
    OSVERSIONINFOW info = {sizeof info};
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    BOOL ok = GetVersionExW(&info);
#pragma GCC diagnostic pop
    if (ok)
        _snwprintf(out, cap - 1, L"Windows %lu.%lu", info.dwMajorVersion, info.dwMinorVersion);
    else
        lstrcpynW(out, L"Windows", cap);
    out[cap - 1] = 0;
}

void online_report()
{
    if (!winhttp_ready()) return;
    const WCHAR *code = online_machine();
    if (!code[0]) return;
    machine_store(code);
    WCHAR model[64];
    model_text(model, 64);

    const WCHAR *pairs[][2] = {
        {L"action", L"touch"},   {L"machine_code", code},    {L"product", L"veldmoor"}, {L"platform", L"win32"},
        {L"version", VELDMOOR_VERSION_W}, {L"version_code", VELDMOOR_VERSION_CODE_W}, {L"model", model},
        {L"use_sec", L"0"},
    };
    char query[kQueryMax];
    int pos = 0;
    query[0] = 0;
    for (size_t i = 0; i < std::size(pairs); ++i) {
        if (i) query_put(query, &pos, '&');
        enc_w(query, &pos, pairs[i][0]);
        query_put(query, &pos, '=');
        enc_w(query, &pos, pairs[i][1]);
    }
    WCHAR url[kReportUrlMax];
    int n = _snwprintf(url, kReportUrlMax - 1, L"%s?%hs", kReportUrl, query);
    if (n < 0 || n >= kReportUrlMax - 1) return;
    url[n] = 0;
    char reply[kReportBody];
    http_get(url, reply, kReportBody);
}

int online_parse_update(const char *body, WCHAR *buf, int cap)
{
    if (!buf || cap <= 0) return 0;
    char local[std::size(VELDMOOR_VERSION_W)];
    for (size_t i = 0; i < std::size(local); ++i) local[i] = (char)VELDMOOR_VERSION_W[i];
    char text[kVersionBytes + 1];
    int newer = online_parse_version(body, local, text, cap < (int)sizeof text ? cap : (int)sizeof text);
    for (int i = 0; i == 0 || text[i - 1]; ++i) buf[i] = (WCHAR)(unsigned char)text[i];
    return newer;
}

int online_check_update(WCHAR *buf, int cap)
{
    if (buf && cap > 0) buf[0] = 0;
    char body[kUpdateBody];
    if (http_get(kUpdateUrl, body, kUpdateBody) <= 0) return 0;
    return online_parse_update(body, buf, cap);
}

static DWORD WINAPI async_proc(void *param)
{
    HWND hwnd = (HWND)param;
    online_report();
    WCHAR ver[kNewverMax];
    if (winhttp_ready() && online_check_update(ver, kNewverMax)) {
        lstrcpynW(g_newver, ver, kNewverMax);
        InterlockedExchange(&g_update_ready, 1);
        // A window gone meanwhile takes no notice: later checks must still be able to post one.
        if (!PostMessageW(hwnd, WM_UPDATE_FOUND, 0, 0)) InterlockedExchange(&g_update_ready, 0);
    }
    InterlockedExchange(&g_running, 0);
    return 0;
}

int online_start_async(HWND hwnd)
{
    if (!hwnd || !IsWindow(hwnd)) return 0;
    if (InterlockedCompareExchange(&g_update_ready, 0, 0) == 1) return 0;
    if (InterlockedCompareExchange(&g_running, 1, 0) != 0) return 0;
    HANDLE thread = CreateThread(nullptr, 0, async_proc, hwnd, 0, nullptr);
    if (!thread) {
        InterlockedExchange(&g_running, 0);
        return 0;
    }
    CloseHandle(thread);
    return 1;
}

int online_busy()
{
    return InterlockedCompareExchange(&g_running, 0, 0);
}

int online_take_update(WCHAR *buf, int cap)
{
    if (!buf || cap <= 0) return 0;
    buf[0] = 0;
    if (InterlockedCompareExchange(&g_update_ready, 1, 1) != 1) return 0;
    lstrcpynW(buf, g_newver, cap);
    InterlockedExchange(&g_update_ready, 0);
    return buf[0] != 0;
}

const WCHAR *online_web()
{
    return kProductPage;
}

void online_update_prompt(HWND owner)
{
    WCHAR ver[kNewverMax];
    if (!online_take_update(ver, kNewverMax)) return;
    WCHAR text[400];
    _snwprintf(text, 399,
               L"发现新版本 %s（当前 %s）。\n\n为避免被杀毒软件误拦，本程序不自动下载安装包。\n"
               L"点「确定」去官网下载页，手动下载替换即可。",
               ver, VELDMOOR_VERSION_W);
    text[399] = 0;
    if (modal_message_box(owner, text, L"有新版了", MB_OKCANCEL | MB_ICONINFORMATION) == IDOK)
        ShellExecuteW(owner, L"open", online_web(), nullptr, nullptr, SW_SHOWNORMAL);
}
