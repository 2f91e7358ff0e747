// The event queue on its own: order, coalescing, suppression, the current
// event and the release of event data.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QMetaObject>
#include <vector>

#include "qt/qt_base.h"
#include "qt/wait_window_event.h"
#include "qt_test_support.h"

namespace {

using qtw::Event;
using qtw::TakeAll;
namespace EventKind = rt::EventKind;

std::vector<int64_t> released;
void Release(int64_t data) { released.push_back(data); }

class EventQueueTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TakeAll();
    rt::EventTake();  // drop the current event's data, if any
    released.clear();
  }
  void TearDown() override {
    rt::EventPostingSuppress(0);
    TakeAll();
    rt::EventTake();
  }
};

TEST_F(EventQueueTest, EventsComeOutInPostingOrderAcrossPoolBlocks) {
  // More than a few pool blocks' worth, each event distinct so none coalesce.
  for (int i = 0; i < 1000; ++i) rt::EventPost(EventKind::Gadget, i, 7, i % 3);
  const std::vector<Event> events = TakeAll();
  ASSERT_EQ(events.size(), 1000u);
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(events[i], (Event{EventKind::Gadget, i, 7, i % 3})) << i;
  EXPECT_EQ(rt::EventTake(), 0);
  // The queue keeps working after it emptied (tail reset).
  rt::EventPost(EventKind::Moved, 0, 1, 0);
  EXPECT_EQ(TakeAll(), (std::vector<Event>{{EventKind::Moved, 0, 1, 0}}));
}

TEST_F(EventQueueTest, IdenticalEventsInARowCoalesceButNotAcrossAnother) {
  rt::EventPost(EventKind::Resized, 0, 3, 0);
  rt::EventPost(EventKind::Resized, 0, 3, 0);
  EXPECT_EQ(TakeAll().size(), 1u);

  rt::EventPost(EventKind::Resized, 0, 3, 0);
  rt::EventPost(EventKind::Moved, 0, 3, 0);
  rt::EventPost(EventKind::Resized, 0, 3, 0);
  EXPECT_EQ(TakeAll(), (std::vector<Event>{{EventKind::Resized, 0, 3, 0},
                                           {EventKind::Moved, 0, 3, 0},
                                           {EventKind::Resized, 0, 3, 0}}));
}

TEST_F(EventQueueTest, CoalescingComparesKindObjectWindowAndTypeOnly) {
  rt::EventPost(EventKind::Gadget, 1, 2, 3);
  rt::EventPost(EventKind::Gadget, 9, 2, 3);   // object differs
  rt::EventPost(EventKind::Gadget, 9, 8, 3);   // window differs
  rt::EventPost(EventKind::Gadget, 9, 8, 4);   // type differs
  rt::EventPost(EventKind::Gadget, 9, 8, 4, 55, nullptr, 0);  // data is not compared
  EXPECT_EQ(TakeAll().size(), 4u);
  // Only the tail counts: an identical event further up does not absorb it.
  rt::EventPost(EventKind::Gadget, 1, 1, 1);
  rt::EventPost(EventKind::Gadget, 2, 1, 1);
  rt::EventPost(EventKind::Gadget, 1, 1, 1);
  EXPECT_EQ(TakeAll().size(), 3u);
}

TEST_F(EventQueueTest, NoCoalesceFlagAndKindsAboveSixteenBitsAlwaysAppend) {
  rt::EventPost(EventKind::Redraw, 0, 1, 0, 0, nullptr, rt::EventPostNoCoalesce);
  rt::EventPost(EventKind::Redraw, 0, 1, 0, 0, nullptr, rt::EventPostNoCoalesce);
  EXPECT_EQ(TakeAll().size(), 2u);
  rt::EventPost(0x10000, 0, 1, 0);
  rt::EventPost(0x10000, 0, 1, 0);
  rt::EventPost(0xFFFF, 0, 1, 0);
  rt::EventPost(0xFFFF, 0, 1, 0);
  EXPECT_EQ(TakeAll().size(), 3u);
}

TEST_F(EventQueueTest, SuppressedPostingDropsAllButForcedEvents) {
  rt::EventPostingSuppress(1);
  rt::EventPost(EventKind::Moved, 0, 1, 0);
  rt::EventPost(EventKind::Timer, 4, 1, 0, 0, nullptr, rt::EventPostAlways);
  rt::EventPostingSuppress(0);
  rt::EventPost(EventKind::Resized, 0, 1, 0);
  EXPECT_EQ(TakeAll(), (std::vector<Event>{{EventKind::Timer, 4, 1, 0}, {EventKind::Resized, 0, 1, 0}}));
}

TEST_F(EventQueueTest, PeekShowsTheOldestEventWithoutTakingIt) {
  int64_t object = -5, window = -5, type = -5;
  EXPECT_EQ(rt::EventPeek(), 0);
  EXPECT_EQ(rt::EventPeek(&object, &window, &type), 0);
  EXPECT_EQ(object, 0);
  rt::EventPost(EventKind::Gadget, 11, 12, 13);
  rt::EventPost(EventKind::Timer, 21, 22, 0);
  EXPECT_EQ(rt::EventPeek(), EventKind::Gadget);
  EXPECT_EQ(rt::EventPeek(&object, &window, &type), EventKind::Gadget);
  EXPECT_EQ(object, 11);
  EXPECT_EQ(window, 12);
  EXPECT_EQ(type, 13);
  EXPECT_EQ(rt::EventPeek(nullptr, &window, nullptr), EventKind::Gadget);
  EXPECT_EQ(rt::EventTake(), EventKind::Gadget);
  EXPECT_EQ(rt::EventPeek(), EventKind::Timer);
}

TEST_F(EventQueueTest, TakeFillsTheCurrentEventAndAnEmptyTakeKeepsTheObject) {
  rt::EventPost(EventKind::Gadget, 77, 5, 2);
  EXPECT_EQ(rt::EventTake(), EventKind::Gadget);
  EXPECT_EQ(rt::CurrentEventKind(), EventKind::Gadget);
  EXPECT_EQ(rt::CurrentEventGadget(), 77);
  EXPECT_EQ(rt::CurrentEventShortcut(), 77);
  EXPECT_EQ(rt::CurrentEventWindow(), 5);
  EXPECT_EQ(rt::CurrentEventType(), 2);
  // Reading does not change it.
  EXPECT_EQ(rt::CurrentEventGadget(), 77);

  EXPECT_EQ(rt::EventTake(), 0);
  EXPECT_EQ(rt::CurrentEventKind(), 0);
  EXPECT_EQ(rt::CurrentEventType(), -1);
  EXPECT_EQ(rt::CurrentEventGadget(), 77);
}

TEST_F(EventQueueTest, DataIsReleasedWhenTheEventStopsBeingCurrent) {
  rt::EventPost(EventKind::Gadget, 1, 1, 0, 100, Release, 0);
  rt::EventPost(EventKind::Gadget, 2, 1, 0, 200, Release, 0);
  EXPECT_TRUE(released.empty());
  rt::EventTake();
  EXPECT_TRUE(released.empty());  // still current
  rt::EventTake();
  EXPECT_EQ(released, (std::vector<int64_t>{100}));
  rt::EventTake();
  EXPECT_EQ(released, (std::vector<int64_t>{100, 200}));
  rt::EventTake();
  EXPECT_EQ(released.size(), 2u);  // released once only
}

TEST_F(EventQueueTest, DataOfAnEventThatIsNotQueuedIsReleasedAtOnce) {
  rt::EventPost(EventKind::Moved, 0, 1, 0, 1, Release, 0);
  rt::EventPost(EventKind::Moved, 0, 1, 0, 2, Release, 0);  // coalesced away
  EXPECT_EQ(released, (std::vector<int64_t>{2}));
  rt::EventPostingSuppress(1);
  rt::EventPost(EventKind::Resized, 0, 1, 0, 3, Release, 0);  // suppressed
  rt::EventPostingSuppress(0);
  EXPECT_EQ(released, (std::vector<int64_t>{2, 3}));
  rt::EventPurgeWindow(1);  // a purged event gives its data back too
  EXPECT_EQ(released, (std::vector<int64_t>{2, 3, 1}));
  rt::EventPost(EventKind::Moved, 0, 1, 0, 0, Release, 0);  // no data: nothing to release
  TakeAll();
  rt::EventTake();
  EXPECT_EQ(released.size(), 3u);
}

TEST_F(EventQueueTest, PurgeRemovesOnlyTheWindowsEventsAndKeepsTheQueueUsable) {
  rt::EventPost(EventKind::Moved, 0, 1, 0);
  rt::EventPost(EventKind::Moved, 0, 2, 0);
  rt::EventPost(EventKind::Resized, 0, 1, 0);
  rt::EventPost(EventKind::Resized, 0, 2, 0);
  rt::EventPost(EventKind::Redraw, 0, 1, 0);
  rt::EventPurgeWindow(1);
  // The tail is now window 2's Resized: a new one for window 2 coalesces.
  rt::EventPost(EventKind::Resized, 0, 2, 0);
  rt::EventPost(EventKind::Redraw, 0, 2, 0);
  EXPECT_EQ(TakeAll(), (std::vector<Event>{{EventKind::Moved, 0, 2, 0},
                                           {EventKind::Resized, 0, 2, 0},
                                           {EventKind::Redraw, 0, 2, 0}}));
  rt::EventPost(EventKind::Moved, 0, 3, 0);
  rt::EventPurgeWindow(3);
  EXPECT_EQ(rt::EventPeek(), 0);
  rt::EventPost(EventKind::Moved, 0, 3, 0);
  EXPECT_EQ(TakeAll().size(), 1u);
}

void PostOnRelease(int64_t data) { rt::EventPost(EventKind::Timer, data, 2, 0); }

TEST_F(EventQueueTest, AReleaseFunctionMayPostFromInsideTheQueue) {
  // Purged (the tail, too): the queue must be whole when the release runs.
  rt::EventPost(EventKind::Moved, 0, 2, 0);
  rt::EventPost(EventKind::Moved, 0, 1, 0, 7, PostOnRelease, 0);
  rt::EventPurgeWindow(1);
  EXPECT_EQ(TakeAll(), (std::vector<Event>{{EventKind::Moved, 0, 2, 0}, {EventKind::Timer, 7, 2, 0}}));
  // Taken: released by the next take, whose own event is then the posted one.
  rt::EventPost(EventKind::Gadget, 0, 1, 0, 8, PostOnRelease, 0);
  EXPECT_EQ(rt::EventTake(), EventKind::Gadget);
  EXPECT_EQ(rt::EventTake(), EventKind::Timer);
  EXPECT_EQ(rt::CurrentEventGadget(), 8);
}

TEST_F(EventQueueTest, PollOnAnEmptyQueueHandlesPendingPlatformEventsAndReturnsNone) {
  bool handled = false;
  QMetaObject::invokeMethod(QCoreApplication::instance(), [&handled] { handled = true; }, Qt::QueuedConnection);
  EXPECT_EQ(rt::WindowEventPoll(), EventKind::None);
  EXPECT_TRUE(handled);
  EXPECT_EQ(rt::CurrentEventKind(), 0);
  EXPECT_EQ(rt::CurrentEventType(), -1);
}

TEST_F(EventQueueTest, PollWithAQueuedEventReturnsItWithoutRunningTheLoop) {
  bool handled = false;
  QMetaObject::invokeMethod(QCoreApplication::instance(), [&handled] { handled = true; }, Qt::QueuedConnection);
  rt::EventPost(EventKind::Gadget, 3, 4, 0);
  EXPECT_EQ(rt::WindowEventPoll(), EventKind::Gadget);
  EXPECT_FALSE(handled);
  EXPECT_EQ(rt::WindowEventPoll(), EventKind::None);
  EXPECT_TRUE(handled);
}

TEST_F(EventQueueTest, CurrentEventAfterResultsNoneAndInterrupted) {
  rt::EventPost(EventKind::Gadget, 42, 9, 768);
  ASSERT_EQ(rt::WindowEventWait(0), EventKind::Gadget);
  EXPECT_EQ(rt::CurrentEventType(), 768);

  ASSERT_EQ(rt::WindowEventWait(0), EventKind::None);
  EXPECT_EQ(rt::CurrentEventKind(), 0);
  EXPECT_EQ(rt::CurrentEventType(), -1);
  EXPECT_EQ(rt::CurrentEventGadget(), 42);

  // A wake-up with nothing queued ends a wait without time-out: Interrupted.
  rt::EventPost(EventKind::Gadget, 43, 9, 1);
  ASSERT_EQ(rt::WindowEventWait(0), EventKind::Gadget);
  qtw::Watchdog watchdog(std::chrono::seconds(5), "a wait ended by a wake-up from a handler");
  QMetaObject::invokeMethod(QCoreApplication::instance(), [] { rt::EventLoopWake(0); }, Qt::QueuedConnection);
  ASSERT_EQ(rt::WindowEventWaitForever(), EventKind::Interrupted);
  EXPECT_EQ(rt::CurrentEventKind(), 0);
  EXPECT_EQ(rt::CurrentEventType(), -1);
  EXPECT_EQ(rt::CurrentEventGadget(), 43);
}

TEST_F(EventQueueTest, TimedWaitReturnsNoneWhenTheTimeOutPasses) {
  qtw::Watchdog watchdog(std::chrono::seconds(5), "a 50 ms wait");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(rt::WindowEventWait(50), EventKind::None);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(45));
}

TEST_F(EventQueueTest, AHandlerPostingInsideATimedWaitEndsItWithTheEvent) {
  qtw::Watchdog watchdog(std::chrono::seconds(5), "a wait ended by a post from a handler");
  QMetaObject::invokeMethod(
      QCoreApplication::instance(), [] { rt::EventPost(EventKind::Timer, 5, 1, 0); }, Qt::QueuedConnection);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(rt::WindowEventWait(3000), EventKind::Timer);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));
  EXPECT_EQ(rt::CurrentEventGadget(), 5);
}

TEST_F(EventQueueTest, DeferredWakeFromTheLoopsThreadEndsTheRunOnItsNextPass) {
  qtw::Watchdog watchdog(std::chrono::seconds(5), "a deferred wake-up");
  QMetaObject::invokeMethod(
      QCoreApplication::instance(), [] { rt::EventPost(EventKind::Timer, 6, 1, 0, 0, nullptr, rt::EventPostDeferWake); },
      Qt::QueuedConnection);
  EXPECT_EQ(rt::WindowEventWaitForever(), EventKind::Timer);
}

}  // namespace
