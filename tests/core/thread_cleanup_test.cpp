#include "core/thread_cleanup.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "core/platform.h"

namespace {

struct Log {
  std::mutex mutex;
  std::vector<int> order;
  void Add(int v) {
    std::lock_guard<std::mutex> lock(mutex);
    order.push_back(v);
  }
};

struct Tagged {
  Log* log;
  int tag;
};

void Record(void* p) {
  auto* t = static_cast<Tagged*>(p);
  t->log->Add(t->tag);
}

TEST(ThreadCleanup, EntriesRunAtThreadEndMostRecentFirst) {
  Log log;
  Tagged first{&log, 1}, second{&log, 2}, third{&log, 3};
  const int64_t before = rt::ThreadCleanupRecordCount();
  std::thread thread([&] {
    EXPECT_NE(rt::ThreadCleanupAdd(Record, &first), nullptr);
    EXPECT_EQ(rt::ThreadCleanupRecordCount(), before + 1);
    EXPECT_NE(rt::ThreadCleanupAdd(Record, &second), nullptr);
    EXPECT_NE(rt::ThreadCleanupAdd(Record, &third), nullptr);
    EXPECT_EQ(rt::ThreadCleanupRecordCount(), before + 1);  // one record per thread
    EXPECT_TRUE(log.order.empty());
  });
  thread.join();
  EXPECT_EQ(log.order, (std::vector<int>{3, 2, 1}));
  EXPECT_EQ(rt::ThreadCleanupRecordCount(), before);
}

TEST(ThreadCleanup, NullFunctionRegistersNothing) {
  std::thread thread([] { EXPECT_EQ(rt::ThreadCleanupAdd(nullptr, nullptr), nullptr); });
  thread.join();
}

struct Chain {
  Log* log;
  Tagged later;
};

TEST(ThreadCleanup, WorkRegisteredDuringCleanUpRunsToo) {
  Log log;
  Chain chain{&log, {&log, 20}};
  const int64_t before = rt::ThreadCleanupRecordCount();
  std::thread thread([&] {
    rt::ThreadCleanupAdd(
        [](void* p) {
          auto* c = static_cast<Chain*>(p);
          c->log->Add(10);
          rt::ThreadCleanupAdd(Record, &c->later);
        },
        &chain);
  });
  thread.join();
  EXPECT_EQ(log.order, (std::vector<int>{10, 20}));
  EXPECT_EQ(rt::ThreadCleanupRecordCount(), before);
}

TEST(ThreadCleanup, ManyThreadsRegisterAtOnce) {
  std::atomic<int> ran{0};
  const int64_t before = rt::ThreadCleanupRecordCount();
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&ran] {
      for (int i = 0; i < 50; ++i) {
        rt::ThreadCleanupAdd([](void* p) { static_cast<std::atomic<int>*>(p)->fetch_add(1); }, &ran);
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(ran.load(), 8 * 50);
  EXPECT_EQ(rt::ThreadCleanupRecordCount(), before);
}

// Detached threads made the way the runtime makes them (on Windows a bare
// system thread, not one of the threads library's).
TEST(ThreadCleanup, RunsOnDetachedSystemThreads) {
  static std::atomic<int> ran{0};
  ran = 0;
  const int64_t before = rt::ThreadCleanupRecordCount();
  auto entry = [](void*) { rt::ThreadCleanupAdd([](void*) { ran.fetch_add(1); }, nullptr); };
  uint64_t identity = 0;
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(rt::platform::ThreadCreateDetached(entry, nullptr, 1 << 20, &identity));
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while ((ran.load() < 3 || rt::ThreadCleanupRecordCount() != before) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  EXPECT_EQ(ran.load(), 3);
  EXPECT_EQ(rt::ThreadCleanupRecordCount(), before);
}

}  // namespace
