// Per-thread library slots: every thread owns one zero-filled block holding
// one slot per reservation. Reservations belong on the start-up thread before
// a second thread exists; a thread that already has its block when a later
// reservation is made gets the new slots (and their set-up) on its next
// ThreadSlotGet, so a late reservation is safe too.
#pragma once

#include "core/types.h"

namespace rt {

using ThreadSlotFunction = void (*)(void* slot);

// Reserves `size` bytes (rounded up to 8; a negative size counts as 0) and
// returns the slot's offset, or -1 when memory runs out (nothing reserved).
// setUp runs at once on the calling thread's slot, and on every other thread
// when it first asks for its block; tearDown runs when a thread ends.
// Functions of several reservations run most recent first. A tear-down works
// on the slot it is given and must not ask for slots itself: the thread's
// block is on its way out.
int64_t ThreadSlotReserve(int64_t size, ThreadSlotFunction setUp, ThreadSlotFunction tearDown);

// Address of the slot in the calling thread's block (created on first use),
// or null for an offset that no reservation gave or when memory runs out.
void* ThreadSlotGet(int64_t offset);

// Runs the calling thread's tear-downs and frees its block now rather than at
// thread exit. Threads the runtime starts call it as their last step, so that
// nothing of theirs is left to run once their record has gone.
void ThreadSlotThreadEnd();

// Shut-down step: from now on a thread's end frees its block without running
// tear-downs (the libraries they belong to have ended). A later reservation
// turns tear-downs back on.
void ThreadSlotShutdown();

}  // namespace rt
