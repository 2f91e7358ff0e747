// The event queue and the event wait (module WaitWindowEvent).
//
// Windows and gadgets translate Qt events into runtime events and post them
// here; the program asks for the next one with WindowEventWait and then reads
// the current event's kind, object and type. Posting is safe from any thread:
// the queue is guarded by one recursive lock, and the wake-up that ends a
// wait is kept apart from it (merged, and never lost: an event posted from
// another thread at any moment of a wait without time-out ends that wait).
#pragma once

#include <cstdint>

#include "qt/event_kind.h"
#include "ui/events.h"

namespace rt {

using EventReleaseFunction = void (*)(int64_t data);

constexpr int32_t EventPostAlways = 1;      // post even while posting is suppressed
constexpr int32_t EventPostNoCoalesce = 2;  // never coalesce with the tail
constexpr int32_t EventPostDeferWake = 4;   // wake by a deferred quit

// An event that is not queued (coalesced with an identical tail, posted while
// suppressed, or with no record to be had) has its data released at once;
// a queued one when it stops being the current event, or when purged.
void EventPost(int32_t kind, int64_t object, int64_t window, int64_t type, int64_t data,
               EventReleaseFunction release, int32_t flags);
inline void EventPost(int32_t kind, int64_t object, int64_t window, int64_t type) {
  EventPost(kind, object, window, type, 0, nullptr, 0);
}
int32_t EventTake();
int32_t EventPeek();
// With the queue empty the outputs read 0. Null outputs are allowed.
int32_t EventPeek(int64_t* object, int64_t* window, int64_t* type);
// Removes every queued event of the window (used when a window is destroyed).
void EventPurgeWindow(int64_t window);
// While set, posts without EventPostAlways are ignored.
void EventPostingSuppress(int suppressed);

// WindowEventWait (ui/events.h) runs on the thread that called
// ApplicationStart; elsewhere, or re-entered from a handler inside a wait, it
// only takes a queued event (or returns 0).
int32_t WindowEventWaitForever();  // WindowEventWait(-1)

void EventQueueStart();

}  // namespace rt
