// Test helper: crashes itself with the crash filter installed, or crashes another
// process from outside.
//   main        a null read on the main (UI) thread
//   overflow    unbounded recursion on the main thread
//   both        two threads fault at the same moment
//   remote PID  starts a thread at address 0 in process PID; the exit code is that thread's id
#include "app/crash.h"
#include <cwchar>
#include <cstdlib>

static int null_read()
{
    int *volatile p = nullptr;
    return *p;
}

static int recurse(volatile char *outer)
{
    volatile char buf[2048];
    buf[0] = outer ? (char)(outer[0] + 1) : 0;
    return recurse(buf) + buf[7];
}

static HANDLE g_go;

static DWORD WINAPI fault_on_signal(void *)
{
    WaitForSingleObject(g_go, INFINITE);
    return (DWORD)null_read();
}

static int crash_two_threads()
{
    g_go = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE a = CreateThread(nullptr, 0, fault_on_signal, nullptr, 0, nullptr);
    HANDLE b = CreateThread(nullptr, 0, fault_on_signal, nullptr, 0, nullptr);
    Sleep(100);
    SetEvent(g_go);
    WaitForSingleObject(a, 10000);
    WaitForSingleObject(b, 10000);
    return 4;  // not reached: the first fault ends the process
}

static int crash_remote(DWORD pid)
{
    HANDLE target = OpenProcess(PROCESS_CREATE_THREAD | PROCESS_QUERY_INFORMATION | PROCESS_VM_OPERATION |
                                    PROCESS_VM_WRITE | PROCESS_VM_READ,
                                FALSE, pid);
    if (!target) return 1;
    DWORD tid = 0;
    HANDLE t = CreateRemoteThread(target, nullptr, 0, nullptr, nullptr, 0, &tid);
    CloseHandle(target);
    if (!t) return 1;
    CloseHandle(t);
    return (int)tid;
}

int wmain(int argc, WCHAR **argv)
{
    if (argc < 2) return 2;
    const WCHAR *mode = argv[1];
    if (!wcscmp(mode, L"remote")) return argc < 3 ? 2 : crash_remote((DWORD)wcstoul(argv[2], nullptr, 10));
    crash_install();
    if (!wcscmp(mode, L"main")) return null_read();
    if (!wcscmp(mode, L"overflow")) return recurse(nullptr);
    if (!wcscmp(mode, L"both")) return crash_two_threads();
    return 2;
}
