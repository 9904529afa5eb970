// Numbers remembered for the user, under a key of the test's own.
#include "rt/settings.h"

#include <gtest/gtest.h>
#include <windows.h>

namespace {

constexpr char KEY[] = "Software\\patchbuilder tests\\settings";

TEST(Settings, NumbersKeptAndAnythingElseReadsAsTheFallback) {
  RegDeleteKeyA(HKEY_CURRENT_USER, KEY);
  EXPECT_EQ(ReadUserNumber(KEY, "Choice", 7), 7) << "no key yet";
  ASSERT_TRUE(WriteUserNumber(KEY, "Choice", 1));
  EXPECT_EQ(ReadUserNumber(KEY, "Choice", 7), 1);
  ASSERT_TRUE(WriteUserNumber(KEY, "Choice", 0));
  EXPECT_EQ(ReadUserNumber(KEY, "Choice", 7), 0) << "a kept 0 is not a missing value";
  EXPECT_EQ(ReadUserNumber(KEY, "Other", 7), 7);
  HKEY key;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, KEY, 0, KEY_SET_VALUE, &key), ERROR_SUCCESS);
  RegSetValueExA(key, "Text", 0, REG_SZ, reinterpret_cast<const BYTE*>("1"), 2);
  RegSetValueExA(key, "Wide", 0, REG_QWORD, reinterpret_cast<const BYTE*>("12345678"), 8);
  RegCloseKey(key);
  EXPECT_EQ(ReadUserNumber(KEY, "Text", 7), 7);
  EXPECT_EQ(ReadUserNumber(KEY, "Wide", 7), 7);
  RegDeleteKeyA(HKEY_CURRENT_USER, KEY);
  RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\patchbuilder tests");
}

}  // namespace
