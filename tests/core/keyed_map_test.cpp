#include "core/keyed_map.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "container_test_support.h"
#include "core/rt_string.h"

namespace {

using container_test::HeapFailures;

struct Value {
  int64_t number;
  int64_t extra;
};

// Owns whatever map it holds; KeyedMapCreate and KeyedMapFree keep it current.
struct MapHolder {
  rt::KeyedMap* map = nullptr;
  MapHolder() = default;
  MapHolder(int32_t flags, int64_t buckets, int64_t elementSize = sizeof(Value)) {
    EXPECT_NE(rt::KeyedMapCreate(elementSize, flags, nullptr, &map, buckets), nullptr);
  }
  ~MapHolder() { rt::KeyedMapFree(map); }
  MapHolder(const MapHolder&) = delete;
  MapHolder& operator=(const MapHolder&) = delete;
};

Value* Add(rt::KeyedMap* map, const std::u16string& key, int64_t number, int replace = 1) {
  auto* v = static_cast<Value*>(rt::KeyedMapAdd(map, key.c_str(), replace));
  EXPECT_NE(v, nullptr) << "adding a key";
  if (v) v->number = number;
  return v;
}

Value* Find(rt::KeyedMap* map, const std::u16string& key) {
  return static_cast<Value*>(rt::KeyedMapFind(map, key.c_str()));
}

std::u16string Key(int i) {
  std::u16string k = u"key-";
  for (char c : std::to_string(i)) k += static_cast<char16_t>(c);
  return k;
}

// Every key of a walk, in walk order.
std::vector<std::u16string> WalkKeys(rt::KeyedMap* map) {
  std::vector<std::u16string> keys;
  rt::KeyedMapReset(map);
  while (rt::KeyedMapNext(map)) keys.emplace_back(rt::KeyedMapCurrentKey(map));
  return keys;
}

uint32_t ReferenceHash(const std::u16string& key) {
  uint32_t h = 0;
  for (char16_t c : key) h = static_cast<uint32_t>(c) + h * 65599u;
  return h;
}

TEST(KeyedMap, AddFindAndCountWithStringKeys) {
  MapHolder m(0, 64);
  ASSERT_NE(m.map, nullptr);
  Value* alpha = Add(m.map, u"alpha", 1);
  Add(m.map, u"beta", 2);
  EXPECT_EQ(rt::KeyedMapCount(m.map), 2);
  EXPECT_EQ(Find(m.map, u"alpha"), alpha);
  EXPECT_EQ(Find(m.map, u"beta")->number, 2);
  EXPECT_EQ(Find(m.map, u"gamma"), nullptr);
  EXPECT_EQ(Find(m.map, u"Alpha"), nullptr);  // case matters without MapNoCase
  EXPECT_EQ(Find(m.map, u"alph"), nullptr);

  // A null key stands for "", and the map keeps its own copy of every key.
  auto* empty = static_cast<Value*>(rt::KeyedMapAdd(m.map, nullptr, 0));
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(Find(m.map, u""), empty);
  EXPECT_EQ(rt::KeyedMapFind(m.map, nullptr), empty);
  std::u16string transient = u"short-lived";
  Add(m.map, transient, 7);
  transient.assign(transient.size(), u'x');
  EXPECT_EQ(Find(m.map, u"short-lived")->number, 7);
  EXPECT_EQ(rt::KeyedMapCount(m.map), 4);

  // A new element is zero-filled.
  auto* fresh = static_cast<Value*>(rt::KeyedMapAdd(m.map, u"fresh", 0));
  EXPECT_EQ(fresh->number, 0);
  EXPECT_EQ(fresh->extra, 0);
  EXPECT_EQ(rt::KeyedMapCurrentKey(m.map), std::u16string(u"fresh"));
}

TEST(KeyedMap, ReplaceReturnsTheExistingElementZeroFilled) {
  MapHolder m(0, 16);
  Value* first = Add(m.map, u"port", 5);
  first->extra = 99;
  Add(m.map, u"other", 6);
  auto* again = static_cast<Value*>(rt::KeyedMapAdd(m.map, u"port", 1));
  EXPECT_EQ(again, first);
  EXPECT_EQ(again->number, 0);
  EXPECT_EQ(again->extra, 0);
  EXPECT_EQ(rt::KeyedMapCount(m.map), 2);
  EXPECT_EQ(rt::KeyedMapCurrentKey(m.map), std::u16string(u"port"));

  // Without replace a second entry is added and hides the first until deleted.
  again->number = 1;
  Value* shadow = Add(m.map, u"port", 2, 0);
  EXPECT_NE(shadow, first);
  EXPECT_EQ(rt::KeyedMapCount(m.map), 3);
  EXPECT_EQ(Find(m.map, u"port"), shadow);
  rt::KeyedMapDeleteCurrent(m.map);
  EXPECT_EQ(Find(m.map, u"port"), first);
  EXPECT_EQ(first->number, 1);
  EXPECT_EQ(rt::KeyedMapCount(m.map), 2);
}

TEST(KeyedMap, NoCaseKeysDifferingOnlyInCaseAreOneKey) {
  MapHolder m(rt::MapNoCase, 1024);
  Value* v = Add(m.map, u"Serial Port", 3);
  EXPECT_EQ(Find(m.map, u"serial port"), v);
  EXPECT_EQ(Find(m.map, u"SERIAL PORT"), v);
  EXPECT_EQ(Add(m.map, u"sErIaL pOrT", 4), v);
  EXPECT_EQ(rt::KeyedMapCount(m.map), 1);
  EXPECT_EQ(Find(m.map, u"serial-port"), nullptr);
  // The key keeps the spelling it was first added with.
  EXPECT_EQ(rt::KeyedMapCurrentKey(m.map), std::u16string(u"Serial Port"));
}

TEST(KeyedMap, NoCaseHashAgreesWithTheComparisonForEveryUnit) {
  // Any unit the comparison lowers must reach the same bucket as its lower
  // form, beyond ASCII as well, or a lookup would miss a key that compares equal.
  MapHolder m(rt::MapNoCase, 1021);
  int lowered = 0;
  for (uint32_t unit = 1; unit <= 0xFFFF; ++unit) {
    const char16_t upper = static_cast<char16_t>(unit);
    const char16_t lower = rt::StringLowerUnit(upper);
    if (lower == upper) continue;
    ++lowered;
    const std::u16string key = std::u16string(u"k") + upper;
    Value* v = Add(m.map, key, unit);
    ASSERT_EQ(Find(m.map, std::u16string(u"K") + lower), v) << "unit " << unit;
  }
  EXPECT_GE(lowered, 26);
}

TEST(KeyedMap, StringBucketsFollowThe65599Hash) {
  // The walk runs in increasing bucket order, which makes the hash visible.
  constexpr int64_t kBuckets = 997;
  MapHolder m(0, kBuckets);
  std::map<int64_t, std::u16string> byBucket;
  for (int i = 0; byBucket.size() < 40; ++i) {
    const std::u16string key = Key(i) + u"\u00e9\u4e2d";
    const int64_t bucket = ReferenceHash(key) % kBuckets;
    if (byBucket.count(bucket)) continue;
    byBucket[bucket] = key;
    Add(m.map, key, i);
  }
  std::vector<std::u16string> expected;
  for (const auto& [bucket, key] : byBucket) expected.push_back(key);
  EXPECT_EQ(WalkKeys(m.map), expected);
}

TEST(KeyedMap, BucketCountOfZeroOrLessIsOne) {
  for (int64_t buckets : {0, -5}) {
    MapHolder m(0, buckets);
    for (int i = 0; i < 50; ++i) Add(m.map, Key(i), i);
    for (int i = 0; i < 50; ++i) ASSERT_EQ(Find(m.map, Key(i))->number, i);
    // One chain, newest first.
    std::vector<std::u16string> keys = WalkKeys(m.map);
    ASSERT_EQ(keys.size(), 50u);
    EXPECT_EQ(keys.front(), Key(49));
    EXPECT_EQ(keys.back(), Key(0));
  }
}

TEST(KeyedMap, WalkVisitsEveryEntryOnceAndFindDoesNotDisturbIt) {
  MapHolder m(0, 7);
  for (int i = 0; i < 100; ++i) Add(m.map, Key(i), i);
  std::vector<std::u16string> keys = WalkKeys(m.map);
  EXPECT_EQ(std::set<std::u16string>(keys.begin(), keys.end()).size(), 100u);
  EXPECT_EQ(keys.size(), 100u);
  EXPECT_EQ(rt::KeyedMapNext(m.map), nullptr);  // stays at the end
  EXPECT_EQ(rt::KeyedMapNext(m.map), nullptr);

  // A lookup that misses leaves the cursor where it was.
  rt::KeyedMapReset(m.map);
  for (int i = 0; i < 10; ++i) rt::KeyedMapNext(m.map);
  EXPECT_EQ(Find(m.map, u"absent"), nullptr);
  EXPECT_EQ(rt::KeyedMapCurrentKey(m.map), keys[9]);
  rt::KeyedMapNext(m.map);
  EXPECT_EQ(rt::KeyedMapCurrentKey(m.map), keys[10]);

  // A hit moves the cursor: the walk goes on from the entry found.
  Find(m.map, keys[50]);
  rt::KeyedMapNext(m.map);
  EXPECT_EQ(rt::KeyedMapCurrentKey(m.map), keys[51]);
}

TEST(KeyedMap, DeletingEveryOtherEntryDuringAWalk) {
  for (int64_t buckets : {1, 7, 64, 1024}) {
    MapHolder m(0, buckets);
    for (int i = 0; i < 300; ++i) Add(m.map, Key(i), i);
    const std::vector<std::u16string> order = WalkKeys(m.map);

    std::vector<std::u16string> visited;
    rt::KeyedMapReset(m.map);
    bool drop = true;
    Value* before = nullptr;
    while (auto* v = static_cast<Value*>(rt::KeyedMapNext(m.map))) {
      visited.emplace_back(rt::KeyedMapCurrentKey(m.map));
      if (drop) {
        // It hands back the element before it in walk order.
        EXPECT_EQ(rt::KeyedMapDeleteCurrent(m.map), before);
      } else {
        before = v;
      }
      drop = !drop;
    }
    EXPECT_EQ(visited, order) << buckets << " buckets";
    EXPECT_EQ(rt::KeyedMapCount(m.map), 150);
    std::vector<std::u16string> survivors;
    for (size_t i = 1; i < order.size(); i += 2) survivors.push_back(order[i]);
    EXPECT_EQ(WalkKeys(m.map), survivors);
    for (size_t i = 0; i < order.size(); ++i) EXPECT_EQ(Find(m.map, order[i]) != nullptr, i % 2 == 1);
  }
}

TEST(KeyedMap, DeletingSeveralInARowAndAfterFind) {
  MapHolder m(0, 3);
  for (int i = 0; i < 30; ++i) Add(m.map, Key(i), i);
  const std::vector<std::u16string> order = WalkKeys(m.map);

  // Three deletions without a Next in between, each handing back the entry
  // before the one deleted; then the walk goes on.
  rt::KeyedMapReset(m.map);
  for (int i = 0; i < 12; ++i) rt::KeyedMapNext(m.map);
  for (int i = 10; i >= 8; --i) {
    ASSERT_NE(rt::KeyedMapDeleteCurrent(m.map), nullptr);
    EXPECT_EQ(rt::KeyedMapCurrentKey(m.map), order[i]);
  }
  ASSERT_NE(rt::KeyedMapNext(m.map), nullptr);
  EXPECT_EQ(rt::KeyedMapCurrentKey(m.map), order[12]);
  EXPECT_EQ(rt::KeyedMapCount(m.map), 27);
  for (int i = 9; i < 12; ++i) EXPECT_EQ(Find(m.map, order[i]), nullptr);

  // After a lookup, the deletion hands back the entry before it in walk order
  // (across buckets too) and the walk goes on with the entry that followed.
  const struct {
    size_t target, before, after;
  } lookups[] = {{13, 12, 14}, {20, 19, 21}, {29, 28, 30}, {0, 30, 1}};
  for (const auto& l : lookups) {
    void* expectedBefore = l.before < order.size() ? Find(m.map, order[l.before]) : nullptr;
    ASSERT_NE(Find(m.map, order[l.target]), nullptr);
    EXPECT_EQ(rt::KeyedMapDeleteCurrent(m.map), expectedBefore) << l.target;
    void* next = rt::KeyedMapNext(m.map);
    if (l.after < order.size()) {
      EXPECT_EQ(rt::KeyedMapCurrentKey(m.map), order[l.after]) << l.target;
    } else {
      EXPECT_EQ(next, nullptr);
    }
    EXPECT_EQ(Find(m.map, order[l.target]), nullptr);
  }
  std::vector<std::u16string> left = WalkKeys(m.map);
  EXPECT_EQ(left.size(), 23u);
  EXPECT_EQ(static_cast<int64_t>(left.size()), rt::KeyedMapCount(m.map));

  // Deleting the whole map one entry at a time through the walk.
  rt::KeyedMapReset(m.map);
  while (rt::KeyedMapNext(m.map)) rt::KeyedMapDeleteCurrent(m.map);
  EXPECT_EQ(rt::KeyedMapCount(m.map), 0);
  EXPECT_TRUE(WalkKeys(m.map).empty());
  EXPECT_EQ(rt::KeyedMapDeleteCurrent(m.map), nullptr);  // nothing current
}

TEST(KeyedMap, IntegerKeys) {
  MapHolder m(rt::MapIntegerKeys, 10);
  const int64_t keys[] = {0, 1, 10, 20, 12345, INT64_MAX, -1, -10, INT64_MIN};
  for (int64_t k : keys) {
    auto* v = static_cast<Value*>(rt::KeyedMapAddInt(m.map, k, 1));
    ASSERT_NE(v, nullptr) << k;
    v->number = k;
  }
  EXPECT_EQ(rt::KeyedMapCount(m.map), 9);
  for (int64_t k : keys) {
    auto* v = static_cast<Value*>(rt::KeyedMapFindInt(m.map, k));
    ASSERT_NE(v, nullptr) << k;
    EXPECT_EQ(v->number, k);
    EXPECT_EQ(rt::KeyedMapCurrentKeyInt(m.map), k);
    EXPECT_EQ(rt::KeyedMapCurrentKey(m.map), nullptr);
  }
  EXPECT_EQ(rt::KeyedMapFindInt(m.map, 2), nullptr);
  // Bucket = key mod count: 0, 10 and 20 share bucket 0 and come first, newest first.
  rt::KeyedMapReset(m.map);
  std::vector<int64_t> walked;
  while (rt::KeyedMapNext(m.map) && walked.size() < 3) walked.push_back(rt::KeyedMapCurrentKeyInt(m.map));
  EXPECT_EQ(walked, (std::vector<int64_t>{20, 10, 0}));

  // The key kinds do not mix.
  EXPECT_EQ(rt::KeyedMapFind(m.map, u"1"), nullptr);
  EXPECT_EQ(rt::KeyedMapAdd(m.map, u"1", 1), nullptr);
  MapHolder text(0, 10);
  EXPECT_EQ(rt::KeyedMapAddInt(text.map, 1, 1), nullptr);
  EXPECT_EQ(rt::KeyedMapFindInt(text.map, 1), nullptr);
  EXPECT_EQ(rt::KeyedMapCount(m.map), 9);
  EXPECT_EQ(rt::KeyedMapCount(text.map), 0);
}

TEST(KeyedMap, CopyMergesOrReplacesAndKeepsTheSourceCursor) {
  MapHolder source(0, 13);
  for (int i = 0; i < 40; ++i) Add(source.map, Key(i), i)->extra = -i;
  Add(source.map, Key(3), 333, 0);  // a newer entry hides key 3's first one

  // Merge: shared keys take the source's element, the destination's own stay.
  MapHolder merged(0, 5);
  Add(merged.map, Key(1), 1000);
  Add(merged.map, u"own", 7);
  rt::KeyedMapReset(source.map);
  for (int i = 0; i < 6; ++i) rt::KeyedMapNext(source.map);
  const std::u16string cursorKey = rt::KeyedMapCurrentKey(source.map);
  const std::vector<std::u16string> sourceOrder = WalkKeys(source.map);
  rt::KeyedMapReset(source.map);
  for (int i = 0; i < 6; ++i) rt::KeyedMapNext(source.map);

  rt::KeyedMapCopy(source.map, merged.map, 0);
  EXPECT_EQ(rt::KeyedMapCurrentKey(source.map), cursorKey);
  rt::KeyedMapNext(source.map);
  EXPECT_EQ(rt::KeyedMapCurrentKey(source.map), sourceOrder[6]);
  EXPECT_EQ(WalkKeys(source.map), sourceOrder);

  EXPECT_EQ(rt::KeyedMapCount(merged.map), 41);
  EXPECT_EQ(Find(merged.map, Key(1))->number, 1);
  EXPECT_EQ(Find(merged.map, Key(39))->extra, -39);
  EXPECT_EQ(Find(merged.map, Key(3))->number, 333);
  EXPECT_EQ(Find(merged.map, u"own")->number, 7);

  // With clearFirst the destination ends up with the source's keys only.
  MapHolder replaced(0, 100);
  Add(replaced.map, u"own", 7);
  rt::KeyedMapCopy(source.map, replaced.map, 1);
  EXPECT_EQ(rt::KeyedMapCount(replaced.map), 40);
  EXPECT_EQ(Find(replaced.map, u"own"), nullptr);
  for (int i = 0; i < 40; ++i) EXPECT_EQ(Find(replaced.map, Key(i))->number, i == 3 ? 333 : i);

  // Integer keys, into a map with smaller elements: the common bytes are copied.
  MapHolder ints(rt::MapIntegerKeys, 8);
  for (int64_t k = -3; k < 20; ++k) static_cast<Value*>(rt::KeyedMapAddInt(ints.map, k, 1))->number = k * 10;
  MapHolder narrow(rt::MapIntegerKeys, 8, sizeof(int64_t));
  rt::KeyedMapCopy(ints.map, narrow.map, 1);
  EXPECT_EQ(rt::KeyedMapCount(narrow.map), 23);
  for (int64_t k = -3; k < 20; ++k) EXPECT_EQ(*static_cast<int64_t*>(rt::KeyedMapFindInt(narrow.map, k)), k * 10);

  // Different key kinds, or a map onto itself: nothing happens.
  rt::KeyedMapCopy(ints.map, replaced.map, 1);
  EXPECT_EQ(rt::KeyedMapCount(replaced.map), 40);
  rt::KeyedMapCopy(source.map, source.map, 1);
  EXPECT_EQ(rt::KeyedMapCount(source.map), 41);
}

TEST(KeyedMap, ClearEmptiesAndTheMapStaysUsable) {
  MapHolder m(rt::MapNoCase, 31);
  for (int i = 0; i < 200; ++i) Add(m.map, Key(i), i);
  Find(m.map, Key(5));
  rt::KeyedMapClear(m.map);
  EXPECT_EQ(rt::KeyedMapCount(m.map), 0);
  EXPECT_EQ(rt::KeyedMapCurrentKey(m.map), nullptr);
  EXPECT_EQ(Find(m.map, Key(5)), nullptr);
  EXPECT_TRUE(WalkKeys(m.map).empty());
  EXPECT_EQ(rt::KeyedMapDeleteCurrent(m.map), nullptr);
  Add(m.map, u"again", 1);
  EXPECT_EQ(Find(m.map, u"AGAIN")->number, 1);
}

TEST(KeyedMap, CreateReplacesTheHeldMapAndFreeClearsTheHolder) {
  rt::KeyedMap* holder = nullptr;
  rt::KeyedMap* first = rt::KeyedMapCreate(sizeof(Value), 0, nullptr, &holder, 8);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(holder, first);
  Add(first, u"a", 1);
  // The old map (with its entries) is freed; ASan would report it otherwise.
  rt::KeyedMap* second = rt::KeyedMapCreate(sizeof(Value), 0, nullptr, &holder, 8);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(holder, second);
  EXPECT_EQ(Find(second, u"a"), nullptr);
  rt::KeyedMapFree(second);
  EXPECT_EQ(holder, nullptr);

  // A holder that has moved on to another map is left alone.
  rt::KeyedMap* a = rt::KeyedMapCreate(sizeof(Value), 0, nullptr, &holder, 8);
  rt::KeyedMap* other = rt::KeyedMapCreate(sizeof(Value), 0, nullptr, nullptr, 8);
  holder = other;
  rt::KeyedMapFree(a);
  EXPECT_EQ(holder, other);
  rt::KeyedMapFree(other);
  rt::KeyedMapFree(nullptr);

  EXPECT_EQ(rt::KeyedMapCreate(-1, 0, nullptr, nullptr, 8), nullptr);
}

TEST(KeyedMap, RunningOutOfMemoryLeavesEverythingAsItWas) {
  MapHolder m(0, 16);
  for (int i = 0; i < 16; ++i) Add(m.map, Key(i), i);  // fills the first block of the entry pool
  Find(m.map, Key(3));

  for (int64_t successes : {0, 1}) {  // the key copy fails, or the new block for its entry
    HeapFailures failing(successes);
    EXPECT_EQ(rt::KeyedMapAdd(m.map, u"newcomer", 1), nullptr);
    EXPECT_EQ(rt::KeyedMapCount(m.map), 16);
    EXPECT_EQ(rt::KeyedMapCurrentKey(m.map), Key(3));
    EXPECT_EQ(Find(m.map, u"newcomer"), nullptr);
  }
  MapHolder ints(rt::MapIntegerKeys, 4);
  {
    HeapFailures failing(0);
    EXPECT_EQ(rt::KeyedMapAddInt(ints.map, 1, 0), nullptr);
    // Replacing needs no memory.
    EXPECT_NE(rt::KeyedMapAdd(m.map, Key(7).c_str(), 1), nullptr);
  }
  EXPECT_EQ(rt::KeyedMapCount(ints.map), 0);
  for (int i = 0; i < 16; ++i) EXPECT_NE(Find(m.map, Key(i)), nullptr);

  // Create fails at each of its steps and the holder keeps its map.
  rt::KeyedMap* holder = nullptr;
  ASSERT_NE(rt::KeyedMapCreate(8, 0, nullptr, &holder, 4), nullptr);
  rt::KeyedMap* held = holder;
  for (int64_t successes : {0, 1, 2}) {
    HeapFailures failing(successes);
    // 200-byte elements need a pool of their own: header, buckets, pool header, registry entry.
    EXPECT_EQ(rt::KeyedMapCreate(200, 0, nullptr, &holder, 4), nullptr) << successes;
    EXPECT_EQ(holder, held);
  }
  rt::KeyedMapFree(holder);
}

TEST(KeyedMap, SupportStartRegistersTheMapFieldHandlers) {
  rt::KeyedMapSupportStart();
  const rt::MapFieldHandlers* handlers = rt::MapFieldHandlersGet();
  ASSERT_NE(handlers, nullptr);
  EXPECT_EQ(handlers->create, &rt::KeyedMapCreate);
  EXPECT_EQ(handlers->copy, &rt::KeyedMapCopy);
  EXPECT_EQ(handlers->free, &rt::KeyedMapFree);

  // A structure with a map field would go through them like this.
  struct WithMapField {
    int64_t id;
    rt::KeyedMap* field;
  } a{1, nullptr}, b{2, nullptr};
  ASSERT_NE(handlers->create(sizeof(Value), rt::MapManagedElements, nullptr, &a.field, 8), nullptr);
  ASSERT_NE(handlers->create(sizeof(Value), rt::MapManagedElements, nullptr, &b.field, 8), nullptr);
  Add(a.field, u"x", 1);
  handlers->copy(a.field, b.field, 1);
  EXPECT_EQ(Find(b.field, u"x")->number, 1);
  handlers->free(a.field);
  handlers->free(b.field);
  EXPECT_EQ(a.field, nullptr);
  EXPECT_EQ(b.field, nullptr);
}

}  // namespace
