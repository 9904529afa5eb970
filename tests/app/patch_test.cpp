// The patch writer against an oracle of the file layout, its lines read back
// by the stub's rules; every failure leaves the output path as it was.
#include "app/patch.h"
#include "app/patch_hook.h"
#include "app/request.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "format/payload.h"
#include "format/stub_mark.h"
#include "rt/fingerprints.h"
#include "tests/test_files.h"

namespace {

using namespace std::string_literals;

const char* const TEXTS[9] = {"Window", "",        "  spaced  ",
                              "Notice", "Tip",     "C:\\Program Files",
                              "Open",   "Install", "Exit"};

std::vector<int32_t> Reports;
PatchFormat Format = PATCH_PLAIN;  // set by a case, back to plain after it

// Per new position 00, or 01 and the new byte; the old byte is taken as 00
// past the old file's end.
std::string Stream(const std::string& old, const std::string& now) {
  std::string out;
  for (size_t i = 0; i < now.size(); i++)
    out += (i < old.size() ? old[i] : '\0') == now[i] ? "\0"s : "\1"s + now[i];
  return out;
}

// The stub, fourteen CR LF lines, then the stream.
std::string Oracle(const std::string& stub, const std::vector<std::string>& texts,
                   const std::string& name, const std::string& old,
                   const std::string& now) {
  std::string out = stub;
  for (const std::string& text : texts)
    out += text + "\r\n";
  for (const std::string* b : {&old, &now})
    out += Taken(BufferMd5Hex(b->data(), static_cast<int32_t>(b->size()))) + "\r\n";
  out += std::to_string(old.size()) + "\r\n" + std::to_string(now.size()) + "\r\n";
  return out + name + "\r\n" + Stream(old, now);
}

// Changes one byte of a file in place; a negative offset counts from its end.
void Flip(const char* path, int offset) {
  std::string bytes = ReadBytes(path);
  bytes[offset < 0 ? bytes.size() + offset : offset] ^= 0x40;
  WriteBytes(path, bytes);
}

// The tests share a folder, made the current folder so that the stub is
// found by its relative name.
class PatchTest : public FolderTest {
 protected:
  std::mt19937 rng{7};
  const std::string stub = RandomBytes(rng, STUB_SIZE);

  static void SetUpTestSuite() {
    FolderTest::SetUpTestSuite();
    SetCurrentDirectoryA(folder->root.c_str());
  }
  static void TearDownTestSuite() {
    SetCurrentDirectoryA("..");
    FolderTest::TearDownTestSuite();
  }
  void SetUp() override {
    ClearFolder(folder->root);
    WriteBytes("patch.dat", stub);
    Reports.clear();
  }

  PatchOutcome Generate(const std::string& patchPath,
                        const std::vector<std::string>& texts = {TEXTS, TEXTS + 9},
                        const std::string& oldName = "old.bin") {
    const std::string paths[] = {folder->Path(oldName), folder->Path("new.bin")};
    PatchRequest request{};
    StringVar* fields = &request.WindowTitle;  // the nine texts, then the two paths
    for (int i = 0; i < 11; i++)
      AssignText(&fields[i], i < 9 ? texts[i].c_str() : paths[i - 9].c_str());
    PatchOutcome outcome = GeneratePatch(
        &request, patchPath.c_str(), [](int32_t p) { Reports.push_back(p); },
        STUB_FILE_NAME, Format);
    for (int i = 0; i < 11; i++)
      FreeString(&fields[i]);
    return outcome;
  }
};

// Texts up to the fields' limit and old file names with spaces, dots and
// bytes above 0x7F go into the lines as they are, and the stub's reader
// takes them back; the name line of any path gives it the old file's name.
TEST_F(PatchTest, MatchesOracleAndTheStubReadsTheLinesBack) {
  struct Case {
    size_t oldSize, newSize;
    int changePercent;  // of the positions the old file covers
    std::vector<int32_t> reports;
  };
  const Case cases[] = {
      {76800, 76800, 0, {33, 66, 100}},
      {1000, 30000, 5, {100}},  // old shorter
      {80000, 25600, 10, {100}},
      {1, 1, 100, {}},
      {25599, 25599, 1, {}},
      {25600, 25600, 30, {100}},
      {76801, 76801, 1, {33, 66, 100}},
  };
  for (const Case& c : cases) {
    unsigned seed = std::random_device{}();
    SCOPED_TRACE("new size " + std::to_string(c.newSize) + ", seed " +
                 std::to_string(seed));
    std::mt19937 random(seed);
    std::string old = RandomBytes(random, c.oldSize),
                now = RandomBytes(random, c.newSize);
    for (size_t i = 0; i < now.size(); i++) {
      if (i >= old.size())
        now[i] = random() % 2 ? now[i] : 0;  // zeros past the old end
      else if (static_cast<int>(random() % 100) >= c.changePercent)
        now[i] = old[i];
    }
    std::vector<std::string> texts(9);
    for (auto& t : texts)
      for (size_t n = random() % 3 ? random() % 100 : 31999; t.size() < n;)
        t += static_cast<char>(0x20 + random() % 0xE0);
    std::string name = "xx";  // neither a leading dot nor a trailing dot or space
    while (name.size() < 2 + random() % 30)
      name.insert(1, 1, " ._-~aZ9\xE9\xFC\xC4\xF1\xA9"[random() % 13]);
    WriteBytes(name, old);
    WriteBytes("new.bin", now);
    WriteBytes("out.exe", std::string(200000, '\xEE'));  // replaced whole, no stale tail
    Reports.clear();
    ASSERT_EQ(Generate("out.exe", texts, name), PATCH_WRITTEN) << name;
    std::string out = ReadBytes("out.exe");
    EXPECT_TRUE(SameBytes(out, Oracle(stub, texts, name, old, now)));
    EXPECT_EQ(Reports, c.reports);
    EXPECT_EQ(ListFolder(folder->root), (Names{"patch.dat", name, "new.bin", "out.exe"}));
    DeleteFileA(name.c_str());
    const char* lines[LINE_COUNT];
    PayloadFacts facts{};
    out.erase(0, STUB_SIZE);
    ASSERT_NE(SplitPayloadLines(out.data(), static_cast<int32_t>(out.size()), lines), 0);
    EXPECT_TRUE(ReadPayloadLines(lines, &facts) && facts.fileName == name) << name;
    for (std::string path : {"", "C:", "\"C:\\a b\\", "dir/sub/", "..\\", "C:\\x\\..\\y/",
                             "\\\\server\\share\\", "a:b/c\\..\\"})
      EXPECT_EQ(PayloadFileName(Taken(PathFileName((path += name).c_str())).c_str()),
                name)
          << path;
  }
}

// Whatever goes wrong, the output path keeps what it had and no temporary
// file stays behind.
TEST_F(PatchTest, FailuresLeaveOutputAsItWas) {
  struct Case {
    const char* name;
    std::function<void()> arrange;
    std::string patchPath;
    PatchOutcome outcome;
  };
  const std::string old = RandomBytes(rng, 5000), now = RandomBytes(rng, 6000);
  HANDLE held = INVALID_HANDLE_VALUE;
  auto hold = [&](const char* name, DWORD share) {
    held = CreateFileA(name, GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr);
  };
  const std::string here = folder->root.substr(folder->root.rfind('\\') + 1);
  const Case cases[] = {
      {"long stub", [] { WriteBytes("patch.dat", std::string(STUB_SIZE + 1, 'x')); },
       "out.exe", PATCH_STUB_REJECTED},
      {"missing old", [] { DeleteFileA("old.bin"); }, "out.exe", PATCH_OLD_UNREADABLE},
      {"old held", [&] { hold("old.bin", 0); }, "out.exe", PATCH_OLD_UNREADABLE},
      {"new held", [&] { hold("new.bin", 0); }, "out.exe", PATCH_NEW_UNREADABLE},
      {"output is old, relative, other case", [] {}, "OLD.BIN", PATCH_OUTPUT_IS_INPUT},
      {"output is new, roundabout", [] {}, folder->Path("..\\" + here + "\\.\\NeW.bin"),
       PATCH_OUTPUT_IS_INPUT},
      {"output is the stub", [] {}, "PATCH.DAT", PATCH_OUTPUT_IS_INPUT},
      {"no such folder", [] {}, folder->Path("none\\out.exe"), PATCH_OUTPUT_FAILED},
      {"output held, move refused", [&] { hold("out.exe", FILE_SHARE_READ); }, "out.exe",
       PATCH_OUTPUT_FAILED},
      // The suite's stub is random bytes, which declare no compact stream.
      {"compact with a stub that does not apply it", [] { Format = PATCH_COMPACT; },
       "out.exe", PATCH_STUB_WITHOUT_COMPACT},
      {"compact, with less memory than any way of making it takes",
       [&] {
         std::string marked = stub;
         std::memcpy(&marked[STUB_SIZE / 2], &STUB_MARK, sizeof STUB_MARK);
         WriteBytes("patch.dat", marked);
         Format = PATCH_COMPACT;
         CompactLimit.memory = 1 << 20;
       },
       "out.exe", PATCH_TOO_LARGE_FOR_COMPACT},
      // Open inputs share reading only, so nothing changes them while the
      // stream is made; the hook stands in for what could, and for a
      // write that went wrong unnoticed.
      {"written patch damaged",
       [] { BeforePatchProof = [](const char* temp) { Flip(temp, -2); }; }, "out.exe",
       PATCH_CHECK_FAILED},
      {"patch's stub damaged",
       [] { BeforePatchProof = [](const char* temp) { Flip(temp, 0); }; }, "out.exe",
       PATCH_CHECK_FAILED},
      {"old changed", [] { BeforePatchProof = [](const char*) { Flip("old.bin", 0); }; },
       "out.exe", PATCH_OLD_CHANGED},
      {"new changed", [] { BeforePatchProof = [](const char*) { Flip("new.bin", -1); }; },
       "out.exe", PATCH_NEW_CHANGED},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteBytes("patch.dat", stub);
    WriteBytes("old.bin", old);
    WriteBytes("new.bin", now);
    WriteBytes("out.exe", "keep");
    c.arrange();
    const Names before = ListFolder(folder->root);
    const std::string kept = ReadBytes(c.patchPath);
    EXPECT_EQ(Generate(c.patchPath), c.outcome);
    BeforePatchProof = nullptr;
    Format = PATCH_PLAIN;
    CompactLimit = COMPACT_LIMITS;
    EXPECT_TRUE(SameBytes(ReadBytes(c.patchPath), kept));
    EXPECT_EQ(ReadBytes("out.exe"), "keep");
    EXPECT_EQ(ListFolder(folder->root), before);
    if (held != INVALID_HANDLE_VALUE)
      CloseHandle(held), held = INVALID_HANDLE_VALUE;
  }
}

// An old file whose name no stub could write under is refused before
// anything is made, in the words the form and the console program show.
TEST_F(PatchTest, OldNameNoStubTakesIsRefused) {
  static std::vector<std::string> said;
  const std::string longName = "Z:\\tmp\\" + std::string(FILE_NAME_LIMIT + 1, 'n');
  WriteBytes(longName, "old");
  WriteBytes("new.bin", "new");
  PatchRequest request{};
  AssignText(&request.OldPath, longName.c_str());
  AssignText(&request.NewPath, "new.bin");
  EXPECT_EQ(CheckInputFiles(&request, [](const char* title, const char* text) {
              said.push_back(std::string(title) + ": " + text);
            }),
            REQUEST_OLD_NAME_UNUSABLE);
  EXPECT_EQ(said, std::vector<std::string>{
                      "Fatal error!: Old version file name can't be used in a patch"});
  DeleteFileA(longName.c_str());
  FreeRequest(&request);
}

}  // namespace
