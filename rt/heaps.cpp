#include "rt/heaps.h"

#include <windows.h>

#include <cstring>

namespace {

constexpr SIZE_T MAIN_HEAP_INITIAL = 4000;
constexpr SIZE_T LIST_HEAP_INITIAL = 1024;

HANDLE MainHeap;
HANDLE ListHeap;

ObjectNode* NodeOf(void* record) {
  return static_cast<ObjectNode*>(record) - 1;
}

void* RecordOf(ObjectNode* node) { return node + 1; }

}  // namespace

bool CreateHeaps() {
  if (MainHeap == nullptr)
    MainHeap = HeapCreate(0, MAIN_HEAP_INITIAL, 0);
  if (ListHeap == nullptr)
    ListHeap = HeapCreate(0, LIST_HEAP_INITIAL, 0);
  if (MainHeap != nullptr && ListHeap != nullptr)
    return true;
  DestroyHeaps();
  return false;
}

void DestroyHeaps() {
  if (ListHeap != nullptr)
    HeapDestroy(ListHeap);
  if (MainHeap != nullptr)
    HeapDestroy(MainHeap);
  ListHeap = nullptr;
  MainHeap = nullptr;
}

void* MainAlloc(size_t bytes) {
  return MainHeap ? HeapAlloc(MainHeap, 0, bytes) : nullptr;
}

void* MainAllocZero(size_t bytes) {
  return MainHeap ? HeapAlloc(MainHeap, HEAP_ZERO_MEMORY, bytes) : nullptr;
}

void* MainReAllocZero(void* block, size_t bytes) {
  if (block == nullptr)
    return MainAllocZero(bytes);
  return HeapReAlloc(MainHeap, HEAP_ZERO_MEMORY, block, bytes);
}

void MainFree(void* block) {
  if (block != nullptr)
    HeapFree(MainHeap, 0, block);
}

void ZeroFill(void* address, size_t length) { std::memset(address, 0, length); }

void* ObjectListAdd(ObjectList* head, size_t recordSize) {
  if (ListHeap == nullptr)
    return nullptr;
  auto* node = static_cast<ObjectNode*>(
      HeapAlloc(ListHeap, HEAP_ZERO_MEMORY, sizeof(ObjectNode) + recordSize));
  if (node == nullptr)
    return nullptr;
  if (*head != nullptr) {
    (*head)->prev = node;
    node->next = *head;
  }
  *head = node;
  return RecordOf(node);
}

void ObjectListRemove(ObjectList* head, void* record) {
  ObjectNode* node = NodeOf(record);
  if (node == *head) {
    *head = node->next;
  } else {
    node->prev->next = node->next;
    if (node->next != nullptr)
      node->next->prev = node->prev;
  }
  HeapFree(ListHeap, 0, node);
}

void* ObjectListFirst(ObjectList head) {
  return head ? RecordOf(head) : nullptr;
}

void* ObjectListNext(void* record) {
  ObjectNode* next = NodeOf(record)->next;
  return next ? RecordOf(next) : nullptr;
}
