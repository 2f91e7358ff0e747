// Detached threads with a string workspace each, delays, float-to-integer
// truncation.
#pragma once

#include "core/types.h"

namespace rt {

using ThreadProcedure = int64_t (*)(int64_t argument);

// Starts `procedure(argument)` on a detached thread with a 1 MiB stack.
// Returns the thread's identity, or 0 when it was not started.
uint64_t ThreadStart(ThreadProcedure procedure, int64_t argument);

// Number of started threads whose procedure has not returned yet.
int64_t ThreadRunningCount();

void ThreadLibraryStart();
void ThreadLibraryEnd();  // leaves running threads alone

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
