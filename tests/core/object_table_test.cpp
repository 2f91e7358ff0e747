#include "core/object_table.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

// The runtime reports running out of memory as a null result; the sanitizers
// must let the allocator say so rather than stop the program.
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1"; }
extern "C" const char* __tsan_default_options() { return "allocator_may_return_null=1"; }

namespace {

// A library in miniature: records start with a native handle (the presence
// word), and its free function has the shape every library's has.
struct Record {
  intptr_t handle;
  int64_t payload;
};

rt::ObjectTable* g_table = nullptr;
std::vector<rt::ObjectNumber> g_freed;

void FreeObject(rt::ObjectNumber number) {
  if (number == rt::DynamicNumber) return rt::ObjectTableReleaseAll(g_table);
  if (rt::ObjectTableGet(g_table, number)) {
    g_freed.push_back(number);
    rt::ObjectTableRelease(g_table, number);
  }
}

// Tables live as long as the process; the ones the tests make are kept here.
rt::ObjectTable* Kept(rt::ObjectTable* table) {
  static auto* tables = new std::vector<rt::ObjectTable*>;
  tables->push_back(table);
  return table;
}

class ObjectTableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_freed.clear();
    g_table = Kept(rt::ObjectTableCreate(sizeof(Record), 16, FreeObject));
    ASSERT_NE(g_table, nullptr);
  }
  void TearDown() override { rt::ObjectTableReleaseAll(g_table); }

  static Record* Open(rt::ObjectNumber number, intptr_t handle) {
    auto* record = static_cast<Record*>(rt::ObjectTableAllocate(g_table, number));
    if (record) record->handle = handle;
    return record;
  }
};

TEST_F(ObjectTableTest, StaticSlotsGrowLinearlyAndOnlyLiveRecordsCount) {
  Record* r = Open(20, 7);
  ASSERT_NE(r, nullptr);
  // 36 slots now: 16..35 are static numbers that read as absent.
  for (rt::ObjectNumber n = 0; n < 36; ++n) {
    if (n != 20) {
      EXPECT_EQ(rt::ObjectTableCheck(g_table, n), 0) << n;
    }
  }
  EXPECT_EQ(rt::ObjectTableCheck(g_table, 20), reinterpret_cast<intptr_t>(r));
  Record* last = Open(35, 9);  // the last slot: no further growth
  EXPECT_EQ(rt::ObjectTableGet(g_table, 35), last);
  EXPECT_EQ(rt::ObjectTableGet(g_table, 20), r);

  // A record without its presence word is absent to Get, Check and the walk.
  last->handle = 0;
  r->handle = 0;
  EXPECT_EQ(rt::ObjectTableGet(g_table, 35), nullptr);
  EXPECT_EQ(rt::ObjectTableCheck(g_table, 35), 0);
  rt::ObjectTableIterate(g_table);
  rt::ObjectNumber number = -7;
  EXPECT_EQ(rt::ObjectTableNext(g_table, &number), nullptr);
  EXPECT_EQ(number, -7);
}

TEST_F(ObjectTableTest, ReallocatingALiveNumberFreesItAndReturnsTheSameZeroedRecord) {
  Record* r = Open(3, 42);
  r->payload = 1234;
  EXPECT_EQ(rt::ObjectTableAllocate(g_table, 3), r);
  EXPECT_EQ(g_freed, std::vector<rt::ObjectNumber>{3});
  EXPECT_EQ(r->handle, 0);
  EXPECT_EQ(r->payload, 0);

  // A released record stays for the next use of its number.
  r->handle = 5;
  rt::ObjectTableRelease(g_table, 3);
  EXPECT_EQ(r->handle, 0);
  EXPECT_EQ(rt::ObjectTableAllocate(g_table, 3), r);
  EXPECT_EQ(g_freed.size(), 1u);  // nothing was live the second time
}

TEST_F(ObjectTableTest, DynamicHandlesAreCheckedAgainstTheTable) {
  Record* a = Open(rt::DynamicNumber, 1);
  Record* b = Open(rt::DynamicNumber, 2);
  ASSERT_TRUE(a && b && a != b);
  const rt::ObjectNumber ha = rt::ObjectHandle(a), hb = rt::ObjectHandle(b);
  EXPECT_EQ(rt::ObjectTableCheck(g_table, ha), ha);
  EXPECT_EQ(rt::ObjectTableGet(g_table, hb), b);

  rt::ObjectTableRelease(g_table, ha);
  EXPECT_EQ(rt::ObjectTableCheck(g_table, ha), 0);
  EXPECT_EQ(rt::ObjectTableGet(g_table, ha), nullptr);
  rt::ObjectTableRelease(g_table, ha);  // a second release is harmless
  EXPECT_EQ(rt::ObjectTableCheck(g_table, hb), hb);

  // The presence word of a dynamic record counts for Get, not for Check.
  b->handle = 0;
  EXPECT_EQ(rt::ObjectTableGet(g_table, hb), nullptr);
  EXPECT_EQ(rt::ObjectTableCheck(g_table, hb), hb);
}

TEST_F(ObjectTableTest, ReleaseAllFreesStaticAscendingThenDynamicNewestFirst) {
  Open(7, 1);
  Open(0, 1);
  Open(3, 1);
  Record* d1 = Open(rt::DynamicNumber, 1);
  Record* d2 = Open(rt::DynamicNumber, 1);
  Open(9, 0);                             // never opened: not visited
  Record* dead = Open(rt::DynamicNumber, 0);  // creation failed, never released

  // The free function releases nothing for the dead record; the walk must
  // still get past it instead of being handed it for ever.
  FreeObject(rt::DynamicNumber);
  const std::vector<rt::ObjectNumber> expected{0, 3, 7, rt::ObjectHandle(d2), rt::ObjectHandle(d1)};
  EXPECT_EQ(g_freed, expected);
  EXPECT_EQ(rt::ObjectTableCheck(g_table, rt::ObjectHandle(dead)), 0);
  EXPECT_EQ(rt::ObjectTableCheck(g_table, rt::ObjectHandle(d1)), 0);
}

TEST_F(ObjectTableTest, WalkReturnsTheDynamicHeadUntilItIsFreed) {
  Open(1, 1);
  Record* d = Open(rt::DynamicNumber, 1);
  rt::ObjectTableIterate(g_table);
  rt::ObjectNumber number = -1;
  EXPECT_NE(rt::ObjectTableNext(g_table, &number), nullptr);
  EXPECT_EQ(number, 1);
  EXPECT_EQ(rt::ObjectTableNext(g_table, &number), d);
  EXPECT_EQ(rt::ObjectTableNext(g_table, &number), d);
  rt::ObjectTableRelease(g_table, number);
  EXPECT_EQ(rt::ObjectTableNext(g_table, &number), nullptr);
  // The walk is over and its lock given back; a stray Next changes nothing.
  EXPECT_EQ(rt::ObjectTableNext(g_table, &number), nullptr);
}

TEST_F(ObjectTableTest, InvalidNumbersAreRefusedAndGarbageIsNeverDereferenced) {
  Record* r = Open(4, 11);
  Record* d = Open(rt::DynamicNumber, 1);
  for (rt::ObjectNumber n : {int64_t{-2}, INT64_MIN, INT64_MAX /* + increment overflows */,
                             int64_t{1} << 61 /* larger than any object */, int64_t{1} << 50 /* no memory */}) {
    EXPECT_EQ(rt::ObjectTableAllocate(g_table, n), nullptr) << n;
  }
  EXPECT_EQ(rt::ObjectTableCheck(g_table, 15), 0);  // still 16 slots
  EXPECT_TRUE(g_freed.empty());

  rt::ObjectTable* other = Kept(rt::ObjectTableCreate(sizeof(Record), 16, nullptr));
  auto* foreign = static_cast<Record*>(rt::ObjectTableAllocate(other, rt::DynamicNumber));
  foreign->handle = 1;
  const rt::ObjectNumber garbage[] = {12345, int64_t{1} << 40, rt::ObjectHandle(d) + 1, rt::ObjectHandle(d) + 8,
                                      rt::ObjectHandle(&g_freed), rt::ObjectHandle(foreign), -2, rt::DynamicNumber};
  for (rt::ObjectNumber n : garbage) {
    EXPECT_EQ(rt::ObjectTableGet(g_table, n), nullptr) << n;
    EXPECT_EQ(rt::ObjectTableCheck(g_table, n), 0) << n;
    rt::ObjectTableRelease(g_table, n);
  }
  EXPECT_EQ(rt::ObjectTableGet(g_table, 4), r);
  EXPECT_EQ(rt::ObjectTableGet(g_table, rt::ObjectHandle(d)), d);
  EXPECT_EQ(rt::ObjectTableGet(other, rt::ObjectHandle(foreign)), foreign);
  rt::ObjectTableRelease(other, rt::ObjectHandle(foreign));
}

TEST_F(ObjectTableTest, ManyDynamicObjectsStayFindableAsOthersGo) {
  // Enough handles to grow the look-up several times, half released in an
  // order unrelated to creation.
  constexpr int kCount = 1000;
  std::vector<Record*> records;
  for (int i = 0; i < kCount; ++i) records.push_back(Open(rt::DynamicNumber, i + 1));
  std::vector<bool> live(kCount, true);
  for (int step = 0, i = 0; step < kCount / 2; ++step) {
    i = (i + 379) % kCount;  // 379 is prime to 1000: distinct indices
    rt::ObjectTableRelease(g_table, rt::ObjectHandle(records[i]));
    live[i] = false;
  }
  for (int i = 0; i < kCount; ++i) {
    const rt::ObjectNumber h = rt::ObjectHandle(records[i]);
    ASSERT_EQ(rt::ObjectTableCheck(g_table, h), live[i] ? h : 0) << i;
  }
  rt::ObjectTableReleaseAll(g_table);
  EXPECT_EQ(g_freed.size(), static_cast<size_t>(kCount / 2));
}

TEST(ObjectTableEdges, NoFreeFunctionSmallRecordsAndBadTables) {
  // A 32-bit descriptor record: its presence word stays inside the record.
  rt::ObjectTable* table = Kept(rt::ObjectTableCreate(4, 16, nullptr));
  ASSERT_NE(table, nullptr);
  auto* fd = static_cast<int32_t*>(rt::ObjectTableAllocate(table, 1));
  *fd = 3;
  EXPECT_EQ(rt::ObjectTableGet(table, 1), fd);
  // Without a free function a live record comes back unchanged, and
  // ReleaseAll leaves the table alone.
  EXPECT_EQ(rt::ObjectTableAllocate(table, 1), fd);
  rt::ObjectTableReleaseAll(table);
  EXPECT_EQ(*fd, 3);
  rt::ObjectTableRelease(table, 1);
  EXPECT_EQ(*fd, 0);

  EXPECT_EQ(rt::ObjectTableCreate(8, 0, nullptr), nullptr);
  EXPECT_EQ(rt::ObjectTableCreate(-1, 16, nullptr), nullptr);
  EXPECT_EQ(rt::ObjectTableAllocate(nullptr, 0), nullptr);
  EXPECT_EQ(rt::ObjectTableGet(nullptr, 0), nullptr);
  EXPECT_EQ(rt::ObjectTableCheck(nullptr, 0), 0);
}

}  // namespace
