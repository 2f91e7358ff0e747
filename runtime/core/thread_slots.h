// Per-thread library slots: every thread owns one zero-filled block holding
// one slot per reservation. All reservations happen on the start-up thread
// before a second thread exists.
#pragma once

#include "core/types.h"

namespace rt {

using ThreadSlotFunction = void (*)(void* slot);

// Reserves `size` bytes (rounded up to 8) and returns the slot's offset.
// setUp runs at once on the calling thread's slot, and on every other thread
// when it first asks for its block; tearDown runs when a thread ends.
int64_t ThreadSlotReserve(int64_t size, ThreadSlotFunction setUp, ThreadSlotFunction tearDown);

// Address of the slot in the calling thread's block (created on first use).
void* ThreadSlotGet(int64_t offset);

// Shut-down step: the key is given up; later thread exits run no tear-down.
void ThreadSlotShutdown();

}  // namespace rt
