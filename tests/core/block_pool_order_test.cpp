// Which block serves next when full blocks get elements back in various
// orders, and what the statistics say on the way.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "core/block_pool.h"

namespace {

struct PoolDeleter {
  void operator()(rt::BlockPool* pool) const { rt::BlockPoolRelease(pool); }
};
using PoolPtr = std::unique_ptr<rt::BlockPool, PoolDeleter>;

// Blocks of exactly four elements, so that element i lives in block i / 4.
struct FourPerBlock : ::testing::TestWithParam<int32_t> {
  FourPerBlock() : pool(rt::BlockPoolCreate(8, 4, 4, GetParam())) {}
  void Take(int count) {
    for (int i = 0; i < count; ++i) taken.push_back(rt::BlockPoolAlloc(pool.get()));
  }
  void ExpectBlocks(int64_t available, int64_t full, int64_t inUse) {
    const rt::BlockPoolInfo info = rt::BlockPoolStats(pool.get());
    EXPECT_EQ(info.availableBlocks, available);
    EXPECT_EQ(info.fullBlocks, full);
    EXPECT_EQ(info.inUse, inUse);
  }
  ~FourPerBlock() override {
    for (void* e : taken) rt::BlockPoolFree(pool.get(), e);
    EXPECT_EQ(rt::BlockPoolStats(pool.get()).total, 0);
  }
  PoolPtr pool;
  std::vector<void*> taken;
};

TEST_P(FourPerBlock, OnlyABlockThatWasFullMovesToTheFront) {
  Take(12);  // blocks A (0-3), B (4-7), C (8-11), all full
  ExpectBlocks(0, 3, 12);

  rt::BlockPoolFree(pool.get(), taken[1]);  // A
  rt::BlockPoolFree(pool.get(), taken[9]);  // C
  rt::BlockPoolFree(pool.get(), taken[6]);  // B
  ExpectBlocks(3, 0, 9);
  rt::BlockPoolFree(pool.get(), taken[10]);  // C again: not full, so it stays behind B
  ExpectBlocks(3, 0, 8);

  EXPECT_EQ(rt::BlockPoolAlloc(pool.get()), taken[6]);  // B, now full
  ExpectBlocks(2, 1, 9);
  EXPECT_EQ(rt::BlockPoolAlloc(pool.get()), taken[10]);  // C, most recent free first
  EXPECT_EQ(rt::BlockPoolAlloc(pool.get()), taken[9]);
  ExpectBlocks(1, 2, 11);
  // A full block given one element back goes to the front, ahead of A.
  rt::BlockPoolFree(pool.get(), taken[8]);  // C
  ExpectBlocks(2, 1, 10);
  EXPECT_EQ(rt::BlockPoolAlloc(pool.get()), taken[8]);
  EXPECT_EQ(rt::BlockPoolAlloc(pool.get()), taken[1]);
  ExpectBlocks(0, 3, 12);
  // Nothing left: a fresh block.
  taken.push_back(rt::BlockPoolAlloc(pool.get()));
  EXPECT_EQ(rt::BlockPoolStats(pool.get()).total, 16);
  ExpectBlocks(1, 3, 13);
}

TEST_P(FourPerBlock, ABlockThatJustFilledAndGetsAnElementBackServesAgain) {
  Take(8);  // A and B full
  for (int round = 0; round < 3; ++round) {
    rt::BlockPoolFree(pool.get(), taken[5]);
    ExpectBlocks(1, 1, 7);
    EXPECT_EQ(rt::BlockPoolAlloc(pool.get()), taken[5]);
    ExpectBlocks(0, 2, 8);
  }
  // Then an element of A: A serves, and B stays full.
  rt::BlockPoolFree(pool.get(), taken[2]);
  EXPECT_EQ(rt::BlockPoolAlloc(pool.get()), taken[2]);
  ExpectBlocks(0, 2, 8);
}

TEST_P(FourPerBlock, EmptyBlocksLeaveWhereverTheyStand) {
  Take(12);
  // Empty B entirely while A and C each have one element back: B goes to
  // the heap and the order of the others is kept (C before A).
  rt::BlockPoolFree(pool.get(), taken[0]);
  rt::BlockPoolFree(pool.get(), taken[11]);
  for (int i = 4; i < 8; ++i) rt::BlockPoolFree(pool.get(), taken[i]);
  const rt::BlockPoolInfo info = rt::BlockPoolStats(pool.get());
  EXPECT_EQ(info.total, 8);
  ExpectBlocks(2, 0, 6);
  EXPECT_EQ(rt::BlockPoolAlloc(pool.get()), taken[11]);
  EXPECT_EQ(rt::BlockPoolAlloc(pool.get()), taken[0]);
  taken.erase(taken.begin() + 4, taken.begin() + 8);
  ExpectBlocks(0, 2, 8);
}

INSTANTIATE_TEST_SUITE_P(LockedAndUnlocked, FourPerBlock, ::testing::Values(0, rt::PoolUnlocked));

}  // namespace
