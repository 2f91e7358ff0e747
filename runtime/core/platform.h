// What each operating system must provide to the portable core. Declared
// once here; platform_posix.cpp and platform_win32.cpp implement exactly this.
#pragma once

#include <cstddef>
#include <cstdint>

namespace rt::platform {

using ThreadEntry = void (*)(void* argument);

// Starts `entry(argument)` on a detached thread with the given stack size and
// stores its identity in *identity before the thread can observe it.
// Returns false (identity untouched) when the thread was not created.
bool ThreadCreateDetached(ThreadEntry entry, void* argument, size_t stackSize, uint64_t* identity);
uint64_t ThreadSelf();

// Installs a process-wide handler for the pause signal (SIGUSR1 on POSIX;
// nothing on Windows, which has no such signal).
void InstallPauseHandler(void (*handler)());

// One sleep call of the given length; its result (0, or -1 when interrupted
// or given a negative length).
int SleepOnce(int64_t seconds, int64_t nanoseconds);
void SleepSeconds(unsigned seconds);

// Ends the process at once with `code`, without running exit handlers.
[[noreturn]] void ExitNow(int code);

}  // namespace rt::platform
