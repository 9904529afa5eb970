// Finding a stub's declaration of the compact streams it applies among its
// bytes, wherever the linker put it.
#include "format/stub_mark.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Mark(uint8_t oldest, uint8_t newest) {
  return std::string(STUB_MARK_MAGIC, STUB_MARK_MAGIC_SIZE) + char(oldest) + char(newest);
}

bool Applies(const std::string& stub, uint8_t version) {
  return StubAppliesCompact(reinterpret_cast<const uint8_t*>(stub.data()),
                            static_cast<int32_t>(stub.size()), version);
}

TEST(StubMark, FoundAnywhereAndOnlyWithTheVersionInItsRange) {
  const std::string filler(300, '\x5A');
  const std::string ours(reinterpret_cast<const char*>(&STUB_MARK), sizeof STUB_MARK);
  EXPECT_TRUE(Applies(filler + ours + filler, COMPACT_VERSION));
  EXPECT_TRUE(Applies(ours, COMPACT_VERSION)) << "the whole stub is the mark";
  EXPECT_FALSE(Applies(filler, COMPACT_VERSION));
  EXPECT_FALSE(Applies(ours.substr(0, ours.size() - 1), COMPACT_VERSION))
      << "cut short by the stub's end";
  EXPECT_FALSE(Applies(filler + "PBSTUB:COMPACTS" + ours.substr(STUB_MARK_MAGIC_SIZE),
                       COMPACT_VERSION))
      << "the magic without its NUL";
  const std::string ranged = filler + Mark(3, 5) + filler;
  for (auto [version, applies] :
       {std::pair{2, false}, {3, true}, {4, true}, {5, true}, {6, false}})
    EXPECT_EQ(Applies(ranged, static_cast<uint8_t>(version)), applies) << version;
  EXPECT_TRUE(Applies("PBSTUB:" + Mark(1, 1) + Mark(7, 9), 8))
      << "a false start, then a mark that does not take it, then one that does";
}

}  // namespace
