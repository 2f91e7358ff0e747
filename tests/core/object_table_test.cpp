#include "core/object_table.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

// The runtime reports running out of memory as a null result; the sanitizers
// must let the allocator say so rather than stop the program.
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1"; }
extern "C" const char* __tsan_default_options() { return "allocator_may_return_null=1"; }

namespace {

// A library in miniature: records start with a native handle (the presence
// word), and its free function follows the shape every library uses.
struct Record {
  intptr_t handle;
  int64_t payload;
};

rt::ObjectTable* g_table = nullptr;
std::vector<rt::ObjectNumber> g_freed;

// Tables live as long as the process; every table a test makes is kept here.
rt::ObjectTable* Kept(rt::ObjectTable* table) {
  static std::vector<rt::ObjectTable*>* tables = new std::vector<rt::ObjectTable*>;
  tables->push_back(table);
  return table;
}

void FreeObject(rt::ObjectNumber number) {
  if (number == rt::DynamicNumber) {
    rt::ObjectTableReleaseAll(g_table);
    return;
  }
  if (rt::ObjectTableGet(g_table, number)) {
    g_freed.push_back(number);
    rt::ObjectTableRelease(g_table, number);
  }
}

class ObjectTableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_freed.clear();
    g_table = Kept(rt::ObjectTableCreate(sizeof(Record), 16, FreeObject));
    ASSERT_NE(g_table, nullptr);
  }
  // Tables live for the whole process; each test's table is emptied so that
  // nothing it holds is reported as leaked.
  void TearDown() override { rt::ObjectTableReleaseAll(g_table); }

  Record* Open(rt::ObjectNumber number, intptr_t handle) {
    auto* record = static_cast<Record*>(rt::ObjectTableAllocate(g_table, number));
    if (record) record->handle = handle;
    return record;
  }
};

bool IsZero(const void* p, size_t n) {
  const auto* bytes = static_cast<const unsigned char*>(p);
  for (size_t i = 0; i < n; ++i) {
    if (bytes[i]) return false;
  }
  return true;
}

TEST_F(ObjectTableTest, StaticNumberBeyondTheSlotsGrowsLinearly) {
  Record* r = Open(20, 7);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(rt::ObjectTableGet(g_table, 20), r);
  // 36 slots now: 16..35 are in range but absent, so their numbers are not
  // taken as handles and read as nothing.
  for (rt::ObjectNumber n = 0; n < 36; ++n) {
    if (n == 20) continue;
    EXPECT_EQ(rt::ObjectTableGet(g_table, n), nullptr) << n;
    EXPECT_EQ(rt::ObjectTableCheck(g_table, n), 0) << n;
  }
  // 35 is the last slot: it is used without growing again.
  Record* last = Open(35, 9);
  ASSERT_NE(last, nullptr);
  EXPECT_EQ(rt::ObjectTableGet(g_table, 20), r);
  EXPECT_EQ(rt::ObjectTableCheck(g_table, 35), reinterpret_cast<intptr_t>(last));
}

TEST_F(ObjectTableTest, ReallocatingALiveNumberFreesItAndReturnsTheSameZeroedRecord) {
  Record* r = Open(3, 42);
  r->payload = 1234;
  auto* again = static_cast<Record*>(rt::ObjectTableAllocate(g_table, 3));
  EXPECT_EQ(again, r);
  EXPECT_EQ(g_freed, std::vector<rt::ObjectNumber>{3});
  EXPECT_TRUE(IsZero(again, sizeof(Record)));
  EXPECT_EQ(rt::ObjectTableGet(g_table, 3), nullptr);  // absent until filled
}

TEST_F(ObjectTableTest, ReleasedStaticRecordStaysForTheNextUse) {
  Record* r = Open(5, 1);
  r->payload = 99;
  rt::ObjectTableRelease(g_table, 5);
  EXPECT_TRUE(IsZero(r, sizeof(Record)));
  EXPECT_EQ(rt::ObjectTableGet(g_table, 5), nullptr);
  EXPECT_EQ(rt::ObjectTableCheck(g_table, 5), 0);
  EXPECT_EQ(rt::ObjectTableAllocate(g_table, 5), r);
  EXPECT_TRUE(g_freed.empty());  // nothing was live, nothing to close
}

TEST_F(ObjectTableTest, RecordWithoutPresenceWordIsAbsent) {
  auto* r = static_cast<Record*>(rt::ObjectTableAllocate(g_table, 2));
  ASSERT_NE(r, nullptr);
  r->payload = 5;  // filled, but no native handle
  EXPECT_EQ(rt::ObjectTableGet(g_table, 2), nullptr);
  EXPECT_EQ(rt::ObjectTableCheck(g_table, 2), 0);
  rt::ObjectTableIterate(g_table);
  rt::ObjectNumber number = -7;
  EXPECT_EQ(rt::ObjectTableNext(g_table, &number), nullptr);
  EXPECT_EQ(number, -7);
}

TEST_F(ObjectTableTest, DynamicHandlesAreDistinctAndCheckedAgainstTheList) {
  Record* a = Open(rt::DynamicNumber, 1);
  Record* b = Open(rt::DynamicNumber, 2);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  ASSERT_NE(a, b);
  const rt::ObjectNumber ha = rt::ObjectHandle(a), hb = rt::ObjectHandle(b);
  EXPECT_EQ(rt::ObjectTableCheck(g_table, ha), ha);
  EXPECT_EQ(rt::ObjectTableCheck(g_table, hb), hb);
  EXPECT_EQ(rt::ObjectTableGet(g_table, ha), a);

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
  Open(9, 0);  // allocated but never opened: not visited

  rt::ObjectTableReleaseAll(g_table);
  const std::vector<rt::ObjectNumber> expected{0, 3, 7, rt::ObjectHandle(d2), rt::ObjectHandle(d1)};
  EXPECT_EQ(g_freed, expected);
  for (rt::ObjectNumber n : {0, 3, 7}) EXPECT_EQ(rt::ObjectTableGet(g_table, n), nullptr);
  EXPECT_EQ(rt::ObjectTableCheck(g_table, rt::ObjectHandle(d1)), 0);

  // Freeing "all" through the library's own free function does the same.
  g_freed.clear();
  Open(1, 1);
  FreeObject(rt::DynamicNumber);
  EXPECT_EQ(g_freed, std::vector<rt::ObjectNumber>{1});
}

TEST_F(ObjectTableTest, ReleaseAllEndsEvenWhenTheFreeFunctionLeavesADynamicRecord) {
  // A dynamic record whose creation failed and was never released: the free
  // function finds no live object and releases nothing.
  Record* dead = Open(rt::DynamicNumber, 0);
  Record* live = Open(rt::DynamicNumber, 3);
  rt::ObjectTableReleaseAll(g_table);
  EXPECT_EQ(g_freed, std::vector<rt::ObjectNumber>{rt::ObjectHandle(live)});
  EXPECT_EQ(rt::ObjectTableCheck(g_table, rt::ObjectHandle(dead)), 0);
}

TEST_F(ObjectTableTest, WalkReturnsTheDynamicHeadUntilItIsFreed) {
  Open(1, 1);
  Record* d = Open(rt::DynamicNumber, 1);
  rt::ObjectTableIterate(g_table);
  rt::ObjectNumber number = -1;
  EXPECT_NE(rt::ObjectTableNext(g_table, &number), nullptr);
  EXPECT_EQ(number, 1);
  EXPECT_EQ(rt::ObjectTableNext(g_table, &number), d);
  EXPECT_EQ(rt::ObjectTableNext(g_table, &number), d);  // still there
  EXPECT_EQ(number, rt::ObjectHandle(d));
  rt::ObjectTableRelease(g_table, number);
  EXPECT_EQ(rt::ObjectTableNext(g_table, &number), nullptr);
  // The walk has ended and let go of the lock; a stray Next is a no-op.
  EXPECT_EQ(rt::ObjectTableNext(g_table, &number), nullptr);
}

TEST_F(ObjectTableTest, InvalidNumbersAreRefusedAndLeaveTheTableUnchanged) {
  Record* r = Open(4, 11);
  EXPECT_EQ(rt::ObjectTableAllocate(g_table, -2), nullptr);
  EXPECT_EQ(rt::ObjectTableAllocate(g_table, INT64_MIN), nullptr);
  EXPECT_EQ(rt::ObjectTableAllocate(g_table, INT64_MAX), nullptr);           // number + increment overflows
  EXPECT_EQ(rt::ObjectTableAllocate(g_table, INT64_MAX - 16), nullptr);      // byte size overflows
  EXPECT_EQ(rt::ObjectTableAllocate(g_table, int64_t{1} << 61), nullptr);    // larger than any object
  EXPECT_EQ(rt::ObjectTableAllocate(g_table, int64_t{1} << 50), nullptr);    // no memory for that
  // Still 16 slots: 16 is out of range, so it is not a static number yet.
  EXPECT_EQ(rt::ObjectTableCheck(g_table, 15), 0);
  EXPECT_EQ(rt::ObjectTableGet(g_table, 4), r);
  EXPECT_TRUE(g_freed.empty());
  rt::ObjectTableReleaseAll(g_table);
  EXPECT_EQ(g_freed, std::vector<rt::ObjectNumber>{4});
}

TEST_F(ObjectTableTest, GarbageNumbersAreNeverDereferenced) {
  Record* d = Open(rt::DynamicNumber, 1);
  const rt::ObjectNumber garbage[] = {12345,
                                      int64_t{1} << 40,
                                      rt::ObjectHandle(d) + 1,  // odd address
                                      rt::ObjectHandle(d) + 8,  // aligned, inside the record
                                      rt::ObjectHandle(&g_freed),
                                      -2,
                                      rt::DynamicNumber,
                                      INT64_MIN,
                                      INT64_MAX};
  for (rt::ObjectNumber n : garbage) {
    EXPECT_EQ(rt::ObjectTableGet(g_table, n), nullptr) << n;
    EXPECT_EQ(rt::ObjectTableCheck(g_table, n), 0) << n;
    rt::ObjectTableRelease(g_table, n);
  }
  EXPECT_EQ(rt::ObjectTableGet(g_table, rt::ObjectHandle(d)), d);
  // A handle of another table is garbage to this one.
  rt::ObjectTable* other = Kept(rt::ObjectTableCreate(sizeof(Record), 16, nullptr));
  auto* foreign = static_cast<Record*>(rt::ObjectTableAllocate(other, rt::DynamicNumber));
  foreign->handle = 1;
  EXPECT_EQ(rt::ObjectTableGet(g_table, rt::ObjectHandle(foreign)), nullptr);
  rt::ObjectTableRelease(g_table, rt::ObjectHandle(foreign));
  EXPECT_EQ(rt::ObjectTableGet(other, rt::ObjectHandle(foreign)), foreign);
  rt::ObjectTableRelease(other, rt::ObjectHandle(foreign));
}

TEST_F(ObjectTableTest, ManyDynamicObjectsStayFindableAsOthersGo) {
  // Enough handles to make the look-up grow several times, released in an
  // order unrelated to creation so that removals reshuffle it.
  constexpr int kCount = 1000;
  std::vector<Record*> records;
  for (int i = 0; i < kCount; ++i) records.push_back(Open(rt::DynamicNumber, i + 1));
  std::vector<bool> live(kCount, true);
  for (int step = 0, i = 0; step < kCount / 2; ++step) {
    i = (i + 379) % kCount;  // 379 is prime to 1000: visits distinct indices
    rt::ObjectTableRelease(g_table, rt::ObjectHandle(records[i]));
    live[i] = false;
  }
  int found = 0;
  for (int i = 0; i < kCount; ++i) {
    const rt::ObjectNumber h = rt::ObjectHandle(records[i]);
    if (live[i]) {
      ++found;
      ASSERT_EQ(rt::ObjectTableGet(g_table, h), records[i]) << i;
      ASSERT_EQ(rt::ObjectTableCheck(g_table, h), h) << i;
      ASSERT_EQ(records[i]->handle, i + 1);
    } else {
      ASSERT_EQ(rt::ObjectTableCheck(g_table, h), 0) << i;
    }
  }
  EXPECT_EQ(found, kCount / 2);
  rt::ObjectTableReleaseAll(g_table);
  EXPECT_EQ(g_freed.size(), static_cast<size_t>(kCount / 2));
  for (int i = 0; i < kCount; ++i) {
    if (live[i]) {
      ASSERT_EQ(rt::ObjectTableCheck(g_table, rt::ObjectHandle(records[i])), 0);
    }
  }
}

TEST(ObjectTableEdges, TableWithoutFreeFunction) {
  rt::ObjectTable* table = Kept(rt::ObjectTableCreate(sizeof(Record), 16, nullptr));
  auto* r = static_cast<Record*>(rt::ObjectTableAllocate(table, 0));
  r->handle = 5;
  r->payload = 6;
  // Without a free function a live record comes back unchanged...
  EXPECT_EQ(rt::ObjectTableAllocate(table, 0), r);
  EXPECT_EQ(r->payload, 6);
  // ...and ReleaseAll leaves the table alone.
  rt::ObjectTableReleaseAll(table);
  EXPECT_EQ(rt::ObjectTableGet(table, 0), r);
  rt::ObjectTableRelease(table, 0);
}

TEST(ObjectTableEdges, RecordsSmallerThanAWordAndBadTables) {
  // A 32-bit descriptor record: its presence word stays inside the record.
  rt::ObjectTable* table = Kept(rt::ObjectTableCreate(4, 16, nullptr));
  ASSERT_NE(table, nullptr);
  auto* fd = static_cast<int32_t*>(rt::ObjectTableAllocate(table, 1));
  EXPECT_EQ(rt::ObjectTableGet(table, 1), nullptr);
  *fd = 3;
  EXPECT_EQ(rt::ObjectTableGet(table, 1), fd);
  rt::ObjectTableRelease(table, 1);
  EXPECT_EQ(*fd, 0);

  EXPECT_EQ(rt::ObjectTableCreate(8, 0, nullptr), nullptr);
  EXPECT_EQ(rt::ObjectTableCreate(-1, 16, nullptr), nullptr);
  EXPECT_EQ(rt::ObjectTableAllocate(nullptr, 0), nullptr);
  EXPECT_EQ(rt::ObjectTableGet(nullptr, 0), nullptr);
  EXPECT_EQ(rt::ObjectTableCheck(nullptr, 0), 0);
  rt::ObjectTableRelease(nullptr, 0);
  rt::ObjectTableReleaseAll(nullptr);
}

}  // namespace
