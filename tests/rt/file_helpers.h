// Shared by the file and fingerprint tests: the runtime set up once per
// process, and a folder under the Windows temp folder whose files are made
// and read with plain Win32 calls, independent of the code tested.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "rt/files.h"
#include "rt/heaps.h"
#include "rt/strings.h"

namespace {

void SetUpRuntime() {
  CreateHeaps();
  InitScratchBuffer();
  if (FileSlotTable.records == nullptr)
    InitFileSlots();
}

struct TempFolder {
  std::string root;

  explicit TempFolder(const char* name) {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    root = temp + (name + std::to_string(GetCurrentProcessId()));
    CreateDirectoryA(root.c_str(), nullptr);
  }

  ~TempFolder() {
    CloseAllFiles();
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(Path("*").c_str(), &found);
    for (bool more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileA(search, &found)) {
      std::string path = Path(found.cFileName);
      if (!DeleteFileA(path.c_str()))
        RemoveDirectoryA(path.c_str());
    }
    FindClose(search);
    RemoveDirectoryA(root.c_str());
  }

  std::string Path(const std::string& name) const { return root + "\\" + name; }

  std::string Write(const std::string& name, const std::string& bytes) const {
    HANDLE h =
        CreateFileA(Path(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written;
    WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(h);
    return Path(name);
  }

  std::string Read(const std::string& name) const {
    HANDLE h = CreateFileA(Path(name).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, 0, nullptr);
    std::string bytes(4096, '\0');
    DWORD delivered = 0;
    ReadFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &delivered, nullptr);
    CloseHandle(h);
    return bytes.substr(0, delivered);
  }
};

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

}  // namespace
