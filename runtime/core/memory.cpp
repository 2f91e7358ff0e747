#include "core/memory.h"

#include <cstring>

#include "core/platform.h"

namespace rt {

namespace {

// The length word sits in front of the user bytes. 16 bytes keep the user
// area aligned for any scalar type, as malloc's own blocks are.
constexpr size_t kHeader = 16;

unsigned char* BlockStart(const void* block) {
  return static_cast<unsigned char*>(const_cast<void*>(block)) - kHeader;
}

struct Node {
  Node* next;
  Node* previous;
};
constexpr size_t kNodeHeader = (sizeof(Node) + 15) & ~size_t{15};

Node* NodeOf(const void* data) {
  return reinterpret_cast<Node*>(static_cast<unsigned char*>(const_cast<void*>(data)) - kNodeHeader);
}
void* DataOf(Node* node) { return node ? reinterpret_cast<unsigned char*>(node) + kNodeHeader : nullptr; }

}  // namespace

void* SizedAlloc(size_t size) {
  if (size > SIZE_MAX - kHeader) return nullptr;
  auto* raw = static_cast<unsigned char*>(platform::HeapAllocate(size + kHeader));
  if (!raw) return nullptr;
  const uint64_t length = size;
  std::memcpy(raw + kHeader - sizeof(uint64_t), &length, sizeof length);
  return raw + kHeader;
}

size_t SizedLength(const void* block) {
  if (!block) return 0;
  uint64_t length;
  std::memcpy(&length, BlockStart(block) + kHeader - sizeof(uint64_t), sizeof length);
  return static_cast<size_t>(length);
}

void* SizedResize(void* block, size_t size) {
  if (!block || size > SIZE_MAX - kHeader) return nullptr;
  const size_t old = SizedLength(block);
  auto* raw = static_cast<unsigned char*>(platform::HeapReallocate(BlockStart(block), size + kHeader));
  if (!raw) return nullptr;  // the old block is untouched and still owned by the caller
  if (size > old) std::memset(raw + kHeader + old, 0, size - old);
  const uint64_t length = size;
  std::memcpy(raw + kHeader - sizeof(uint64_t), &length, sizeof length);
  return raw + kHeader;
}

void SizedFree(void* block) {
  if (block) platform::HeapRelease(BlockStart(block));
}

void* NodeListPush(NodeListHead* head, size_t dataSize) {
  if (dataSize > SIZE_MAX - kNodeHeader) return nullptr;
  auto* node = static_cast<Node*>(SizedAlloc(kNodeHeader + dataSize));
  if (!node) return nullptr;
  Node* old = *head ? NodeOf(*head) : nullptr;
  node->next = old;
  node->previous = nullptr;
  if (old) old->previous = node;
  *head = DataOf(node);
  return *head;
}

void NodeListRemove(NodeListHead* head, void* data) {
  Node* node = NodeOf(data);
  if (*head == data) {
    *head = DataOf(node->next);
    if (node->next) node->next->previous = nullptr;
  } else {
    if (node->previous) node->previous->next = node->next;
    if (node->next) node->next->previous = node->previous;
  }
  SizedFree(node);
}

void* NodeListContains(NodeListHead head, const void* data) {
  for (void* d = head; d; d = NodeListNext(d)) {
    if (d == data) return d;
  }
  return nullptr;
}

void* NodeListFirst(NodeListHead head) { return head; }

void* NodeListNext(const void* data) { return data ? DataOf(NodeOf(data)->next) : nullptr; }

}  // namespace rt
