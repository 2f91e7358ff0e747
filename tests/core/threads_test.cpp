#include "core/threads.h"

#include "core/platform.h"
#include "core/workspace.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cfenv>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <thread>

#ifndef _WIN32
#include <pthread.h>
#include <signal.h>
#endif

namespace {

using Clock = std::chrono::steady_clock;

// Polls until no runtime thread is left, for at most 20 s.
bool WaitForNoThreads() {
  const auto deadline = Clock::now() + std::chrono::seconds(20);
  while (rt::ThreadRunningCount() > 0) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

template <typename Predicate>
bool WaitFor(Predicate done) {
  const auto deadline = Clock::now() + std::chrono::seconds(20);
  while (!done()) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

class ThreadsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    rt::ThreadLibraryStart();
    ASSERT_TRUE(WaitForNoThreads()) << "a thread of an earlier test is still running";
  }
  void TearDown() override { EXPECT_TRUE(WaitForNoThreads()) << "a thread did not end"; }
};

constexpr int kThreads = 64;
constexpr int64_t kArgumentBase = int64_t{1} << 40;  // wider than 32 bits
std::atomic<uint64_t> g_identities[kThreads];

int64_t NoteIdentity(int64_t argument) {
  g_identities[argument - kArgumentBase] = rt::platform::ThreadSelf();
  return argument;
}

TEST_F(ThreadsTest, ProceduresGetTheirArgumentsOnNewThreadsAndTheirRecordsGo) {
  uint64_t started[kThreads];
  for (int i = 0; i < kThreads; ++i) {
    g_identities[i] = 0;
    started[i] = rt::ThreadStart(NoteIdentity, kArgumentBase + i);
    EXPECT_NE(started[i], 0u);
    EXPECT_NE(started[i], rt::platform::ThreadSelf());
  }
  EXPECT_TRUE(WaitForNoThreads());
  for (int i = 0; i < kThreads; ++i) EXPECT_EQ(g_identities[i].load(), started[i]) << i;
  EXPECT_EQ(rt::ThreadStart(nullptr, 1), 0u);
  EXPECT_EQ(rt::ThreadRunningCount(), 0);
}

std::atomic<int> g_release{0};
std::atomic<int> g_entered{0};

int64_t WaitForRelease(int64_t) {
  ++g_entered;
  while (!g_release.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return 0;
}

TEST_F(ThreadsTest, RunningCountFollowsTheProceduresAndEndingLibraryLeavesThemAlone) {
  g_release = 0;
  g_entered = 0;
  for (int i = 0; i < 3; ++i) ASSERT_NE(rt::ThreadStart(WaitForRelease, i), 0u);
  EXPECT_EQ(rt::ThreadRunningCount(), 3);
  ASSERT_TRUE(WaitFor([] { return g_entered.load() == 3; }));
  rt::ThreadLibraryEnd();
  EXPECT_EQ(rt::ThreadRunningCount(), 3);
  g_release = 1;
  EXPECT_TRUE(WaitForNoThreads());
}

// Both threads hold their workspace until both have seen theirs, so the
// addresses are of two live workspaces.
std::atomic<uintptr_t> g_bases[2];
std::atomic<int> g_ready{0};

int64_t UseWorkspace(int64_t index) {
  const int64_t start = rt::WorkspacePosition();
  const char16_t text[] = u"worker";
  rt::WorkspaceAppend(text);
  rt::WorkspaceTerminate();
  const bool intact = std::memcmp(rt::WorkspaceString(start), text, sizeof text) == 0;
  g_bases[index] = intact ? reinterpret_cast<uintptr_t>(rt::WorkspaceBase()) : 1;
  ++g_ready;
  const auto deadline = Clock::now() + std::chrono::seconds(20);
  while (g_ready.load() < 2 && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  rt::WorkspaceRestore(start);
  return 0;
}

TEST_F(ThreadsTest, EveryThreadHasItsOwnWorkspace) {
  g_ready = 0;
  g_bases[0] = g_bases[1] = 0;
  ASSERT_NE(rt::ThreadStart(UseWorkspace, 0), 0u);
  ASSERT_NE(rt::ThreadStart(UseWorkspace, 1), 0u);
  ASSERT_TRUE(WaitForNoThreads());
  EXPECT_GT(g_bases[0].load(), 1u);
  EXPECT_GT(g_bases[1].load(), 1u);
  EXPECT_NE(g_bases[0].load(), g_bases[1].load());
}

std::atomic<int> g_finished{0};

#ifndef _WIN32
std::atomic<int> g_signalled{0};
int64_t SleepUntilSignalled(int64_t) {
  ++g_entered;
  while (!g_signalled.load()) rt::DelayMs(1);
  // The pause handler ran (pause count 0) and returned: the thread carries on.
  ++g_finished;
  return 0;
}

TEST_F(ThreadsTest, PauseSignalNoLongerEndsTheProcess) {
  g_entered = 0;
  g_finished = 0;
  g_signalled = 0;
  const uint64_t identity = rt::ThreadStart(SleepUntilSignalled, 0);
  ASSERT_NE(identity, 0u);
  ASSERT_TRUE(WaitFor([] { return g_entered.load() == 1; }));
  // The handler is installed before the procedure runs; on a runtime thread
  // it finds its record, on this thread none, and both return at once.
  ASSERT_EQ(pthread_kill(static_cast<pthread_t>(identity), SIGUSR1), 0);
  ASSERT_EQ(raise(SIGUSR1), 0);
  g_signalled = 1;
  EXPECT_TRUE(WaitForNoThreads());
  EXPECT_EQ(g_finished.load(), 1);
}
#endif

TEST(Delay, SplitTruncatesTowardZero) {
  constexpr rt::DelaySplit oneAndAHalf = rt::SplitDelayMs(1500);
  EXPECT_EQ(oneAndAHalf.seconds, 1);
  EXPECT_EQ(oneAndAHalf.nanoseconds, 500000000);
  EXPECT_EQ(rt::SplitDelayMs(INT32_MAX).seconds, 2147483);
  EXPECT_EQ(rt::SplitDelayMs(INT32_MAX).nanoseconds, 647000000);
  EXPECT_EQ(rt::SplitDelayMs(-5).seconds, 0);
  EXPECT_EQ(rt::SplitDelayMs(-5).nanoseconds, -5000000);
}

TEST(Delay, ZeroSleepsNotAtAllAndNegativeFails) {
  EXPECT_EQ(rt::DelayMs(0), 0);
  EXPECT_EQ(rt::DelayMs(-5), -1);
  EXPECT_EQ(rt::DelayMs(-1000), -1);
  EXPECT_EQ(rt::DelayMs(1), 0);
}

double Bits(uint64_t bits) {
  double value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

void ExpectTruncation() {
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(rt::TruncateToInteger(inf), 0);
  EXPECT_EQ(rt::TruncateToInteger(-inf), 0);
  EXPECT_EQ(rt::TruncateToInteger(Bits(~uint64_t{0})), 0);              // the all-ones NaN
  EXPECT_EQ(rt::TruncateToInteger(std::nan("")), INT64_MIN);            // any other NaN
  EXPECT_EQ(rt::TruncateToInteger(Bits(0x7FF0000000000001)), INT64_MIN);  // signalling
  EXPECT_EQ(rt::TruncateToInteger(100.0), 100);
  EXPECT_EQ(rt::TruncateToInteger(99.9999), 99);
  EXPECT_EQ(rt::TruncateToInteger(-2.5), -2);
  EXPECT_EQ(rt::TruncateToInteger(-0.999), 0);
  EXPECT_EQ(rt::TruncateToInteger(1e300), INT64_MIN);
  EXPECT_EQ(rt::TruncateToInteger(-1e300), INT64_MIN);
  EXPECT_EQ(rt::TruncateToInteger(9223372036854775808.0), INT64_MIN);   // 2^63
  EXPECT_EQ(rt::TruncateToInteger(-9223372036854775808.0), INT64_MIN);  // -2^63 fits
  EXPECT_EQ(rt::TruncateToInteger(9223372036854774784.0), INT64_C(9223372036854774784));  // largest below 2^63
}

TEST(Truncate, InfinitiesNaNsAndRangeUnderEveryRoundingMode) {
  ExpectTruncation();
  const int saved = std::fegetround();
  for (int mode : {FE_UPWARD, FE_DOWNWARD, FE_TOWARDZERO}) {
    ASSERT_EQ(std::fesetround(mode), 0);
    ExpectTruncation();
  }
  std::fesetround(saved);
}

}  // namespace
