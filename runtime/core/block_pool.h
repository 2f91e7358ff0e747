// Fixed-size element pools. Elements come from blocks that grow with the pool
// (a sixteenth of everything allocated, in steps of 16, between min and max)
// and each block goes back to the heap as soon as all its elements are free.
#pragma once

#include "core/types.h"

namespace rt {

constexpr int32_t PoolUnlocked = 2;  // no mutex: the owner's lock protects the pool
constexpr int32_t PoolShared = 4;    // one pool per (stride, flags), reference counted

struct BlockPool;

BlockPool* BlockPoolCreate(int64_t elementSize, int64_t minPerBlock, int64_t maxPerBlock, int32_t flags);
void* BlockPoolAlloc(BlockPool* pool);          // contents as last left
void* BlockPoolAllocCleared(BlockPool* pool);   // zero-filled
void BlockPoolFree(BlockPool* pool, void* element);
void BlockPoolClear(BlockPool* pool);
void BlockPoolRelease(BlockPool* pool);

}  // namespace rt
