// Numbered objects. Every library (serial ports, files, windows, gadgets,
// images) keeps its objects in one ObjectTable:
//  - numbers 0..n select static slots; a slot's record is created on first
//    use and reused (never freed) when the object is freed and created again;
//  - DynamicNumber creates an anonymous record in the table's dynamic list,
//    whose address is the object's handle;
//  - a record is live while its first machine word (the presence word, the
//    library's native handle) is non-zero.
// Every operation holds the table's recursive mutex for its whole duration;
// the library's free function runs with the lock held.
#pragma once

#include "core/types.h"

namespace rt {

using ObjectFreeFunction = void (*)(ObjectNumber number);

struct ObjectTable;

// Null for a negative element size or an increment below 1. Records are at
// least one word long, so that the presence word always lies inside them.
ObjectTable* ObjectTableCreate(int32_t elementSize, int32_t increment, ObjectFreeFunction freeFunction);

// Record for `number` (zero-filled when new), or null for an invalid number
// (below -1, or too large for a slot array) or when memory runs out; the
// table is then unchanged. A live static number is freed first.
void* ObjectTableAllocate(ObjectTable* table, ObjectNumber number);

// Live record or null. A number outside the slot array counts only if it is
// the handle of one of this table's dynamic records; any other number is
// never read through, so numbers from the program need no checking first.
void* ObjectTableGet(ObjectTable* table, ObjectNumber number);

// Static: the live record's address; dynamic: the handle itself; else 0.
intptr_t ObjectTableCheck(ObjectTable* table, ObjectNumber number);

// Static: zero-fill the record (it stays for the next use of the number);
// dynamic: unlink and free the record.
void ObjectTableRelease(ObjectTable* table, ObjectNumber number);

// Calls the free function once for every live object: static numbers in
// increasing order, then dynamic objects newest first.
void ObjectTableReleaseAll(ObjectTable* table);

// A walk over the live objects. Iterate takes the lock; Next returns null
// (and releases the lock) at the end. Next keeps returning the head of the
// dynamic list until the caller frees it. (ReleaseAll frees a dynamic record
// itself when the free function leaves it in place.)
void ObjectTableIterate(ObjectTable* table);
void* ObjectTableNext(ObjectTable* table, ObjectNumber* number);

// The number under which a record is addressed: the handle for dynamic records.
inline ObjectNumber ObjectHandle(const void* record) { return static_cast<ObjectNumber>(reinterpret_cast<intptr_t>(record)); }

}  // namespace rt
