// Per-thread clean-up registry: functions run when a thread ends, most recent
// first. It frees the workspaces of threads the runtime did not start.
#pragma once

namespace rt {

using ThreadCleanupFunction = void (*)(void* argument);

void* ThreadCleanupAdd(ThreadCleanupFunction function, void* argument);  // entry, or null

}  // namespace rt
