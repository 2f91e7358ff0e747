#include "core/threads.h"

#include "core/platform.h"
#include "core/workspace.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cfenv>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#else
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

TEST_F(ThreadsTest, IsRunningUntilTheProcedureHasReturned) {
  g_release = 0;
  g_entered = 0;
  const uint64_t identity = rt::ThreadStart(WaitForRelease, 0);
  ASSERT_NE(identity, 0u);
  EXPECT_TRUE(rt::ThreadIsRunning(identity));
  ASSERT_TRUE(WaitFor([] { return g_entered.load() == 1; }));
  EXPECT_TRUE(rt::ThreadIsRunning(identity));
  EXPECT_FALSE(rt::ThreadIsRunning(0));
  g_release = 1;
  EXPECT_TRUE(WaitFor([identity] { return !rt::ThreadIsRunning(identity); }));
  EXPECT_EQ(rt::ThreadRunningCount(), 0);
}

#ifdef _WIN32
// Windows numbers threads 1, 2, 3, ... and keeps each handle until the first
// start after the thread has ended. A thread object lives while a handle to
// it is open, so whether its system id still opens tells whether ours was
// closed. The numbers count from the process's first start: a child process.
std::atomic<DWORD> g_systemIds[4];
std::atomic<int> g_released[4];

int64_t HoldUntilReleased(int64_t index) {
  g_systemIds[index] = GetCurrentThreadId();
  while (!g_released[index].load()) Sleep(1);
  return 0;
}

bool StillOpen(DWORD systemId) {
  HANDLE handle = OpenThread(SYNCHRONIZE, FALSE, systemId);
  if (!handle) return false;
  CloseHandle(handle);
  return true;
}

void NumberAndReap() {
  rt::ThreadLibraryStart();
  uint64_t numbers[4] = {};
  for (int i = 0; i < 3; ++i) numbers[i] = rt::ThreadStart(HoldUntilReleased, i);
  std::fprintf(stderr, "numbers %llu %llu %llu", static_cast<unsigned long long>(numbers[0]),
               static_cast<unsigned long long>(numbers[1]), static_cast<unsigned long long>(numbers[2]));
  if (!WaitFor([] { return g_systemIds[0] && g_systemIds[1] && g_systemIds[2]; })) std::_Exit(2);
  g_released[0] = 1;
  g_released[1] = 1;
  if (!WaitFor([&] { return !rt::ThreadIsRunning(numbers[0]) && !rt::ThreadIsRunning(numbers[1]); })) std::_Exit(3);
  if (StillOpen(g_systemIds[0]) && StillOpen(g_systemIds[1])) std::fprintf(stderr, ", kept");
  numbers[3] = rt::ThreadStart(HoldUntilReleased, 3);
  std::fprintf(stderr, ", then %llu", static_cast<unsigned long long>(numbers[3]));
  if (!StillOpen(g_systemIds[0]) && !StillOpen(g_systemIds[1])) std::fprintf(stderr, ", reaped");
  if (rt::ThreadIsRunning(numbers[2]) && rt::ThreadIsRunning(numbers[3])) std::fprintf(stderr, ", others run");
  g_released[2] = 1;
  g_released[3] = 1;
  if (!WaitFor([&] { return !rt::ThreadIsRunning(numbers[2]) && !rt::ThreadIsRunning(numbers[3]); })) std::_Exit(4);
  rt::ThreadLibraryEnd();
  if (!StillOpen(g_systemIds[2]) && !StillOpen(g_systemIds[3])) std::fprintf(stderr, ", closed at the end");
  std::fprintf(stderr, ".\n");
  std::_Exit(0);
}

TEST(ThreadsDeathTest, NumberedFromOneAndReapedAtTheNextStart) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(NumberAndReap(), ::testing::ExitedWithCode(0),
              "numbers 1 2 3, kept, then 4, reaped, others run, closed at the end\\.");
}
#endif

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

#ifdef _WIN32
// Windows ticks every 15.6 ms unless a program asks for 1 ms, which DelayMs
// does on its first call. Wine's Sleep keeps 1 ms whatever was asked, so
// under Wine this cannot fail when the request is missing; on Windows it
// does (a hundred delays would take 1.5 s). Margin: ten times the 1 ms.
TEST(Delay, OneMillisecondStepsOnTheFineTimer) {
  const auto start = Clock::now();
  for (int i = 0; i < 100; ++i) ASSERT_EQ(rt::DelayMs(1), 0);
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
  EXPECT_GE(elapsed.count(), 50);
  EXPECT_LT(elapsed.count(), 1000);
}
#endif

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
