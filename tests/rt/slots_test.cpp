#include "rt/slots.h"

#include <gtest/gtest.h>

#include <cstring>
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

class Slots : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(CreateHeaps()); }
};

TEST_F(Slots, GrowthFollowsEachInstanceStep) {
  struct Case { int32_t initial, step, spare, trigger, capacity; };
  for (Case c : {Case{30, 30, 2, 30, 60}, Case{10, 30, 2, 10, 40},
                 Case{10, 10, 1, 10, 20}, Case{10, 10, 1, 25, 35}}) {
    SlotTable table = MakeTable(c.initial, c.step, c.spare);
    for (int32_t n = 0; n < c.initial; n++)
      SlotAcquire(&table, n);
    EXPECT_EQ(table.capacity, c.initial) << "no growth below the capacity";
    SlotAcquire(&table, c.trigger);
    EXPECT_EQ(table.capacity, c.capacity);
    // The last spare record exists and is zero.
    auto* last = reinterpret_cast<Record*>(table.records) + c.capacity + c.spare - 1;
    EXPECT_EQ(last->handle, 0u);
    SlotAcquire(&table, 5);
    EXPECT_EQ(table.capacity, c.capacity) << "a lower number never grows";
  }
}

TEST_F(Slots, RecordsSurviveTheArrayMoving) {
  SlotTable table = MakeTable(10, 30, 2);
  for (int32_t n = 0; n < 10; n++)
    Acquire(table, n, 100 + n);
  Acquire(table, 10, 7);
  Acquire(table, 200, 9);  // grows again, far past the first growth
  EXPECT_EQ(table.capacity, 230);
  for (int32_t n = 0; n < 10; n++) {
    auto* record = static_cast<Record*>(SlotFind(&table, n));
    ASSERT_NE(record, nullptr) << n;
    EXPECT_EQ(record->handle, 100u + n);
    EXPECT_EQ(record->extra, 3u * (100 + n));
  }
  for (int32_t n : {11, 39, 40, 199, 201, 230})
    EXPECT_EQ(SlotFind(&table, n), nullptr) << "records between stay empty: " << n;
}

TEST_F(Slots, GrowthThatCannotBeHadChangesNothing) {
  SlotTable table = MakeTable(10, 30, 2);
  Acquire(table, 4, 44);
  for (int32_t n : {250'000'000, 2147483647}) {  // 2 GB of records; past int32
    EXPECT_EQ(SlotAcquire(&table, n), nullptr) << n;
    EXPECT_EQ(table.capacity, 10);
  }
  EXPECT_EQ(static_cast<Record*>(SlotFind(&table, 4))->handle, 44u);
}

TEST_F(Slots, ReleaseFreesANumberButAcquireReturnsItsRecord) {
  SlotTable table = MakeTable(10, 10, 1);
  EXPECT_EQ(SlotFind(&table, 3), nullptr);
  Record* record = Acquire(table, 3, 42);
  EXPECT_EQ(SlotAcquire(&table, 3), record) << "a record in use comes back unchanged";
  EXPECT_EQ(record->handle, 42u);
  SlotRelease(&table, 3);
  EXPECT_EQ(SlotFind(&table, 3), nullptr);
  EXPECT_EQ(record->extra, 126u) << "only the first word is cleared";
}

TEST_F(Slots, AutomaticNumbersLiveInTheListNewestFirst) {
  SlotTable table = MakeTable(10, 10, 1);
  Record* a = Acquire(table, -1, 1);
  Record* b = Acquire(table, -1, 2);
  Record* c = Acquire(table, -1, 3);
  EXPECT_NE(a, b);
  EXPECT_EQ(table.capacity, 10) << "automatic numbers leave the table alone";
  int32_t numberOfB = AutomaticNumber(b);
  EXPECT_EQ(SlotFind(&table, numberOfB), b);

  std::vector<uint32_t> walk;
  for (void* r = ObjectListFirst(table.list); r != nullptr; r = ObjectListNext(r))
    walk.push_back(static_cast<Record*>(r)->handle);
  EXPECT_EQ(walk, (std::vector<uint32_t>{3, 2, 1}));

  SlotRelease(&table, numberOfB);  // from the middle
  walk.clear();
  for (void* r = ObjectListFirst(table.list); r != nullptr; r = ObjectListNext(r))
    walk.push_back(static_cast<Record*>(r)->handle);
  EXPECT_EQ(walk, (std::vector<uint32_t>{3, 1}));

  SlotRelease(&table, AutomaticNumber(c));  // the head
  EXPECT_EQ(ObjectListFirst(table.list), a);
  SlotRelease(&table, AutomaticNumber(a));  // the last one
  EXPECT_EQ(table.list, nullptr);
  EXPECT_EQ(SlotFind(&table, -1), nullptr);
}

TEST_F(Slots, ZeroFillClearsExactlyTheBlock) {
  unsigned char bytes[8];
  std::memset(bytes, 0xAA, sizeof bytes);
  ZeroFill(bytes + 2, 4);
  const unsigned char expected[8] = {0xAA, 0xAA, 0, 0, 0, 0, 0xAA, 0xAA};
  EXPECT_EQ(std::memcmp(bytes, expected, sizeof bytes), 0);
}

}  // namespace
