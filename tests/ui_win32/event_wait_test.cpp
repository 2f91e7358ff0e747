// The event wait and the queue as the program relies on them: message
// numbers for messages that posted nothing, then the posted events; posts and
// calls from other threads; one pending resize event; nothing left of a
// destroyed window; Tab moving round the gadgets.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "ui_test_support.h"
#include "watchdog.h"
#include "win32/event_kind.h"
#include "win32/events.h"
#include "win32/gadget.h"
#include "win32/windows.h"

namespace {

using fwu_test::Watchdog;
using ui_test::Count;
using ui_test::Drain;
using ui_test::Event;
using ui_test::PumpUntil;
namespace EventKind = rt::EventKind;
using namespace std::chrono_literals;

class EventWaitTest : public ui_test::WindowTest {};

// The next result that is `wanted` or an event; messages the system itself
// sends meanwhile (a late paint, a focus change) come back as numbers too.
int32_t NextOf(int32_t wanted) {
  for (;;) {
    const int32_t result = rt::WindowEventWait(-1);
    if (result == wanted || rt::CurrentEventKind() != 0) return result;
  }
}

TEST_F(EventWaitTest, ReturnsMessageNumbersThenThePostedEvent) {
  Watchdog watchdog(20s, "waits without time-out");

  // A message that posts nothing comes back as its own number.
  PostMessageW(handle_, WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
  EXPECT_EQ(NextOf(WM_MOUSEMOVE), static_cast<int32_t>(WM_MOUSEMOVE));

  // The close button's request (SC_CLOSE is what the button sends).
  SendMessageW(handle_, WM_SYSCOMMAND, SC_CLOSE, 0);
  EXPECT_EQ(rt::WindowEventWait(-1), EventKind::CloseRequest) << "queued events come first";
  // A posted WM_CLOSE: first its number, then, on the very next call, its event.
  PostMessageW(handle_, WM_CLOSE, 0, 0);
  EXPECT_EQ(NextOf(WM_CLOSE), static_cast<int32_t>(WM_CLOSE));
  EXPECT_EQ(rt::WindowEventWait(-1), EventKind::CloseRequest);
  EXPECT_EQ(rt::CurrentEventGadget(), window_);
  EXPECT_EQ(rt::CurrentEventWindow(), window_);
  EXPECT_EQ(rt::CurrentEventType(), 0);
  // Closing is the program's decision: the window is still there.
  EXPECT_TRUE(IsWindow(handle_));
  EXPECT_TRUE(IsWindowVisible(handle_));
}

TEST_F(EventWaitTest, CloseRequestSentFromAnotherThreadEndsABlockedWait) {
  Watchdog watchdog(20s, "a close request sent while the wait blocks");
  // Another program's (or a worker's) WM_CLOSE is handled inside the
  // system's wait, where no dispatch of ours returns: the post must wake it.
  std::thread sender([this] { SendMessageW(handle_, WM_CLOSE, 0, 0); });
  const int32_t result = rt::WindowEventWait(-1);
  sender.join();
  EXPECT_EQ(result, EventKind::CloseRequest);
}

TEST_F(EventWaitTest, WaitsWithTimeOutEndWithNothing) {
  Watchdog watchdog(20s, "waits with a time-out");
  // A message the system sends on its own (a late paint) is a result of its
  // own; only such messages may come before the 0.
  auto untilNothing = [](int32_t timeoutMs) {
    for (int attempt = 0; attempt < 50; ++attempt) {
      const auto start = std::chrono::steady_clock::now();
      if (rt::WindowEventWait(timeoutMs) == 0) return std::chrono::steady_clock::now() - start;
      EXPECT_EQ(rt::CurrentEventKind(), 0) << "no event was posted";
    }
    ADD_FAILURE() << "the wait never ended with nothing";
    return std::chrono::steady_clock::duration{};
  };
  untilNothing(0);
  // Not a poll: it waited (the margin allows for a coarse system timer).
  EXPECT_GE(untilNothing(50), 30ms);
}

TEST_F(EventWaitTest, PostsFromAnotherThreadArriveInOrder) {
  Watchdog watchdog(20s, "posts from another thread");
  std::thread poster([this] {
    for (int64_t i = 1; i <= 3; ++i) rt::EventPost(EventKind::Timer, i, window_, 0);
  });
  poster.join();
  std::vector<Event> seen;
  ASSERT_TRUE(PumpUntil([&] { return Count(seen, EventKind::Timer) == 3; }, 5s, &seen));
  std::vector<int64_t> order;
  for (const Event& event : seen) {
    if (event.kind == EventKind::Timer) order.push_back(event.object);
  }
  EXPECT_EQ(order, (std::vector<int64_t>{1, 2, 3}));
}

TEST_F(EventWaitTest, SeveralSizesLeaveOneResizeEvent) {
  rt::EventPost(EventKind::WindowLeftClick, 0, window_, 0);
  SendMessageW(handle_, WM_SIZE, SIZE_RESTORED, MAKELPARAM(400, 200));
  rt::EventPost(EventKind::WindowRightClick, 0, window_, 0);
  SendMessageW(handle_, WM_SIZE, SIZE_RESTORED, MAKELPARAM(401, 200));
  SendMessageW(handle_, WM_SIZE, SIZE_RESTORED, MAKELPARAM(402, 200));
  const std::vector<Event> seen = Drain();
  EXPECT_EQ(Count(seen, EventKind::Resized), 1u);
  EXPECT_EQ(Count(seen, EventKind::WindowLeftClick), 1u);
  EXPECT_EQ(Count(seen, EventKind::WindowRightClick), 1u);
}

TEST_F(EventWaitTest, MinimiseRestoreAndMaximise) {
  std::vector<Event> seen;
  ShowWindow(handle_, SW_MINIMIZE);
  ASSERT_TRUE(PumpUntil([&] { return Count(seen, EventKind::Minimized) == 1; }, 5s, &seen));
  seen.clear();
  ShowWindow(handle_, SW_RESTORE);
  ASSERT_TRUE(PumpUntil([&] { return Count(seen, EventKind::Restored) == 1 && Count(seen, EventKind::Resized) >= 1; },
                        5s, &seen));
  seen.clear();
  ShowWindow(handle_, SW_MAXIMIZE);
  ASSERT_TRUE(PumpUntil([&] { return Count(seen, EventKind::Maximized) == 1 && Count(seen, EventKind::Resized) >= 1; },
                        5s, &seen));
  ShowWindow(handle_, SW_RESTORE);
}

TEST_F(EventWaitTest, IdenticalPostsMergeAndSuspensionDrops) {
  Drain();
  rt::EventPost(EventKind::Timer, 7, window_, 0);
  rt::EventPost(EventKind::Timer, 7, window_, 0);
  rt::EventPost(EventKind::Timer, 8, window_, 0);
  rt::EventPost(EventKind::Timer, 7, window_, 0);
  rt::EventPostSuspend();
  rt::EventPost(EventKind::Timer, 9, window_, 0);
  rt::EventPost(EventKind::Timer, 10, window_, 0, 0, nullptr, rt::EventPostAlways);
  rt::EventPostResume();
  int64_t object = 0;
  EXPECT_EQ(rt::EventPeek(&object, nullptr, nullptr), EventKind::Timer);
  EXPECT_EQ(object, 7);
  std::vector<int64_t> objects;
  while (rt::EventTake() != 0) objects.push_back(rt::CurrentEventGadget());
  EXPECT_EQ(objects, (std::vector<int64_t>{7, 8, 7, 10}));
  EXPECT_EQ(rt::CurrentEventType(), -1) << "after an empty take";
}

int g_bound = 0;

TEST_F(EventWaitTest, BindingsRunOnPostAndGoWithTheirWindow) {
  g_bound = 0;
  ASSERT_TRUE(rt::EventBind(EventKind::Timer, window_, 5, -1, [] { ++g_bound; }));
  ASSERT_TRUE(rt::EventBind(EventKind::Timer, -1, -1, 3, [] { g_bound += 100; }));  // typed: never for a wildcard key
  rt::EventPost(EventKind::Timer, 5, window_, 3);
  rt::EventPost(EventKind::Timer, 6, window_, 0);
  EXPECT_EQ(g_bound, 1);
  rt::EventUnbindWindow(window_);
  rt::EventPost(EventKind::Timer, 5, window_, 4);
  EXPECT_EQ(g_bound, 1);
  rt::EventPurge(-1, -1, -1, -1);
  rt::EventUnbindWindow(-1);
}

TEST_F(EventWaitTest, DestroyedWindowLeavesNoEventToTake) {
  const auto second = static_cast<int64_t>(rt::WindowOpen(rt::DynamicNumber, 10, 10, 100, 50, u"second", 0x00C80000));
  ASSERT_NE(second, 0);
  const HWND secondHandle = rt::WindowHandle(second);
  rt::GadgetListSelect(secondHandle);
  const auto button = static_cast<int64_t>(rt::ButtonGadget(rt::DynamicNumber, 0, 0, 50, 20, u"B", 0));
  Drain();
  rt::EventPost(EventKind::WindowLeftClick, 0, second, 0);
  SendMessageW(rt::GadgetHandle(button), BM_CLICK, 0, 0);  // a gadget event of that window
  rt::EventPost(EventKind::WindowLeftClick, 0, window_, 0);
  SendMessageW(secondHandle, WM_CLOSE, 0, 0);
  rt::WindowFree(second);
  EXPECT_EQ(rt::GadgetHandle(button), nullptr) << "the gadget went with its window";
  std::vector<Event> seen = Drain();
  for (const Event& event : seen) EXPECT_NE(event.window, second) << "kind " << event.kind;
  EXPECT_EQ(Count(seen, EventKind::WindowLeftClick), 1u);
  rt::GadgetListSelect(handle_);
}

// Keys as the system delivers them to the focused control.
void PressTab(HWND focus, bool shift) {
  BYTE keys[256];
  GetKeyboardState(keys);
  const BYTE saved = keys[VK_SHIFT];
  keys[VK_SHIFT] = shift ? 0x80 : 0;
  SetKeyboardState(keys);
  PostMessageW(focus, WM_KEYDOWN, VK_TAB, 0x000F0001);
  Drain();
  keys[VK_SHIFT] = saved;
  SetKeyboardState(keys);
}

TEST_F(EventWaitTest, TabMovesRoundTheGadgets) {
  const auto first = rt::GadgetHandle(rt::ButtonGadget(rt::DynamicNumber, 10, 10, 60, 20, u"1", 0));
  const auto middle = rt::GadgetHandle(rt::StringGadget(rt::DynamicNumber, 80, 10, 60, 20, u"2", 0));
  rt::ProgressBarGadget(rt::DynamicNumber, 10, 40, 100, 20, 0, 100, 0);  // no stop
  const auto last = rt::GadgetHandle(rt::ButtonGadget(rt::DynamicNumber, 150, 10, 60, 20, u"3", 0));
  ASSERT_TRUE(first && middle && last);
  SetFocus(last);
  PressTab(last, false);
  EXPECT_EQ(GetFocus(), first) << "from the last to the first";
  PressTab(first, false);
  EXPECT_EQ(GetFocus(), middle);
  PressTab(middle, true);
  EXPECT_EQ(GetFocus(), first);
  PressTab(first, true);
  EXPECT_EQ(GetFocus(), last) << "from the first back to the last";
  // A disabled gadget is passed over.
  EnableWindow(first, FALSE);
  PressTab(last, false);
  EXPECT_EQ(GetFocus(), middle);
}

TEST_F(EventWaitTest, FocusComesBackAfterDeactivation) {
  const auto field = rt::GadgetHandle(rt::StringGadget(rt::DynamicNumber, 80, 10, 60, 20, u"x", 0));
  SetFocus(field);
  SendMessageW(handle_, WM_ACTIVATE, WA_INACTIVE, 0);
  SetFocus(handle_);
  SendMessageW(handle_, WM_ACTIVATE, WA_ACTIVE, 0);
  EXPECT_EQ(GetFocus(), field);
  const std::vector<Event> seen = Drain();
  EXPECT_EQ(Count(seen, EventKind::Deactivated), 1u);
  EXPECT_GE(Count(seen, EventKind::Activated), 1u);
}

}  // namespace
