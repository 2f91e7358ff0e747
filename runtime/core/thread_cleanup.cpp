#include "core/thread_cleanup.h"

#include <mutex>
#include <new>

#include "core/memory.h"
#include "core/thread_key.h"

namespace rt {

namespace {

struct Record {
  NodeListHead entries;  // Entry nodes, most recent first
};

struct Entry {
  ThreadCleanupFunction function;
  void* argument;
};

void RunRecords(void* record);

// Key, mutex and list are created on the first registration and live for the
// whole process: a thread may end at any time, even during static
// destruction, and its key destructor needs them.
struct Registry {
  ThreadKey key;
  std::recursive_mutex mutex;
  NodeListHead records = nullptr;
};

Registry* TheRegistry() {
  static Registry* registry = [] {
    auto* r = new (std::nothrow) Registry;
    if (r && !ThreadKeyCreate(&r->key, RunRecords)) r->key.valid = false;
    return r;
  }();
  return registry;
}

void RunOne(Registry* registry, void* record) {
  NodeListHead entries;
  {
    std::lock_guard<std::recursive_mutex> lock(registry->mutex);
    entries = static_cast<Record*>(record)->entries;
    NodeListRemove(&registry->records, record);
  }
  while (void* first = NodeListFirst(entries)) {
    const Entry entry = *static_cast<Entry*>(first);
    NodeListRemove(&entries, first);
    entry.function(entry.argument);
  }
}

// The key's destructor. A function run here may register new work, which
// binds a fresh record to the key; that record is run before returning, so
// nothing depends on the system calling the destructor a second time.
void RunRecords(void* record) {
  Registry* registry = TheRegistry();
  while (record) {
    ThreadKeySet(registry->key, nullptr);
    RunOne(registry, record);
    record = ThreadKeyGet(registry->key);
  }
}

}  // namespace

void* ThreadCleanupAdd(ThreadCleanupFunction function, void* argument) {
  Registry* registry = TheRegistry();
  if (!registry || !registry->key.valid || !function) return nullptr;
  auto* record = static_cast<Record*>(ThreadKeyGet(registry->key));
  if (!record) {
    std::lock_guard<std::recursive_mutex> lock(registry->mutex);
    record = static_cast<Record*>(NodeListPush(&registry->records, sizeof(Record)));
    if (!record) return nullptr;
    if (!ThreadKeySet(registry->key, record)) {
      NodeListRemove(&registry->records, record);
      return nullptr;
    }
  }
  auto* entry = static_cast<Entry*>(NodeListPush(&record->entries, sizeof(Entry)));
  if (!entry) return nullptr;
  entry->function = function;
  entry->argument = argument;
  return entry;
}

void ThreadCleanupThreadEnd() {
  Registry* registry = TheRegistry();
  if (!registry || !registry->key.valid) return;
  RunRecords(ThreadKeyGet(registry->key));
}

int64_t ThreadCleanupRecordCount() {
  Registry* registry = TheRegistry();
  if (!registry) return 0;
  std::lock_guard<std::recursive_mutex> lock(registry->mutex);
  int64_t count = 0;
  for (void* r = NodeListFirst(registry->records); r; r = NodeListNext(r)) ++count;
  return count;
}

}  // namespace rt
