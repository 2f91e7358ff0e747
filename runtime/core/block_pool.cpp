#include "core/block_pool.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>

#include "core/container_heap.h"

namespace rt {

namespace {

// Every element is preceded by one word: its block while in use, the link to
// the next free element while on its block's free list.
constexpr int64_t kHeaderWord = 8;

struct Block {
  Block* next;
  Block* previous;
  int64_t capacity;
  int64_t highWater;  // elements handed out from the never-used tail so far
  int64_t freeCount;
  unsigned char* freeList;  // header word of the first free element
};
static_assert(sizeof(Block) % 8 == 0, "elements must stay 8-aligned");

struct RegistryEntry {
  RegistryEntry* next;
  RegistryEntry* previous;
  BlockPool* pool;
  int64_t stride;
  int32_t flags;
  int64_t references;
};

}  // namespace

struct BlockPool {
  int64_t stride;
  int64_t minPerBlock;
  int64_t maxPerBlock;
  int64_t total;
  Block* available;
  Block* full;
  RegistryEntry* shared;
  bool locked;
  std::recursive_mutex mutex;
};

namespace {

// Constructed on first use, exactly once, and never destroyed, so that a pool
// released while the process is ending still finds it.
std::recursive_mutex& RegistryMutex() {
  alignas(std::recursive_mutex) static unsigned char storage[sizeof(std::recursive_mutex)];
  static std::recursive_mutex* mutex = new (storage) std::recursive_mutex;
  return *mutex;
}
RegistryEntry* g_registry = nullptr;  // guarded by RegistryMutex()

class PoolLock {
 public:
  explicit PoolLock(BlockPool* pool) : pool_(pool->locked ? pool : nullptr) {
    if (pool_) pool_->mutex.lock();
  }
  ~PoolLock() {
    if (pool_) pool_->mutex.unlock();
  }
  PoolLock(const PoolLock&) = delete;
  PoolLock& operator=(const PoolLock&) = delete;

 private:
  BlockPool* pool_;
};

void PushHead(Block** head, Block* block) {
  block->previous = nullptr;
  block->next = *head;
  if (*head) (*head)->previous = block;
  *head = block;
}

void Unlink(Block** head, Block* block) {
  if (block->previous) {
    block->previous->next = block->next;
  } else {
    *head = block->next;
  }
  if (block->next) block->next->previous = block->previous;
}

unsigned char* ElementHeader(Block* block, int64_t index, int64_t stride) {
  return reinterpret_cast<unsigned char*>(block + 1) + index * stride;
}

Block* AllocBlock(int64_t capacity, int64_t stride) {
  const int64_t room = INT64_MAX - static_cast<int64_t>(sizeof(Block)) - 64;
  if (capacity > room / stride) return nullptr;
  void* raw = ContainerHeapAlloc(sizeof(Block) + static_cast<size_t>(capacity * stride));
  if (!raw) return nullptr;
  Block* block = static_cast<Block*>(raw);
  block->capacity = capacity;
  return block;
}

// A new block whose first element is already handed out; null when not
// even a one-element block can be had.
Block* NewBlock(BlockPool* pool) {
  int64_t capacity = pool->minPerBlock;
  const int64_t share = (pool->total / 16) & ~int64_t{15};
  if (share >= capacity) capacity = std::min(share, pool->maxPerBlock);

  Block* block = AllocBlock(capacity, pool->stride);
  if (!block && capacity > 1) block = AllocBlock(1, pool->stride);
  if (!block) return nullptr;

  block->highWater = 1;
  pool->total += block->capacity;
  PushHead(block->capacity < 2 ? &pool->full : &pool->available, block);
  return block;
}

void FreeBlocks(Block* block) {
  while (block) {
    Block* next = block->next;
    ContainerHeapFree(block);
    block = next;
  }
}

BlockPool* CreateUnshared(int64_t stride, int64_t minPerBlock, int64_t maxPerBlock, int32_t flags) {
  void* raw = ContainerHeapAlloc(sizeof(BlockPool));
  if (!raw) return nullptr;
  auto* pool = new (raw) BlockPool;
  pool->stride = stride;
  pool->minPerBlock = std::max<int64_t>(minPerBlock, 1);
  pool->maxPerBlock = std::max(maxPerBlock, pool->minPerBlock);
  pool->total = 0;
  pool->available = nullptr;
  pool->full = nullptr;
  pool->shared = nullptr;
  pool->locked = (flags & PoolUnlocked) == 0;
  return pool;
}

void DestroyUnshared(BlockPool* pool) {
  BlockPoolClear(pool);
  pool->~BlockPool();
  ContainerHeapFree(pool);
}

}  // namespace

BlockPool* BlockPoolCreate(int64_t elementSize, int64_t minPerBlock, int64_t maxPerBlock, int32_t flags) {
  // Sizes beyond any real heap are refused before the stride arithmetic can overflow.
  if (elementSize < 0 || elementSize > (INT64_MAX >> 2)) return nullptr;
  const int64_t stride = ((elementSize + 7) & ~int64_t{7}) + kHeaderWord;

  if ((flags & PoolShared) == 0) return CreateUnshared(stride, minPerBlock, maxPerBlock, flags);

  std::lock_guard<std::recursive_mutex> registryLock(RegistryMutex());
  for (RegistryEntry* entry = g_registry; entry; entry = entry->next) {
    if (entry->stride == stride && entry->flags == flags) {
      ++entry->references;
      return entry->pool;
    }
  }
  BlockPool* pool = CreateUnshared(stride, minPerBlock, maxPerBlock, flags & ~PoolShared);
  if (!pool) return nullptr;
  auto* entry = static_cast<RegistryEntry*>(ContainerHeapAlloc(sizeof(RegistryEntry)));
  if (!entry) {
    DestroyUnshared(pool);
    return nullptr;
  }
  entry->pool = pool;
  entry->stride = stride;
  entry->flags = flags;
  entry->references = 1;
  entry->previous = nullptr;
  entry->next = g_registry;
  if (g_registry) g_registry->previous = entry;
  g_registry = entry;
  pool->shared = entry;
  return pool;
}

void* BlockPoolAlloc(BlockPool* pool) {
  if (!pool) return nullptr;
  PoolLock lock(pool);
  unsigned char* header;
  Block* block = pool->available;
  if (block) {
    if (block->freeCount == 0) {
      header = ElementHeader(block, block->highWater++, pool->stride);
    } else {
      header = block->freeList;
      std::memcpy(&block->freeList, header, sizeof block->freeList);
      --block->freeCount;
    }
    if (block->freeCount == 0 && block->highWater == block->capacity) {
      Unlink(&pool->available, block);
      PushHead(&pool->full, block);
    }
  } else {
    block = NewBlock(pool);
    if (!block) return nullptr;
    header = ElementHeader(block, 0, pool->stride);
  }
  std::memcpy(header, &block, sizeof block);
  return header + kHeaderWord;
}

void* BlockPoolAllocCleared(BlockPool* pool) {
  void* element = BlockPoolAlloc(pool);
  if (element) std::memset(element, 0, static_cast<size_t>(pool->stride - kHeaderWord));
  return element;
}

void BlockPoolFree(BlockPool* pool, void* element) {
  if (!pool || !element) return;
  PoolLock lock(pool);
  unsigned char* header = static_cast<unsigned char*>(element) - kHeaderWord;
  Block* block;
  std::memcpy(&block, header, sizeof block);
  const bool wasFull = block->freeCount == 0 && block->highWater == block->capacity;

  std::memcpy(header, &block->freeList, sizeof block->freeList);
  block->freeList = header;
  ++block->freeCount;

  if (block->freeCount == block->highWater) {
    // Every element handed out is back. A one-element block always sits on
    // the full list; a larger one cannot be full once an element is free.
    Unlink(block->capacity == 1 ? &pool->full : &pool->available, block);
    pool->total -= block->capacity;
    ContainerHeapFree(block);
  } else if (wasFull) {
    Unlink(&pool->full, block);
    PushHead(&pool->available, block);
  }
}

void BlockPoolClear(BlockPool* pool) {
  if (!pool) return;
  PoolLock lock(pool);
  FreeBlocks(pool->available);
  FreeBlocks(pool->full);
  pool->available = nullptr;
  pool->full = nullptr;
  pool->total = 0;
}

void BlockPoolRelease(BlockPool* pool) {
  if (!pool) return;
  if (!pool->shared) {
    DestroyUnshared(pool);
    return;
  }
  std::lock_guard<std::recursive_mutex> registryLock(RegistryMutex());
  RegistryEntry* entry = pool->shared;
  if (--entry->references > 0) return;
  if (entry->previous) {
    entry->previous->next = entry->next;
  } else {
    g_registry = entry->next;
  }
  if (entry->next) entry->next->previous = entry->previous;
  ContainerHeapFree(entry);
  DestroyUnshared(pool);
}

BlockPoolInfo BlockPoolStats(BlockPool* pool) {
  BlockPoolInfo info{};
  if (!pool) return info;
  // Registry before pool: the order every other path takes the two locks in.
  std::unique_lock<std::recursive_mutex> registryLock(RegistryMutex(), std::defer_lock);
  if (pool->shared) registryLock.lock();
  PoolLock lock(pool);
  info.stride = pool->stride;
  info.total = pool->total;
  info.references = pool->shared ? pool->shared->references : 1;
  for (Block* block = pool->available; block; block = block->next) {
    ++info.availableBlocks;
    info.inUse += block->highWater - block->freeCount;
  }
  for (Block* block = pool->full; block; block = block->next) {
    ++info.fullBlocks;
    info.inUse += block->highWater - block->freeCount;
  }
  return info;
}

}  // namespace rt
