#include "core/object_table.h"

#include "core/memory.h"

#include <cstring>
#include <mutex>
#include <new>

namespace rt {

namespace {

// The addresses of a table's dynamic records, so that a number can be
// recognised as one of its handles without a walk of the dynamic list (and
// without ever reading memory at an address the program made up). Open
// addressing with linear probing, at most half full; 0 marks a free cell.
class HandleSet {
 public:
  bool Contains(uintptr_t key) const {
    if (!cells_) return false;
    for (size_t i = Home(key);; i = Next(i)) {
      if (cells_[i] == key) return true;
      if (cells_[i] == 0) return false;
    }
  }

  bool Insert(uintptr_t key) {
    if ((count_ + 1) * 2 > capacity_ && !Grow()) return false;
    Place(key);
    ++count_;
    return true;
  }

  void Erase(uintptr_t key) {
    if (!cells_) return;
    size_t hole = Home(key);
    while (cells_[hole] != key) {
      if (cells_[hole] == 0) return;
      hole = Next(hole);
    }
    // Close the gap: move back every later entry of the run that may not
    // sit beyond the hole, so no search stops short at it.
    for (size_t i = Next(hole); cells_[i] != 0; i = Next(i)) {
      const size_t home = Home(cells_[i]);
      const bool homeInGap = hole <= i ? (home > hole && home <= i) : (home > hole || home <= i);
      if (!homeInGap) {
        cells_[hole] = cells_[i];
        hole = i;
      }
    }
    cells_[hole] = 0;
    --count_;
  }

 private:
  size_t Home(uintptr_t key) const {
    return static_cast<size_t>((static_cast<uint64_t>(key) * UINT64_C(0x9E3779B97F4A7C15)) >> shift_);
  }
  size_t Next(size_t i) const { return (i + 1) & (capacity_ - 1); }

  void Place(uintptr_t key) {
    size_t i = Home(key);
    while (cells_[i] != 0) i = Next(i);
    cells_[i] = key;
  }

  bool Grow() {
    const size_t capacity = capacity_ ? capacity_ * 2 : 16;
    if (capacity > SIZE_MAX / sizeof(uintptr_t)) return false;
    auto* cells = static_cast<uintptr_t*>(SizedAlloc(capacity * sizeof(uintptr_t)));
    if (!cells) return false;
    uintptr_t* old = cells_;
    const size_t oldCapacity = capacity_;
    cells_ = cells;
    capacity_ = capacity;
    shift_ = 64;
    for (size_t c = capacity; c > 1; c >>= 1) --shift_;
    for (size_t i = 0; i < oldCapacity; ++i) {
      if (old[i]) Place(old[i]);
    }
    SizedFree(old);
    return true;
  }

  uintptr_t* cells_ = nullptr;  // SizedAlloc block of capacity_ cells
  size_t capacity_ = 0;         // 0 or a power of two
  size_t count_ = 0;
  unsigned shift_ = 64;         // 64 - log2(capacity_)
};

}  // namespace

struct ObjectTable {
  int32_t elementSize;
  int32_t increment;
  int64_t slotCount;
  void** slots;  // SizedAlloc block of slotCount pointers
  NodeListHead dynamicList;
  HandleSet handles;  // the records of dynamicList, for look-up by handle
  ObjectFreeFunction freeFunction;
  int64_t walkCursor;
  int32_t walkDepth;  // walks in progress (they nest only on the lock's owner)
  size_t recordSize;  // elementSize, but never less than the presence word
  std::recursive_mutex lock;
};

namespace {

using Guard = std::lock_guard<std::recursive_mutex>;

bool IsPresent(const void* record) {
  intptr_t word;
  std::memcpy(&word, record, sizeof word);
  return word != 0;
}

bool InRange(const ObjectTable* table, ObjectNumber number) { return number >= 0 && number < table->slotCount; }

// Numbers come from the program, so an out-of-range number is only trusted as
// a handle once it is found among this table's dynamic records. Records are
// pointer-aligned, which rules out most garbage before the look-up.
void* FindHandle(const ObjectTable* table, ObjectNumber number) {
  if (number <= 0 || (static_cast<uint64_t>(number) & (alignof(void*) - 1)) != 0) return nullptr;
  if (!table->handles.Contains(static_cast<uintptr_t>(number))) return nullptr;
  return reinterpret_cast<void*>(static_cast<intptr_t>(number));
}

void* PushDynamic(ObjectTable* table) {
  void* record = NodeListPush(&table->dynamicList, table->recordSize);
  if (record && !table->handles.Insert(reinterpret_cast<uintptr_t>(record))) {
    NodeListRemove(&table->dynamicList, record);
    return nullptr;
  }
  return record;
}

void RemoveDynamic(ObjectTable* table, void* record) {
  table->handles.Erase(reinterpret_cast<uintptr_t>(record));
  NodeListRemove(&table->dynamicList, record);
}

}  // namespace

ObjectTable* ObjectTableCreate(int32_t elementSize, int32_t increment, ObjectFreeFunction freeFunction) {
  // With no spare slot a table could never hold the number it grows for.
  if (elementSize < 0 || increment < 1) return nullptr;
  auto* table = new (std::nothrow) ObjectTable{};
  if (!table) return nullptr;
  table->slots = static_cast<void**>(SizedAlloc(static_cast<size_t>(increment) * sizeof(void*)));
  if (!table->slots) {
    delete table;
    return nullptr;
  }
  table->elementSize = elementSize;
  table->increment = increment;
  table->slotCount = increment;
  table->dynamicList = nullptr;
  table->freeFunction = freeFunction;
  // A record smaller than a word (a serial port's 32-bit descriptor) still
  // gets a whole presence word, so reading it never leaves the record.
  table->recordSize = elementSize < static_cast<int32_t>(sizeof(intptr_t)) ? sizeof(intptr_t)
                                                                           : static_cast<size_t>(elementSize);
  return table;
}

void* ObjectTableAllocate(ObjectTable* table, ObjectNumber number) {
  if (!table || number < DynamicNumber) return nullptr;
  Guard guard(table->lock);

  if (number == DynamicNumber) return PushDynamic(table);

  if (number >= table->slotCount) {
    // Growth is linear: the requested number plus one increment of spares.
    if (number > INT64_MAX - table->increment) return nullptr;
    const int64_t newCount = number + table->increment;
    // No object may be larger than PTRDIFF_MAX bytes.
    if (static_cast<uint64_t>(newCount) > static_cast<uint64_t>(PTRDIFF_MAX) / sizeof(void*)) return nullptr;
    // Allocate the record first, so that a failure leaves the table as it was.
    void* record = SizedAlloc(table->recordSize);
    if (!record) return nullptr;
    auto* slots = static_cast<void**>(SizedResize(table->slots, static_cast<size_t>(newCount) * sizeof(void*)));
    if (!slots) {
      SizedFree(record);
      return nullptr;
    }
    table->slots = slots;
    table->slotCount = newCount;
    table->slots[number] = record;
    return record;
  }

  void* record = table->slots[number];
  if (record) {
    // The free function closes the old object and zero-fills its record.
    if (table->freeFunction) table->freeFunction(number);
    return record;
  }
  record = SizedAlloc(table->recordSize);
  if (!record) return nullptr;
  table->slots[number] = record;
  return record;
}

void* ObjectTableGet(ObjectTable* table, ObjectNumber number) {
  if (!table) return nullptr;
  Guard guard(table->lock);
  void* record = InRange(table, number) ? table->slots[number] : FindHandle(table, number);
  return record && IsPresent(record) ? record : nullptr;
}

intptr_t ObjectTableCheck(ObjectTable* table, ObjectNumber number) {
  if (!table) return 0;
  Guard guard(table->lock);
  if (InRange(table, number)) {
    void* record = table->slots[number];
    return record && IsPresent(record) ? reinterpret_cast<intptr_t>(record) : 0;
  }
  return FindHandle(table, number) ? static_cast<intptr_t>(number) : 0;
}

void ObjectTableRelease(ObjectTable* table, ObjectNumber number) {
  if (!table) return;
  Guard guard(table->lock);
  if (InRange(table, number)) {
    if (void* record = table->slots[number]) std::memset(record, 0, table->recordSize);
    return;
  }
  if (void* record = FindHandle(table, number)) RemoveDynamic(table, record);
}

void ObjectTableIterate(ObjectTable* table) {
  if (!table) return;
  table->lock.lock();  // released by the ObjectTableNext that ends the walk
  ++table->walkDepth;
  table->walkCursor = 0;
}

void* ObjectTableNext(ObjectTable* table, ObjectNumber* number) {
  if (!table) return nullptr;
  Guard guard(table->lock);
  // Without a walk of this thread in progress there is nothing to continue
  // and no lock of ours to give back.
  if (table->walkDepth == 0) return nullptr;

  while (table->walkCursor >= 0 && table->walkCursor < table->slotCount) {
    const int64_t index = table->walkCursor++;
    void* record = table->slots[index];
    if (record && IsPresent(record)) {
      if (number) *number = index;
      return record;
    }
  }
  if (void* head = NodeListFirst(table->dynamicList)) {
    if (number) *number = ObjectHandle(head);
    return head;
  }
  --table->walkDepth;
  table->lock.unlock();  // the lock ObjectTableIterate took
  return nullptr;
}

void ObjectTableReleaseAll(ObjectTable* table) {
  if (!table || !table->freeFunction) return;
  ObjectTableIterate(table);
  ObjectNumber number = 0;
  while (void* record = ObjectTableNext(table, &number)) {
    table->freeFunction(number);
    // A free function that finds nothing to close (a dynamic record whose
    // creation failed and was never released) would otherwise be handed the
    // same head for ever.
    if (!InRange(table, number) && NodeListFirst(table->dynamicList) == record) {
      RemoveDynamic(table, record);
    }
  }
}

}  // namespace rt
