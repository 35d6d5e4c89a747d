// Helper threads: started at their creator's priority, refused without a throw.
#include "image/worker.h"
#include <atomic>
#include <system_error>
#ifdef _WIN32
#include <windows.h>
#endif

namespace {

std::atomic<bool> g_refuse;
std::atomic<void (*)()> g_start_hook;

// Windows starts every new thread at normal priority whatever its creator runs at;
// POSIX threads inherit their creator's scheduling, so there is nothing to carry.
int caller_priority()
{
#ifdef _WIN32
    return GetThreadPriority(GetCurrentThread());
#else
    return 0;
#endif
}

void take_priority(int priority)
{
#ifdef _WIN32
    if (priority != THREAD_PRIORITY_ERROR_RETURN) SetThreadPriority(GetCurrentThread(), priority);
#else
    (void)priority;
#endif
}

void begin(void (*fn)(void *), void *arg, int priority)
{
    take_priority(priority);
    if (void (*hook)() = g_start_hook.load()) hook();
    fn(arg);
}

}  // namespace

bool worker_start(std::thread *thread, void (*fn)(void *arg), void *arg)
{
    // std::thread reports a failed creation only by throwing.
    try {
        if (g_refuse.load()) throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
        *thread = std::thread(begin, fn, arg, caller_priority());
    } catch (const std::system_error &) {
        return false;
    }
    return true;
}

void worker_refuse_starts(bool refuse)
{
    g_refuse = refuse;
}

void worker_set_start_hook(void (*hook)())
{
    g_start_hook = hook;
}
