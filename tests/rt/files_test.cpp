#include "rt/files.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/test_files.h"

namespace {

class FilesTest : public FolderTest {};

TEST_F(FilesTest, NumberedAndAutomaticFilesKeepTheirOwnPositions) {
  std::string path = folder->Write("shared", "abc");
  ASSERT_NE(OpenForRead(1, path.c_str()), 0);
  ASSERT_NE(OpenForRead(4, path.c_str()), 0);
  int32_t older = OpenForRead(-1, path.c_str()), newer = OpenForRead(-1, path.c_str());
  ASSERT_NE(older, 0);
  ASSERT_NE(newer, older);
  for (int32_t n : {1, 4, older, newer}) {
    SelectFile(n);
    EXPECT_EQ(ReadFileByte(), 'a') << n;
  }
  const int32_t current = SelectFile(1);
  EXPECT_EQ(SelectFile(7), current) << "a number not open changes nothing";
  EXPECT_EQ(ReadFileByte(), 'b');
  // Deleting fails while a slot holds the file open without delete sharing.
  EXPECT_FALSE(DeleteFileA(path.c_str()));
  CloseAllFiles();
  EXPECT_TRUE(DeleteFileA(path.c_str()));
}

// Creating empties a file that exists; a failed open keeps the file that
// the number holds.
TEST_F(FilesTest, FailedOpenKeepsTheOldFileAndLeavesNoCurrentFile) {
  std::string path = folder->Write("keep", "old bytes");
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

TEST_F(FilesTest, BytesBlocksAndLines) {
  OpenForRead(1, folder->Write("values", std::string("\xFF\x34\x12\0\x41", 5)).c_str());
  EXPECT_EQ(GetFileLength(), 5);
  EXPECT_EQ(ReadFileByte(), -1);
  SetFilePosition(3);
  char block[4];
  EXPECT_EQ(ReadFileBlock(block, 4), 2) << "a short read";
  EXPECT_EQ(std::string(block, 2), std::string("\0\x41", 2));
  EXPECT_EQ(ReadFileByte(), 0) << "at the end, as a zero byte";
  EXPECT_EQ(GetFilePosition(), 5);

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
