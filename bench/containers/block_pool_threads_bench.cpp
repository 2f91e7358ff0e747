// The locked pool and malloc/free once the process has had a second thread,
// as the real program has (its update worker). Until then the C library
// takes its mutexes without atomic instructions; from then on every lock and
// unlock is an atomic read-modify-write, while malloc's per-thread cache
// still needs none. A program of its own, so that the other benchmarks keep
// running single-threaded.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "core/block_pool.h"

namespace {

constexpr size_t kElementSize = 64;
constexpr size_t kRing = 1024;

struct PoolAllocator {
  explicit PoolAllocator(int32_t flags) : pool(rt::BlockPoolCreate(kElementSize, 16, 256, flags)) {
    keep = rt::BlockPoolAlloc(pool);
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

// The floor of any locked allocator: one lock and unlock per call.
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
  state.SetItemsProcessed(state.iterations());
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

void BM_MT_Pair_PoolLocked(benchmark::State& state) {
  PoolAllocator a(0);
  TakeAndGiveBack(state, a);
}
void BM_MT_Pair_PoolUnlocked(benchmark::State& state) {
  PoolAllocator a(rt::PoolUnlocked);
  TakeAndGiveBack(state, a);
}
void BM_MT_Pair_MutexOnly(benchmark::State& state) {
  MutexOnlyAllocator a;
  TakeAndGiveBack(state, a);
}
void BM_MT_Pair_Malloc(benchmark::State& state) {
  MallocAllocator a;
  TakeAndGiveBack(state, a);
}
void BM_MT_Ring_PoolLocked(benchmark::State& state) {
  PoolAllocator a(0);
  Ring(state, a);
}
void BM_MT_Ring_Malloc(benchmark::State& state) {
  MallocAllocator a;
  Ring(state, a);
}

BENCHMARK(BM_MT_Pair_PoolLocked);
BENCHMARK(BM_MT_Pair_PoolUnlocked);
BENCHMARK(BM_MT_Pair_MutexOnly);
BENCHMARK(BM_MT_Pair_Malloc);
BENCHMARK(BM_MT_Ring_PoolLocked);
BENCHMARK(BM_MT_Ring_Malloc);

}  // namespace

int main(int argc, char** argv) {
  std::thread([] {}).join();  // from here on the process counts as multi-threaded
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
