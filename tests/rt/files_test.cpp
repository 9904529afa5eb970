#include "rt/files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "tests/test_files.h"

namespace {

class FilesTest : public FolderTest {};

TEST_F(FilesTest, TableGrowsTenBeyondTheNumberOpened) {
  std::string path = folder->Write("grow", "abc");
  const int32_t k = FileSlotTable.capacity;  // 10 in a fresh table
  for (auto [number, capacity] : {std::pair{9, k}, {k, k + 10}, {k + 15, k + 25}}) {
    ASSERT_NE(OpenForRead(number, path.c_str()), 0);
    EXPECT_EQ(FileSlotTable.capacity, capacity) << number;
  }
  int32_t older = OpenForRead(-1, path.c_str()), newer = OpenForRead(-1, path.c_str());
  ASSERT_NE(older, 0);
  ASSERT_NE(newer, older);
  for (int32_t n : {9, k, k + 15, older, newer}) {  // all survive the array's moves
    SelectFile(n);
    EXPECT_EQ(ReadFileByte(), 'a') << n;
  }
  // Deleting fails while a slot holds the file open without delete sharing.
  EXPECT_FALSE(DeleteFileA(path.c_str()));
  CloseAllFiles();
  EXPECT_TRUE(DeleteFileA(path.c_str()));
}

TEST_F(FilesTest, FailedOpenKeepsTheOldFileAndLeavesNoCurrentFile) {
  std::string path = folder->Path("keep");
  ASSERT_NE(CreateForWrite(5, path.c_str()), 0);
  EXPECT_EQ(WriteFileByte('x'), 1);
  EXPECT_EQ(CreateForWrite(5, path.c_str()), 0);  // the first handle shares no writing
  EXPECT_EQ(GetFilePosition(), -1);
  EXPECT_EQ(OpenForRead(5, nullptr), 0);
  EXPECT_NE(SelectFile(5), 0);
  EXPECT_EQ(WriteFileByte('y'), 1);
  CloseFileSlot(5);
  EXPECT_EQ(ReadBytes(folder->Path("keep")), "xy");
}

TEST_F(FilesTest, OpenModes) {
  std::string path = folder->Write("modes", "old");
  ASSERT_NE(OpenForUpdate(1, path.c_str()), 0);
  EXPECT_EQ(ReadFileByte(), 'o');  // kept, read from the start
  EXPECT_NE(OpenForUpdate(1, folder->Path("created").c_str()), 0);
  EXPECT_EQ(QueryFileSize(folder->Path("created").c_str()), 0);
  ASSERT_NE(OpenExclusive(2, path.c_str()), 0);
  EXPECT_EQ(OpenForRead(3, path.c_str()), 0);
  CloseFileSlot(2);
  EXPECT_NE(CreateForWrite(3, path.c_str()), 0);
  EXPECT_EQ(GetFileLength(), 0);
  EXPECT_EQ(OpenExclusive(2, folder->Path("missing").c_str()), 0);
}

TEST_F(FilesTest, TwoNumbersReadAlternately) {
  OpenForRead(1, folder->Write("first", "abc").c_str());
  int32_t second = OpenForRead(2, folder->Write("second", "xyz").c_str());
  std::string merged;
  for (int i = 0; i < 6; i++) {
    SelectFile(1 + i % 2);
    merged += static_cast<char>(ReadFileByte());
  }
  EXPECT_EQ(merged, "axbycz");
  EXPECT_EQ(SelectFile(7), second);  // a number not open changes nothing
}

TEST_F(FilesTest, ReadTextLineOverEveryLineEnd) {
  const std::pair<std::string, const char*> cases[] = {
      {"a\r\nb", "a|b|"},  {"a\rb", "a|b|"},      {"a\nb", "a|b|"},
      {"a\n\rb", "a||b|"}, {"a\r\r\nb", "a||b|"}, {std::string("a\0b", 3), "a|b|"},
      {"a\r", "a|"},       {"\r\n\r\n", "||"},    {"", ""},
  };
  for (const auto& [content, expected] : cases) {
    ASSERT_NE(OpenForRead(1, folder->Write("lines", content).c_str()), 0);
    std::string lines;
    while (FileAtEnd(1) == 0)
      lines += Taken(ReadTextLine()) + "|";
    EXPECT_EQ(lines, expected) << testing::PrintToString(content);
    EXPECT_EQ(Taken(ReadTextLine()), "");
    CloseFileSlot(1);
  }
}

bool HeapsIntact() {
  HANDLE heaps[64];
  DWORD count = std::min<DWORD>(GetProcessHeaps(64, heaps), 64);
  return std::all_of(heaps, heaps + count,
                     [](HANDLE h) { return HeapValidate(h, 0, nullptr); });
}

// A line longer than the room left is cut and terminated inside the buffer,
// and still consumed up to its end.
TEST_F(FilesTest, ReadTextLineStopsAtTheScratchEnd) {
  char* start = ScratchCursor;
  char* nearEnd = start + ScratchRoom(start) - 4;
  OpenForRead(
      1, folder->Write("long", "abcd" + std::string(SCRATCH_SIZE, 'x') + "\nxy").c_str());
  ScratchCursor = nearEnd;
  EXPECT_STREQ(ReadTextLine(), "abcd");
  EXPECT_EQ(ScratchCursor, nearEnd + 4);  // on the buffer's last byte
  EXPECT_TRUE(HeapsIntact());
  ScratchCursor = start;
  EXPECT_EQ(Taken(ReadTextLine()), "xy");
}

TEST_F(FilesTest, SingleValuesBlocksAndLines) {
  const std::string values("\xFF\x34\x12\x78\x56\x34\x12\0\0\xC0\x3F\x41\x42", 13);
  OpenForRead(1, folder->Write("values", values).c_str());
  EXPECT_EQ(GetFileLength(), 13);
  EXPECT_EQ(ReadFileByte(), -1);
  EXPECT_EQ(ReadFileInt16(), 0x1234);
  EXPECT_EQ(ReadFileInt32(), 0x12345678);
  EXPECT_EQ(ReadFileFloat32(), 1.5f);
  EXPECT_EQ(ReadFileInt32(), 0x4241);  // short read: high bytes zero
  EXPECT_EQ(ReadFileByte(), 0);
  SetFilePosition(5);
  char block[4];
  EXPECT_EQ(ReadFileBlock(block, 4), 4);
  EXPECT_EQ(std::string(block, 4), std::string("\x34\x12\0\0", 4));
  EXPECT_EQ(GetFilePosition(), 9);

  CreateForWrite(2, folder->Path("written").c_str());
  EXPECT_EQ(WriteTextLine(nullptr) + WriteTextLine(""), 4);
  EXPECT_EQ(WriteTextLine("abc"), 5);
  EXPECT_EQ(WriteFileByte(0x141) + WriteFileBlock("xyz", 3) + FlushCurrentFile(), 5);
  CloseFileSlot(2);  // which also leaves no CurrentFile
  EXPECT_EQ(ReadBytes(folder->Path("written")), "\r\n\r\nabc\r\nAxyz");
  EXPECT_EQ(ReadFileByte() + ReadFileBlock(block, 4) + WriteFileByte(1) +
                WriteFileBlock("x", 1) + WriteTextLine("x") + FlushCurrentFile() +
                GetFilePosition() + GetFileLength(),
            -2);
  EXPECT_EQ(Taken(ReadTextLine()), "");
}

TEST_F(FilesTest, QueryFileSizeByPath) {
  folder->Write("size3.bin", "abc");
  folder->Write("empty", "");
  CreateDirectoryA(folder->Path("sub").c_str(), nullptr);
  std::string absent = "?:";
  for (char letter = 'Y'; letter > 'C'; letter--)
    if (!(GetLogicalDrives() & (1u << (letter - 'A'))))
      absent[0] = letter;
  const std::string in = folder->root + "\\", chars1024(1024, 'a'), chars5000(5000, 'a');
  const std::pair<std::string, int32_t> cases[] = {
      {in + "sub", -2},     {in + "sub\\", -2},  {in + "empty", 0}, {in + "missing", -1},
      {in + "siz*.b?n", 3}, {"Z:", -2},          {"Z:\\", -2},      {"Z:x", -1},
      {absent, -1},         {absent + "\\", -1}, {"", -1},          {chars1024, -1},
      {chars5000, -1},
  };
  for (const auto& [path, size] : cases)
    EXPECT_EQ(QueryFileSize(path.c_str()), size) << path.substr(0, 80);
  EXPECT_EQ(QueryFileSize(nullptr), -1);
}

}  // namespace
