// Test helper: "main" reads through a null pointer on its main (UI) thread and
// "overflow" recurses without end, both with the crash filter installed;
// "remote PID" starts a thread at address 0 in process PID and exits with its id.
#include "app/crash.h"
#include <cwchar>
#include <cstdlib>

static volatile int g_never;

static int recurse(volatile char *outer)
{
    volatile char buf[2048];
    if (g_never) return 0;
    buf[0] = outer ? (char)(outer[0] + 1) : 0;
    return recurse(buf) + buf[7];
}

int wmain(int argc, WCHAR **argv)
{
    if (argc > 2 && !wcscmp(argv[1], L"remote")) {
        HANDLE target = OpenProcess(PROCESS_ALL_ACCESS, FALSE, (DWORD)wcstoul(argv[2], nullptr, 10));
        DWORD tid = 0;
        HANDLE t = target ? CreateRemoteThread(target, nullptr, 0, nullptr, nullptr, 0, &tid) : nullptr;
        if (t) CloseHandle(t);
        if (target) CloseHandle(target);
        return (int)tid;
    }
    crash_install();
    int *volatile null = nullptr;
    if (argc > 1 && !wcscmp(argv[1], L"main")) return *null;
    if (argc > 1 && !wcscmp(argv[1], L"overflow")) return recurse(nullptr);
    return 2;
}
