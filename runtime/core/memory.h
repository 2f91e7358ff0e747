// Sized memory blocks and intrusive node lists: the allocation primitives of
// the whole runtime. Nothing here throws; failures are null results.
#pragma once

#include "core/types.h"

namespace rt {

// A zero-filled block whose usable length is kept in a 64-bit word just in
// front of the returned address, so it can be resized without the caller
// passing the old length. Never mix these blocks with plain heap blocks.
void* SizedAlloc(size_t size);
// Resizes to `size` usable bytes, zero-filling everything past the old length.
// Null for a null block or when memory runs out (the old block then stays valid).
void* SizedResize(void* block, size_t size);
void SizedFree(void* block);  // null is ignored
size_t SizedLength(const void* block);

// A doubly linked list held by one head pointer (null when empty). Every node
// is one SizedAlloc block: {next, previous, user data...}. Callers only ever
// see the address of the user data. New nodes go to the head.
using NodeListHead = void*;

void* NodeListPush(NodeListHead* head, size_t dataSize);        // zero-filled data or null
void NodeListRemove(NodeListHead* head, void* data);            // data must belong to the list
void* NodeListContains(NodeListHead head, const void* data);    // data or null
void* NodeListFirst(NodeListHead head);                         // user data of the head, or null
void* NodeListNext(const void* data);                           // user data of the next node, or null

}  // namespace rt
