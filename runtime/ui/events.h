// The event wait: the program asks for the next event of its windows and
// gadgets, then asks what raised it. What every back end provides; the
// values of the event kinds are each back end's own (qt/event_kind.h,
// win32/event_kind.h).
#pragma once

#include <cstdint>

namespace rt {

// Waits for the next event and returns its kind: up to timeoutMs, without a
// time-out for -1. 0 when the time ran out with nothing to report.
int32_t WindowEventWait(int32_t timeoutMs);
int32_t WindowEventPoll();  // WindowEventWait(0)

// The event the last wait returned.
int32_t CurrentEventKind();
int64_t CurrentEventGadget();
int64_t CurrentEventShortcut();
int64_t CurrentEventType();
int64_t CurrentEventWindow();

}  // namespace rt
