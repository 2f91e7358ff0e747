#include "core/arrays.h"

#include "core/memory.h"

namespace rt {

namespace {

// The elements start right after the header, kept at a multiple of 16 so
// that they are as aligned as any heap block.
constexpr size_t kHeaderSize = (sizeof(ArrayHeader) + 15) & ~size_t{15};

ArrayHeader* HeaderOf(void* array) {
  return reinterpret_cast<ArrayHeader*>(static_cast<unsigned char*>(array) - kHeaderSize);
}

void* AllocateBlock(int64_t elementSize, int64_t count, int32_t dimensions, int32_t typeCode,
                    const void* descriptor, void** variable) {
  if (elementSize < 0 || count < 1) return nullptr;
  const uint64_t bytesLimit = SIZE_MAX - kHeaderSize;
  if (elementSize != 0 && static_cast<uint64_t>(count) > bytesLimit / static_cast<uint64_t>(elementSize)) {
    return nullptr;
  }
  const size_t bytes = static_cast<size_t>(count) * static_cast<size_t>(elementSize);
  auto* header = static_cast<ArrayHeader*>(SizedAlloc(kHeaderSize + bytes));
  if (!header) return nullptr;
  *header = ArrayHeader{dimensions, elementSize, descriptor, variable, count, typeCode};
  void* first = reinterpret_cast<unsigned char*>(header) + kHeaderSize;
  if (variable) *variable = first;
  return first;
}

}  // namespace

void* ArrayAllocate(int64_t elementSize, int64_t count, int32_t typeCode, const void* descriptor, void** variable) {
  if (variable) ArrayFree(*variable);
  return AllocateBlock(elementSize, count, 1, typeCode, descriptor, variable);
}

void* ArrayAllocateMulti(int64_t elementSize, int32_t typeCode, const void* descriptor, void** variable,
                         int64_t* strides, int32_t dimensions, const int64_t* extents) {
  if (variable) ArrayFree(*variable);
  if (dimensions < 1 || !extents) return nullptr;
  int64_t count = 1;
  for (int32_t i = 0; i < dimensions; ++i) {
    if (extents[i] < 1) return nullptr;
    if (count > INT64_MAX / extents[i]) return nullptr;
    count *= extents[i];
  }
  void* first = AllocateBlock(elementSize, count, dimensions, typeCode, descriptor, variable);
  if (first && strides) {
    int64_t stride = 1;
    for (int32_t i = dimensions - 1; i >= 0; --i) {
      strides[i] = stride;
      stride *= extents[i];
    }
  }
  return first;
}

void ArrayFree(void* array) {
  if (!array) return;
  ArrayHeader* header = HeaderOf(array);
  // A variable that has since been given another array keeps it.
  if (header->variable && *header->variable == array) *header->variable = nullptr;
  SizedFree(header);
}

const ArrayHeader* ArrayHeaderOf(const void* array) {
  return array ? HeaderOf(const_cast<void*>(array)) : nullptr;
}

int32_t ArrayDimensions(const void* array) { return array ? ArrayHeaderOf(array)->dimensions : 0; }

int64_t ArrayCount(const void* array) { return array ? ArrayHeaderOf(array)->count : 0; }

// Plain elements need no copy or clean-up operations to be registered.
void ArrayLibraryStart() {}

}  // namespace rt
