#include "app/crash.h"
#include "version.h"
#include <dbghelp.h>
#include <cstdio>
#include <cwchar>

static constexpr int kFrameMax = 48;
// The manifest makes the program long-path aware, so module paths may run to the system's limit.
static constexpr DWORD kLongPath = 32768;

namespace {

struct CrashInfo {
    EXCEPTION_POINTERS *ep;
    DWORD code;
    void *addr;
    DWORD thread_id;
    void *frames[kFrameMax];
    USHORT frame_count;
};

// Paths and text of one report: far too large for a stack that may be nearly used up.
struct Scratch {
    WCHAR exe[kLongPath];
    WCHAR dir[kLongPath];
    WCHAR txt[kLongPath];
    WCHAR dmp[kLongPath];
    WCHAR module[kLongPath];
    char line[3 * kLongPath + 64];
};

// Closes a file handle on every path out of a writer.
struct FileGuard {
    HANDLE h;
    ~FileGuard()
    {
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    }
};

}  // namespace

// Id of the thread writing the report; 0 while none is.
static volatile LONG g_crash_owner;
// Id of the thread that writes the report after a stack overflow.
static volatile LONG g_crash_helper;

static int path_join(WCHAR *dst, const WCHAR *dir, const WCHAR *name)
{
    size_t a = wcslen(dir), b = wcslen(name);
    if (a + 1 + b >= kLongPath) return 0;
    wmemcpy(dst, dir, a);
    dst[a] = L'\\';
    wmemcpy(dst + a + 1, name, b + 1);
    return 1;
}

// Fills the report's file paths and creates the folder; 0 when the executable's path is unknown or too long.
static int crash_paths(Scratch *s)
{
    DWORD n = GetModuleFileNameW(nullptr, s->exe, kLongPath);
    if (n == 0 || n >= kLongPath) return 0;
    WCHAR *cut = wcsrchr(s->exe, L'\\');
    if (!cut) return 0;
    *cut = 0;
    if (!path_join(s->dir, s->exe, L"crash")) return 0;
    CreateDirectoryW(s->dir, nullptr);  // already there or impossible: the file steps find out
    return path_join(s->txt, s->dir, L"Veldmoor-crash.txt") && path_join(s->dmp, s->dir, L"Veldmoor-crash.dmp");
}

static void write_all(HANDLE f, const char *data, int n)
{
    DWORD done = 0;
    if (n > 0) WriteFile(f, data, (DWORD)n, &done, nullptr);
}

static void crash_write_header(Scratch *s, const CrashInfo *info)
{
    FileGuard f = {CreateFileW(s->txt, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                               nullptr)};
    if (f.h == INVALID_HANDLE_VALUE) return;
    int n = snprintf(s->line, 512,
                     "\xEF\xBB\xBF"
                     "Veldmoor %s crash\r\n"
                     "exception code : 0x%08X\r\n"
                     "exception addr : %p\r\n"
                     "thread id      : %u\r\n",
                     VELDMOOR_VERSION, (unsigned)info->code, info->addr, (unsigned)info->thread_id);
    if (n > 0 && n < 512) write_all(f.h, s->line, n);
}

// The full path of the module holding addr, empty when none does or the path does not fit.
static void module_of(Scratch *s, const void *addr)
{
    s->module[0] = 0;
    HMODULE m = nullptr;
    DWORD flags = GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT;
    if (!GetModuleHandleExW(flags, (LPCWSTR)addr, &m)) return;
    DWORD n = GetModuleFileNameW(m, s->module, kLongPath);
    if (n == 0 || n >= kLongPath) s->module[0] = 0;
}

// One stack line: number, return address and the module path in UTF-8; returns its length.
static int frame_line(Scratch *s, unsigned index, const void *addr)
{
    int n = snprintf(s->line, 64, "  #%02u  %p  ", index, addr);
    if (n <= 0 || n >= 64) return 0;
    module_of(s, addr);
    int room = (int)sizeof s->line - n - 2;
    int u = s->module[0] ? WideCharToMultiByte(CP_UTF8, 0, s->module, -1, s->line + n, room, nullptr, nullptr) : 1;
    if (u <= 0) u = 1;  // cannot convert: leave the module out rather than cut it
    n += u - 1;
    s->line[n++] = '\r';
    s->line[n++] = '\n';
    return n;
}

static void crash_write_frames(Scratch *s, const CrashInfo *info)
{
    FileGuard f = {CreateFileW(s->txt, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                               nullptr)};
    if (f.h == INVALID_HANDLE_VALUE) return;
    int n = snprintf(s->line, 64, "stack frames   : %u\r\n", (unsigned)info->frame_count);
    write_all(f.h, s->line, n);
    for (unsigned i = 0; i < info->frame_count; ++i) write_all(f.h, s->line, frame_line(s, i, info->frames[i]));
}

static void crash_write_dump(Scratch *s, const CrashInfo *info)
{
    FileGuard f = {CreateFileW(s->dmp, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                               nullptr)};
    if (f.h == INVALID_HANDLE_VALUE) return;
    MINIDUMP_EXCEPTION_INFORMATION mei = {info->thread_id, info->ep, FALSE};
    MiniDumpWriteDump(GetCurrentProcess(), GetCurrentProcessId(), f.h, MiniDumpNormal, info->ep ? &mei : nullptr,
                      nullptr, nullptr);
}

static void crash_write(const CrashInfo *info)
{
    auto *s = (Scratch *)VirtualAlloc(nullptr, sizeof(Scratch), MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (!s) return;
    if (crash_paths(s)) {
        crash_write_header(s, info);
        crash_write_frames(s, info);
        crash_write_dump(s, info);
    }
    VirtualFree(s, 0, MEM_RELEASE);
}

static int leaf_return(CONTEXT *ctx)
{
    for (int slot = 0; slot < 4; ++slot) {
        DWORD64 ret = 0;
        SIZE_T got = 0;
        void *at = (void *)(ctx->Rsp + 8 * slot);
        if (!ReadProcessMemory(GetCurrentProcess(), at, &ret, sizeof ret, &got) || got != sizeof ret) return 0;
        HMODULE m = nullptr;
        DWORD flags = GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT;
        if (GetModuleHandleExW(flags, (LPCWSTR)ret, &m)) {
            ctx->Rip = ret;
            ctx->Rsp += 8 * (slot + 1);
            return 1;
        }
    }
    return 0;
}

// Return addresses of the faulting thread, unwound from its context by another thread.
static USHORT crash_unwind(const CONTEXT *fault, void **frames)
{
    CONTEXT ctx = *fault;
    USHORT n = 0;
    while (n < kFrameMax && ctx.Rip) {
        frames[n++] = (void *)ctx.Rip;
        DWORD64 base = 0;
        PRUNTIME_FUNCTION fn = RtlLookupFunctionEntry(ctx.Rip, &base, nullptr);
        if (fn) {
            void *handler_data = nullptr;
            DWORD64 establisher = 0;
            RtlVirtualUnwind(UNW_FLAG_NHANDLER, base, ctx.Rip, fn, &ctx, &handler_data, &establisher, nullptr);
            continue;
        }
        // No unwind data (a leaf, or the stack probe that pushes two registers first): take
        // the first of the next few stack slots that points into a module.
        if (!leaf_return(&ctx)) break;
    }
    return n;
}

static DWORD WINAPI crash_overflow_proc(void *param)
{
    auto *info = (CrashInfo *)param;
    InterlockedExchange(&g_crash_helper, (LONG)GetCurrentThreadId());
    if (info->ep && info->ep->ContextRecord) info->frame_count = crash_unwind(info->ep->ContextRecord, info->frames);
    crash_write(info);
    return 0;
}

LONG WINAPI ps_crash_filter(EXCEPTION_POINTERS *ep)
{
    DWORD self = GetCurrentThreadId();
    LONG owner = InterlockedCompareExchange(&g_crash_owner, (LONG)self, 0);
    // A fault while writing the report: give up on it, the process ends.
    if (owner == (LONG)self || (LONG)self == g_crash_helper) return EXCEPTION_EXECUTE_HANDLER;
    // Another thread is writing: its return ends the process, so this one never goes on.
    if (owner != 0)
        for (;;) Sleep(INFINITE);

    CrashInfo info = {};
    info.ep = ep;
    if (ep && ep->ExceptionRecord) {
        info.code = ep->ExceptionRecord->ExceptionCode;
        info.addr = ep->ExceptionRecord->ExceptionAddress;
    }
    info.thread_id = self;
    if (info.code == EXCEPTION_STACK_OVERFLOW) {
        // Too little stack is left for the dump writer: a fresh thread writes the report.
        HANDLE t = CreateThread(nullptr, 1 << 20, crash_overflow_proc, &info, 0, nullptr);
        if (t) {
            WaitForSingleObject(t, INFINITE);
            CloseHandle(t);
        }
        return EXCEPTION_EXECUTE_HANDLER;
    }
    info.frame_count = RtlCaptureStackBackTrace(0, kFrameMax, info.frames, nullptr);
    crash_write(&info);
    return EXCEPTION_EXECUTE_HANDLER;
}

void crash_install()
{
    SetUnhandledExceptionFilter(ps_crash_filter);
}
