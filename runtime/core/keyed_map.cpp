#include "core/keyed_map.h"

#include <atomic>
#include <cstring>

#include "core/block_pool.h"
#include "core/container_heap.h"
#include "core/rt_string.h"

namespace rt {

namespace {

struct Entry {
  Entry* next;  // chain link
  union {
    RtChar* text;  // owned copy
    int64_t integer;
  } key;
  // the element follows
};
static_assert(sizeof(Entry) == 16, "an entry is the element plus two words");

constexpr int64_t kMinPerBlock = 16;
constexpr int64_t kMaxPerBlock = 65536;

}  // namespace

struct KeyedMap {
  int64_t bucketCount;
  Entry** buckets;
  int64_t elementSize;
  int32_t flags;
  int64_t count;
  // Cursor. When previousKnown, (previous, savedBucket) is the entry before
  // current in walk order and its bucket ((null, -1) for none): a deletion
  // hands the walk back to it, so the next Next reaches what followed.
  Entry* current;
  Entry* previous;
  int64_t currentBucket;
  int64_t savedBucket;
  bool previousKnown;
  KeyedMap** holder;
  const void* layout;
  BlockPool* pool;
};

namespace {

unsigned char* ElementOf(Entry* entry) { return reinterpret_cast<unsigned char*>(entry + 1); }

bool IntegerKeys(const KeyedMap* map) { return (map->flags & MapIntegerKeys) != 0; }
bool Managed(const KeyedMap* map) { return map->layout && (map->flags & MapManagedElements); }

// No structure of this system has managed fields, so the layout descriptor is
// never interpreted; these are the points where its fields would be set up,
// copied and torn down.
void SetUpManagedFields(const KeyedMap*, void*) {}
void CopyManagedFields(const KeyedMap*, const void*, KeyedMap*, void*) {}
void TearDownManagedFields(const KeyedMap*, void*) {}

// An owned key is one heap block: its length and hash, then the units with
// their terminator. Entries keep only the address of the units, so the key
// still reads as a plain RtString, while lookups skip most mismatches
// without touching the text.
struct KeyHeader {
  uint64_t length;
  uint32_t hash;
  uint32_t reserved;
};
static_assert(sizeof(KeyHeader) % 8 == 0, "the units follow the header aligned");

const KeyHeader* HeaderOf(RtString text) { return reinterpret_cast<const KeyHeader*>(text) - 1; }

// A string key about to be looked up or added, measured and hashed once.
struct Probe {
  RtString text;
  size_t length;
  uint32_t hash;
};

// The shared wide lower-case mapping, with ASCII (where it is plain A-Z to
// a-z) answered here without a call.
inline uint32_t LowerUnit(RtChar c) {
  if (c < 0x80) return (c >= u'A' && c <= u'Z') ? c + 32u : c;
  return StringLowerUnit(c);
}

// h = unit + h * 65599 over the units, in 32-bit arithmetic. Without case,
// every unit is first lowered with the mapping the comparison uses, so keys
// that compare equal always land in the same bucket.
Probe MakeProbe(const KeyedMap* map, RtString key) {
  Probe probe{key ? key : u"", 0, 0};
  const RtChar* units = probe.text;
  while (units[probe.length]) ++probe.length;
  constexpr uint32_t k1 = 65599u, k2 = k1 * k1, k3 = k2 * k1, k4 = k3 * k1;
  uint32_t h = 0;
  size_t i = 0;
  if (map->flags & MapNoCase) {
    for (; i < probe.length; ++i) h = LowerUnit(units[i]) + h * k1;
  } else {
    // Four units per step: the same polynomial with a shorter dependency chain.
    for (; i + 4 <= probe.length; i += 4) {
      h = h * k4 + uint32_t{units[i]} * k3 + uint32_t{units[i + 1]} * k2 + uint32_t{units[i + 2]} * k1 +
          uint32_t{units[i + 3]};
    }
    for (; i < probe.length; ++i) h = uint32_t{units[i]} + h * k1;
  }
  probe.hash = h;
  return probe;
}

int64_t TextBucket(const KeyedMap* map, const Probe& probe) {
  // A 32-bit division where it suffices: it is much the cheaper.
  if (map->bucketCount <= int64_t{UINT32_MAX}) {
    return static_cast<int64_t>(probe.hash % static_cast<uint32_t>(map->bucketCount));
  }
  return static_cast<int64_t>(probe.hash);
}

// Negative keys are taken by their unsigned value, which keeps them in range.
int64_t IntegerBucket(const KeyedMap* map, int64_t key) {
  return static_cast<int64_t>(static_cast<uint64_t>(key) % static_cast<uint64_t>(map->bucketCount));
}

bool KeyMatches(const KeyedMap* map, RtString stored, const Probe& probe) {
  const KeyHeader* header = HeaderOf(stored);
  if (header->hash != probe.hash || header->length != probe.length) return false;
  if (map->flags & MapNoCase) {
    for (size_t i = 0; i < probe.length; ++i) {
      if (stored[i] != probe.text[i] && LowerUnit(stored[i]) != LowerUnit(probe.text[i])) return false;
    }
    return true;
  }
  return std::memcmp(stored, probe.text, probe.length * sizeof(RtChar)) == 0;
}

// An owned copy of the probe's key, or null when memory runs out.
RtChar* CopyKey(const Probe& probe) {
  const size_t units = probe.length + 1;
  if (units > (SIZE_MAX - sizeof(KeyHeader)) / sizeof(RtChar)) return nullptr;
  auto* header = static_cast<KeyHeader*>(ContainerHeapAlloc(sizeof(KeyHeader) + units * sizeof(RtChar)));
  if (!header) return nullptr;
  header->length = probe.length;
  header->hash = probe.hash;
  auto* text = reinterpret_cast<RtChar*>(header + 1);
  std::memcpy(text, probe.text, units * sizeof(RtChar));
  return text;
}

void FreeKey(RtChar* text) { ContainerHeapFree(const_cast<KeyHeader*>(HeaderOf(text))); }

// The cursor lands on `entry`. Unless its chain predecessor is given, the
// entry before it in walk order is worked out only if a deletion needs it.
void MakeCurrent(KeyedMap* map, Entry* entry, Entry* chainPredecessor, int64_t bucket) {
  map->current = entry;
  map->currentBucket = bucket;
  map->previous = chainPredecessor;
  map->savedBucket = bucket;
  map->previousKnown = chainPredecessor != nullptr;
}

// Sets (previous, savedBucket) to the entry before the current one in walk
// order: its chain predecessor, else the last entry of the nearest non-empty
// bucket below, else none.
void LocatePrevious(KeyedMap* map) {
  const int64_t bucket = map->currentBucket;
  Entry* before = nullptr;
  for (Entry* e = map->buckets[bucket]; e && e != map->current; e = e->next) before = e;
  int64_t beforeBucket = bucket;
  for (int64_t b = bucket - 1; !before && b >= 0; --b) {
    for (Entry* e = map->buckets[b]; e; e = e->next) before = e;
    beforeBucket = b;
  }
  map->previous = before;
  map->savedBucket = before ? beforeBucket : -1;
  map->previousKnown = true;
}

void ReleaseEntry(KeyedMap* map, Entry* entry) {
  if (!IntegerKeys(map)) FreeKey(entry->key.text);
  if (Managed(map)) TearDownManagedFields(map, ElementOf(entry));
  BlockPoolFree(map->pool, entry);
}

// Links a keyed entry at the head of its chain with a zero-filled element.
void* LinkEntry(KeyedMap* map, Entry* entry, int64_t bucket) {
  std::memset(ElementOf(entry), 0, static_cast<size_t>(map->elementSize));
  entry->next = map->buckets[bucket];
  map->buckets[bucket] = entry;
  ++map->count;
  MakeCurrent(map, entry, nullptr, bucket);
  if (Managed(map)) SetUpManagedFields(map, ElementOf(entry));
  return ElementOf(entry);
}

void* Reuse(KeyedMap* map, Entry* entry, Entry* before, int64_t bucket) {
  if (Managed(map)) TearDownManagedFields(map, ElementOf(entry));
  std::memset(ElementOf(entry), 0, static_cast<size_t>(map->elementSize));
  if (Managed(map)) SetUpManagedFields(map, ElementOf(entry));
  MakeCurrent(map, entry, before, bucket);
  return ElementOf(entry);
}

void ReverseChain(Entry** head) {
  Entry* reversed = nullptr;
  while (Entry* e = *head) {
    *head = e->next;
    e->next = reversed;
    reversed = e;
  }
  *head = reversed;
}

std::atomic<const MapFieldHandlers*> g_fieldHandlers{nullptr};

}  // namespace

KeyedMap* KeyedMapCreate(int64_t elementSize, int32_t flags, const void* layout, KeyedMap** holder,
                         int64_t bucketCount) {
  if (elementSize < 0 || elementSize > (INT64_MAX >> 3)) return nullptr;
  if (bucketCount <= 0) bucketCount = 1;
  if (bucketCount > (INT64_MAX >> 4)) return nullptr;

  auto* map = static_cast<KeyedMap*>(ContainerHeapAlloc(sizeof(KeyedMap)));
  if (!map) return nullptr;
  map->buckets = static_cast<Entry**>(ContainerHeapAlloc(static_cast<size_t>(bucketCount) * sizeof(Entry*)));
  map->pool = map->buckets ? BlockPoolCreate(elementSize + static_cast<int64_t>(sizeof(Entry)), kMinPerBlock,
                                             kMaxPerBlock, PoolShared)
                           : nullptr;
  if (!map->pool) {
    ContainerHeapFree(map->buckets);
    ContainerHeapFree(map);
    return nullptr;
  }
  map->bucketCount = bucketCount;
  map->elementSize = elementSize;
  map->flags = flags;
  map->layout = layout;
  map->holder = holder;
  KeyedMapReset(map);
  if (holder) {
    if (*holder) KeyedMapFree(*holder);
    *holder = map;
  }
  return map;
}

void* KeyedMapFind(KeyedMap* map, RtString key) {
  // An empty map answers without hashing: every event-binding lookup meets one.
  if (!map || IntegerKeys(map) || map->count == 0) return nullptr;
  const Probe probe = MakeProbe(map, key);
  const int64_t bucket = TextBucket(map, probe);
  Entry* before = nullptr;
  for (Entry* e = map->buckets[bucket]; e; before = e, e = e->next) {
    if (KeyMatches(map, e->key.text, probe)) {
      MakeCurrent(map, e, before, bucket);
      return ElementOf(e);
    }
  }
  return nullptr;
}

void* KeyedMapFindInt(KeyedMap* map, int64_t key) {
  if (!map || !IntegerKeys(map)) return nullptr;
  const int64_t bucket = IntegerBucket(map, key);
  Entry* before = nullptr;
  for (Entry* e = map->buckets[bucket]; e; before = e, e = e->next) {
    if (e->key.integer == key) {
      MakeCurrent(map, e, before, bucket);
      return ElementOf(e);
    }
  }
  return nullptr;
}

void* KeyedMapAdd(KeyedMap* map, RtString key, int replace) {
  if (!map || IntegerKeys(map)) return nullptr;
  const Probe probe = MakeProbe(map, key);
  const int64_t bucket = TextBucket(map, probe);
  if (replace) {
    Entry* before = nullptr;
    for (Entry* e = map->buckets[bucket]; e; before = e, e = e->next) {
      if (KeyMatches(map, e->key.text, probe)) return Reuse(map, e, before, bucket);
    }
  }
  RtChar* copy = CopyKey(probe);
  if (!copy) return nullptr;
  auto* entry = static_cast<Entry*>(BlockPoolAlloc(map->pool));
  if (!entry) {
    FreeKey(copy);
    return nullptr;
  }
  entry->key.text = copy;
  return LinkEntry(map, entry, bucket);
}

void* KeyedMapAddInt(KeyedMap* map, int64_t key, int replace) {
  if (!map || !IntegerKeys(map)) return nullptr;
  const int64_t bucket = IntegerBucket(map, key);
  if (replace) {
    Entry* before = nullptr;
    for (Entry* e = map->buckets[bucket]; e; before = e, e = e->next) {
      if (e->key.integer == key) return Reuse(map, e, before, bucket);
    }
  }
  auto* entry = static_cast<Entry*>(BlockPoolAlloc(map->pool));
  if (!entry) return nullptr;
  entry->key.integer = key;
  return LinkEntry(map, entry, bucket);
}

void KeyedMapReset(KeyedMap* map) {
  if (!map) return;
  map->current = nullptr;
  map->currentBucket = -1;
  map->previous = nullptr;
  map->savedBucket = -1;
  map->previousKnown = true;
}

void* KeyedMapNext(KeyedMap* map) {
  if (!map) return nullptr;
  map->previous = map->current;
  map->savedBucket = map->currentBucket;
  map->previousKnown = true;
  Entry* next = map->current ? map->current->next : nullptr;
  int64_t bucket = map->currentBucket;
  while (!next && ++bucket < map->bucketCount) next = map->buckets[bucket];
  if (!next) {
    map->current = nullptr;
    map->currentBucket = map->bucketCount;
    return nullptr;
  }
  map->current = next;
  map->currentBucket = bucket;
  return ElementOf(next);
}

void* KeyedMapDeleteCurrent(KeyedMap* map) {
  if (!map || !map->current) return nullptr;
  Entry* entry = map->current;
  const int64_t bucket = map->currentBucket;
  if (!map->previousKnown) LocatePrevious(map);
  if (map->buckets[bucket] == entry) {
    map->buckets[bucket] = entry->next;
  } else {
    // Not the chain head, so the entry before it in walk order is its chain predecessor.
    map->previous->next = entry->next;
  }
  --map->count;
  ReleaseEntry(map, entry);

  map->current = map->previous;
  map->currentBucket = map->savedBucket;
  map->previous = nullptr;
  map->previousKnown = false;
  return map->current ? ElementOf(map->current) : nullptr;
}

void KeyedMapClear(KeyedMap* map) {
  if (!map) return;
  for (int64_t b = 0; b < map->bucketCount; ++b) {
    Entry* e = map->buckets[b];
    while (e) {
      Entry* next = e->next;
      ReleaseEntry(map, e);
      e = next;
    }
    map->buckets[b] = nullptr;
  }
  map->count = 0;
  KeyedMapReset(map);
}

void KeyedMapCopy(KeyedMap* source, KeyedMap* destination, int clearFirst) {
  if (!source || !destination || source == destination) return;
  if (IntegerKeys(source) != IntegerKeys(destination)) return;
  if (clearFirst) KeyedMapClear(destination);

  const size_t bytes = static_cast<size_t>(source->elementSize < destination->elementSize ? source->elementSize
                                                                                           : destination->elementSize);
  bool copying = true;
  for (int64_t b = 0; b < source->bucketCount && copying; ++b) {
    // Oldest first, so that of several entries with one key the one a
    // lookup in the source finds is the one that ends up in the destination.
    // Only the links move; the cursor fields stay valid once the chain is
    // turned back.
    ReverseChain(&source->buckets[b]);
    for (Entry* e = source->buckets[b]; e; e = e->next) {
      void* target = IntegerKeys(source) ? KeyedMapAddInt(destination, e->key.integer, 1)
                                         : KeyedMapAdd(destination, e->key.text, 1);
      if (!target) {
        copying = false;  // out of memory: what is copied stays
        break;
      }
      std::memcpy(target, ElementOf(e), bytes);
      if (Managed(destination)) CopyManagedFields(source, ElementOf(e), destination, target);
    }
    ReverseChain(&source->buckets[b]);
  }
}

void KeyedMapFree(KeyedMap* map) {
  if (!map) return;
  KeyedMapClear(map);
  BlockPoolRelease(map->pool);
  ContainerHeapFree(map->buckets);
  if (map->holder && *map->holder == map) *map->holder = nullptr;
  ContainerHeapFree(map);
}

int64_t KeyedMapCount(const KeyedMap* map) { return map ? map->count : 0; }

RtString KeyedMapCurrentKey(const KeyedMap* map) {
  return map && map->current && !IntegerKeys(map) ? map->current->key.text : nullptr;
}

int64_t KeyedMapCurrentKeyInt(const KeyedMap* map) {
  return map && map->current && IntegerKeys(map) ? map->current->key.integer : 0;
}

void KeyedMapSupportStart() {
  static const MapFieldHandlers handlers = {KeyedMapCreate, KeyedMapCopy, KeyedMapFree};
  g_fieldHandlers.store(&handlers, std::memory_order_release);
}

const MapFieldHandlers* MapFieldHandlersGet() { return g_fieldHandlers.load(std::memory_order_acquire); }

}  // namespace rt
