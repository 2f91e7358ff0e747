// The event queue of the Win32 back end and the hidden post-event window.
//
// Window procedures run on the thread that created their window, and every
// runtime window and gadget is created on the user-interface thread (the one
// that called EventQueueStart), so the queue is posted to and taken from on
// that thread only and needs no lock. EventPost from any other thread is
// carried to the user-interface thread through the post-event window (a
// posted message, so order is kept and the caller does not wait); the other
// queue and binding operations are carried there and waited for. The wait
// itself belongs to the user-interface thread and returns 0 on any other.
#pragma once

#include <windows.h>

#include <cstdint>
#include <type_traits>

#include "ui/events.h"
#include "win32/event_kind.h"

namespace rt {

using EventReleaseFunction = void (*)(int64_t data);

constexpr int32_t EventPostAlways = 1;      // post even while posting is suspended
constexpr int32_t EventPostNoCoalesce = 2;  // never merge with the tail; bindings run when taken

// An event that is not queued (merged with an identical tail, suspended)
// has its data released at once; a queued one when it stops being the
// current event, or when purged.
void EventPost(int32_t kind, int64_t object, int64_t window, int64_t type, int64_t data,
               EventReleaseFunction release, int32_t flags);
inline void EventPost(int32_t kind, int64_t object, int64_t window, int64_t type) {
  EventPost(kind, object, window, type, 0, nullptr, 0);
}
int32_t EventTake();
int32_t EventPeek();
int32_t EventPeek(int64_t* object, int64_t* window, int64_t* type);  // null outputs allowed
// Removes every queued event that matches; -1 matches any value.
void EventPurge(int32_t kind, int64_t object, int64_t window, int64_t type);
// One process-wide counter: while it is above 0, posts without
// EventPostAlways are dropped. Meant for the user-interface thread.
void EventPostSuspend();
void EventPostResume();

int32_t WindowEventWaitForever();  // WindowEventWait(-1)

// Event bindings: `callback` runs when an event of `kind` for (window,
// object) is posted (or taken, for EventPostNoCoalesce); -1 is a wildcard for
// the window or the object, and `type` -1 accepts every event type.
using EventCallback = void (*)();
bool EventBind(int32_t kind, int64_t window, int64_t object, int64_t type, EventCallback callback);
// Removes every binding whose window or (for gadgets) object is `number`.
void EventUnbindWindow(int64_t window);
void EventUnbindObject(int32_t kind, int64_t object);

// Events library start (before windows and gadgets) and end: the queue, the
// binding table and the post-event window. The starting thread becomes the
// user-interface thread.
void EventQueueStart();
void EventQueueEnd();

// The hidden window through which other threads reach the user-interface
// thread (null before EventQueueStart).
HWND PostEventWindow();
bool IsUserInterfaceThread();  // true before EventQueueStart

// Runs `call(context)` on the user-interface thread and returns when it has
// run: directly on that thread, otherwise through a message sent to the
// post-event window, which the user-interface thread handles while it waits
// for messages. Calls from one thread run in the order issued.
void RunOnUserInterfaceThread(void (*call)(void* context), void* context);
template <class Body>
void RunOnUserInterfaceThread(Body&& body) {
  using B = std::remove_reference_t<Body>;
  RunOnUserInterfaceThread([](void* context) { (*static_cast<B*>(context))(); }, &body);
}

}  // namespace rt
