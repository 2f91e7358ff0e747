#include "watchdog.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {

using namespace std::chrono_literals;
using fwu_test::Watchdog;

TEST(WatchdogTest, LeavingTheScopeInTimeEndsTheWatchQuietly) {
  const auto start = std::chrono::steady_clock::now();
  { Watchdog watchdog(60s, "a short scope"); }
  // The destructor wakes the watch at once instead of sleeping out the limit.
  EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
}

TEST(WatchdogDeathTest, AHungScopeEndsTheProgramWithItsName) {
  EXPECT_EXIT(
      {
        Watchdog watchdog(50ms, "a hung scope");
        std::this_thread::sleep_for(30s);
      },
      ::testing::ExitedWithCode(1), "watchdog: a hung scope did not finish within 50 ms");
}

TEST(WatchdogDeathTest, TheDefaultNameIsTest) {
  EXPECT_EXIT(
      {
        Watchdog watchdog(std::chrono::seconds(0));
        std::this_thread::sleep_for(30s);
      },
      ::testing::ExitedWithCode(1), "watchdog: test did not finish within 0 ms");
}

}  // namespace
