// The queue's fast paths: records kept between bursts and given back after,
// the wake-up that only a post to an empty queue sends, and a wait nested in
// a handler that must not swallow the wake-up of the run around it.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QMetaObject>
#include <chrono>
#include <thread>
#include <vector>

#include "qt/qt_base.h"
#include "qt/wait_window_event.h"
#include "qt_test_support.h"

namespace {

using namespace std::chrono_literals;
using qtw::TakeAll;
using qtw::Watchdog;
namespace EventKind = rt::EventKind;

class QueueSpeedTest : public ::testing::Test {
 protected:
  void SetUp() override {
    qtw::Settle();
    TakeAll();
  }
  void TearDown() override { TakeAll(); }
};

void PostBurst(int64_t count, int64_t window) {
  for (int64_t i = 0; i < count; ++i) rt::EventPost(EventKind::Gadget, i, window, 0);
}

void ExpectBurst(int64_t count, int64_t window) {
  const auto events = TakeAll();
  ASSERT_EQ(events.size(), static_cast<size_t>(count));
  for (int64_t i = 0; i < count; ++i) ASSERT_EQ(events[i], (qtw::Event{EventKind::Gadget, i, window, 0})) << i;
}

TEST_F(QueueSpeedTest, BurstsOfChangingSizeKeepTheirOrderWhileRecordsAreKeptAndGivenBack) {
  // Past the number of records the queue keeps, then small bursts (the kept
  // ones given back), then large again, with purges and half-drained queues
  // in between: every record handed out twice would show up here, and under
  // the address sanitizer as a use after free.
  const int64_t sizes[] = {6000, 1, 3, 4096, 17, 100, 5000, 2, 4097, 1};
  for (int64_t size : sizes) {
    PostBurst(size, 5);
    ExpectBurst(size, 5);
  }
  PostBurst(3000, 6);
  rt::EventPost(EventKind::Moved, 0, 7, 0);
  PostBurst(2000, 8);
  for (int i = 0; i < 1500; ++i) ASSERT_EQ(rt::EventTake(), EventKind::Gadget);
  rt::EventPurgeWindow(6);
  PostBurst(10, 9);
  const auto events = TakeAll();
  ASSERT_EQ(events.size(), 1u + 2000u + 10u);
  EXPECT_EQ(events.front(), (qtw::Event{EventKind::Moved, 0, 7, 0}));
  for (int64_t i = 0; i < 2000; ++i) ASSERT_EQ(events[1 + i], (qtw::Event{EventKind::Gadget, i, 8, 0})) << i;
  for (int64_t i = 0; i < 10; ++i) ASSERT_EQ(events[2001 + i], (qtw::Event{EventKind::Gadget, i, 9, 0})) << i;
}

TEST_F(QueueSpeedTest, EventsPostedByAnotherThreadBehindTheFirstAreEachTakenWithoutSleeping) {
  // Only the first of these posts wakes; the waits must not depend on more.
  Watchdog watchdog(5s, "waits for events queued behind a first one");
  std::thread poster([] { PostBurst(3, 4); });
  poster.join();
  for (int64_t i = 0; i < 3; ++i) {
    int32_t kind = rt::WindowEventWaitForever();
    ASSERT_EQ(kind, EventKind::Gadget) << i;
    EXPECT_EQ(rt::CurrentEventGadget(), i);
  }

  // And while the loop runs: the first post ends the run, the rest wait their turn.
  std::thread late([] {
    std::this_thread::sleep_for(50ms);
    PostBurst(3, 4);
  });
  for (int64_t i = 0; i < 3; ++i) {
    int32_t kind = rt::WindowEventWaitForever();
    ASSERT_EQ(kind, EventKind::Gadget) << i;
    EXPECT_EQ(rt::CurrentEventGadget(), i);
  }
  late.join();
}

TEST_F(QueueSpeedTest, AWaitNestedInAHandlerLeavesTheOuterRunItsWakeUp) {
  // Another thread posts two events while a handler runs; the handler's own
  // wait takes the first. The wake-up both posts signalled (once) must still
  // end the outer run, which then takes the second.
  Watchdog watchdog(5s, "an outer wait after a nested one took the first event");
  int32_t nestedKind = -2;
  int64_t nestedObject = -2;
  QMetaObject::invokeMethod(
      QCoreApplication::instance(),
      [&] {
        std::thread poster([] { PostBurst(2, 4); });
        poster.join();
        nestedKind = rt::WindowEventPoll();
        nestedObject = rt::CurrentEventGadget();
      },
      Qt::QueuedConnection);
  EXPECT_EQ(rt::WindowEventWaitForever(), EventKind::Gadget);
  EXPECT_EQ(rt::CurrentEventGadget(), 1);
  EXPECT_EQ(nestedKind, EventKind::Gadget);
  EXPECT_EQ(nestedObject, 0);
}

}  // namespace
