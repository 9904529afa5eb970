// The stub's install in-process on patches made with the build's patch.dat:
// the new file byte for byte, or a refusal with the folder as it was; the
// real program for exit codes, the fault folders and the window.
#include "stub/stub.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "app/patch.h"
#include "app/request.h"
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
const std::string TARGET = SITE + "\\target.bin";

// A copy resized to size (zeros added) with about one byte in step changed.
std::string Edited(std::string bytes, std::mt19937& rng, size_t size, size_t step) {
  bytes.resize(size);
  for (size_t i = rng() % step; i < size; i += 1 + rng() % step)
    bytes[i] ^= static_cast<char>(1 + rng() % 255);
  return bytes;
}

PatchOutcome MakePatch(const std::string& old, const std::string& now,
                       const std::string& name = "target.bin",
                       const std::string& patch = PATCH, const char* const* texts = TEXTS,
                       PatchFormat format = PATCH_PLAIN,
                       ProgressReport progress = nullptr) {
  // A slash is a separator to the system as to the stub.
  const std::string paths[] = {SOURCE + "/" + name, WORK + "\\new.bin"};
  WriteBytes(paths[0], old);
  WriteBytes(paths[1], now);
  PatchRequest request{};
  StringVar* fields = &request.WindowTitle;  // the nine texts, then the two paths
  for (int i = 0; i < 11; i++)
    AssignText(&fields[i], i < 9 ? texts[i] : paths[i - 9].c_str());
  PatchOutcome outcome =
      GeneratePatch(&request, patch.c_str(), progress, STUB_FILE_NAME, format);
  FreeRequest(&request);
  return outcome;
}

// The stub's work in this process, as an unattended run does it.
StubResult Install(const std::string& folder) {
  if (!LoadPayload(PATCH.c_str()))
    return STUB_PATCH_DAMAGED;
  return InstallPatch(folder.c_str(), nullptr);
}

// Runs the real patch, acting on it meanwhile.
int RunPatch(
    const std::string& arguments, void (*meanwhile)() = [] {}) {
  return static_cast<int>(
      RunProgram("\"" + PATCH + "\" " + arguments, "", meanwhile).code);
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

TEST_F(StubTest, RefusalsLeaveTheFolderAsItWas) {
  std::mt19937 rng(11);
  const std::string old = RandomBytes(rng, 30000),
                    now = Edited(old, rng, 39999, 40) + "Z";
  ASSERT_EQ(MakePatch(old, now), PATCH_WRITTEN);  // the stream ends with 01 5A
  const std::string patch = ReadBytes(PATCH);
  std::string alteredPatch = patch, oneChanged = old;
  alteredPatch.back() ^= 0x40;
  oneChanged[123] ^= 1;
  struct Case {
    const char* name;
    std::string patch, target;
    StubResult result;
    int heldSharing = -1;  // how another program holds the target open, if it does
  } cases[] = {
      {"wrong version, same size", patch, oneChanged, STUB_WRONG_VERSION},
      {"no target", patch, {}, STUB_TARGET_MISSING},
      {"cut inside the lines", patch.substr(0, STUB_SIZE + 40), old, STUB_PATCH_DAMAGED},
      {"changed byte altered", alteredPatch, old, STUB_RESULT_MISMATCH},
      {"target held open", patch, old, STUB_REPLACE_FAILED, FILE_SHARE_READ},
      {"target held exclusively", patch, old, STUB_TARGET_UNREADABLE, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ClearFolder(SITE);
    WriteBytes(PATCH, c.patch);
    if (!c.target.empty())
      WriteBytes(TARGET, c.target);
    Names before = ListFolder(SITE);
    HANDLE held = CreateFileA(c.heldSharing < 0 ? "" : TARGET.c_str(), GENERIC_READ,
                              c.heldSharing, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(Install(SITE), c.result);
    CloseHandle(held);
    EXPECT_TRUE(SameBytes(ReadBytes(TARGET), c.target));
    EXPECT_EQ(ListFolder(SITE), before);
  }
}

// The real program installs and exits with the codes deployment scripts
// see; installs after it keep the first backup.
TEST_F(StubTest, UnattendedRunsInstallAndKeepBackups) {
  std::mt19937 rng(3);
  const std::string old = RandomBytes(rng, 200000),
                    now = Edited(old, rng, 150001, 2) + "\0\7"s;
  const std::string longText(PAYLOAD_TEXT_LIMIT, 'T');
  const char* longTexts[9];
  std::fill(longTexts, longTexts + 9, longText.c_str());
  ASSERT_EQ(MakePatch(old, now, "target.bin", PATCH, longTexts), PATCH_WRITTEN);
  WriteBytes(TARGET, old);
  EXPECT_EQ(RunPatch("/S /X /D=" + SITE), STUB_BAD_COMMAND_LINE);
  EXPECT_EQ(RunPatch("/S /D=" + SITE), STUB_DONE);
  EXPECT_TRUE(SameBytes(ReadBytes(TARGET), now));
  EXPECT_TRUE(SameBytes(ReadBytes(TARGET + ".bak"), old));
  EXPECT_EQ(Install(SITE), STUB_ALREADY_PATCHED);
  WriteBytes(TARGET, old);
  EXPECT_EQ(Install(SITE), STUB_DONE);
  EXPECT_TRUE(SameBytes(ReadBytes(TARGET + ".bak2"), old));
  EXPECT_EQ(ListFolder(SITE), (Names{"target.bin", "target.bin.bak", "target.bin.bak2"}));
  const std::string patch = ReadBytes(PATCH);
  WriteBytes(PATCH, patch.substr(0, patch.size() - 1));
  WriteBytes(TARGET, old);
  EXPECT_EQ(RunPatch("/S /D=" + SITE), STUB_PATCH_DAMAGED);
  EXPECT_TRUE(SameBytes(ReadBytes(TARGET), old));
}

// A target whose backup or temporary file would not fit in a path is
// refused before anything is written; a shorter one installs with its
// backup.
TEST_F(StubTest, LongPathsInstallOrAreRefusedUntouched) {
  std::mt19937 rng(25);
  const std::string old = RandomBytes(rng, 5000), now = Edited(old, rng, 5000, 50);
  ASSERT_EQ(MakePatch(old, now), PATCH_WRITTEN);
  char work[MAX_PATH];
  GetFullPathNameA(WORK.c_str(), MAX_PATH, work, nullptr);
  const std::string name = "\\target.bin";
  for (size_t length = 250; length <= 259; length++) {
    SCOPED_TRACE(testing::Message() << "target of " << length << " bytes");
    std::string folder = work;
    folder.append("\\").append(length - name.size() - folder.size(), 'd');
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    WriteBytes(folder + name, old);
    bool fits = length + strlen(".bak9") < MAX_PATH;
    EXPECT_EQ(Install(folder), fits ? STUB_DONE : STUB_PATH_TOO_LONG);
    EXPECT_TRUE(SameBytes(ReadBytes(folder + name), fits ? now : old));
    EXPECT_TRUE(SameBytes(ReadBytes(folder + name + ".bak"), fits ? old : ""));
    EXPECT_EQ(ListFolder(folder).size(), fits ? 2u : 1u);
    ClearFolder(folder);
    RemoveDirectoryA(folder.c_str());
  }
}

// A compact patch made through a window far smaller than the old file,
// which holds a stretch moved from its end, installs like any other; its
// progress runs from the fingerprints to the proof without going back.
TEST_F(StubTest, PatchMadeThroughAWindowInstalls) {
  static std::vector<int32_t> reports;
  std::mt19937 rng(23);
  const std::string old = RandomBytes(rng, 1 << 20);
  const std::string now = old.substr(900000) + Edited(old, rng, 900000, 3000);
  CompactLimit = CompactLimits{COMPACT_LIMITS.memory, 0, 1 << 16, 1 << 14};
  PatchOutcome outcome = MakePatch(old, now, "target.bin", PATCH, TEXTS, PATCH_COMPACT,
                                   [](int32_t percent) { reports.push_back(percent); });
  CompactLimit = COMPACT_LIMITS;
  ASSERT_EQ(outcome, PATCH_WRITTEN);
  EXPECT_LT(ReadBytes(PATCH).size(), STUB_SIZE + 10000u);
  EXPECT_TRUE(std::is_sorted(reports.begin(), reports.end()) && reports.front() < 10 &&
              reports.back() == 100);
  WriteBytes(TARGET, old);
  EXPECT_EQ(RunPatch("/S /D=" + SITE), STUB_DONE);
  EXPECT_TRUE(SameBytes(ReadBytes(TARGET), now));
}

// Where nothing can be written or the disk fills, neither the tool's patch
// nor the stub's install changes the folder.
TEST_F(StubTest, ReadOnlyFolderAndFullDiskAreRefused) {
  const char* readOnly = std::getenv("PB_READONLY_FILE_DIR");
  const char* full = std::getenv("PB_FULL_DIR");
  if (readOnly == nullptr || full == nullptr)
    GTEST_SKIP() << "PB_READONLY_FILE_DIR or PB_FULL_DIR unset: no fault folders";
  std::mt19937 rng(5);
  WriteBytes(std::string(full) + "\\target.bin", RandomBytes(rng, 400000));
  const std::pair<std::string, StubResult> cases[] = {
      {readOnly, STUB_FOLDER_NOT_WRITABLE}, {full, STUB_DISK_FULL}};
  for (const auto& [dir, code] : cases) {
    const Names names = ListFolder(dir);
    ASSERT_FALSE(names.empty()) << dir;
    const std::string path = dir + "\\" + *names.begin(), old = ReadBytes(path);
    const std::string now = RandomBytes(rng, 2 << 20);
    EXPECT_EQ(MakePatch(old, now, *names.begin(), path), PATCH_OUTPUT_FAILED) << dir;
    ASSERT_EQ(MakePatch(old, now.substr(0, 700000), *names.begin()), PATCH_WRITTEN);
    EXPECT_EQ(RunPatch("/S /D=" + dir), code);
    EXPECT_TRUE(SameBytes(ReadBytes(path), old));
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

TEST_F(StubTest, WindowShowsTheTextsAndInstalls) {
  std::mt19937 rng(9);
  const std::string old = RandomBytes(rng, 70000), now = Edited(old, rng, 70000, 30);
  // Compact, so that the real program applies that stream too.
  ASSERT_EQ(MakePatch(old, now, "target.bin", PATCH, TEXTS, PATCH_COMPACT),
            PATCH_WRITTEN);
  WriteBytes(TARGET, old);
  int code = RunPatch("", [] {
    HWND window = AwaitWindow(nullptr, TEXTS[0]);
    ASSERT_NE(window, nullptr);
    for (int i = 1; i < 9; i++)  // the folder field's text is asked of the field
      EXPECT_TRUE(i == 5 || FindWindowExA(window, nullptr, nullptr, TEXTS[i]))
          << TEXTS[i];
    HWND folder = FindWindowExA(window, nullptr, "Edit", nullptr);
    HWND install = FindWindowExA(window, nullptr, "Button", TEXTS[7]);
    ASSERT_TRUE(folder != nullptr && install != nullptr);
    char text[256] = {};
    SendMessageA(folder, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
    EXPECT_STREQ(text, TEXTS[5]);
    SendMessageA(folder, WM_SETTEXT, 0, reinterpret_cast<LPARAM>((SITE + "\\").c_str()));
    PostMessageA(window, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(install), BN_CLICKED),
                 reinterpret_cast<LPARAM>(install));
    HWND box = AwaitWindow("#32770", TEXTS[0]);
    ASSERT_NE(box, nullptr);
    GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
    EXPECT_NE(std::string(text).find("target.bin.bak"), std::string::npos) << text;
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    // The window ignores closing while the install (and its message) is on.
    for (int tries = 0; tries < 200 && IsWindow(box); tries++)
      Sleep(50);
    PostMessageA(window, WM_CLOSE, 0, 0);
  });
  EXPECT_EQ(code, STUB_DONE);
  EXPECT_TRUE(SameBytes(ReadBytes(TARGET), now));
}

}  // namespace
