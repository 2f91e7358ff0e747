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
void ThreadLibraryEnd();

int32_t DelayMs(int32_t milliseconds);   // one sleep call; its result
int64_t TruncateToInteger(double value);

}  // namespace rt
