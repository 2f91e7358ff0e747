// Per-thread clean-up registry: functions run when a thread ends, most recent
// first. It frees the workspaces of threads the runtime did not start.
#pragma once

#include <cstdint>

namespace rt {

using ThreadCleanupFunction = void (*)(void* argument);

// Registers `function(argument)` to run when the calling thread ends.
// Returns the entry, or null (nothing registered) when memory or the
// system's thread keys run out. A function may itself register more work;
// that runs too before the thread is gone.
void* ThreadCleanupAdd(ThreadCleanupFunction function, void* argument);

// Runs the calling thread's functions now rather than when it ends. The
// program frame does so for the start-up thread as its last step, before the
// heap their records live in goes away.
void ThreadCleanupThreadEnd();

// Number of threads that currently hold a registry record (for tests and
// diagnostics).
int64_t ThreadCleanupRecordCount();

}  // namespace rt
