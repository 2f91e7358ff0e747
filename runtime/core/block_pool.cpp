#include "core/block_pool.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>

#if defined(__GNUC__)
#define RT_LIKELY(x) __builtin_expect(!!(x), 1)
#define RT_UNLIKELY(x) __builtin_expect(!!(x), 0)
#define RT_NOINLINE __attribute__((noinline))
#define RT_INLINE inline __attribute__((always_inline))
#else
#define RT_LIKELY(x) (x)
#define RT_UNLIKELY(x) (x)
#define RT_NOINLINE
#define RT_INLINE inline
#endif

#include "core/container_heap.h"
#include "core/platform.h"
#include "core/recursive_lock.h"

namespace rt {

namespace {

// Every element is preceded by one word: its block while in use, the link to
// the next free element while on its block's free list.
constexpr int64_t kHeaderWord = 8;

struct Block {
  Block* next;  // available list, while the block has elements to hand out
  Block* previous;
  Block* nextInPool;  // every block of the pool, in no particular order
  Block* previousInPool;
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
  // Blocks with elements to hand out, in the order they serve (kept lazily,
  // see OnAvailableList). The full ones are found through `blocks`, which
  // holds every block: their order never matters, so no list of their own
  // has to be kept in step.
  Block* available;
  Block* blocks;
  RegistryEntry* shared;
  bool locked;
  RecursiveLock mutex;
};

namespace {

// Constructed on first use, exactly once, and never destroyed, so that a pool
// released while the process is ending still finds it.
alignas(std::recursive_mutex) unsigned char g_registryStorage[sizeof(std::recursive_mutex)];
platform::OnceState g_registryOnce = 0;
void CreateRegistryMutex() { new (g_registryStorage) std::recursive_mutex; }
std::recursive_mutex& RegistryMutex() {
  platform::RunOnce(&g_registryOnce, CreateRegistryMutex);
  return *std::launder(reinterpret_cast<std::recursive_mutex*>(g_registryStorage));
}
RegistryEntry* g_registry = nullptr;  // guarded by RegistryMutex()

// For the paths off the per-element fast path; alloc and free test the flag
// themselves so that each mode gets its own straight-line code.
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

template <Block* Block::*Next, Block* Block::*Previous>
RT_INLINE void PushHead(Block** head, Block* block) {
  block->*Previous = nullptr;
  block->*Next = *head;
  if (*head) (*head)->*Previous = block;
  *head = block;
}

template <Block* Block::*Next, Block* Block::*Previous>
RT_INLINE void Unlink(Block** head, Block* block) {
  if (block->*Previous) {
    (block->*Previous)->*Next = block->*Next;
  } else {
    *head = block->*Next;
  }
  if (block->*Next) (block->*Next)->*Previous = block->*Previous;
}

// The available list is kept lazily: a block that turns full stays where it
// is until an allocation finds it at the head and drops it. Only the head
// serves, so only the head turns full, and a free into it (the steady rhythm
// of a pool whose live elements fill whole blocks) then moves nothing. The
// list with its full blocks skipped is always the available list proper.
// A block is on the list exactly when it has a predecessor or is the head.
RT_INLINE bool OnAvailableList(const BlockPool* pool, const Block* block) {
  return block->previous || pool->available == block;
}

RT_INLINE void LeaveAvailableList(BlockPool* pool, Block* block) {
  Unlink<&Block::next, &Block::previous>(&pool->available, block);
  block->next = nullptr;
  block->previous = nullptr;
}

// Full: nothing on the free list and nothing left in the untouched tail.
bool IsFull(const Block* block) { return block->freeCount == 0 && block->highWater == block->capacity; }

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
  PushHead<&Block::nextInPool, &Block::previousInPool>(&pool->blocks, block);
  if (!IsFull(block)) PushHead<&Block::next, &Block::previous>(&pool->available, block);
  return block;
}

void FreeBlocks(Block* block) {
  while (block) {
    Block* next = block->nextInPool;
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
  pool->blocks = nullptr;
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

namespace {

// Every element handed out is back.
RT_NOINLINE void ReleaseBlock(BlockPool* pool, Block* block) {
  if (OnAvailableList(pool, block)) LeaveAvailableList(pool, block);
  Unlink<&Block::nextInPool, &Block::previousInPool>(&pool->blocks, block);
  pool->total -= block->capacity;
  ContainerHeapFree(block);
}

// A full block got an element back: it goes to the head of the available list.
RT_NOINLINE void BringToFront(BlockPool* pool, Block* block) {
  if (OnAvailableList(pool, block)) LeaveAvailableList(pool, block);
  PushHead<&Block::next, &Block::previous>(&pool->available, block);
}

// The head is full; the block after it (or none) becomes the head.
RT_NOINLINE Block* DropFullHead(BlockPool* pool, Block* block) {
  LeaveAvailableList(pool, block);
  return pool->available;
}

RT_NOINLINE unsigned char* AllocFromNewBlock(BlockPool* pool) {
  Block* block = NewBlock(pool);
  if (!block) return nullptr;
  unsigned char* header = ElementHeader(block, 0, pool->stride);
  std::memcpy(header, &block, sizeof block);
  return header + kHeaderWord;
}

// The first block of the available list that is not full serves: its free
// list first (an element whose header word links on), else the untouched
// tail of the block. A block's free list is empty exactly when its free
// count is 0.
RT_INLINE void* AllocElement(BlockPool* pool) {
  Block* block = pool->available;
  unsigned char* header;
  for (;;) {
    if (RT_UNLIKELY(!block)) return AllocFromNewBlock(pool);
    header = block->freeList;
    if (RT_LIKELY(header != nullptr)) {
      std::memcpy(&block->freeList, header, sizeof block->freeList);
      --block->freeCount;
      break;
    }
    if (RT_LIKELY(block->highWater < block->capacity)) {
      header = ElementHeader(block, block->highWater++, pool->stride);
      break;
    }
    block = DropFullHead(pool, block);
  }
  std::memcpy(header, &block, sizeof block);
  return header + kHeaderWord;
}

RT_INLINE void FreeElement(BlockPool* pool, void* element) {
  unsigned char* header = static_cast<unsigned char*>(element) - kHeaderWord;
  Block* block;
  std::memcpy(&block, header, sizeof block);
  std::memcpy(header, &block->freeList, sizeof block->freeList);
  block->freeList = header;
  const int64_t freeCount = ++block->freeCount;
  if (RT_UNLIKELY(freeCount == block->highWater)) {
    ReleaseBlock(pool, block);
  } else if (RT_UNLIKELY(freeCount == 1) && block->highWater == block->capacity && pool->available != block) {
    BringToFront(pool, block);  // it was full
  }
}

RT_NOINLINE void* AllocLocked(BlockPool* pool) {
  std::lock_guard<RecursiveLock> lock(pool->mutex);
  return AllocElement(pool);
}

RT_NOINLINE void FreeLocked(BlockPool* pool, void* element) {
  std::lock_guard<RecursiveLock> lock(pool->mutex);
  FreeElement(pool, element);
}

}  // namespace

// The locked paths sit out of line so that the unlocked one needs no saved
// registers at all.
void* BlockPoolAlloc(BlockPool* pool) {
  if (RT_UNLIKELY(!pool)) return nullptr;
  if (pool->locked) return AllocLocked(pool);
  return AllocElement(pool);
}

void* BlockPoolAllocCleared(BlockPool* pool) {
  void* element = BlockPoolAlloc(pool);
  if (element) std::memset(element, 0, static_cast<size_t>(pool->stride - kHeaderWord));
  return element;
}

void BlockPoolFree(BlockPool* pool, void* element) {
  if (RT_UNLIKELY(!pool || !element)) return;
  if (pool->locked) return FreeLocked(pool, element);
  FreeElement(pool, element);
}

void BlockPoolClear(BlockPool* pool) {
  if (!pool) return;
  PoolLock lock(pool);
  FreeBlocks(pool->blocks);
  pool->available = nullptr;
  pool->blocks = nullptr;
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
  for (Block* block = pool->blocks; block; block = block->nextInPool) {
    ++(IsFull(block) ? info.fullBlocks : info.availableBlocks);
    info.inUse += block->highWater - block->freeCount;
  }
  return info;
}

}  // namespace rt
