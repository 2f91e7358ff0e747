#include "core/recursive_lock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "container_test_support.h"

namespace {

using container_test::Watchdog;

TEST(RecursiveLock, TheHolderMayReenterAndOthersWaitForTheLastUnlock) {
  Watchdog watchdog(std::chrono::seconds(30));
  rt::RecursiveLock lock;
  lock.lock();
  lock.lock();
  EXPECT_TRUE(lock.try_lock());
  EXPECT_TRUE(lock.HeldByCaller());

  std::atomic<bool> otherGotIt{false};
  std::thread other([&] {
    EXPECT_FALSE(lock.HeldByCaller());
    EXPECT_FALSE(lock.try_lock());
    lock.lock();
    otherGotIt = true;
    lock.unlock();
  });
  lock.unlock();
  lock.unlock();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(otherGotIt.load());  // still held once
  lock.unlock();
  EXPECT_FALSE(lock.HeldByCaller());
  other.join();
  EXPECT_TRUE(otherGotIt.load());
}

TEST(RecursiveLock, KeepsCountersExactUnderContention) {
  Watchdog watchdog(std::chrono::seconds(60));
  rt::RecursiveLock lock;
  int64_t counter = 0;  // guarded by lock
  constexpr int kThreads = 4;
  constexpr int kRounds = 20000;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < kRounds; ++i) {
        std::lock_guard<rt::RecursiveLock> outer(lock);
        const int64_t seen = counter;
        {
          std::lock_guard<rt::RecursiveLock> inner(lock);  // re-entry from a nested call
          counter = seen + 1;
        }
        EXPECT_EQ(counter, seen + 1);
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(counter, int64_t{kThreads} * kRounds);
}

TEST(RecursiveLock, ThreadTagsDifferBetweenLiveThreads) {
  const uintptr_t mine = rt::CurrentThreadTag();
  EXPECT_NE(mine, 0u);
  EXPECT_EQ(rt::CurrentThreadTag(), mine);
  uintptr_t theirs = 0;
  std::thread other([&] { theirs = rt::CurrentThreadTag(); });
  other.join();
  EXPECT_NE(theirs, 0u);
  EXPECT_NE(theirs, mine);
}

}  // namespace
