// The patch writer against an oracle built from the file layout alone, the
// two worked examples, and every refusal and failure with the output path
// checked to be exactly as it was.
#include "app/patch.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "rt/fingerprints.h"
#include "tests/test_files.h"

namespace {

using namespace std::string_literals;

const char* const TEXTS[9] = {"Window", "",        "  spaced  ",
                              "Notice", "Tip",     "C:\\Program Files",
                              "Open",   "Install", "Exit"};

std::vector<int32_t> Reports;

// Per new position 00, or 01 and the new byte; the old byte is taken as 00
// past the old file's end.
std::string Stream(const std::string& old, const std::string& now) {
  std::string out;
  for (size_t i = 0; i < now.size(); i++)
    out += (i < old.size() ? old[i] : '\0') == now[i] ? "\0"s : "\1"s + now[i];
  return out;
}

// The stub, fourteen CR LF lines, then the stream.
std::string Oracle(const std::string& stub, const std::string& old,
                   const std::string& now) {
  std::string out = stub;
  for (std::string text : TEXTS)
    out += text + "\r\n";
  for (const std::string* b : {&old, &now})
    out += Taken(BufferMd5Hex(b->data(), static_cast<int32_t>(b->size()))) + "\r\n";
  out += std::to_string(old.size()) + "\r\n" + std::to_string(now.size()) + "\r\n";
  return out + "old.bin\r\n" + Stream(old, now);
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

  PatchOutcome Generate(const std::string& patchPath) {
    const std::string paths[] = {folder->Path("old.bin"), folder->Path("new.bin")};
    PatchRequest request{};
    StringVar* fields = &request.WindowTitle;  // the nine texts, then the two paths
    for (int i = 0; i < 11; i++)
      AssignText(&fields[i], i < 9 ? TEXTS[i] : paths[i - 9].c_str());
    PatchOutcome outcome = GeneratePatch(&request, patchPath.c_str(),
                                         [](int32_t p) { Reports.push_back(p); });
    for (int i = 0; i < 11; i++)
      FreeString(&fields[i]);
    return outcome;
  }
};

TEST_F(PatchTest, MatchesOracleOnRandomPairs) {
  struct Case {
    const char* name;
    size_t oldSize, newSize;
    int changePercent;  // of the positions the old file covers
    std::vector<int32_t> reports;
  };
  const Case cases[] = {
      {"identical", 76800, 76800, 0, {33, 66, 100}},
      {"old shorter, zeros past its end", 1000, 30000, 5, {100}},
      {"old longer", 80000, 25600, 10, {100}},
      {"one byte", 1, 1, 100, {}},
      {"under one block", 25599, 25599, 1, {}},
      {"one block", 25600, 25600, 30, {100}},
      {"three blocks and one", 76801, 76801, 1, {33, 66, 100}},
  };
  for (const Case& c : cases) {
    unsigned seed = std::random_device{}();
    SCOPED_TRACE(std::string(c.name) + ", seed " + std::to_string(seed));
    std::mt19937 random(seed);
    std::string old = RandomBytes(random, c.oldSize),
                now = RandomBytes(random, c.newSize);
    for (size_t i = 0; i < now.size(); i++) {
      if (i >= old.size())
        now[i] = random() % 2 ? now[i] : 0;
      else if (static_cast<int>(random() % 100) >= c.changePercent)
        now[i] = old[i];
    }
    WriteBytes("old.bin", old);
    WriteBytes("new.bin", now);
    WriteBytes("out.exe", std::string(200000, '\xEE'));  // replaced whole, no stale tail
    Reports.clear();
    ASSERT_EQ(Generate("out.exe"), PATCH_WRITTEN);
    EXPECT_TRUE(ReadBytes("out.exe") == Oracle(stub, old, now));
    EXPECT_EQ(Reports, c.reports);
    EXPECT_EQ(ListFolder(folder->root),
              (Names{"patch.dat", "old.bin", "new.bin", "out.exe"}));
  }
}

// Their size and name lines and their streams spelled out.
TEST_F(PatchTest, WorkedExamples) {
  const std::string cases[][3] = {
      {"ABC", "AXCD", "\r\n3\r\n4\r\nold.bin\r\n\0\1X\0\1D"s},
      {"A", "A\0"s, "\r\n1\r\n2\r\nold.bin\r\n\0\0"s},
  };
  for (const auto& [old, now, tail] : cases) {
    WriteBytes("old.bin", old);
    WriteBytes("new.bin", now);
    ASSERT_EQ(Generate("p.exe"), PATCH_WRITTEN);
    std::string out = ReadBytes("p.exe");
    EXPECT_TRUE(out == Oracle(stub, old, now));
    EXPECT_EQ(out.substr(out.size() - tail.size()), tail);
  }
}

// Every pair of byte values, at every alignment of the word-wise comparison.
TEST_F(PatchTest, EncodesEveryBytePairAtEveryAlignment) {
  std::string old(65536 + 8, '\0'), now(65536 + 8, '\0'), records(2 * old.size(), '\0');
  for (size_t i = 0; i < 65536; i++)
    old[i] = static_cast<char>(i >> 8), now[i] = static_cast<char>(i);
  auto bytes = [](std::string& s, size_t at) {
    return reinterpret_cast<unsigned char*>(s.data() + at);
  };
  for (int32_t at = 0; at < 8; at++) {
    int32_t length =
        EncodeDiffBlock(bytes(old, at), bytes(now, at), 65536 - at, bytes(records, 0));
    EXPECT_TRUE(records.substr(0, length) ==
                Stream(old.substr(at, 65536 - at), now.substr(at, 65536 - at)))
        << "offset " << at;
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
      {"short stub", [] { WriteBytes("patch.dat", std::string(STUB_SIZE - 1, 'x')); },
       "out.exe", PATCH_STUB_REJECTED},
      {"long stub", [] { WriteBytes("patch.dat", std::string(STUB_SIZE + 1, 'x')); },
       "out.exe", PATCH_STUB_REJECTED},
      {"missing stub", [] { DeleteFileA("patch.dat"); }, "out.exe", PATCH_STUB_REJECTED},
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
    EXPECT_EQ(ReadBytes(c.patchPath), kept);
    EXPECT_EQ(ReadBytes("out.exe"), "keep");
    EXPECT_EQ(ListFolder(folder->root), before);
    if (held != INVALID_HANDLE_VALUE)
      CloseHandle(held), held = INVALID_HANDLE_VALUE;
  }
}

// Whether the temporary file cannot be made or the disk fills while it is
// written, the folder stays as it was, a previous output included.
TEST_F(PatchTest, ReadOnlyFolderAndFullDisk) {
  const char* readOnly = std::getenv("PB_READONLY_FILE_DIR");
  const char* full = std::getenv("PB_FULL_DIR");
  if (readOnly == nullptr || full == nullptr)
    GTEST_SKIP() << "PB_READONLY_FILE_DIR or PB_FULL_DIR unset: no fault folders";
  WriteBytes("old.bin", RandomBytes(rng, 1 << 20));
  WriteBytes("new.bin", RandomBytes(rng, 2 << 20));
  WriteBytes(std::string(full) + "\\out.exe", "keep");
  for (const std::string dir : {readOnly, full}) {
    const Names before = ListFolder(dir);
    ASSERT_FALSE(before.empty()) << dir;
    const std::string out = dir + "\\" + *before.begin(), kept = ReadBytes(out);
    EXPECT_EQ(Generate(out), PATCH_OUTPUT_FAILED) << dir;
    EXPECT_EQ(ReadBytes(out), kept);
    EXPECT_EQ(ListFolder(dir), before);
  }
  ClearFolder(full);
}

}  // namespace
