// Detached threads with a string workspace each, delays, float-to-integer
// truncation.
#pragma once

#include "core/types.h"

namespace rt {

using ThreadProcedure = int64_t (*)(int64_t argument);

// Starts `procedure(argument)` on a detached thread with a 1 MiB stack.
// Returns the thread's identity, or 0 when it was not started: the pthread_t
// on POSIX; on Windows the thread's number, 1, 2, 3, ... in start order (the
// handles of threads that have ended are closed at the next start).
uint64_t ThreadStart(ThreadProcedure procedure, int64_t argument);

// Whether the thread ThreadStart returned `identity` for has not ended: its
// procedure has not returned, or (Windows) the system has not finished it.
// A POSIX identity may be given to a later thread once its own has ended.
bool ThreadIsRunning(uint64_t identity);

// Number of started threads whose procedure has not returned yet.
int64_t ThreadRunningCount();

void ThreadLibraryStart();
// Leaves running threads alone: neither waits for nor stops them (Windows
// closes the thread handles it kept).
void ThreadLibraryEnd();

// One sleep call; its result (0, or -1 when interrupted or negative).
int32_t DelayMs(int32_t milliseconds);

// How DelayMs splits its argument: truncating division, so a negative length
// keeps its sign in both parts.
struct DelaySplit {
  int64_t seconds;
  int64_t nanoseconds;
};
constexpr DelaySplit SplitDelayMs(int32_t milliseconds) {
  return {milliseconds / 1000, static_cast<int64_t>(milliseconds % 1000) * 1000000};
}

// Truncation toward zero whatever the rounding mode. +-infinity and the
// all-ones NaN give 0; any other NaN and values outside the 64-bit range give
// INT64_MIN, the processor's indefinite result.
int64_t TruncateToInteger(double value);

}  // namespace rt
