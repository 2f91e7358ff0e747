#include "core/thread_slots.h"

#include "core/memory.h"
#include "core/thread_key.h"

#include <atomic>
#include <mutex>

namespace rt {

namespace {

struct Registration {
  int64_t offset;
  ThreadSlotFunction setUp;
  ThreadSlotFunction tearDown;
  uint64_t generation;  // the reservation that made it
};

// The registry. Registrations are pushed to the head of the list and never
// changed or freed afterwards, so a head read under the lock can be walked
// without it while other threads reserve.
std::mutex g_lock;
int64_t g_total = 0;
NodeListHead g_registrations = nullptr;
std::atomic<uint64_t> g_generation{0};  // one step per reservation
std::atomic<bool> g_shutDown{false};

struct Snapshot {
  int64_t total;
  uint64_t generation;
  void* head;
};

Snapshot TakeSnapshot() {
  std::lock_guard<std::mutex> guard(g_lock);
  return {g_total, g_generation.load(std::memory_order_relaxed), g_registrations};
}

// A thread's block and what of the registry it has caught up with. It hangs
// on a native thread key rather than on C++ thread_local storage, which
// mingw-w64 emulates and may free before other exit-time clean-ups have run.
struct ThreadBlock {
  unsigned char* block;
  int64_t length;
  uint64_t generation;  // every registration up to this one is set up here

  // Runs, most recent first, the set-ups of registrations newer than `since`.
  void SetUp(void* head, uint64_t since) {
    for (void* node = head; node; node = NodeListNext(node)) {
      const auto* r = static_cast<const Registration*>(node);
      if (r->generation > since && r->setUp) r->setUp(block + r->offset);
    }
  }

  // Brings the block up to every reservation made so far.
  bool CatchUp() {
    const Snapshot now = TakeSnapshot();
    if (block && now.generation == generation) return true;
    if (!block || now.total > length) {
      void* grown = block ? SizedResize(block, static_cast<size_t>(now.total))
                          : SizedAlloc(static_cast<size_t>(now.total));
      if (!grown) return false;
      block = static_cast<unsigned char*>(grown);
      length = now.total;
    }
    const uint64_t since = generation;
    generation = now.generation;
    SetUp(now.head, since);
    return true;
  }

  void TearDown() {
    if (!block || g_shutDown.load(std::memory_order_acquire)) return;
    const Snapshot now = TakeSnapshot();
    for (void* node = now.head; node; node = NodeListNext(node)) {
      const auto* r = static_cast<const Registration*>(node);
      if (r->generation <= generation && r->tearDown) r->tearDown(block + r->offset);
    }
  }
};

void EndThread(void* value) {
  auto* self = static_cast<ThreadBlock*>(value);
  self->TearDown();
  SizedFree(self->block);
  SizedFree(self);
}

const ThreadKey* Key() {
  static const ThreadKey key = [] {
    ThreadKey created;
    ThreadKeyCreate(&created, EndThread);
    return created;
  }();
  return key.valid ? &key : nullptr;
}

// The calling thread's state, made on first use; null when that fails.
ThreadBlock* Self() {
  const ThreadKey* key = Key();
  if (!key) return nullptr;
  if (auto* self = static_cast<ThreadBlock*>(ThreadKeyGet(*key))) return self;
  auto* self = static_cast<ThreadBlock*>(SizedAlloc(sizeof(ThreadBlock)));
  if (!self) return nullptr;
  if (!ThreadKeySet(*key, self)) {
    SizedFree(self);
    return nullptr;
  }
  return self;
}

}  // namespace

int64_t ThreadSlotReserve(int64_t size, ThreadSlotFunction setUp, ThreadSlotFunction tearDown) {
  if (size < 0) size = 0;
  if (size > INT64_MAX - 7) return -1;
  const int64_t rounded = (size + 7) & ~int64_t{7};
  ThreadBlock* selfPointer = Self();
  if (!selfPointer) return -1;
  ThreadBlock& self = *selfPointer;

  // Bring the caller up to date first, so that below only the new slot is new to it.
  if (!self.CatchUp()) return -1;

  void* head;
  uint64_t since;
  int64_t offset;
  {
    std::lock_guard<std::mutex> guard(g_lock);
    offset = g_total;
    if (offset > INT64_MAX - rounded || static_cast<uint64_t>(offset + rounded) > SIZE_MAX) return -1;
    const int64_t total = offset + rounded;

    Registration* registration = nullptr;
    if (setUp || tearDown) {
      registration = static_cast<Registration*>(NodeListPush(&g_registrations, sizeof(Registration)));
      if (!registration) return -1;
    }
    // The caller's block grows before anything is committed, so running out
    // of memory reserves nothing.
    if (total > self.length) {
      void* grown = SizedResize(self.block, static_cast<size_t>(total));
      if (!grown) {
        if (registration) NodeListRemove(&g_registrations, registration);
        return -1;
      }
      self.block = static_cast<unsigned char*>(grown);
      self.length = total;
    }
    const uint64_t generation = g_generation.load(std::memory_order_relaxed) + 1;
    if (registration) *registration = Registration{offset, setUp, tearDown, generation};
    g_total = total;
    g_generation.store(generation, std::memory_order_release);
    g_shutDown.store(false, std::memory_order_release);
    head = g_registrations;
    since = self.generation;
    self.generation = generation;
  }
  self.SetUp(head, since);
  return offset;
}

void* ThreadSlotGet(int64_t offset) {
  ThreadBlock* self = Self();
  if (!self) return nullptr;
  if (!self->block || self->generation != g_generation.load(std::memory_order_acquire)) {
    if (!self->CatchUp()) return nullptr;
  }
  if (offset < 0 || offset > self->length) return nullptr;
  return self->block + offset;
}

void ThreadSlotThreadEnd() {
  const ThreadKey* key = Key();
  if (!key) return;
  if (void* self = ThreadKeyGet(*key)) {
    EndThread(self);
    ThreadKeySet(*key, nullptr);
  }
}

void ThreadSlotShutdown() { g_shutDown.store(true, std::memory_order_release); }

}  // namespace rt
