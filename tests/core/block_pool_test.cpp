#include "core/block_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "container_test_support.h"

namespace {

using container_test::HeapFailures;
using container_test::Watchdog;

struct PoolDeleter {
  void operator()(rt::BlockPool* pool) const { rt::BlockPoolRelease(pool); }
};
using PoolPtr = std::unique_ptr<rt::BlockPool, PoolDeleter>;

// Allocates until a new block appears and returns its capacity; the
// elements taken are appended to `taken`.
int64_t AllocUntilNewBlock(rt::BlockPool* pool, std::vector<void*>& taken) {
  const int64_t before = rt::BlockPoolStats(pool).total;
  for (;;) {
    void* element = rt::BlockPoolAlloc(pool);
    EXPECT_NE(element, nullptr);
    if (!element) return -1;
    taken.push_back(element);
    const int64_t after = rt::BlockPoolStats(pool).total;
    if (after != before) return after - before;
  }
}

// Takes every element the pool can hand out without a new block.
void FillCurrentBlocks(rt::BlockPool* pool, std::vector<void*>& taken) {
  for (rt::BlockPoolInfo info = rt::BlockPoolStats(pool); info.inUse < info.total; info = rt::BlockPoolStats(pool)) {
    taken.push_back(rt::BlockPoolAlloc(pool));
  }
}

TEST(BlockPool, StrideIsSizeRoundedToEightPlusHeaderWord) {
  const struct {
    int64_t size, stride;
  } cases[] = {{0, 8}, {1, 16}, {8, 16}, {9, 24}, {24, 32}, {100, 112}};
  for (const auto& c : cases) {
    PoolPtr pool(rt::BlockPoolCreate(c.size, 16, 256, 0));
    ASSERT_NE(pool, nullptr);
    EXPECT_EQ(rt::BlockPoolStats(pool.get()).stride, c.stride) << "size " << c.size;
  }
  EXPECT_EQ(rt::BlockPoolCreate(-1, 16, 256, 0), nullptr);
  EXPECT_EQ(rt::BlockPoolCreate(INT64_MAX - 3, 16, 256, 0), nullptr);
}

TEST(BlockPool, ElementsAreDistinctAlignedAndKeepTheirBytes) {
  PoolPtr pool(rt::BlockPoolCreate(13, 4, 64, rt::PoolUnlocked));
  std::vector<unsigned char*> elements;
  for (int i = 0; i < 300; ++i) {
    auto* e = static_cast<unsigned char*>(rt::BlockPoolAlloc(pool.get()));
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(e) % 8, 0u);
    std::memset(e, i & 0xFF, 13);
    elements.push_back(e);
  }
  for (int i = 0; i < 300; ++i) {
    for (int b = 0; b < 13; ++b) ASSERT_EQ(elements[i][b], i & 0xFF) << "element " << i;
  }
  EXPECT_EQ(rt::BlockPoolStats(pool.get()).inUse, 300);
}

TEST(BlockPool, BlocksGrowWithTheTotalBetweenMinAndMax) {
  PoolPtr pool(rt::BlockPoolCreate(24, 16, 256, rt::PoolUnlocked));
  std::vector<void*> taken;

  // 16 per block while the total is below 512.
  while (rt::BlockPoolStats(pool.get()).total < 512) {
    ASSERT_EQ(AllocUntilNewBlock(pool.get(), taken), 16);
    FillCurrentBlocks(pool.get(), taken);
  }
  ASSERT_EQ(rt::BlockPoolStats(pool.get()).total, 512);
  EXPECT_EQ(AllocUntilNewBlock(pool.get(), taken), 32);
  FillCurrentBlocks(pool.get(), taken);

  // Grow to 960, then reach a total of exactly 1000 through one-element
  // blocks (a full-size block that cannot be had): 1000 / 16 = 62 -> 48.
  while (rt::BlockPoolStats(pool.get()).total < 960) {
    ASSERT_GT(AllocUntilNewBlock(pool.get(), taken), 0);
    FillCurrentBlocks(pool.get(), taken);
  }
  ASSERT_EQ(rt::BlockPoolStats(pool.get()).total, 960);
  for (int i = 0; i < 40; ++i) {
    HeapFailures fullSizeFails(0, 1);
    taken.push_back(rt::BlockPoolAlloc(pool.get()));
    ASSERT_NE(taken.back(), nullptr);
  }
  ASSERT_EQ(rt::BlockPoolStats(pool.get()).total, 1000);
  EXPECT_EQ(AllocUntilNewBlock(pool.get(), taken), 48);
  FillCurrentBlocks(pool.get(), taken);

  // From 4096 on, every block holds the maximum.
  while (rt::BlockPoolStats(pool.get()).total < 4096) {
    ASSERT_GT(AllocUntilNewBlock(pool.get(), taken), 0);
    FillCurrentBlocks(pool.get(), taken);
  }
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(AllocUntilNewBlock(pool.get(), taken), 256);
    FillCurrentBlocks(pool.get(), taken);
  }
  const rt::BlockPoolInfo info = rt::BlockPoolStats(pool.get());
  EXPECT_EQ(info.inUse, static_cast<int64_t>(taken.size()));
  EXPECT_EQ(info.availableBlocks, 0);

  // Everything back: every block has gone back to the heap.
  for (void* e : taken) rt::BlockPoolFree(pool.get(), e);
  const rt::BlockPoolInfo empty = rt::BlockPoolStats(pool.get());
  EXPECT_EQ(empty.total, 0);
  EXPECT_EQ(empty.availableBlocks + empty.fullBlocks, 0);
}

TEST(BlockPool, LimitsOutOfOrderAreMadeSound) {
  // A minimum below 1 would give blocks without room; a maximum below the
  // minimum would shrink blocks as the pool grows.
  PoolPtr zero(rt::BlockPoolCreate(8, 0, 0, 0));
  void* e = rt::BlockPoolAlloc(zero.get());
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(rt::BlockPoolStats(zero.get()).total, 1);
  rt::BlockPoolFree(zero.get(), e);

  PoolPtr inverted(rt::BlockPoolCreate(8, 32, 4, rt::PoolUnlocked));
  std::vector<void*> taken;
  for (int i = 0; i < 40; ++i) EXPECT_EQ(AllocUntilNewBlock(inverted.get(), taken), 32);
  for (void* t : taken) rt::BlockPoolFree(inverted.get(), t);
}

TEST(BlockPool, BlockReturnsToHeapWhenItsLastElementComesBack) {
  PoolPtr pool(rt::BlockPoolCreate(16, 16, 256, 0));
  std::vector<void*> first, second;
  for (int i = 0; i < 16; ++i) first.push_back(rt::BlockPoolAlloc(pool.get()));
  for (int i = 0; i < 5; ++i) second.push_back(rt::BlockPoolAlloc(pool.get()));
  EXPECT_EQ(rt::BlockPoolStats(pool.get()).total, 32);

  // Out of order, and all but one: the block stays.
  for (int i = 15; i >= 1; i -= 2) rt::BlockPoolFree(pool.get(), first[i]);
  for (int i = 0; i < 15; i += 2) rt::BlockPoolFree(pool.get(), first[i]);
  EXPECT_EQ(rt::BlockPoolStats(pool.get()).total, 16);
  EXPECT_EQ(rt::BlockPoolStats(pool.get()).availableBlocks, 1);

  // A block is returned as soon as what it handed out is back, even if it
  // never handed out all of its capacity.
  for (int i = 0; i < 4; ++i) rt::BlockPoolFree(pool.get(), second[i]);
  EXPECT_EQ(rt::BlockPoolStats(pool.get()).total, 16);
  rt::BlockPoolFree(pool.get(), second[4]);
  const rt::BlockPoolInfo info = rt::BlockPoolStats(pool.get());
  EXPECT_EQ(info.total, 0);
  EXPECT_EQ(info.availableBlocks + info.fullBlocks, 0);
  EXPECT_EQ(info.inUse, 0);
  rt::BlockPoolFree(pool.get(), nullptr);  // ignored
}

TEST(BlockPool, FreeingFromAFullBlockMakesItTheNextOneUsed) {
  PoolPtr pool(rt::BlockPoolCreate(16, 16, 256, rt::PoolUnlocked));
  std::vector<void*> taken;
  for (int i = 0; i < 40; ++i) taken.push_back(rt::BlockPoolAlloc(pool.get()));
  // Blocks: two full (0-15, 16-31), one with 8 handed out (32-39).
  rt::BlockPoolInfo info = rt::BlockPoolStats(pool.get());
  EXPECT_EQ(info.fullBlocks, 2);
  EXPECT_EQ(info.availableBlocks, 1);

  for (int victim : {3, 20}) {
    rt::BlockPoolFree(pool.get(), taken[victim]);
    EXPECT_EQ(rt::BlockPoolStats(pool.get()).availableBlocks, 2);
    void* again = rt::BlockPoolAlloc(pool.get());
    EXPECT_EQ(again, taken[victim]);
    info = rt::BlockPoolStats(pool.get());
    EXPECT_EQ(info.fullBlocks, 2);
    EXPECT_EQ(info.availableBlocks, 1);
  }
  // Several free elements come back most recent first, then the untouched tail.
  rt::BlockPoolFree(pool.get(), taken[5]);
  rt::BlockPoolFree(pool.get(), taken[9]);
  EXPECT_EQ(rt::BlockPoolAlloc(pool.get()), taken[9]);
  EXPECT_EQ(rt::BlockPoolAlloc(pool.get()), taken[5]);
  void* tail = rt::BlockPoolAlloc(pool.get());
  EXPECT_EQ(static_cast<char*>(tail) - static_cast<char*>(taken[39]), 24);
  for (void* e : taken) rt::BlockPoolFree(pool.get(), e);
  rt::BlockPoolFree(pool.get(), tail);
  EXPECT_EQ(rt::BlockPoolStats(pool.get()).total, 0);
}

TEST(BlockPool, AllocKeepsOldContentsAndAllocClearedZeroFills) {
  PoolPtr pool(rt::BlockPoolCreate(40, 16, 256, 0));
  void* keep = rt::BlockPoolAlloc(pool.get());  // keeps the block alive
  auto* e = static_cast<unsigned char*>(rt::BlockPoolAlloc(pool.get()));
  std::memset(e, 0xAB, 40);
  rt::BlockPoolFree(pool.get(), e);
  auto* again = static_cast<unsigned char*>(rt::BlockPoolAlloc(pool.get()));
  ASSERT_EQ(again, e);
  for (int i = 0; i < 40; ++i) EXPECT_EQ(again[i], 0xAB);
  rt::BlockPoolFree(pool.get(), again);
  auto* cleared = static_cast<unsigned char*>(rt::BlockPoolAllocCleared(pool.get()));
  ASSERT_EQ(cleared, e);
  for (int i = 0; i < 40; ++i) EXPECT_EQ(cleared[i], 0);
  rt::BlockPoolFree(pool.get(), cleared);
  rt::BlockPoolFree(pool.get(), keep);
  EXPECT_EQ(rt::BlockPoolAllocCleared(nullptr), nullptr);
}

TEST(BlockPool, FallsBackToOneElementBlocksThenFails) {
  PoolPtr pool(rt::BlockPoolCreate(32, 16, 256, 0));
  void* single;
  {
    HeapFailures fullSizeFails(0, 1);
    single = rt::BlockPoolAlloc(pool.get());
  }
  ASSERT_NE(single, nullptr);
  rt::BlockPoolInfo info = rt::BlockPoolStats(pool.get());
  EXPECT_EQ(info.total, 1);
  EXPECT_EQ(info.fullBlocks, 1);
  EXPECT_EQ(info.availableBlocks, 0);

  // The next allocation gets a normal block again.
  void* normal = rt::BlockPoolAlloc(pool.get());
  info = rt::BlockPoolStats(pool.get());
  EXPECT_EQ(info.total, 17);
  EXPECT_EQ(info.availableBlocks, 1);

  {
    HeapFailures nothingLeft(0);
    std::vector<void*> rest;
    for (int i = 0; i < 15; ++i) rest.push_back(rt::BlockPoolAlloc(pool.get()));  // from the block in hand
    for (void* r : rest) EXPECT_NE(r, nullptr);
    EXPECT_EQ(rt::BlockPoolAlloc(pool.get()), nullptr);
    EXPECT_EQ(rt::BlockPoolAllocCleared(pool.get()), nullptr);
    info = rt::BlockPoolStats(pool.get());
    EXPECT_EQ(info.total, 17);
    EXPECT_EQ(info.inUse, 17);
    for (void* r : rest) rt::BlockPoolFree(pool.get(), r);
  }
  rt::BlockPoolFree(pool.get(), single);  // a one-element block leaves from the full list
  info = rt::BlockPoolStats(pool.get());
  EXPECT_EQ(info.total, 16);
  EXPECT_EQ(info.fullBlocks, 0);
  rt::BlockPoolFree(pool.get(), normal);
  EXPECT_EQ(rt::BlockPoolStats(pool.get()).total, 0);

  HeapFailures noHeader(0);
  EXPECT_EQ(rt::BlockPoolCreate(8, 16, 256, 0), nullptr);
  EXPECT_EQ(rt::BlockPoolCreate(8, 16, 256, rt::PoolShared), nullptr);
}

TEST(BlockPool, ClearDropsEveryBlockAndThePoolStaysUsable) {
  PoolPtr pool(rt::BlockPoolCreate(8, 16, 256, 0));
  for (int i = 0; i < 1000; ++i) ASSERT_NE(rt::BlockPoolAlloc(pool.get()), nullptr);
  rt::BlockPoolClear(pool.get());
  rt::BlockPoolInfo info = rt::BlockPoolStats(pool.get());
  EXPECT_EQ(info.total, 0);
  EXPECT_EQ(info.availableBlocks + info.fullBlocks, 0);
  // Growth starts over from the minimum.
  void* e = rt::BlockPoolAlloc(pool.get());
  EXPECT_EQ(rt::BlockPoolStats(pool.get()).total, 16);
  rt::BlockPoolFree(pool.get(), e);
  rt::BlockPoolClear(nullptr);
  rt::BlockPoolRelease(nullptr);
}

TEST(BlockPool, SharedPoolsAreOnePerStrideAndFlagsAndDieWithTheLastRelease) {
  // Sizes 17 and 24 have the same stride.
  rt::BlockPool* a = rt::BlockPoolCreate(17, 16, 256, rt::PoolShared);
  rt::BlockPool* b = rt::BlockPoolCreate(24, 32, 512, rt::PoolShared);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a, b);
  EXPECT_EQ(rt::BlockPoolStats(a).references, 2);

  rt::BlockPool* otherFlags = rt::BlockPoolCreate(24, 16, 256, rt::PoolShared | rt::PoolUnlocked);
  rt::BlockPool* otherStride = rt::BlockPoolCreate(25, 16, 256, rt::PoolShared);
  rt::BlockPool* unshared = rt::BlockPoolCreate(24, 16, 256, 0);
  EXPECT_NE(otherFlags, a);
  EXPECT_NE(otherStride, a);
  EXPECT_NE(unshared, a);
  EXPECT_EQ(rt::BlockPoolStats(otherFlags).references, 1);

  void* element = rt::BlockPoolAlloc(a);
  EXPECT_EQ(rt::BlockPoolStats(a).total, 16);  // the first creator's limits hold

  rt::BlockPoolRelease(a);  // first release: the pool lives on
  EXPECT_EQ(rt::BlockPoolStats(b).references, 1);
  EXPECT_EQ(rt::BlockPoolStats(b).inUse, 1);
  rt::BlockPoolFree(b, element);
  rt::BlockPoolRelease(b);  // second release destroys it (ASan would see a leak otherwise)

  rt::BlockPool* fresh = rt::BlockPoolCreate(24, 16, 256, rt::PoolShared);
  EXPECT_EQ(rt::BlockPoolStats(fresh).references, 1);
  EXPECT_EQ(rt::BlockPoolStats(fresh).total, 0);
  rt::BlockPoolRelease(fresh);
  rt::BlockPoolRelease(otherFlags);
  rt::BlockPoolRelease(otherStride);
  rt::BlockPoolRelease(unshared);
}

TEST(BlockPool, SharedCreateThatRunsOutOfMemoryLeavesTheRegistryAlone) {
  {
    HeapFailures entryFails(1);  // the pool header succeeds, its registry entry does not
    EXPECT_EQ(rt::BlockPoolCreate(72, 16, 256, rt::PoolShared), nullptr);
  }
  rt::BlockPool* pool = rt::BlockPoolCreate(72, 16, 256, rt::PoolShared);
  ASSERT_NE(pool, nullptr);
  EXPECT_EQ(rt::BlockPoolStats(pool).references, 1);
  rt::BlockPoolRelease(pool);
}

TEST(BlockPoolThreads, LockedPoolHandsEachElementToOneThreadAtATime) {
  Watchdog watchdog(std::chrono::seconds(60));
  PoolPtr pool(rt::BlockPoolCreate(24, 16, 256, 0));
  constexpr int kThreads = 4;
  constexpr int kRounds = 3000;
  std::atomic<int> errors{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      std::vector<uint64_t*> held;
      for (int round = 0; round < kRounds; ++round) {
        // Hold a varying number so that blocks fill, empty and go back.
        const int want = (round * 7 + t) % 40;
        while (static_cast<int>(held.size()) < want) {
          auto* e = static_cast<uint64_t*>(rt::BlockPoolAlloc(pool.get()));
          if (!e) {
            ++errors;
            return;
          }
          e[0] = static_cast<uint64_t>(t);
          e[1] = reinterpret_cast<uintptr_t>(e);
          e[2] = ~e[1];
          held.push_back(e);
        }
        while (static_cast<int>(held.size()) > want / 2) {
          uint64_t* e = held.back();
          held.pop_back();
          if (e[0] != static_cast<uint64_t>(t) || e[1] != reinterpret_cast<uintptr_t>(e) || e[2] != ~e[1]) ++errors;
          rt::BlockPoolFree(pool.get(), e);
        }
      }
      for (uint64_t* e : held) rt::BlockPoolFree(pool.get(), e);
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(errors.load(), 0);
  const rt::BlockPoolInfo info = rt::BlockPoolStats(pool.get());
  EXPECT_EQ(info.inUse, 0);
  EXPECT_EQ(info.total, 0);
}

TEST(BlockPoolThreads, SharedPoolsCreatedAndReleasedFromManyThreads) {
  Watchdog watchdog(std::chrono::seconds(60));
  constexpr int kThreads = 4;
  constexpr int kRounds = 2000;
  std::atomic<int> errors{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < kRounds; ++round) {
        // Two strides, so that registry entries come and go while others stay.
        const int64_t size = (round + t) % 2 ? 200 : 208;
        rt::BlockPool* pool = rt::BlockPoolCreate(size, 16, 256, rt::PoolShared);
        if (!pool) {
          ++errors;
          return;
        }
        auto* e = static_cast<int*>(rt::BlockPoolAllocCleared(pool));
        if (!e || *e != 0) ++errors;
        if (e) {
          *e = t + 1;
          rt::BlockPoolFree(pool, e);
        }
        rt::BlockPoolRelease(pool);
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(errors.load(), 0);
  for (int64_t size : {200, 208}) {
    rt::BlockPool* pool = rt::BlockPoolCreate(size, 16, 256, rt::PoolShared);
    EXPECT_EQ(rt::BlockPoolStats(pool).references, 1) << size;
    rt::BlockPoolRelease(pool);
  }
}

}  // namespace
