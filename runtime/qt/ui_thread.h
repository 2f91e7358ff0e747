// Calls from other threads into the user-interface layer.
//
// Qt widgets belong to the user-interface thread, yet the update worker
// disables gadgets, sets the progress bar, reads texts and shows messages
// from its own thread. Every gadget operation and requester therefore asks
// UiThreadIsCurrent() first: on the user-interface thread it runs directly;
// on any other thread it is carried over.
//
// Carrying over: one first-in first-out queue of calls guarded by our own
// std::mutex (ThreadSanitizer cannot see Qt's internal locks, so everything
// that crosses threads goes through it). The wake-up is an eventfd that a
// dispatcher on the user-interface thread watches, signalled once while a
// wake-up is on its way. The dispatcher runs the queue in order.
//  - A call with a result (UiThreadCall) waits until the user-interface
//    thread completes it; its text comes back as plain UTF-16 and is written
//    into the caller's own workspace by the caller.
//  - A state change (UiThreadPostState) does not wait: the progress bar is
//    set once per firmware byte. A state change of the same gadget still
//    waiting at the tail of the queue is updated in place, so the queue keeps
//    its order and the gadget ends at the last value. While states stream in,
//    the dispatcher takes them at a steady pace instead of on every call.
//  - A requester completes later (UiThreadComplete from the dialog's
//    finished signal), so the user-interface thread never sits in a nested
//    event loop on a worker's behalf.
// UiThreadShutdown drops queued calls, releases every waiting caller with an
// empty result and turns later calls from other threads into no-ops, so a
// program can end while a worker is inside such a call.
#pragma once

#include <cstdint>
#include <string>
#include <type_traits>
#include <utility>

#include <QString>

#include "core/types.h"
#include "core/workspace.h"

class QObject;

namespace rt {

// Makes the calling thread the user-interface thread and accepts calls from
// other threads (again, after a shut-down).
void UiThreadStart();
// See above. Idempotent; meant for the user-interface thread.
void UiThreadShutdown();

// True on the user-interface thread, and on every thread before UiThreadStart.
bool UiThreadIsCurrent();

// On the user-interface thread: runs the calls other threads queued so far,
// so that what they did before is visible to a direct call (not while the
// queue is being run already). Elsewhere nothing.
void UiThreadFlush();

// The result of a carried-over call.
struct UiCallResult {
  int64_t number = 0;
  std::u16string text;
};

// Runs start(context, token) on the user-interface thread and waits until
// UiThreadComplete(token, ...) is called, at once or later. The context lives
// on the caller's stack: start must copy what it needs before completing.
// False (result untouched) when the call was dropped by a shut-down.
using UiCallStart = void (*)(void* context, uint64_t token);
bool UiThreadCall(UiCallStart start, void* context, UiCallResult* result);
// Completes a waiting call; a call already released by a shut-down is ignored.
void UiThreadComplete(uint64_t token, int64_t number, std::u16string text = {});

// Queues apply(gadget, value) without waiting (see above).
using UiStateApply = void (*)(ObjectNumber gadget, int64_t value);
void UiThreadPostState(UiStateApply apply, ObjectNumber gadget, int64_t value);

// How many callers on other threads wait for their call to complete now.
int64_t UiThreadWaitingCount();

// Remembers a dialog opened for another thread; the shut-down deletes it.
void UiThreadAdoptDialog(QObject* dialog);

// Runs body() with the gadget's current value on the user-interface thread;
// returns `dropped` when a shut-down dropped the call.
template <class Body>
int64_t UiThreadRunNumber(Body&& body, int64_t dropped = 0) {
  if (UiThreadIsCurrent()) {
    UiThreadFlush();
    return static_cast<int64_t>(body());
  }
  using B = std::remove_reference_t<Body>;
  UiCallResult result;
  result.number = dropped;
  UiThreadCall([](void* context, uint64_t token) { UiThreadComplete(token, static_cast<int64_t>((*static_cast<B*>(context))())); },
               &body, &result);
  return result.number;
}

template <class Body>
void UiThreadRunVoid(Body&& body) {
  UiThreadRunNumber([&body] {
    body();
    return 0;
  });
}

// Runs body() -> QString on the user-interface thread and writes the text at
// `offset` of the calling thread's workspace (an empty text when dropped).
template <class Body>
void UiThreadReturnText(Body&& body, int64_t offset) {
  if (UiThreadIsCurrent()) {
    UiThreadFlush();
    const QString text = body();
    ReturnString(reinterpret_cast<RtString>(text.utf16()), offset);
    return;
  }
  using B = std::remove_reference_t<Body>;
  UiCallResult result;
  UiThreadCall([](void* context, uint64_t token) { UiThreadComplete(token, 0, (*static_cast<B*>(context))().toStdU16String()); },
               &body, &result);
  ReturnString(result.text.c_str(), offset);
}

}  // namespace rt
