// Hash maps with a built-in cursor, keyed by RtString or by integer.
// Elements are fixed-size, zero-filled when added, and live in entries taken
// from a shared BlockPool. A map has no lock: its users serialise access.
#pragma once

#include "core/types.h"

namespace rt {

constexpr int32_t MapNoCase = 1;           // string keys hash and compare without case
constexpr int32_t MapManagedElements = 2;  // elements hold fields set up and torn down from the layout
constexpr int32_t MapIntegerKeys = 4;      // keys are integers, stored in place

struct KeyedMap;

// Builds the map first, then frees whatever map *holder held and stores the
// new one there. When memory runs out the result is null and *holder keeps
// its old map. A bucket count of 0 or less is taken as 1.
KeyedMap* KeyedMapCreate(int64_t elementSize, int32_t flags, const void* layout, KeyedMap** holder, int64_t bucketCount);

// The element, made current; null (cursor untouched) when the key is absent
// or is of the other kind than the map's keys. A null string key is "".
void* KeyedMapFind(KeyedMap* map, RtString key);
void* KeyedMapFindInt(KeyedMap* map, int64_t key);

// A zero-filled element for the key, made current. With replace = 1 an
// existing key's element is reused (cleared); with replace = 0 a new entry is
// always added, and it hides any older one with the same key until it is
// deleted. Null when memory runs out, the map then unchanged.
void* KeyedMapAdd(KeyedMap* map, RtString key, int replace);
void* KeyedMapAddInt(KeyedMap* map, int64_t key, int replace);

// The walk: Reset, then Next until null. Deleting the current entry during a
// walk is allowed; the next Next returns the entry that followed it.
void KeyedMapReset(KeyedMap* map);
void* KeyedMapNext(KeyedMap* map);
void* KeyedMapDeleteCurrent(KeyedMap* map);  // the element before it in walk order, or null

void KeyedMapClear(KeyedMap* map);
// Adds (replacing) every key of source to destination, element bytes
// included; the source's cursor is left as it was. Maps with different key
// kinds, or a map copied onto itself, are left alone.
void KeyedMapCopy(KeyedMap* source, KeyedMap* destination, int clearFirst);
void KeyedMapFree(KeyedMap* map);  // nulls the holder if it still holds this map

int64_t KeyedMapCount(const KeyedMap* map);
RtString KeyedMapCurrentKey(const KeyedMap* map);     // null without a current string entry
int64_t KeyedMapCurrentKeyInt(const KeyedMap* map);   // 0 without a current integer entry

// Handlers through which structures with map fields set up, copy and tear
// down those fields.
struct MapFieldHandlers {
  KeyedMap* (*create)(int64_t elementSize, int32_t flags, const void* layout, KeyedMap** holder, int64_t bucketCount);
  void (*copy)(KeyedMap* source, KeyedMap* destination, int clearFirst);
  void (*free)(KeyedMap* map);
};

// Start-up step: registers create/copy/free as the handlers for map fields.
void KeyedMapSupportStart();
const MapFieldHandlers* MapFieldHandlersGet();  // null before KeyedMapSupportStart

}  // namespace rt
