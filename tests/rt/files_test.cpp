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
  int32_t older = OpenForRead(-1, path.c_str()), newer = OpenForRead(-1, path.c_str());
  ASSERT_NE(older, 0);
  ASSERT_NE(newer, older);
  for (int32_t n : {1, 4, older, newer}) {
    SelectFile(n);
    EXPECT_EQ(ReadFileByte(), 'a') << n;
  }
  SelectFile(1);
  EXPECT_EQ(ReadFileByte(), 'b');
  // Deleting fails while a slot holds the file open without delete sharing.
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
