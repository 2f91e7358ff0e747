// Fixed-size element pools. Elements come from blocks that grow with the pool
// (a sixteenth of everything allocated, in steps of 16, between min and max)
// and each block goes back to the heap as soon as all its elements are free.
#pragma once

#include "core/types.h"

namespace rt {

constexpr int32_t PoolUnlocked = 2;  // no mutex: the owner's lock protects the pool
constexpr int32_t PoolShared = 4;    // one pool per (stride, flags), reference counted

struct BlockPool;

// Null for a negative or impossibly large element size, or when memory runs
// out. A per-block minimum below 1 is taken as 1, a maximum below the
// minimum as the minimum. With PoolShared the first creator's limits hold.
BlockPool* BlockPoolCreate(int64_t elementSize, int64_t minPerBlock, int64_t maxPerBlock, int32_t flags);
void* BlockPoolAlloc(BlockPool* pool);          // contents as last left; null when memory runs out
void* BlockPoolAllocCleared(BlockPool* pool);   // zero-filled; null when memory runs out
void BlockPoolFree(BlockPool* pool, void* element);  // null is ignored
void BlockPoolClear(BlockPool* pool);           // every element of every block is gone
void BlockPoolRelease(BlockPool* pool);         // drops one reference; null is ignored

// A snapshot for diagnostics and tests.
struct BlockPoolInfo {
  int64_t stride;           // bytes per element, header word included
  int64_t total;            // elements in all blocks
  int64_t inUse;            // elements handed out and not yet freed
  int64_t availableBlocks;  // blocks that still have elements to hand out
  int64_t fullBlocks;       // blocks without any
  int64_t references;       // creators sharing the pool (1 for an unshared pool)
};
BlockPoolInfo BlockPoolStats(BlockPool* pool);

}  // namespace rt
