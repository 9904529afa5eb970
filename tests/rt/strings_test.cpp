#include "rt/strings.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>

#include "rt/heaps.h"

namespace {

class Strings : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(CreateHeaps());
    ASSERT_NE(InitScratchBuffer(), nullptr);
  }
  void SetUp() override { start = ScratchCursor; }
  void TearDown() override { ScratchCursor = start; }

  // Checks the string-result rules: the result starts where asked and the
  // cursor rests on its NUL.
  void ExpectResult(const char* result, const char* at, const std::string& text) {
    EXPECT_EQ(result, at);
    EXPECT_EQ(std::string(result), text);
    EXPECT_EQ(ScratchCursor, result + text.size());
  }

  char* start = nullptr;
};

TEST_F(Strings, StoreKeepsACopyAndRewinds) {
  StringVar kept = nullptr;
  AppendString("abc");
  AppendString(nullptr);
  AppendString("def");
  ExpectResult(start, start, "abcdef");
  StoreString(&kept, start);
  EXPECT_EQ(ScratchCursor, start);
  EXPECT_STREQ(kept, "abcdef");

  StoreString(&kept, ScratchCursor);  // an empty result is a one-byte block
  ASSERT_NE(kept, nullptr);
  EXPECT_EQ(StringsEqual(kept, ""), 1);
  EXPECT_EQ(StringsEqual(nullptr, ""), 1);
  FreeString(&kept);
}

TEST_F(Strings, NestedResultsBuildBehindEachOther) {
  AppendString("Game.EXE");
  char* inner = ScratchCursor + 1;
  ToLowerCase(start, inner);
  ExpectResult(RightPart(inner, 4, inner), inner, ".exe");
  EXPECT_STREQ(start, "Game.EXE") << "the outer result is intact";
  EXPECT_EQ(StringsEqual(start + 4, ".exe"), 0) << "comparison is case-sensitive";
}

TEST_F(Strings, PartsTrimsCaseNumbersAndComparisons) {
  for (auto [n, left, right] :
       {std::tuple{4, "abc", "abc"}, {2, "ab", "bc"}, {0, "", ""}, {-1, "", ""}}) {
    ExpectResult(LeftPart("abc", n, start), start, left);
    ExpectResult(RightPart("abc", n, start), start, right);
  }
  ExpectResult(RightPart(nullptr, 2, start), start, "");
  for (auto [from, n, middle] :
       {std::tuple{2, 2, "bc"}, {0, 9, "abc"}, {3, 5, "c"}, {4, 1, ""}, {2, -1, ""}})
    ExpectResult(MiddlePart("abc", from, n, start), start, middle);
  ExpectResult(TrimLeading(" \ta ", start), start, "\ta ");  // spaces only, not tabs
  ExpectResult(TrimTrailing(" a\t  ", start), start, " a\t");
  ExpectResult(TrimBoth("  a b  ", start), start, "a b");
  ExpectResult(TrimBoth("   ", start), start, "");
  ExpectResult(ToUpperCase("`az{\xDF\xE0\xF7\xFF", start), start, "`AZ{\xDF\xC0\xD7\xDF");
  ExpectResult(SpaceString(-2, start), start, "");
  ExpectResult(CharString(0x1E9, start), start, "\xE9");  // the low byte
  ExpectResult(FormatDecimal(0, start), start, "0");
  ExpectResult(FormatDecimal(-2147483647 - 1, start), start, "-2147483648");
  ExpectResult(FormatHex(-1, start), start, "FFFFFFFF");
  ExpectResult(FormatHex(0xAB0, start), start, "AB0");
  for (auto [width, text] : {std::pair{0, "255"}, {1, "65535"}, {2, "4294967295"}})
    ExpectResult(FormatUnsignedDecimal(-1, width, start), start, text);
  EXPECT_EQ(StringLength(nullptr), 0);
  // A result is cut at the buffer's end, which keeps its NUL.
  char* last = start + ScratchRoom(start);
  ExpectResult(SpaceString(9, last - 2), last - 2, "  ");
  // Bytes compare unsigned (order 2: after, 1: before, 0: equal); numbers
  // wrap modulo 2^32.
  const std::tuple<const char*, const char*, int> pairs[] = {
      {"b", "a", 2},    {"a", "a", 0},     {"abc", "ab", 2},
      {"\xE9", "z", 2}, {nullptr, "a", 1}, {"", nullptr, 0},
  };
  for (auto [a, b, order] : pairs)
    EXPECT_EQ(StringGreater(a, b) * 2 + StringLess(a, b), order)
        << testing::PrintToString(a) << testing::PrintToString(b);
  EXPECT_EQ(FirstCharCode("\xE9t"), 0xE9);
  // clang-format off
  const std::pair<const char*, int32_t> numbers[] = {
      {"  42x7", 42}, {"-17", -17}, {"+8", 8}, {"4294967299", 3}, {"- 5", 0}, {"--5", 0},
      {"2147483648", -2147483648}, {"-2147483648", -2147483648}, {"\t5", 0}, {"", 0},
      {nullptr, 0}};
  // clang-format on
  for (auto [text, value] : numbers)
    EXPECT_EQ(ParseInteger(text), value) << (text ? text : "null");
}

// One field, an array of two pairs whose second field is named, one more.
TEST_F(Strings, FreeRecordStringsWalksNestedArrays) {
  StringVar record[6] = {};
  for (StringVar& field : record)
    AssignText(&field, "x");
  constexpr int32_t F = sizeof(StringVar);
  const int32_t fields[]{0, FIELDS_ARRAY, 2, F, 2 * F, F, FIELDS_END, 5 * F, FIELDS_END};
  FreeRecordStrings(record, fields);
  for (int i = 0; i < 6; i++)
    EXPECT_EQ(record[i] != nullptr, i == 1 || i == 3) << i;
  const int32_t rest[]{F, 3 * F, FIELDS_END};
  FreeRecordStrings(record, rest);
}

TEST_F(Strings, PathFileName) {
  for (auto [path, name] : {std::pair{"C:\\games\\old\\game.exe", "game.exe"},
                            {"\"C:\\games\\old\\game.exe\"", "game.exe"},
                            {"game.exe", "game.exe"},
                            {"C:\\games\\", ""},
                            {"C:game.exe", "C:game.exe"},
                            {"C:/games/game.exe", "C:/games/game.exe"},
                            {"\"quoted\" tail", "quoted"},
                            {nullptr, ""}}) {
    ScratchCursor = start;
    ExpectResult(PathFileName(path), start, name);
  }
}

}  // namespace
