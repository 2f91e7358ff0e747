// Look-up cost of ObjectTableGet: static numbers are pure indexing; a dynamic
// handle is checked against the table's dynamic list before it is trusted,
// so its cost grows with the number of dynamic objects (and with the age of
// the handle, the oldest being last in the list).
#include "core/object_table.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

namespace {

struct Record {
  intptr_t handle;
  int64_t payload;
};

struct Table {
  rt::ObjectTable* table;
  std::vector<rt::ObjectNumber> dynamic;  // oldest first

  explicit Table(int dynamicObjects) : table(rt::ObjectTableCreate(sizeof(Record), 16, nullptr)) {
    for (rt::ObjectNumber n = 0; n < 4; ++n) static_cast<Record*>(rt::ObjectTableAllocate(table, n))->handle = 1;
    for (int i = 0; i < dynamicObjects; ++i) {
      auto* r = static_cast<Record*>(rt::ObjectTableAllocate(table, rt::DynamicNumber));
      r->handle = 1;
      dynamic.push_back(rt::ObjectHandle(r));
    }
  }
  ~Table() {
    for (rt::ObjectNumber h : dynamic) rt::ObjectTableRelease(table, h);
  }
};

void BM_GetStatic(benchmark::State& state) {
  Table t(static_cast<int>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(rt::ObjectTableGet(t.table, 2));
}
BENCHMARK(BM_GetStatic)->Arg(3)->Arg(16);

void BM_GetDynamicNewest(benchmark::State& state) {
  Table t(static_cast<int>(state.range(0)));
  const rt::ObjectNumber handle = t.dynamic.back();
  for (auto _ : state) benchmark::DoNotOptimize(rt::ObjectTableGet(t.table, handle));
}
BENCHMARK(BM_GetDynamicNewest)->Arg(3)->Arg(16);

void BM_GetDynamicOldest(benchmark::State& state) {
  Table t(static_cast<int>(state.range(0)));
  const rt::ObjectNumber handle = t.dynamic.front();
  for (auto _ : state) benchmark::DoNotOptimize(rt::ObjectTableGet(t.table, handle));
}
BENCHMARK(BM_GetDynamicOldest)->Arg(3)->Arg(16);

void BM_GetGarbage(benchmark::State& state) {
  Table t(static_cast<int>(state.range(0)));
  const rt::ObjectNumber garbage = t.dynamic.front() + 64;
  for (auto _ : state) benchmark::DoNotOptimize(rt::ObjectTableGet(t.table, garbage));
}
BENCHMARK(BM_GetGarbage)->Arg(3)->Arg(16);

}  // namespace
