#include "rt/slots.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace {

struct Record {
  uint32_t handle;
  uint32_t extra;
};

SlotTable MakeTable(int32_t initial, int32_t step, int32_t spare) {
  SlotTable table{};
  table.initialCapacity = initial;
  table.step = step;
  table.spareRecords = spare;
  table.recordSize = sizeof(Record);
  EXPECT_TRUE(SlotTableCreate(&table));
  return table;
}

Record* Acquire(SlotTable& table, int32_t n, uint32_t handle) {
  auto* record = static_cast<Record*>(SlotAcquire(&table, n));
  record->handle = handle;
  record->extra = handle * 3;
  return record;
}

std::vector<uint32_t> ListHandles(const SlotTable& table) {
  std::vector<uint32_t> handles;
  for (void* r = ObjectListFirst(table.list); r != nullptr; r = ObjectListNext(r))
    handles.push_back(static_cast<Record*>(r)->handle);
  return handles;
}

class Slots : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(CreateHeaps()); }
};

// The tables' own steps are checked on the windows, controls and files.
TEST_F(Slots, GrowthKeepsRecordsAndAddsZeroOnes) {
  SlotTable table = MakeTable(10, 30, 2);
  for (int32_t n = 0; n < 10; n++)
    Acquire(table, n, 100 + n);
  EXPECT_EQ(table.capacity, 10) << "no growth below the capacity";
  Acquire(table, 10, 7);
  Acquire(table, 200, 9);  // grows again, far past the first growth
  EXPECT_EQ(table.capacity, 230);
  SlotAcquire(&table, 5);
  EXPECT_EQ(table.capacity, 230) << "a lower number never grows";
  for (int32_t n = 0; n < 10; n++) {
    auto* record = static_cast<Record*>(SlotFind(&table, n));
    ASSERT_NE(record, nullptr) << n;
    EXPECT_EQ(std::pair(record->handle, record->extra),
              std::pair(100u + n, 300u + 3 * n));
  }
  for (int32_t n : {11, 39, 40, 199, 201, 230, 231})  // 231: the last spare record
    EXPECT_EQ(reinterpret_cast<Record*>(table.records)[n].handle, 0u) << n;
}

TEST_F(Slots, NumbersAndAutomaticNumbersAreReleased) {
  SlotTable table = MakeTable(10, 10, 1);
  EXPECT_EQ(SlotFind(&table, 3), nullptr);
  Record* numbered = Acquire(table, 3, 42);
  EXPECT_EQ(SlotAcquire(&table, 3), numbered) << "a record in use comes back unchanged";
  EXPECT_EQ(numbered->handle, 42u);
  SlotRelease(&table, 3);
  EXPECT_EQ(SlotFind(&table, 3), nullptr);

  Record* a = Acquire(table, -1, 1);
  Record* b = Acquire(table, -1, 2);
  Record* c = Acquire(table, -1, 3);
  EXPECT_EQ(table.capacity, 10) << "automatic numbers leave the table alone";
  EXPECT_EQ(SlotFind(&table, AutomaticNumber(b)), b);
  EXPECT_EQ(ListHandles(table), (std::vector<uint32_t>{3, 2, 1}));
  SlotRelease(&table, AutomaticNumber(b));  // from the middle
  EXPECT_EQ(ListHandles(table), (std::vector<uint32_t>{3, 1}));
  SlotRelease(&table, AutomaticNumber(c));  // the head
  EXPECT_EQ(ObjectListFirst(table.list), a);
  SlotRelease(&table, AutomaticNumber(a));
  EXPECT_EQ(table.list, nullptr);
  EXPECT_EQ(SlotFind(&table, -1), nullptr);
}

}  // namespace
