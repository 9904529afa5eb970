// The patcher stub as end users and deployment scripts meet it: patches made
// by GeneratePatch (with the build's patch.dat, found in the current folder)
// are run unattended against a copy of the old file and must leave the new
// file byte for byte, or refuse with their exit code and leave the folder
// exactly as it was. The window must show the patch's texts and install too.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "app/patch.h"
#include "rt/files.h"
#include "rt/heaps.h"
#include "stub/results.h"

namespace {

using Bytes = std::vector<unsigned char>;
using Names = std::set<std::string>;

const char* const TEXTS[9] = {"Stub test",
                              "Welcome to the update",
                              "It brings target.bin up to date",
                              "Close other programs first",
                              "Pick the folder",
                              "C:\\nowhere",
                              "Browse...",
                              "Install now",
                              "Leave"};
const std::string WORK = "stub_work";
const std::string SITE = WORK + "\\the site";  // /D= takes spaces
const std::string SOURCE = WORK + "\\source";
const std::string PATCH = WORK + "\\patch.exe";

void WriteBytes(const std::string& path, const Bytes& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr) << path;
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

Bytes ReadBytes(const std::string& path) {
  Bytes bytes;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    for (int c; (c = std::fgetc(f)) != EOF;)
      bytes.push_back(static_cast<unsigned char>(c));
    std::fclose(f);
  }
  return bytes;
}

Names ListFolder(const std::string& folder) {
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

void ClearFolder(const std::string& folder) {
  for (const auto& name : ListFolder(folder))
    DeleteFileA((folder + "\\" + name).c_str());
}

Bytes RandomBytes(std::mt19937& rng, size_t size) {
  Bytes bytes(size);
  for (auto& b : bytes)
    b = static_cast<unsigned char>(rng());
  return bytes;
}

// A copy resized to size (zeros added) with about one byte in step changed.
Bytes Edited(Bytes bytes, std::mt19937& rng, size_t size, size_t step) {
  bytes.resize(size);
  for (size_t i = rng() % step; i < size; i += 1 + rng() % step)
    bytes[i] ^= static_cast<unsigned char>(1 + rng() % 255);
  return bytes;
}

// Writes the old file under its name in SOURCE and the new one beside the
// patch, then the patch itself.
void MakePatch(const Bytes& old, const Bytes& now,
               const std::string& name = "target.bin") {
  std::string oldPath = SOURCE + "\\" + name, newPath = WORK + "\\new.bin";
  WriteBytes(oldPath, old);
  WriteBytes(newPath, now);
  PatchRequest request{};
  StringVar* fields = &request.WindowTitle;
  for (int i = 0; i < 9; i++)
    AssignText(&fields[i], TEXTS[i]);
  AssignText(&request.OldPath, oldPath.c_str());
  AssignText(&request.NewPath, newPath.c_str());
  EXPECT_EQ(GeneratePatch(&request, PATCH.c_str(), nullptr), PATCH_WRITTEN);
  for (StringVar* f = &request.WindowTitle; f <= &request.NewPath; f++)
    FreeString(f);
}

PROCESS_INFORMATION Start(const std::string& arguments) {
  std::string line = "\"" + PATCH + "\" " + arguments;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  EXPECT_TRUE(CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                             nullptr, &startup, &process));
  return process;
}

DWORD Finish(PROCESS_INFORMATION process) {
  DWORD code = 999;
  EXPECT_EQ(WaitForSingleObject(process.hProcess, 60000), WAIT_OBJECT_0);
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return code;
}

DWORD Install(const std::string& folder) {
  return Finish(Start("/S /D=" + folder));
}

class StubTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(CreateHeaps() && InitScratchBuffer() != nullptr && InitFileSlots());
    CreateDirectoryA(WORK.c_str(), nullptr);
    CreateDirectoryA(SITE.c_str(), nullptr);
    CreateDirectoryA(SOURCE.c_str(), nullptr);
  }
  void SetUp() override {
    for (const auto& folder : {SITE, SOURCE, WORK})
      ClearFolder(folder);
  }
};

TEST_F(StubTest, RoundTripsGiveTheNewFile) {
  unsigned seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  Bytes a = RandomBytes(rng, 3000), b = RandomBytes(rng, 25600),
        c = RandomBytes(rng, 200000);
  Bytes zerosPastEnd = a;
  zerosPastEnd.insert(zerosPastEnd.end(), 300, 0);
  zerosPastEnd.insert(zerosPastEnd.end(), {7, 0, 9, 0});
  struct Pair {
    const char* name;
    Bytes old, now;
  } pairs[] = {
      {"old shorter", a, Edited(a, rng, 9000, 50)},
      {"old longer", a, Edited(a, rng, 1000, 10)},
      {"zeros past the old end", a, zerosPastEnd},
      {"one byte short of a block", b, Edited(b, rng, 25599, 100)},
      {"a block", b, Edited(b, rng, 25600, 3)},
      {"one byte past a block", b, Edited(b, rng, 25601, 1000)},
      {"all different, past the buffers", c, RandomBytes(rng, 150001)},
      {"identical", a, a},
  };
  for (const auto& p : pairs) {
    SCOPED_TRACE(p.name);
    SetUp();
    MakePatch(p.old, p.now);
    WriteBytes(SITE + "\\target.bin", p.old);
    bool same = p.old == p.now;
    EXPECT_EQ(Install(SITE), same ? STUB_ALREADY_PATCHED : STUB_DONE);
    EXPECT_TRUE(ReadBytes(SITE + "\\target.bin") == p.now);
    if (!same) {
      EXPECT_TRUE(ReadBytes(SITE + "\\target.bin.bak") == p.old);
      EXPECT_EQ(ListFolder(SITE), (Names{"target.bin", "target.bin.bak"}));
      EXPECT_EQ(Install(SITE), STUB_ALREADY_PATCHED);
      WriteBytes(SITE + "\\target.bin", p.old);  // the first backup must stay
      EXPECT_EQ(Install(SITE), STUB_DONE);
      EXPECT_TRUE(ReadBytes(SITE + "\\target.bin.bak2") == p.old);
    } else {
      EXPECT_EQ(ListFolder(SITE), Names{"target.bin"});
    }
  }
}

// The patch with the first "from" after the stub replaced by "to".
Bytes Replaced(Bytes patch, const std::string& from, const std::string& to) {
  auto at = std::search(patch.begin() + STUB_SIZE, patch.end(), from.begin(), from.end());
  EXPECT_TRUE(at != patch.end()) << from;
  at = patch.erase(at, at + from.size());
  patch.insert(at, to.begin(), to.end());
  return patch;
}

constexpr DWORD NOT_HELD = ~0u;

TEST_F(StubTest, RefusalsLeaveTheFolderAsItWas) {
  std::mt19937 rng(11);
  Bytes old = RandomBytes(rng, 30000), now = Edited(old, rng, 40000, 40);
  now.back() = 0x5A;  // past the old end, so the stream ends with 01 5A
  MakePatch(old, now);
  const Bytes patch = ReadBytes(PATCH);
  Bytes longerPatch = patch, alteredPatch = patch;
  longerPatch.push_back(0);
  alteredPatch.back() ^= 0x40;
  Bytes oneChanged = old, longer = old;
  oneChanged[123] ^= 1;
  longer.push_back(0);
  struct Case {
    const char* name;
    Bytes patch, target;
    DWORD code;
    DWORD heldSharing = NOT_HELD;  // the target held open by another program
  } cases[] = {
      {"wrong version, same size", patch, oneChanged, STUB_WRONG_VERSION},
      {"wrong version, other size", patch, longer, STUB_WRONG_VERSION},
      {"already patched", patch, now, STUB_ALREADY_PATCHED},
      {"no target", patch, {}, STUB_TARGET_MISSING},
      {"cut inside the lines", Bytes(patch.begin(), patch.begin() + STUB_SIZE + 40), old,
       STUB_PATCH_DAMAGED},
      {"cut inside the stream", Bytes(patch.begin(), patch.end() - 1), old,
       STUB_PATCH_DAMAGED},
      {"cut to half the stream", Bytes(patch.begin(), patch.end() - 20000), old,
       STUB_PATCH_DAMAGED},
      {"a byte after the stream", longerPatch, old, STUB_PATCH_DAMAGED},
      {"unknown record", Replaced(patch, "target.bin\r\n", "target.bin\r\n\2"), old,
       STUB_PATCH_DAMAGED},
      {"changed byte altered", alteredPatch, old, STUB_RESULT_MISMATCH},
      {"size with a leading zero", Replaced(patch, "\n30000\r", "\n030000\r"), old,
       STUB_PATCH_DAMAGED},
      {"size with a sign", Replaced(patch, "\n40000\r", "\n+40000\r"), old,
       STUB_PATCH_DAMAGED},
      {"name leaving the folder", Replaced(patch, "\ntarget.bin", "\n..\\target.bin"),
       old, STUB_PATCH_DAMAGED},
      {"target held open", patch, old, STUB_REPLACE_FAILED, FILE_SHARE_READ},
      {"target held exclusively", patch, old, STUB_TARGET_UNREADABLE, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    WriteBytes(PATCH, c.patch);
    if (!c.target.empty())
      WriteBytes(SITE + "\\target.bin", c.target);
    Names before = ListFolder(SITE);
    HANDLE held = c.heldSharing == NOT_HELD
                      ? INVALID_HANDLE_VALUE
                      : CreateFileA((SITE + "\\target.bin").c_str(), GENERIC_READ,
                                    c.heldSharing, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(Install(SITE), c.code);
    if (held != INVALID_HANDLE_VALUE)
      CloseHandle(held);
    EXPECT_TRUE(ReadBytes(SITE + "\\target.bin") == c.target);
    EXPECT_EQ(ListFolder(SITE), before);
  }
  WriteBytes(PATCH, patch);
  EXPECT_EQ(Finish(Start("/S /X /D=" + SITE)), STUB_BAD_COMMAND_LINE);
  EXPECT_TRUE(ReadBytes(SITE + "\\target.bin") == old);
}

// A patch for the file already in a read-only folder: nothing can be written.
TEST_F(StubTest, ReadOnlyFolderIsRefused) {
  const char* dir = std::getenv("PB_READONLY_FILE_DIR");
  if (dir == nullptr)
    GTEST_SKIP() << "PB_READONLY_FILE_DIR unset: no read-only folder holding a file";
  Names names = ListFolder(dir);
  ASSERT_FALSE(names.empty());
  const std::string name = *names.begin(), path = std::string(dir) + "\\" + name;
  Bytes old = ReadBytes(path);
  std::mt19937 rng(3);
  MakePatch(old, Edited(old, rng, old.size() + 10, 5), name);
  EXPECT_EQ(Install(dir), STUB_FOLDER_NOT_WRITABLE);
  EXPECT_TRUE(ReadBytes(path) == old);
  EXPECT_EQ(ListFolder(dir), names);
}

TEST_F(StubTest, FullDiskIsRefused) {
  const char* dir = std::getenv("PB_FULL_DIR");
  if (dir == nullptr)
    GTEST_SKIP() << "PB_FULL_DIR unset: no small disk to fill";
  std::mt19937 rng(5);
  Bytes old = RandomBytes(rng, 400000), now = RandomBytes(rng, 700000);
  MakePatch(old, now);
  WriteBytes(std::string(dir) + "\\target.bin", old);
  EXPECT_EQ(Install(dir), STUB_DISK_FULL);
  EXPECT_TRUE(ReadBytes(std::string(dir) + "\\target.bin") == old);
  EXPECT_EQ(ListFolder(dir), Names{"target.bin"});
  ClearFolder(dir);
}

// A visible top-level window, waited for while its process starts.
HWND AwaitWindow(const char* className, const char* title) {
  for (int tries = 0; tries < 200; tries++, Sleep(50)) {
    HWND window = FindWindowA(className, title);
    if (window != nullptr && IsWindowVisible(window))
      return window;
  }
  return nullptr;
}

// Asked of the control itself: GetWindowText does not ask another
// process's edit fields.
std::string TextOf(HWND window) {
  char text[256] = {};
  SendMessageA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
  return text;
}

TEST_F(StubTest, WindowShowsTheTextsAndInstalls) {
  std::mt19937 rng(9);
  Bytes old = RandomBytes(rng, 70000), now = Edited(old, rng, 70000, 30);
  MakePatch(old, now);
  WriteBytes(SITE + "\\target.bin", old);
  PROCESS_INFORMATION process = Start("");
  HWND window = AwaitWindow(nullptr, TEXTS[0]);
  ASSERT_NE(window, nullptr);
  Names shown;
  HWND folder = nullptr, install = nullptr;
  for (HWND c = GetWindow(window, GW_CHILD); c != nullptr;
       c = GetWindow(c, GW_HWNDNEXT)) {
    shown.insert(TextOf(c));
    folder = TextOf(c) == TEXTS[5] ? c : folder;
    install = TextOf(c) == TEXTS[7] ? c : install;
  }
  for (int i = 1; i < 9; i++)
    EXPECT_EQ(shown.count(TEXTS[i]), 1u) << TEXTS[i];
  ASSERT_TRUE(folder != nullptr && install != nullptr);
  SendMessageA(folder, WM_SETTEXT, 0, reinterpret_cast<LPARAM>((SITE + "\\").c_str()));
  PostMessageA(window, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(install), BN_CLICKED),
               reinterpret_cast<LPARAM>(install));
  HWND box = AwaitWindow("#32770", TEXTS[0]);
  ASSERT_NE(box, nullptr);
  EXPECT_NE(TextOf(GetDlgItem(box, 0xFFFF)).find("target.bin.bak"), std::string::npos);
  PostMessageA(box, WM_COMMAND, IDOK, 0);
  // The window ignores closing while the install (and its message) is on.
  for (int tries = 0; tries < 200 && IsWindow(box); tries++)
    Sleep(50);
  PostMessageA(window, WM_CLOSE, 0, 0);
  EXPECT_EQ(Finish(process), 0u);
  EXPECT_TRUE(ReadBytes(SITE + "\\target.bin") == now);
}

}  // namespace
