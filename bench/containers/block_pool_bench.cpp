// Allocate/free at steady state: a block pool (locked and unlocked) against
// malloc/free and new/delete of the same size. Two patterns: one element
// taken and given straight back, and a ring of live elements where the
// oldest is freed for every new one (how an event queue uses its pool).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <mutex>
#include <vector>

#include "core/block_pool.h"

namespace {

constexpr size_t kElementSize = 64;  // about an event-queue record
constexpr size_t kRing = 1024;

struct Record {
  unsigned char bytes[kElementSize];
};

struct PoolAllocator {
  explicit PoolAllocator(int32_t flags) : pool(rt::BlockPoolCreate(kElementSize, 16, 256, flags)) {
    keep = rt::BlockPoolAlloc(pool);  // like the event queue: the first block stays
  }
  ~PoolAllocator() {
    rt::BlockPoolFree(pool, keep);
    rt::BlockPoolRelease(pool);
  }
  void* Alloc() { return rt::BlockPoolAlloc(pool); }
  void Free(void* p) { rt::BlockPoolFree(pool, p); }
  rt::BlockPool* pool;
  void* keep;
};

struct MallocAllocator {
  void* Alloc() { return std::malloc(kElementSize); }
  void Free(void* p) { std::free(p); }
};

struct NewAllocator {
  void* Alloc() { return new Record; }
  void Free(void* p) { delete static_cast<Record*>(p); }
};

// The floor of any locked allocator: a lock and an unlock per call, no work.
struct MutexOnlyAllocator {
  std::mutex mutex;
  unsigned char element[kElementSize];
  void* Alloc() {
    std::lock_guard<std::mutex> guard(mutex);
    return element;
  }
  void Free(void*) { std::lock_guard<std::mutex> guard(mutex); }
};

template <class Allocator>
void TakeAndGiveBack(benchmark::State& state, Allocator& allocator) {
  for (auto _ : state) {
    void* p = allocator.Alloc();
    benchmark::DoNotOptimize(p);
    allocator.Free(p);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());  // one allocation and one free per item
}

template <class Allocator>
void Ring(benchmark::State& state, Allocator& allocator) {
  std::vector<void*> ring(kRing);
  for (void*& p : ring) p = allocator.Alloc();
  size_t oldest = 0;
  for (auto _ : state) {
    allocator.Free(ring[oldest]);
    void* p = allocator.Alloc();
    benchmark::DoNotOptimize(p);
    ring[oldest] = p;
    oldest = (oldest + 1) % kRing;
  }
  for (void* p : ring) allocator.Free(p);
  state.SetItemsProcessed(state.iterations());
}

void BM_Pair_PoolLocked(benchmark::State& state) {
  PoolAllocator a(0);
  TakeAndGiveBack(state, a);
}
void BM_Pair_PoolUnlocked(benchmark::State& state) {
  PoolAllocator a(rt::PoolUnlocked);
  TakeAndGiveBack(state, a);
}
void BM_Pair_Malloc(benchmark::State& state) {
  MallocAllocator a;
  TakeAndGiveBack(state, a);
}
void BM_Pair_New(benchmark::State& state) {
  NewAllocator a;
  TakeAndGiveBack(state, a);
}
void BM_Pair_MutexOnly(benchmark::State& state) {
  MutexOnlyAllocator a;
  TakeAndGiveBack(state, a);
}
void BM_Ring_PoolLocked(benchmark::State& state) {
  PoolAllocator a(0);
  Ring(state, a);
}
void BM_Ring_PoolUnlocked(benchmark::State& state) {
  PoolAllocator a(rt::PoolUnlocked);
  Ring(state, a);
}
void BM_Ring_Malloc(benchmark::State& state) {
  MallocAllocator a;
  Ring(state, a);
}
void BM_Ring_New(benchmark::State& state) {
  NewAllocator a;
  Ring(state, a);
}

BENCHMARK(BM_Pair_PoolLocked);
BENCHMARK(BM_Pair_PoolUnlocked);
BENCHMARK(BM_Pair_Malloc);
BENCHMARK(BM_Pair_New);
BENCHMARK(BM_Pair_MutexOnly);
BENCHMARK(BM_Ring_PoolLocked);
BENCHMARK(BM_Ring_PoolUnlocked);
BENCHMARK(BM_Ring_Malloc);
BENCHMARK(BM_Ring_New);

}  // namespace
