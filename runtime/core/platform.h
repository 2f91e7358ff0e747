// What each operating system must provide to the portable core. Declared
// once here; platform_posix.cpp and platform_win32.cpp implement exactly this.
#pragma once

#include <cstddef>
#include <cstdint>

namespace rt::platform {

// Process frame: ProcessStart is the first step of the program's entry and
// ProcessEnd its last once every library has ended. On Windows they create
// and destroy the program heap (below), and ProcessEnd ends the process with
// ExitProcess and never returns; on POSIX they do nothing and ProcessEnd
// returns `code` for the entry point to return.
void ProcessStart();
int ProcessEnd(int code);

// The heap under SizedAlloc: the C library's on POSIX, the program heap on
// Windows (private and growable, so runtime blocks do not contend with the C
// library's). Allocation is zero-filled; reallocation leaves the added bytes
// undefined and keeps the old block on failure. After ProcessEnd has
// destroyed the program heap, allocation fails and release does nothing.
void* HeapAllocate(size_t bytes);
void* HeapReallocate(void* block, size_t bytes);
void HeapRelease(void* block);

using ThreadEntry = void (*)(void* argument);

// Starts `entry(argument)` on a thread nothing joins, with the given stack
// size, and stores its identity in *identity before the thread can observe
// it. Returns false (identity untouched) when the thread was not created.
// POSIX: the identity is the pthread_t. Windows: threads are numbered 1, 2,
// 3, ... in the order they were started; each one's handle is kept and closed
// at the first start after the thread has ended.
bool ThreadCreateDetached(ThreadEntry entry, void* argument, size_t stackSize, uint64_t* identity);
// The identity ThreadCreateDetached gave the calling thread (Windows: 0 on a
// thread it did not start).
uint64_t ThreadSelf();
// Whether the system still runs a thread whose handle it keeps (Windows: the
// handle is not yet signalled). POSIX keeps nothing of a detached thread and
// says false; callers answer from their own records first.
bool ThreadNotEnded(uint64_t identity);
// Gives up everything kept of started threads without waiting for them
// (Windows: closes every kept handle).
void ThreadForgetAll();

// One-time initialisation. A state word starts at 0; `routine` runs exactly
// once for it, and a caller that comes while it runs returns only after it
// has finished. The routine must not run-once its own word. Windows uses
// InitOnceExecuteOnce when the system has it (looked up at run time), else
// RunOnceInterlocked (run_once.h), which POSIX uses always.
using OnceState = uintptr_t;
void RunOnce(OnceState* state, void (*routine)());

// Installs a process-wide handler for the pause signal (SIGUSR1 on POSIX;
// nothing on Windows, which has no such signal).
void InstallPauseHandler(void (*handler)());

// One sleep call of the given length; its result (0, or -1 when interrupted
// or given a negative length). Windows raises the system timer to 1 ms once,
// on the first call, and leaves it there.
int SleepOnce(int64_t seconds, int64_t nanoseconds);
void SleepSeconds(unsigned seconds);

// Ends the process at once with `code`, without running exit handlers.
[[noreturn]] void ExitNow(int code);

}  // namespace rt::platform
