// Arrays declared by the application: a header followed by zero-filled elements.
// Elements are plain data; a descriptor is kept in the header but calls for no
// element set-up or clean-up, since no array of this system has structure
// elements.
#pragma once

#include "core/types.h"

namespace rt {

struct ArrayHeader {
  int32_t dimensions;
  int64_t elementSize;
  const void* descriptor;
  void** variable;  // the variable that holds the array (may be null)
  int64_t count;
  int32_t typeCode;
};

// Frees the array the variable holds, then allocates `count` elements and
// stores the first element's address in *variable. 0 for count < 1, a
// negative element size, a size that overflows, or when memory runs out.
void* ArrayAllocate(int64_t elementSize, int64_t count, int32_t typeCode, const void* descriptor, void** variable);

// Multi-dimensional form: one block of the product of the extents; strides[i]
// receives the stride in elements of dimension i (1 for the last). 0 when any
// extent is below 1 (the old array is freed all the same).
void* ArrayAllocateMulti(int64_t elementSize, int32_t typeCode, const void* descriptor, void** variable,
                         int64_t* strides, int32_t dimensions, const int64_t* extents);

// Releases the array and zeroes the variable that held it, if the variable
// still holds this array (null is ignored).
void ArrayFree(void* array);

const ArrayHeader* ArrayHeaderOf(const void* array);  // null for null
int32_t ArrayDimensions(const void* array);
int64_t ArrayCount(const void* array);

void ArrayLibraryStart();

}  // namespace rt
