// What the event queue, the event wait and the post-event window tell each
// other; not for the program.
#pragma once

#include <windows.h>

#include <cstdint>

namespace rt {

// The queue (event_queue.cpp).
void EventQueueCreate();
// Runs the bindings of an event (event_bindings.cpp): when it is posted, or
// for an EventPostNoCoalesce event when it is taken.
void EventBindingsRun(int32_t kind, int64_t object, int64_t window, int64_t type);
void EventBindingsCreate();
void EventBindingsClear();

// The wait (event_wait.cpp): a post made while the user-interface thread
// sits in the system's message wait (handling a message another thread sent)
// ends that wait, since no dispatch of the wait's own is going to return.
void EventWaitWakeIfBlocked();
// The message the wake-up posts to the post-event window.
constexpr UINT EventWakeMessage = WM_NULL;

// The post-event window (post_event_window.cpp).
bool PostEventWindowCreate();
void PostEventWindowDestroy();
// Carries a post from another thread; false when it could not be sent.
bool PostEventFromOtherThread(int32_t kind, int64_t object, int64_t window, int64_t type, int64_t data,
                              void (*release)(int64_t), int32_t flags);

}  // namespace rt
