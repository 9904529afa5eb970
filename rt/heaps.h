// The runtime's two private heaps and the object lists kept in the second.
//
// All runtime memory comes from MainHeap; ObjectList nodes come from
// ListHeap. Exhaustion policy, the same everywhere in the runtime: an
// allocation that fails returns null, and every caller turns that into its
// own failure result (0, none, the empty string) without writing anything.
#pragma once

#include <cstddef>
#include <cstdint>

static_assert(sizeof(void*) == 4, "object numbers are 32-bit addresses");

// Creates both heaps (MainHeap 4000 bytes, ListHeap 1024 bytes, growable).
// Returns false when either cannot be made; nothing is left half-created.
bool CreateHeaps();
// Destroys ListHeap, then MainHeap; every block still allocated goes with them.
void DestroyHeaps();

void* MainAlloc(size_t bytes);      // not zero-filled; null when exhausted
void* MainAllocZero(size_t bytes);  // zero-filled; null when exhausted
// Enlarges a block, zero-filling the added bytes. On failure returns null
// and leaves the old block as it was.
void* MainReAllocZero(void* block, size_t bytes);
void MainFree(void* block);  // null is ignored

void ZeroFill(void* address, size_t length);

// A doubly linked list identified by its head (null while empty). Each node
// holds a link to the older node, a link to the newer one, then the record.
// The list hands out record addresses; walking from the head visits the
// records newest first.
struct ObjectNode {
  ObjectNode* next;  // older
  ObjectNode* prev;  // newer; never read on the head
};
using ObjectList = ObjectNode*;

// Adds a zero-filled record at the head; null when no node can be had.
void* ObjectListAdd(ObjectList* head, size_t recordSize);
void ObjectListRemove(ObjectList* head, void* record);

// Walking: the newest record, and the one older than a given record (null
// at the end). Read the next record before removing the current one.
void* ObjectListFirst(ObjectList head);
void* ObjectListNext(void* record);
