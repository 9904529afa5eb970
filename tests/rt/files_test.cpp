// Numbered files and sizes by path; byte, block and line I/O is checked
// byte for byte through the patches the tool writes and reads back.
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
