// Shared by the runtime, patch and stub tests: files made, read and listed
// with plain C and Win32 calls, independent of the code tested; bytes are
// held in std::string. The runtime is set up once per process.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <string>

#include "rt/files.h"
#include "rt/heaps.h"
#include "rt/strings.h"

using Names = std::set<std::string>;

inline void SetUpRuntime() {
  ASSERT_TRUE(CreateHeaps() && InitScratchBuffer() != nullptr &&
              (FileSlotTable.records != nullptr || InitFileSlots()));
}

// A string result copied out, the ScratchCursor rewound over it.
inline std::string Taken(char* result) {
  if (result == nullptr)
    return "<null>";
  std::string text = result;
  ScratchCursor = result;
  return text;
}

inline void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream file(path, std::ios::binary);
  ASSERT_TRUE(file.write(bytes.data(), bytes.size()).flush().good()) << path;
}

// The file's bytes; a missing file reads as empty.
inline std::string ReadBytes(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), {}};
}

// Equal bytes, or the sizes and the first offset at which they differ.
inline testing::AssertionResult SameBytes(const std::string& actual,
                                          const std::string& expected) {
  if (actual == expected)
    return testing::AssertionSuccess();
  auto differs =
      std::mismatch(actual.begin(), actual.end(), expected.begin(), expected.end()).first;
  return testing::AssertionFailure()
         << actual.size() << " bytes, expected " << expected.size()
         << "; first difference at offset " << differs - actual.begin();
}

inline std::string RandomBytes(std::mt19937& rng, size_t size) {
  std::string bytes(size, '\0');
  for (char& b : bytes)
    b = static_cast<char>(rng());
  return bytes;
}

inline Names ListFolder(const std::string& folder) {
  Names names;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
  for (bool more = search != INVALID_HANDLE_VALUE; more;
       more = FindNextFileA(search, &found))
    if (found.cFileName[0] != '.')
      names.insert(found.cFileName);
  FindClose(search);
  return names;
}

// Files and empty subfolders.
inline void ClearFolder(const std::string& folder) {
  for (const auto& name : ListFolder(folder))
    if (!DeleteFileA((folder + "\\" + name).c_str()))
      RemoveDirectoryA((folder + "\\" + name).c_str());
}

// A folder of its own under the Windows temp folder, removed with its files.
struct TempFolder {
  std::string root;

  explicit TempFolder(const std::string& name) {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    root = temp + name + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(root.c_str(), nullptr);
  }
  ~TempFolder() {
    ClearFolder(root);
    RemoveDirectoryA(root.c_str());
  }
  std::string Path(const std::string& name) const { return root + "\\" + name; }
  std::string Write(const std::string& name, const std::string& bytes) const {
    WriteBytes(Path(name), bytes);
    return Path(name);
  }
};

// The tests of a suite share one folder; no file stays open after a test.
class FolderTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    SetUpRuntime();
    folder = new TempFolder("pbtest");
  }
  static void TearDownTestSuite() { delete folder; }
  void TearDown() override { CloseAllFiles(); }
  inline static TempFolder* folder;
};
