#include "core/thread_slots.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

// What the slot functions saw, in order, across threads.
std::mutex g_logLock;
std::vector<std::string> g_log;

void Log(const std::string& entry) {
  std::lock_guard<std::mutex> guard(g_logLock);
  g_log.push_back(entry);
}
std::vector<std::string> TakeLog() {
  std::lock_guard<std::mutex> guard(g_logLock);
  std::vector<std::string> log;
  log.swap(g_log);
  return log;
}

// Every slot of these tests starts with a marker the set-up writes, so a
// tear-down can tell that it was handed its own, set-up slot.
void SetUpA(void* slot) {
  *static_cast<int64_t*>(slot) = 0xA;
  Log("setUp A");
}
void TearDownA(void* slot) { Log("tearDown A " + std::to_string(*static_cast<int64_t*>(slot))); }
void SetUpB(void* slot) {
  *static_cast<int64_t*>(slot) = 0xB;
  Log("setUp B");
}
void TearDownB(void* slot) { Log("tearDown B " + std::to_string(*static_cast<int64_t*>(slot))); }

// Runs `work` on a std::thread and waits for it with a deadline; the thread's
// exit (and with it the slot tear-down) has happened once join returns.
template <typename Work>
void RunOnThread(Work work) {
  std::mutex m;
  std::condition_variable cv;
  bool done = false;
  std::thread t([&] {
    work();
    std::lock_guard<std::mutex> guard(m);
    done = true;
    cv.notify_one();
  });
  {
    std::unique_lock<std::mutex> lock(m);
    ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(20), [&] { return done; })) << "worker hung";
  }
  t.join();
}

// One test drives the whole life of the registry, since reservations are
// process-wide and cannot be undone.
TEST(ThreadSlots, ReservationsSetUpAndTearDownPerThread) {
  TakeLog();
  const int64_t a = rt::ThreadSlotReserve(5, SetUpA, TearDownA);
  ASSERT_GE(a, 0);
  EXPECT_EQ(a % 8, 0);
  EXPECT_EQ(TakeLog(), std::vector<std::string>{"setUp A"});  // at once, on the caller

  const int64_t plain = rt::ThreadSlotReserve(3, nullptr, nullptr);
  EXPECT_EQ(plain, a + 8);  // 5 rounded up to 8
  const int64_t b = rt::ThreadSlotReserve(16, SetUpB, TearDownB);
  EXPECT_EQ(b, plain + 8);
  EXPECT_EQ(TakeLog(), std::vector<std::string>{"setUp B"});  // only the new one

  // On the calling thread the slots are where the reservations said, set up once.
  auto* slotA = static_cast<int64_t*>(rt::ThreadSlotGet(a));
  ASSERT_NE(slotA, nullptr);
  EXPECT_EQ(*slotA, 0xA);
  EXPECT_EQ(*static_cast<int64_t*>(rt::ThreadSlotGet(b)), 0xB);
  EXPECT_EQ(static_cast<char*>(rt::ThreadSlotGet(b)) - static_cast<char*>(rt::ThreadSlotGet(a)), b - a);
  *static_cast<int64_t*>(rt::ThreadSlotGet(plain)) = 77;
  EXPECT_TRUE(TakeLog().empty());

  // A new thread gets its own zero-filled block on first use, set up most
  // recent registration first, and torn down in the same order at its end.
  void* mainPlain = rt::ThreadSlotGet(plain);
  RunOnThread([&] {
    auto* p = static_cast<int64_t*>(rt::ThreadSlotGet(plain));
    EXPECT_NE(static_cast<void*>(p), mainPlain);
    EXPECT_EQ(*p, 0);
    *static_cast<int64_t*>(rt::ThreadSlotGet(b)) = 12;
  });
  EXPECT_EQ(TakeLog(), (std::vector<std::string>{"setUp B", "setUp A", "tearDown B 12", "tearDown A 10"}));
  EXPECT_EQ(*static_cast<int64_t*>(rt::ThreadSlotGet(plain)), 77);  // ours untouched

  // A thread that never asks for its slots costs nothing and runs nothing.
  RunOnThread([] {});
  EXPECT_TRUE(TakeLog().empty());

  // A thread may give its block back early; it runs the tear-downs once.
  RunOnThread([&] {
    rt::ThreadSlotGet(a);
    rt::ThreadSlotThreadEnd();
    rt::ThreadSlotThreadEnd();
  });
  EXPECT_EQ(TakeLog(), (std::vector<std::string>{"setUp B", "setUp A", "tearDown B 11", "tearDown A 10"}));

  // Offsets no reservation gave are refused.
  EXPECT_EQ(rt::ThreadSlotGet(-8), nullptr);
  EXPECT_EQ(rt::ThreadSlotGet(int64_t{1} << 40), nullptr);

  // A reservation made while another thread already has its block reaches
  // that thread on its next ThreadSlotGet.
  std::mutex m;
  std::condition_variable cv;
  int stage = 0;
  int64_t late = -1;
  std::thread worker([&] {
    rt::ThreadSlotGet(a);
    std::unique_lock<std::mutex> lock(m);
    stage = 1;
    cv.notify_all();
    if (!cv.wait_for(lock, std::chrono::seconds(20), [&] { return stage == 2; })) return;
    auto* slot = static_cast<int64_t*>(rt::ThreadSlotGet(late));
    if (slot) Log("late slot " + std::to_string(*slot));
  });
  {
    std::unique_lock<std::mutex> lock(m);
    ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(20), [&] { return stage == 1; }));
    late = rt::ThreadSlotReserve(64, [](void* slot) {
      *static_cast<int64_t*>(slot) = 0xC;
      Log("setUp C");
    }, nullptr);
    ASSERT_GE(late, 0);
    stage = 2;
    cv.notify_all();
  }
  worker.join();
  EXPECT_EQ(TakeLog(), (std::vector<std::string>{"setUp B", "setUp A", "setUp C", "setUp C", "late slot 12",
                                                 "tearDown B 11", "tearDown A 10"}));

  // After the shut-down a thread's end frees its block without tear-downs.
  rt::ThreadSlotShutdown();
  RunOnThread([&] { rt::ThreadSlotGet(a); });
  EXPECT_EQ(TakeLog(), (std::vector<std::string>{"setUp C", "setUp B", "setUp A"}));
  // A new reservation turns them back on.
  rt::ThreadSlotReserve(8, nullptr, nullptr);
  RunOnThread([&] { rt::ThreadSlotGet(a); });
  EXPECT_EQ(TakeLog(), (std::vector<std::string>{"setUp C", "setUp B", "setUp A", "tearDown B 11",
                                                 "tearDown A 10"}));
}

}  // namespace
