// The patcher stub as end users and deployment scripts meet it: patches made
// by GeneratePatch (with the build's patch.dat, found in the current folder)
// are run unattended against a copy of the old file and must leave the new
// file byte for byte, or refuse with their exit code and leave the folder
// exactly as it was. The window must show the patch's texts and install too.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <map>
#include <random>
#include <string>

#include "app/patch.h"
#include "stub/results.h"
#include "tests/test_files.h"

namespace {

using namespace std::string_literals;

const char* const TEXTS[9] = {"Stub test", "Welcome",     "Brings target.bin up to date",
                              "Close all", "Pick one",    "C:\\nowhere",
                              "Browse...", "Install now", "Leave"};
const std::string WORK = "stub_work";
const std::string SITE = WORK + "\\the site";  // /D= takes spaces
const std::string SOURCE = WORK + "\\source";
const std::string PATCH = WORK + "\\patch.exe";

// A copy resized to size (zeros added) with about one byte in step changed.
std::string Edited(std::string bytes, std::mt19937& rng, size_t size, size_t step) {
  bytes.resize(size);
  for (size_t i = rng() % step; i < size; i += 1 + rng() % step)
    bytes[i] ^= static_cast<char>(1 + rng() % 255);
  return bytes;
}

void MakePatch(const std::string& old, const std::string& now,
               const std::string& name = "target.bin") {
  const std::string paths[] = {SOURCE + "\\" + name, WORK + "\\new.bin"};
  WriteBytes(paths[0], old);
  WriteBytes(paths[1], now);
  PatchRequest request{};
  StringVar* fields = &request.WindowTitle;  // the nine texts, then the two paths
  for (int i = 0; i < 11; i++)
    AssignText(&fields[i], i < 9 ? TEXTS[i] : paths[i - 9].c_str());
  EXPECT_EQ(GeneratePatch(&request, PATCH.c_str(), nullptr), PATCH_WRITTEN);
  for (int i = 0; i < 11; i++)
    FreeString(&fields[i]);
}

// Runs the patch, acting on it meanwhile. A patch still running after a
// fatal failure or a minute is ended, so that it holds no file later.
DWORD RunPatch(
    const std::string& arguments, void (*meanwhile)() = [] {}) {
  std::string line = "\"" + PATCH + "\" " + arguments;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  DWORD code = 999;
  EXPECT_TRUE(CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                             nullptr, &startup, &process));
  meanwhile();
  if (testing::Test::HasFatalFailure() ||
      WaitForSingleObject(process.hProcess, 60000) != WAIT_OBJECT_0)
    TerminateProcess(process.hProcess, code);
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return code;
}

DWORD Install(const std::string& folder) {
  return RunPatch("/S /D=" + folder);
}

class StubTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    SetUpRuntime();
    for (const auto& folder : {WORK, SITE, SOURCE})
      CreateDirectoryA(folder.c_str(), nullptr);
  }
  void SetUp() override { ClearFolder(SITE); }
};

TEST_F(StubTest, RoundTripsGiveTheNewFile) {
  unsigned seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  const std::string a = RandomBytes(rng, 3000), b = RandomBytes(rng, 25600),
                    c = RandomBytes(rng, 200000);
  const struct {
    const char* name;
    std::string old, now;
  } pairs[] = {
      {"old shorter", a, Edited(a, rng, 9000, 50)},
      {"old longer", a, Edited(a, rng, 1000, 10)},
      {"zeros past the old end", a, a + std::string(300, '\0') + "\x07\0\x09\0"s},
      {"one byte short of a block", b, Edited(b, rng, 25599, 100)},
      {"a block", b, Edited(b, rng, 25600, 3)},
      {"one byte past a block", b, Edited(b, rng, 25601, 1000)},
      {"all different, past the buffers", c, RandomBytes(rng, 150001)},
      {"identical", a, a},
  };
  for (const auto& p : pairs) {
    SCOPED_TRACE(p.name);
    ClearFolder(SITE);
    MakePatch(p.old, p.now);
    WriteBytes(SITE + "\\target.bin", p.old);
    bool same = p.old == p.now;
    EXPECT_EQ(Install(SITE), same ? STUB_ALREADY_PATCHED : STUB_DONE);
    EXPECT_TRUE(ReadBytes(SITE + "\\target.bin") == p.now);
    EXPECT_EQ(ListFolder(SITE),
              (same ? Names{"target.bin"} : Names{"target.bin", "target.bin.bak"}));
    if (same)
      continue;
    EXPECT_TRUE(ReadBytes(SITE + "\\target.bin.bak") == p.old);
    EXPECT_EQ(Install(SITE), STUB_ALREADY_PATCHED);
    WriteBytes(SITE + "\\target.bin", p.old);  // the first backup must stay
    EXPECT_EQ(Install(SITE), STUB_DONE);
    EXPECT_TRUE(ReadBytes(SITE + "\\target.bin.bak2") == p.old);
  }
}

constexpr DWORD NOT_HELD = ~0u;

TEST_F(StubTest, RefusalsLeaveTheFolderAsItWas) {
  std::mt19937 rng(11);
  const std::string old = RandomBytes(rng, 30000),
                    now = Edited(old, rng, 39999, 40) + "Z";
  MakePatch(old, now);  // the stream ends with 01 5A, past the old end
  const std::string patch = ReadBytes(PATCH);
  const size_t n = patch.size();
  std::string alteredPatch = patch, oneChanged = old;
  alteredPatch.back() ^= 0x40;
  oneChanged[123] ^= 1;
  auto with = [&](const std::string& from, const std::string& to) {
    std::string edited = patch;  // the first "from" past the stub replaced
    return edited.replace(edited.find(from, STUB_SIZE), from.size(), to);
  };
  struct Case {
    const char* name;
    std::string patch, target;
    DWORD code;
    DWORD heldSharing = NOT_HELD;  // the target held open by another program
  } cases[] = {
      {"wrong version, same size", patch, oneChanged, STUB_WRONG_VERSION},
      {"wrong version, other size", patch, old + "\0"s, STUB_WRONG_VERSION},
      {"already patched", patch, now, STUB_ALREADY_PATCHED},
      {"no target", patch, {}, STUB_TARGET_MISSING},
      {"cut inside the lines", patch.substr(0, STUB_SIZE + 40), old, STUB_PATCH_DAMAGED},
      {"cut inside the stream", patch.substr(0, n - 1), old, STUB_PATCH_DAMAGED},
      {"cut to half the stream", patch.substr(0, n - 20000), old, STUB_PATCH_DAMAGED},
      {"a byte after the stream", patch + "\0"s, old, STUB_PATCH_DAMAGED},
      {"unknown record", with("bin\r\n", "bin\r\n\2"), old, STUB_PATCH_DAMAGED},
      {"changed byte altered", alteredPatch, old, STUB_RESULT_MISMATCH},
      {"size with a leading zero", with("\n30000\r", "\n030000\r"), old,
       STUB_PATCH_DAMAGED},
      {"size with a sign", with("\n40000\r", "\n+40000\r"), old, STUB_PATCH_DAMAGED},
      {"name leaving the folder", with("\ntarget.bin", "\n..\\target.bin"), old,
       STUB_PATCH_DAMAGED},
      {"target held open", patch, old, STUB_REPLACE_FAILED, FILE_SHARE_READ},
      {"target held exclusively", patch, old, STUB_TARGET_UNREADABLE, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ClearFolder(SITE);
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
  EXPECT_EQ(RunPatch("/S /X /D=" + SITE), STUB_BAD_COMMAND_LINE);
  EXPECT_TRUE(ReadBytes(SITE + "\\target.bin") == old);
}

// Nothing can be written, or the disk fills: refused, the folder as it was.
TEST_F(StubTest, ReadOnlyFolderAndFullDiskAreRefused) {
  const char* readOnly = std::getenv("PB_READONLY_FILE_DIR");
  const char* full = std::getenv("PB_FULL_DIR");
  if (readOnly == nullptr || full == nullptr)
    GTEST_SKIP() << "PB_READONLY_FILE_DIR or PB_FULL_DIR unset: no fault folders";
  std::mt19937 rng(5);
  WriteBytes(std::string(full) + "\\target.bin", RandomBytes(rng, 400000));
  const std::pair<std::string, DWORD> cases[] = {{readOnly, STUB_FOLDER_NOT_WRITABLE},
                                                 {full, STUB_DISK_FULL}};
  for (const auto& [dir, code] : cases) {
    const Names names = ListFolder(dir);
    ASSERT_FALSE(names.empty()) << dir;
    const std::string path = dir + "\\" + *names.begin(), old = ReadBytes(path);
    MakePatch(old, RandomBytes(rng, 700000), *names.begin());
    EXPECT_EQ(Install(dir), code);
    EXPECT_TRUE(ReadBytes(path) == old);
    EXPECT_EQ(ListFolder(dir), names);
  }
  ClearFolder(full);
}

// Waits for the window while its process starts.
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
  const std::string old = RandomBytes(rng, 70000), now = Edited(old, rng, 70000, 30);
  MakePatch(old, now);
  WriteBytes(SITE + "\\target.bin", old);
  DWORD code = RunPatch("", [] {
    HWND window = AwaitWindow(nullptr, TEXTS[0]);
    ASSERT_NE(window, nullptr);
    std::map<std::string, HWND> shown;
    for (HWND c = GetWindow(window, GW_CHILD); c != nullptr;
         c = GetWindow(c, GW_HWNDNEXT))
      shown[TextOf(c)] = c;
    for (int i = 1; i < 9; i++)
      EXPECT_EQ(shown.count(TEXTS[i]), 1u) << TEXTS[i];
    HWND folder = shown[TEXTS[5]], install = shown[TEXTS[7]];
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
  });
  EXPECT_EQ(code, 0u);
  EXPECT_TRUE(ReadBytes(SITE + "\\target.bin") == now);
}

}  // namespace
