// Numbered slot tables: the one mechanism by which the runtime keeps its
// windows, controls and files.
//
// A table is a growable array of fixed-size records indexed by a number the
// caller chooses (0..capacity), plus an ObjectList for objects numbered
// automatically (-1). The automatic number is the address of the record in
// its list node. A record is in use while its first 32-bit word is non-zero.
// Record addresses stay valid only until the next SlotAcquire on the table:
// growth may move the array.
#pragma once

#include <cstdint>

#include "rt/heaps.h"

struct SlotTable {
  // Fixed per instance.
  int32_t initialCapacity;
  int32_t step;          // growth on a number n >= capacity: capacity = n + step
  int32_t spareRecords;  // records beyond the capacity; at least 1
  uint32_t recordSize;
  // Kept by the table.
  int32_t capacity;
  unsigned char* records;  // capacity + spareRecords records in MainHeap
  ObjectList list;
};

// Sets the capacity to the initial value and allocates the zeroed array.
// False when the array cannot be allocated.
bool SlotTableCreate(SlotTable* table);

// The record for n: for -1 a new zero-filled list record, whose address is
// the automatic number; for n >= capacity the array grows first. A record in
// use is returned as it is. Null when memory is exhausted (nothing changed).
void* SlotAcquire(SlotTable* table, int32_t n);

// The record for n if it is in use, else null. Numbers outside 0..capacity
// are taken as automatic numbers and count only while the table's list
// holds their record, so a released or made-up number is a miss.
void* SlotFind(const SlotTable* table, int32_t n);

// Frees the number: a table record's first word is zeroed (the rest is kept
// until the number is filled again); an automatic number's node is removed
// and the number is invalid from then on (a number the list does not hold
// is left alone).
void SlotRelease(SlotTable* table, int32_t n);

// Calls visit with every automatic number, newest first. The next record is
// read before each call, so visit may release the number it is given.
void ForEachAutomaticNumber(const SlotTable* table, void (*visit)(int32_t number));

// The automatic number of a list record, and back.
int32_t AutomaticNumber(void* record);
void* AutomaticRecord(int32_t number);

// Whether n indexes the table's array (0..capacity).
bool IsTableNumber(const SlotTable* table, int32_t n);
