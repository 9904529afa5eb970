// Numbered files, values, lines and sizes by path; byte and block I/O is
// checked byte for byte through the patches the tool writes and reads back.
#include "rt/files.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "tests/test_files.h"

namespace {

class FilesTest : public FolderTest {};

TEST_F(FilesTest, NumberedAndAutomaticFilesKeepTheirOwnPositions) {
  std::string path = folder->Write("shared", "abc");
  ASSERT_NE(OpenForRead(1, path.c_str()), 0);
  ASSERT_NE(OpenForRead(4, path.c_str()), 0);
  int32_t oldest = OpenForRead(-1, path.c_str()), older = OpenForRead(-1, path.c_str()),
          newer = OpenForRead(-1, path.c_str());
  ASSERT_NE(oldest, 0);
  ASSERT_TRUE(older != oldest && newer != older && newer != oldest);
  for (int32_t n : {1, 4, oldest, older, newer}) {
    SelectFile(n);
    EXPECT_EQ(ReadFileByte(), 'a') << n;
  }
  // Closed from the middle and the head of the automatic ones, the rest read on.
  CloseFileSlot(older);
  CloseFileSlot(newer);
  const int32_t fourth = SelectFile(4);  // closed numbers leave it current
  EXPECT_EQ(SelectFile(older), fourth);
  EXPECT_EQ(SelectFile(newer), fourth);
  for (int32_t n : {1, oldest}) {
    SelectFile(n);
    EXPECT_EQ(ReadFileByte(), 'b') << n;
  }
  // Deleting fails while any slot holds the file open without delete sharing.
  EXPECT_FALSE(DeleteFileA(path.c_str()));
  CloseAllFiles();
  EXPECT_TRUE(DeleteFileA(path.c_str()));
}

// Little-endian values from one read each: the sign of short values kept,
// a value cut by the end zero-filled, no byte lost by the end test.
TEST_F(FilesTest, ValuesAndTheEndTest) {
  const std::string bytes("\x34\x12\xFE\xFF\x78\x56\x34\x12\0\0\xC0\x3F\xFF\x7F", 14);
  ASSERT_NE(OpenForRead(3, folder->Write("empty", "").c_str()), 0);
  ASSERT_NE(OpenForRead(2, folder->Write("values", bytes).c_str()), 0);
  EXPECT_EQ(ReadFileInt16(), 0x1234);
  EXPECT_EQ(ReadFileInt16(), -2);
  EXPECT_EQ(ReadFileInt32(), 0x12345678);
  EXPECT_EQ(FileAtEnd(2), 0);
  EXPECT_EQ(FileAtEnd(3), -1) << "the number's file, not the current one";
  EXPECT_EQ(ReadFileFloat32(), 1.5f);
  EXPECT_EQ(GetFilePosition(), 12);
  EXPECT_EQ(ReadFileInt32(), 0x7FFF);
  EXPECT_EQ(FileAtEnd(2), -1);
  EXPECT_EQ(ReadFileInt16() + ReadFileFloat32(), 0.0f);
}

// Both open at the start and keep the bytes; others may read beside an
// update but not beside an exclusive open. Only an update creates a file.
TEST_F(FilesTest, UpdateAndExclusiveOpens) {
  const std::string path = folder->Write("opened", "old");
  for (auto [open, kept] : {std::pair{&OpenForUpdate, "oXd"}, {&OpenExclusive, ""}}) {
    ASSERT_NE(open(1, path.c_str()), 0);
    EXPECT_EQ(ReadFileByte(), 'o');
    EXPECT_EQ(WriteFileByte('X' + 0x100), 1);  // the low byte alone
    EXPECT_EQ(ReadBytes(path), kept) << "read beside the open file";
    CloseFileSlot(1);
  }
  EXPECT_EQ(ReadBytes(path), "oXd");
  EXPECT_NE(OpenForUpdate(1, folder->Path("new").c_str()), 0) << "created";
  EXPECT_EQ(OpenExclusive(2, folder->Path("none").c_str()), 0) << "not created";
}

// Every line end, a NUL among them; the file's end test agrees with the
// lines read. With room for three bytes a longer line is cut, and its rest
// skipped.
TEST_F(FilesTest, ReadTextLineOverEveryLineEnd) {
  const std::pair<std::string, const char*> cases[] = {
      {"a\r\nb", "a|b|"},     {"a\rb", "a|b|"},       {"a\nb", "a|b|"},
      {"a\n\rb", "a||b|"},    {"a\r\r\nb", "a||b|"},  {std::string("a\0b", 3), "a|b|"},
      {"a\r", "a|"},          {"\r\n\r\n", "||"},     {"", ""},
      {"abcde\nx", "abc|x|"}, {"abc\r\nd", "abc|d|"}, {"abcd\r", "abc|"},
  };
  const ScratchMark mark;
  ScratchCursor = mark.start + ScratchRoom(mark.start) - 3;
  for (const auto& [content, expected] : cases) {
    ASSERT_NE(OpenForRead(1, folder->Write("lines", content).c_str()), 0);
    std::string lines;
    while (FileAtEnd(1) == 0)
      lines += Taken(ReadTextLine()) + "|";
    EXPECT_EQ(lines, expected) << testing::PrintToString(content);
    CloseFileSlot(1);
  }
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
