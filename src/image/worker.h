// Helper threads for work split across cores (resizing, compression trials).
#pragma once
#include <thread>

// Starts fn(arg) on a new thread at the calling thread's priority, so work started
// from a background thread stays in the background. False when the system gives no
// thread: the caller then does the work itself.
bool worker_start(std::thread *thread, void (*fn)(void *arg), void *arg);

// Tests: refuse every start as a system out of threads would, and see each helper
// as it begins, on its own thread (null removes the hook).
void worker_refuse_starts(bool refuse);
void worker_set_start_hook(void (*hook)());
