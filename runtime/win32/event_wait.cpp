// The event wait: a queued event first; otherwise one Win32 message is
// taken, translated and dispatched, and its number returned, so the program
// sees each message it did not turn into an event as a result it ignores.
// Events the dispatch posted come with the following calls.
//
// Blocking is the system's: GetMessageW without a time-out,
// MsgWaitForMultipleObjects with one, so an idle program uses no processor
// time. While blocked the thread still handles messages other threads send
// (a worker's gadget calls, a close request sent from outside); a post made
// there wakes the wait with a message of its own, since no dispatch of the
// wait is going to end.
#include <windows.h>

#include "win32/event_internal.h"
#include "win32/events.h"
#include "win32/window_internal.h"

namespace rt {

namespace {

// The user-interface thread is inside the system's message wait.
bool g_blocked = false;

class BlockedScope {
 public:
  BlockedScope() { g_blocked = true; }
  ~BlockedScope() { g_blocked = false; }
  BlockedScope(const BlockedScope&) = delete;
  BlockedScope& operator=(const BlockedScope&) = delete;
};

void Dispatch(MSG* message) {
  HWND active = GetActiveWindow();
  HACCEL table = AcceleratorTableFor(active);
  if (table && TranslateAcceleratorW(active, table, message)) {
    ShowKeyboardCues(active, true);
    return;
  }
  TranslateMessage(message);
  DispatchMessageW(message);
}

}  // namespace

void EventWaitWakeIfBlocked() {
  if (!g_blocked) return;
  g_blocked = false;  // one wake-up per wait is enough
  if (HWND window = PostEventWindow()) PostMessageW(window, EventWakeMessage, 0, 0);
}

int32_t WindowEventWait(int32_t timeoutMs) {
  // The queue and the windows belong to the user-interface thread; another
  // thread has nothing to wait for.
  if (!IsUserInterfaceThread()) return 0;
  if (const int32_t kind = EventTake()) return kind;
  MSG message{};
  if (timeoutMs < 0) {
    BlockedScope blocked;
    // A WM_QUIT (result 0) is dispatched and reported like any message.
    if (GetMessageW(&message, nullptr, 0, 0) == -1) return 0;
  } else {
    BlockedScope blocked;
    // The system's wait also ends for input that leaves nothing to take: a
    // message another thread sent, handled inside the look itself. Such a
    // wake-up neither ends the time-out early nor counts as a message; only
    // an event it posted is a result.
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeoutMs);
    while (!PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (const int32_t kind = EventTake()) return kind;
      const ULONGLONG now = GetTickCount64();
      if (timeoutMs == 0 || now >= deadline) return 0;
      if (MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(deadline - now), QS_ALLINPUT) ==
          WAIT_TIMEOUT) {
        return EventTake();
      }
    }
  }
  const bool wakeUp = message.message == EventWakeMessage && message.hwnd && message.hwnd == PostEventWindow();
  Dispatch(&message);
  if (wakeUp) return EventTake();  // the wake-up's event, not a number of its own
  return static_cast<int32_t>(message.message);
}

int32_t WindowEventPoll() { return WindowEventWait(0); }
int32_t WindowEventWaitForever() { return WindowEventWait(-1); }

}  // namespace rt
