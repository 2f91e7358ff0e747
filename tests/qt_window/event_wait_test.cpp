// The event wait against other threads: wake-ups are never lost, merge, and
// an idle wait costs no processor time.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <atomic>
#include <chrono>
#include <random>
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

class EventWaitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    qtw::Settle();
    TakeAll();
  }
  void TearDown() override { TakeAll(); }
};

TEST_F(EventWaitTest, APostFromAnotherThreadDuringAWaitWithoutTimeOutEndsItPromptly) {
  Watchdog watchdog(5s, "a wait without time-out after a post from another thread");
  std::thread poster([] {
    std::this_thread::sleep_for(100ms);
    rt::EventPost(EventKind::Gadget, 12, 1, 0);
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(rt::WindowEventWaitForever(), EventKind::Gadget);
  const auto waited = std::chrono::steady_clock::now() - start;
  poster.join();
  EXPECT_EQ(rt::CurrentEventGadget(), 12);
  EXPECT_GE(waited, 90ms);
  EXPECT_LT(waited, 2s);
}

TEST_F(EventWaitTest, APostFromAnotherThreadJustBeforeTheWaitIsNeverSleptPast) {
  // One poster thread is released at the moment each wait begins and posts
  // after a pause that varies from round to round, so that across the rounds
  // the post lands before the queue is looked at, between that and the start
  // of the loop, and inside the loop.
  constexpr int kRounds = 1000;
  Watchdog watchdog(60s, "a round of posts racing the start of a wait");
  std::atomic<int> released{-1};
  std::thread poster([&released] {
    std::mt19937 random(1234);
    std::uniform_int_distribution<int> pause(0, 4000);
    for (int round = 0; round < kRounds; ++round) {
      while (released.load(std::memory_order_acquire) < round) {
      }
      const auto until = std::chrono::steady_clock::now() + std::chrono::nanoseconds(pause(random));
      while (std::chrono::steady_clock::now() < until) {
      }
      rt::EventPost(EventKind::Gadget, round, 1, 0);
    }
  });
  for (int round = 0; round < kRounds; ++round) {
    released.store(round, std::memory_order_release);
    int32_t kind = rt::WindowEventWaitForever();
    // Woken by the previous round's late signal is allowed; sleeping is not.
    if (kind == EventKind::Interrupted) kind = rt::WindowEventWaitForever();
    if (kind != EventKind::Gadget || rt::CurrentEventGadget() != round) {
      released.store(kRounds, std::memory_order_release);
      poster.join();
      FAIL() << "round " << round << ": kind " << kind << ", object " << rt::CurrentEventGadget();
    }
  }
  poster.join();
}

// The release function of the current event runs inside the wait's first look
// at the queue, after older wake-ups were forgotten and before the loop
// starts: exactly where a naive wake-up (quitting a loop that is not running
// yet) would be lost.
std::thread lateThread;
void WakeFromAnotherThread(int64_t) {
  std::thread waker([] { rt::EventLoopWake(0); });
  waker.join();
}
void PostFromAnotherThread(int64_t) {
  // Blocks on the queue lock until the look at the queue is over.
  lateThread = std::thread([] { rt::EventPost(EventKind::Gadget, 31, 1, 0); });
}

TEST_F(EventWaitTest, AWakeUpSignalledBetweenTheLookAtTheQueueAndTheLoopIsNotLost) {
  Watchdog watchdog(5s, "a wait after a wake-up signalled before its loop started");
  rt::EventPost(EventKind::Gadget, 30, 1, 0, 1, WakeFromAnotherThread, 0);
  ASSERT_EQ(rt::EventTake(), EventKind::Gadget);
  EXPECT_EQ(rt::WindowEventWaitForever(), EventKind::Interrupted);

  rt::EventPost(EventKind::Gadget, 30, 1, 0, 1, PostFromAnotherThread, 0);
  ASSERT_EQ(rt::EventTake(), EventKind::Gadget);
  int32_t kind = rt::WindowEventWaitForever();
  if (kind == EventKind::Interrupted) kind = rt::WindowEventWaitForever();
  EXPECT_EQ(kind, EventKind::Gadget);
  EXPECT_EQ(rt::CurrentEventGadget(), 31);
  lateThread.join();
}

TEST_F(EventWaitTest, AWakeUpFromAnotherThreadWithoutAnEventInterruptsTheWait) {
  Watchdog watchdog(5s, "a wait ended by a bare wake-up");
  std::thread waker([] {
    std::this_thread::sleep_for(50ms);
    rt::EventLoopWake(0);
  });
  EXPECT_EQ(rt::WindowEventWaitForever(), EventKind::Interrupted);
  waker.join();
}

TEST_F(EventWaitTest, AThousandWakeUpsWhileTheLoopIsBusyReachItOnce) {
  // The loop's thread is busy (joining) throughout; as a wait would, forget
  // wake-ups left from before.
  rt::EventLoopWakeReset();
  const long long before = rt::EventLoopWakeDeliveries();
  std::thread poster([] {
    for (int i = 0; i < 1000; ++i) rt::EventPost(EventKind::Gadget, i, 1, 0);
  });
  poster.join();
  qtw::Settle();
  EXPECT_EQ(rt::EventLoopWakeDeliveries() - before, 1);
  const auto events = TakeAll();
  ASSERT_EQ(events.size(), 1000u);
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(events[i].object, i);

  rt::EventLoopWakeReset();
  std::thread waker([] {
    for (int i = 0; i < 1000; ++i) rt::EventLoopWake(i & 1);
  });
  waker.join();
  qtw::Settle();
  EXPECT_EQ(rt::EventLoopWakeDeliveries() - before, 2);
}

TEST_F(EventWaitTest, AWakeUpThatAnEarlierWaitAlreadyServedDoesNotEndTheNextOne) {
  std::thread poster([] { rt::EventPost(EventKind::Gadget, 1, 1, 0); });
  poster.join();
  // Taken without running the loop: its wake-up is still signalled.
  ASSERT_EQ(rt::WindowEventWait(0), EventKind::Gadget);
  Watchdog watchdog(5s, "a 100 ms wait");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(rt::WindowEventWait(100), EventKind::None);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 90ms);
}

TEST_F(EventWaitTest, ManyPostersLoseNoEventAndKeepEachThreadsOrder) {
  constexpr int kThreads = 4;
  constexpr int kPerThread = 5000;
  Watchdog watchdog(30s, "taking every event of four posting threads");
  std::vector<std::thread> posters;
  for (int t = 0; t < kThreads; ++t) {
    posters.emplace_back([t] {
      for (int i = 0; i < kPerThread; ++i) rt::EventPost(EventKind::Gadget, i, 100 + t, 0);
    });
  }
  std::vector<int64_t> next(kThreads, 0);
  int received = 0;
  while (received < kThreads * kPerThread) {
    const int32_t kind = rt::WindowEventWaitForever();
    if (kind == EventKind::Interrupted) continue;
    ASSERT_EQ(kind, EventKind::Gadget);
    const int64_t thread = rt::CurrentEventWindow() - 100;
    ASSERT_GE(thread, 0);
    ASSERT_LT(thread, kThreads);
    ASSERT_EQ(rt::CurrentEventGadget(), next[thread]) << "thread " << thread;
    ++next[thread];
    ++received;
  }
  for (auto& poster : posters) poster.join();
  EXPECT_EQ(rt::EventTake(), 0);
}

TEST_F(EventWaitTest, AnIdleWaitUsesNoProcessorTime) {
  Watchdog watchdog(5s, "an idle wait");
  const int64_t before = qtw::ThreadCpuNanoseconds();
  EXPECT_EQ(rt::WindowEventWait(300), EventKind::None);
  const int64_t timed = qtw::ThreadCpuNanoseconds() - before;

  std::thread poster([] {
    std::this_thread::sleep_for(300ms);
    rt::EventPost(EventKind::Gadget, 1, 1, 0);
  });
  const int64_t start = qtw::ThreadCpuNanoseconds();
  EXPECT_EQ(rt::WindowEventWaitForever(), EventKind::Gadget);
  const int64_t untimed = qtw::ThreadCpuNanoseconds() - start;
  poster.join();
  // A spinning wait would burn close to 300 ms; a sleeping one a fraction of a millisecond.
  EXPECT_LT(timed, 60'000'000) << timed << " ns";
  EXPECT_LT(untimed, 60'000'000) << untimed << " ns";
}

}  // namespace
