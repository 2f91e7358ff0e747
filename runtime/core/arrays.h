// Arrays declared by the application: a header followed by zero-filled elements.
#pragma once

#include "core/types.h"

namespace rt {

// Frees the array the variable holds, then allocates `count` elements and
// stores the first element's address in *variable. 0 for count < 1 or when
// memory runs out.
void* ArrayAllocate(int64_t elementSize, int64_t count, int32_t typeCode, const void* descriptor, void** variable);

// Multi-dimensional form: one block of the product of the extents; strides[i]
// receives the stride in elements of dimension i (1 for the last).
void* ArrayAllocateMulti(int64_t elementSize, int32_t typeCode, const void* descriptor, void** variable,
                         int64_t* strides, int32_t dimensions, const int64_t* extents);

// Releases the array and zeroes the variable that held it (null is ignored).
void ArrayFree(void* array);

int32_t ArrayDimensions(const void* array);
int64_t ArrayCount(const void* array);

void ArrayLibraryStart();

}  // namespace rt
