#include "rt/strings.h"

#include <gtest/gtest.h>

#include <string>
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
  EXPECT_STREQ(kept, "");
  StringVar never = nullptr;
  EXPECT_EQ(StringsEqual(kept, ""), 1);
  EXPECT_EQ(StringsEqual(never, ""), 1);
  FreeString(&kept);
}

TEST_F(Strings, NestedResultsBuildBehindEachOther) {
  AppendString("Game.EXE");
  char* inner = ScratchCursor + 1;
  ToLowerCase(start, inner);
  ExpectResult(RightPart(inner, 4, inner), inner, ".exe");
  EXPECT_STREQ(start, "Game.EXE") << "the outer result is intact";
  EXPECT_EQ(StringsEqual(inner, ".exe"), 1);
  EXPECT_EQ(StringsEqual(start + 4, ".exe"), 0) << "comparison is case-sensitive";
}

TEST_F(Strings, PartsAndNumbers) {
  const char* s = "abc";
  for (auto [n, right] : {std::pair{4, "abc"}, {3, "abc"}, {2, "bc"}, {0, ""}, {-1, ""}})
    ExpectResult(RightPart(s, n, start), start, right);
  ExpectResult(RightPart(nullptr, 2, start), start, "");
  ExpectResult(FormatDecimal(0, start), start, "0");
  ExpectResult(FormatDecimal(-2147483647 - 1, start), start, "-2147483648");
  ExpectResult(FormatDecimal(2147483647, start), start, "2147483647");
  ExpectResult(FormatDecimal(-45, start), start, "-45");
  ExpectResult(FormatHex(-1, start), start, "FFFFFFFF");
  ExpectResult(FormatHex(0xAB0, start), start, "AB0");
  for (auto [width, text] : {std::pair{0, "255"}, {1, "65535"}, {2, "4294967295"}})
    ExpectResult(FormatUnsignedDecimal(-1, width, start), start, text);
  EXPECT_EQ(StringLength(nullptr), 0);
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
