// Hash maps with a built-in cursor, keyed by RtString or by integer.
#pragma once

#include "core/types.h"

namespace rt {

constexpr int32_t MapNoCase = 1;
constexpr int32_t MapManagedElements = 2;
constexpr int32_t MapIntegerKeys = 4;

struct KeyedMap;

KeyedMap* KeyedMapCreate(int64_t elementSize, int32_t flags, const void* layout, KeyedMap** holder, int64_t bucketCount);
void* KeyedMapFind(KeyedMap* map, RtString key);
void* KeyedMapFindInt(KeyedMap* map, int64_t key);
void* KeyedMapAdd(KeyedMap* map, RtString key, int replace);
void* KeyedMapAddInt(KeyedMap* map, int64_t key, int replace);
void KeyedMapReset(KeyedMap* map);
void* KeyedMapNext(KeyedMap* map);
void* KeyedMapDeleteCurrent(KeyedMap* map);
void KeyedMapClear(KeyedMap* map);
void KeyedMapCopy(KeyedMap* source, KeyedMap* destination, int clearFirst);
void KeyedMapFree(KeyedMap* map);
int64_t KeyedMapCount(const KeyedMap* map);
RtString KeyedMapCurrentKey(const KeyedMap* map);
int64_t KeyedMapCurrentKeyInt(const KeyedMap* map);

// Start-up step: registers create/copy/free as the handlers for map fields
// inside structures.
void KeyedMapSupportStart();

}  // namespace rt
