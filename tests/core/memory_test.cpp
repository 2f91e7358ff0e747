#include "core/memory.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

namespace {

TEST(SizedBlocks, AllocIsZeroFilledAndRecordsItsLength) {
  auto* p = static_cast<unsigned char*>(rt::SizedAlloc(33));
  ASSERT_NE(p, nullptr);
  for (int i = 0; i < 33; ++i) EXPECT_EQ(p[i], 0);
  uint64_t word;
  std::memcpy(&word, p - sizeof word, sizeof word);
  EXPECT_EQ(word, 33u);
  EXPECT_EQ(rt::SizedLength(p), 33u);
  rt::SizedFree(p);
  rt::SizedFree(nullptr);
}

TEST(SizedBlocks, ResizeKeepsContentsAndZeroFillsGrowth) {
  auto* p = static_cast<unsigned char*>(rt::SizedAlloc(4));
  std::memset(p, 0xAB, 4);
  p = static_cast<unsigned char*>(rt::SizedResize(p, 4096));
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p[3], 0xAB);
  for (int i = 4; i < 4096; ++i) ASSERT_EQ(p[i], 0) << i;
  EXPECT_EQ(rt::SizedLength(p), 4096u);
  p = static_cast<unsigned char*>(rt::SizedResize(p, 2));
  EXPECT_EQ(p[1], 0xAB);
  EXPECT_EQ(rt::SizedResize(nullptr, 8), nullptr);
  // An impossible size fails and leaves the block valid.
  EXPECT_EQ(rt::SizedResize(p, SIZE_MAX - 4), nullptr);
  EXPECT_EQ(p[0], 0xAB);
  rt::SizedFree(p);
}

TEST(NodeLists, PushGoesToHeadAndRemoveRelinks) {
  rt::NodeListHead head = nullptr;
  void* a = rt::NodeListPush(&head, 8);
  void* b = rt::NodeListPush(&head, 8);
  void* c = rt::NodeListPush(&head, 8);
  EXPECT_EQ(head, c);
  EXPECT_EQ(rt::NodeListNext(c), b);
  EXPECT_EQ(rt::NodeListNext(b), a);
  EXPECT_EQ(rt::NodeListNext(a), nullptr);

  rt::NodeListRemove(&head, b);  // middle
  EXPECT_EQ(rt::NodeListNext(c), a);
  EXPECT_EQ(rt::NodeListContains(head, b), nullptr);
  rt::NodeListRemove(&head, c);  // head
  EXPECT_EQ(head, a);
  EXPECT_EQ(rt::NodeListContains(head, a), a);
  rt::NodeListRemove(&head, a);
  EXPECT_EQ(head, nullptr);
}

}  // namespace
