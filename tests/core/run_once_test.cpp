// Run-once, both the system's (where there is one) and the interlocked form
// Windows falls back to when the system has none, called here directly.
#include "core/run_once.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "watchdog.h"

namespace {

using RunOnceFunction = void (*)(rt::platform::OnceState*, void (*)());

constexpr int kCallers = 6;
std::atomic<int> g_runs{0};
std::atomic<int> g_entering{0};
std::atomic<bool> g_finished{false};

// Holds the other callers at the door long enough for them to arrive while
// it runs: they must wait for it, not return.
void SlowRoutine() {
  ++g_runs;
  while (g_entering.load() < kCallers) std::this_thread::yield();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  g_finished = true;
}

void CallersTogether(RunOnceFunction runOnce) {
  g_runs = 0;
  g_entering = 0;
  g_finished = false;
  rt::platform::OnceState state = 0;
  std::atomic<int> returnedEarly{0};
  fwu_test::Watchdog watchdog(std::chrono::seconds(30), "callers of run-once");
  std::vector<std::thread> callers;
  for (int i = 0; i < kCallers; ++i) {
    callers.emplace_back([&] {
      ++g_entering;
      runOnce(&state, SlowRoutine);
      if (!g_finished.load()) ++returnedEarly;
    });
  }
  for (auto& caller : callers) caller.join();
  EXPECT_EQ(g_runs.load(), 1);
  EXPECT_EQ(returnedEarly.load(), 0);

  // Once done, a word never runs its routine again; another word does.
  runOnce(&state, SlowRoutine);
  EXPECT_EQ(g_runs.load(), 1);
  rt::platform::OnceState other = 0;
  g_entering = kCallers;
  runOnce(&other, SlowRoutine);
  EXPECT_EQ(g_runs.load(), 2);
}

TEST(RunOnce, InterlockedRunsOnceAndEveryCallerWaitsForIt) { CallersTogether(rt::RunOnceInterlocked); }

TEST(RunOnce, SystemRunsOnceAndEveryCallerWaitsForIt) { CallersTogether(rt::platform::RunOnce); }

}  // namespace
