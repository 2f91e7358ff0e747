#include "core/arrays.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

TEST(Arrays, SeventeenZeroBytesAndTheVariableHoldsThem) {
  void* variable = nullptr;
  auto* bytes = static_cast<unsigned char*>(rt::ArrayAllocate(1, 17, 1, nullptr, &variable));
  ASSERT_NE(bytes, nullptr);
  EXPECT_EQ(variable, bytes);
  for (int i = 0; i < 17; ++i) EXPECT_EQ(bytes[i], 0) << i;
  EXPECT_EQ(rt::ArrayCount(bytes), 17);
  EXPECT_EQ(rt::ArrayDimensions(bytes), 1);
  const rt::ArrayHeader* header = rt::ArrayHeaderOf(bytes);
  EXPECT_EQ(header->elementSize, 1);
  EXPECT_EQ(header->typeCode, 1);
  EXPECT_EQ(header->variable, &variable);
  EXPECT_EQ(header->descriptor, nullptr);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(bytes) % 16, 0u);
  bytes[16] = 0xFF;  // the last element is inside the block

  rt::ArrayFree(bytes);
  EXPECT_EQ(variable, nullptr);
  rt::ArrayFree(nullptr);
}

TEST(Arrays, ReallocationFreesTheFirstArray) {
  void* variable = nullptr;
  rt::ArrayAllocate(8, 4, 0, nullptr, &variable);
  static_cast<int64_t*>(variable)[3] = -1;
  // Under AddressSanitizer a second array that did not free the first shows as a leak.
  void* second = rt::ArrayAllocate(8, 100, 0, nullptr, &variable);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(variable, second);
  EXPECT_EQ(static_cast<int64_t*>(second)[3], 0);
  EXPECT_EQ(rt::ArrayCount(second), 100);

  // A count below 1 fails, with the old array already gone.
  EXPECT_EQ(rt::ArrayAllocate(8, 0, 0, nullptr, &variable), nullptr);
  EXPECT_EQ(variable, nullptr);
  EXPECT_EQ(rt::ArrayAllocate(8, -3, 0, nullptr, &variable), nullptr);
}

TEST(Arrays, ImpossibleSizesFailCleanly) {
  void* variable = nullptr;
  EXPECT_EQ(rt::ArrayAllocate(-1, 4, 0, nullptr, &variable), nullptr);
  EXPECT_EQ(rt::ArrayAllocate(INT64_MAX, 4, 0, nullptr, &variable), nullptr);
  EXPECT_EQ(rt::ArrayAllocate(1 << 20, INT64_MAX / 2, 0, nullptr, &variable), nullptr);
  EXPECT_EQ(variable, nullptr);
  // Without a variable the array is still made, and freed on its own.
  void* loose = rt::ArrayAllocate(2, 3, 0, nullptr, nullptr);
  ASSERT_NE(loose, nullptr);
  rt::ArrayFree(loose);
}

TEST(Arrays, FreeLeavesAVariableThatHoldsSomethingElse) {
  void* variable = nullptr;
  void* first = rt::ArrayAllocate(1, 4, 0, nullptr, &variable);
  int other = 0;
  variable = &other;
  rt::ArrayFree(first);
  EXPECT_EQ(variable, &other);
}

TEST(Arrays, MultiDimensionalStridesAndOneBlock) {
  void* variable = nullptr;
  int64_t strides[3] = {-1, -1, -1};
  const int64_t extents[3] = {2, 3, 4};
  auto* cells = static_cast<int32_t*>(rt::ArrayAllocateMulti(4, 5, nullptr, &variable, strides, 3, extents));
  ASSERT_NE(cells, nullptr);
  EXPECT_EQ(variable, cells);
  EXPECT_EQ(strides[0], 12);
  EXPECT_EQ(strides[1], 4);
  EXPECT_EQ(strides[2], 1);
  EXPECT_EQ(rt::ArrayDimensions(cells), 3);
  EXPECT_EQ(rt::ArrayCount(cells), 24);
  for (int i = 0; i < 24; ++i) EXPECT_EQ(cells[i], 0);
  cells[1 * strides[0] + 2 * strides[1] + 3 * strides[2]] = 7;  // the last cell
  EXPECT_EQ(cells[23], 7);

  // Any extent below 1 fails; the previous array is freed all the same.
  const int64_t empty[2] = {3, 0};
  EXPECT_EQ(rt::ArrayAllocateMulti(4, 5, nullptr, &variable, strides, 2, empty), nullptr);
  EXPECT_EQ(variable, nullptr);
  const int64_t negative[1] = {-1};
  EXPECT_EQ(rt::ArrayAllocateMulti(4, 5, nullptr, &variable, strides, 1, negative), nullptr);
  EXPECT_EQ(rt::ArrayAllocateMulti(4, 5, nullptr, &variable, strides, 0, extents), nullptr);
  const int64_t huge[2] = {INT64_MAX / 2, 3};
  EXPECT_EQ(rt::ArrayAllocateMulti(1, 5, nullptr, &variable, strides, 2, huge), nullptr);

  const int64_t one[1] = {17};
  void* flat = rt::ArrayAllocateMulti(1, 1, nullptr, &variable, strides, 1, one);
  ASSERT_NE(flat, nullptr);
  EXPECT_EQ(strides[0], 1);
  EXPECT_EQ(rt::ArrayCount(flat), 17);
  rt::ArrayFree(flat);
  EXPECT_EQ(variable, nullptr);
}

}  // namespace
