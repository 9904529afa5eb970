// Files made, read and listed with plain C and Win32 calls, independent of
// the code tested; bytes are held in std::string.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <string>
#include <utility>

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
template <typename Bytes>
testing::AssertionResult SameBytes(const Bytes& actual, const Bytes& expected) {
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

// A program's exit code (999: it did not end) and what it wrote.
struct ProgramRun {
  DWORD code = 999;
  std::string out, err;
};

// Runs a command line in the folder (empty: this one), acting on the program
// meanwhile; a program still running after a fatal failure or a minute is
// ended, so that it holds no file later. Its outputs must fit in a pipe until
// meanwhile returns; after that they are taken while it runs, and only what
// is there: a process it starts (Wine's desktop) may keep the pipes open.
inline ProgramRun RunProgram(
    std::string line, const std::string& folder = "", void (*meanwhile)() = [] {}) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE out[2], err[2];  // read end, write end
  EXPECT_TRUE(CreatePipe(&out[0], &out[1], &inherit, 0) &&
              CreatePipe(&err[0], &err[1], &inherit, 0));
  SetHandleInformation(out[0], HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(err[0], HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = out[1];
  startup.hStdError = err[1];
  PROCESS_INFORMATION process{};
  EXPECT_TRUE(CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                             folder.empty() ? nullptr : folder.c_str(), &startup,
                             &process))
      << line;
  CloseHandle(out[1]);
  CloseHandle(err[1]);
  meanwhile();
  ProgramRun run;
  auto take = [&] {
    for (auto [pipe, bytes] : {std::pair{out[0], &run.out}, {err[0], &run.err}}) {
      char block[4096];
      for (DWORD got;
           PeekNamedPipe(pipe, nullptr, 0, nullptr, &got, nullptr) && got > 0 &&
           ReadFile(pipe, block, std::min<DWORD>(got, sizeof block), &got, nullptr);)
        bytes->append(block, got);
    }
  };
  for (DWORD start = GetTickCount();
       WaitForSingleObject(process.hProcess, 20) == WAIT_TIMEOUT; take())
    if (testing::Test::HasFatalFailure() || GetTickCount() - start > 60000) {
      TerminateProcess(process.hProcess, run.code);
      break;
    }
  take();
  CloseHandle(out[0]);
  CloseHandle(err[0]);
  GetExitCodeProcess(process.hProcess, &run.code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return run;
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
