// KeyedMapFind with string keys against std::unordered_map<std::u16string>,
// for hits, for misses, and for the empty map every event-binding lookup
// of this program meets. Keys look like the binding keys "%d:%lld:%lld:%lld".
#include <benchmark/benchmark.h>

#include <string>
#include <unordered_map>
#include <vector>

#include "core/keyed_map.h"

namespace {

struct Value {
  void* a;
  void* b;
};

std::u16string Widen(const std::string& s) { return std::u16string(s.begin(), s.end()); }

std::vector<std::u16string> BindingKeys(int count, int salt) {
  std::vector<std::u16string> keys;
  for (int i = 0; i < count; ++i) {
    keys.push_back(Widen(std::to_string(13100 + i % 7) + ":" + std::to_string(94000000000LL + i * 48 + salt) + ":" +
                         std::to_string(i % 3 ? -1 : 140000000000LL + i) + ":" + std::to_string(i % 5 - 1)));
  }
  return keys;
}

// range(0): entries in the map; range(1): 1 = look up present keys, 0 = absent ones.
void BM_Find_KeyedMap(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const std::vector<std::u16string> keys = BindingKeys(n, 0);
  const std::vector<std::u16string> probes = state.range(1) ? keys : BindingKeys(n ? n : 1000, 7);
  rt::KeyedMap* map = nullptr;
  rt::KeyedMapCreate(sizeof(Value), 0, nullptr, &map, 1024);
  for (const auto& k : keys) rt::KeyedMapAdd(map, k.c_str(), 1);
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(rt::KeyedMapFind(map, probes[i].c_str()));
    if (++i == probes.size()) i = 0;
  }
  rt::KeyedMapFree(map);
  state.SetItemsProcessed(state.iterations());
}

void BM_Find_UnorderedMap(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const std::vector<std::u16string> keys = BindingKeys(n, 0);
  const std::vector<std::u16string> probes = state.range(1) ? keys : BindingKeys(n ? n : 1000, 7);
  std::unordered_map<std::u16string, Value> map;
  map.reserve(1024);
  for (const auto& k : keys) map[k] = Value{};
  size_t i = 0;
  for (auto _ : state) {
    auto it = map.find(probes[i]);
    benchmark::DoNotOptimize(it);
    if (++i == probes.size()) i = 0;
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_Find_KeyedMapNoCase(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const std::vector<std::u16string> keys = BindingKeys(n, 0);
  rt::KeyedMap* map = nullptr;
  rt::KeyedMapCreate(sizeof(Value), rt::MapNoCase, nullptr, &map, 1024);
  for (const auto& k : keys) rt::KeyedMapAdd(map, k.c_str(), 1);
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(rt::KeyedMapFind(map, keys[i].c_str()));
    if (++i == keys.size()) i = 0;
  }
  rt::KeyedMapFree(map);
  state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_Find_KeyedMap)->Args({1000, 1})->Args({1000, 0})->Args({0, 0})->Args({10000, 1});
BENCHMARK(BM_Find_UnorderedMap)->Args({1000, 1})->Args({1000, 0})->Args({0, 0})->Args({10000, 1});
BENCHMARK(BM_Find_KeyedMapNoCase)->Args({1000, 1});

}  // namespace
