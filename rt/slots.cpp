#include "rt/slots.h"

#include <cstdint>
#include <cstring>

namespace {

unsigned char* RecordAt(const SlotTable* table, int32_t n) {
  return table->records + static_cast<size_t>(n) * table->recordSize;
}

// The array's size for a capacity; 0 when it cannot be addressed at all.
size_t ArrayBytes(const SlotTable* table, int64_t capacity) {
  uint64_t bytes = static_cast<uint64_t>(capacity + table->spareRecords) * table->recordSize;
  return capacity > INT32_MAX || bytes > SIZE_MAX ? 0 : static_cast<size_t>(bytes);
}

bool InUse(const void* record) {
  uint32_t first;
  std::memcpy(&first, record, sizeof first);
  return first != 0;
}

// An automatic number counts only while its record is in the table's list,
// so a stale or made-up number is a miss rather than a read of freed memory.
bool ListHolds(ObjectList list, const void* record) {
  for (void* r = ObjectListFirst(list); r != nullptr; r = ObjectListNext(r))
    if (r == record)
      return true;
  return false;
}

bool IsLiveAutomatic(const SlotTable* table, int32_t n) {
  return n != -1 && ListHolds(table->list, AutomaticRecord(n));
}

bool Grow(SlotTable* table, int32_t n) {
  int64_t capacity = static_cast<int64_t>(n) + table->step;
  size_t bytes = ArrayBytes(table, capacity);
  void* grown = bytes == 0 ? nullptr : MainReAllocZero(table->records, bytes);
  if (grown == nullptr)
    return false;
  table->records = static_cast<unsigned char*>(grown);
  table->capacity = static_cast<int32_t>(capacity);
  return true;
}

}  // namespace

bool SlotTableCreate(SlotTable* table) {
  table->capacity = table->initialCapacity;
  table->list = nullptr;
  table->records =
      static_cast<unsigned char*>(MainAllocZero(ArrayBytes(table, table->capacity)));
  return table->records != nullptr;
}

bool IsTableNumber(const SlotTable* table, int32_t n) {
  return n >= 0 && n <= table->capacity;
}

int32_t AutomaticNumber(void* record) {
  return static_cast<int32_t>(reinterpret_cast<uintptr_t>(record));
}

void* AutomaticRecord(int32_t number) {
  return reinterpret_cast<void*>(static_cast<uintptr_t>(number));
}

void ForEachAutomaticNumber(const SlotTable* table, void (*visit)(int32_t number)) {
  void* record = ObjectListFirst(table->list);
  while (record != nullptr) {
    void* older = ObjectListNext(record);
    visit(AutomaticNumber(record));
    record = older;
  }
}

void* SlotAcquire(SlotTable* table, int32_t n) {
  if (n == -1)
    return ObjectListAdd(&table->list, table->recordSize);
  if (n < 0 || table->records == nullptr)
    return nullptr;
  if (n >= table->capacity && !Grow(table, n))
    return nullptr;
  return RecordAt(table, n);
}

void* SlotFind(const SlotTable* table, int32_t n) {
  void* record;
  if (IsTableNumber(table, n)) {
    if (table->records == nullptr)
      return nullptr;
    record = RecordAt(table, n);
  } else {
    record = IsLiveAutomatic(table, n) ? AutomaticRecord(n) : nullptr;
  }
  if (record == nullptr || !InUse(record))
    return nullptr;
  return record;
}

void SlotRelease(SlotTable* table, int32_t n) {
  if (IsTableNumber(table, n)) {
    if (table->records != nullptr)
      std::memset(RecordAt(table, n), 0, sizeof(uint32_t));
  } else if (IsLiveAutomatic(table, n)) {
    ObjectListRemove(&table->list, AutomaticRecord(n));
  }
}
