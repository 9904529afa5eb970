// The patch writer against an oracle built from the file layout alone, the
// two worked examples, and every refusal and failure with the output path
// checked to be exactly as it was.
#include "app/patch.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <functional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "rt/files.h"
#include "rt/fingerprints.h"
#include "rt/heaps.h"

namespace {

using Bytes = std::vector<unsigned char>;

const char* const TEXTS[9] = {"Window", "", "  spaced  ", "Notice", "Tip", "C:\\Program Files",
                              "Open", "Install", "Exit"};

std::vector<int32_t> Reports;
void Record(int32_t percent) { Reports.push_back(percent); }

void WriteBytes(const std::string& path, const Bytes& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr) << path;
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

// The file's bytes; "absent" is told apart by Exists.
Bytes ReadBytes(const std::string& path) {
  Bytes bytes;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    for (int c; (c = std::fgetc(f)) != EOF;)
      bytes.push_back(static_cast<unsigned char>(c));
    std::fclose(f);
  }
  return bytes;
}

bool Exists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::set<std::string> ListFolder(const std::string& folder) {
  std::set<std::string> names;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
  for (bool more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileA(search, &found)) {
    if (found.cFileName[0] != '.')
      names.insert(found.cFileName);
  }
  FindClose(search);
  return names;
}

Bytes RandomBytes(std::mt19937& rng, size_t size) {
  Bytes bytes(size);
  for (auto& b : bytes)
    b = static_cast<unsigned char>(rng());
  return bytes;
}

std::string Md5(const Bytes& bytes) {
  char* start = ScratchCursor;
  std::string text = BufferMd5Hex(bytes.data(), static_cast<int32_t>(bytes.size()));
  ScratchCursor = start;
  return text;
}

// Stub, fourteen CR LF lines, then per new position 00 or 01 b, the old
// byte taken as 00 past the old file's end.
Bytes Oracle(const Bytes& stub, const Bytes& old, const Bytes& now, const std::string& oldName) {
  Bytes out = stub;
  std::vector<std::string> lines(TEXTS, TEXTS + 9);
  lines.insert(lines.end(), {Md5(old), Md5(now), std::to_string(old.size()),
                             std::to_string(now.size()), oldName});
  for (const auto& line : lines) {
    out.insert(out.end(), line.begin(), line.end());
    out.insert(out.end(), {'\r', '\n'});
  }
  for (size_t i = 0; i < now.size(); i++) {
    unsigned char o = i < old.size() ? old[i] : 0;
    if (o == now[i])
      out.push_back(0x00);
    else
      out.insert(out.end(), {0x01, now[i]});
  }
  return out;
}

struct OwnedRequest {
  PatchRequest request{};
  OwnedRequest(const std::string& oldPath, const std::string& newPath) {
    StringVar* fields = &request.WindowTitle;
    for (int i = 0; i < 9; i++)
      AssignText(&fields[i], TEXTS[i]);
    AssignText(&request.OldPath, oldPath.c_str());
    AssignText(&request.NewPath, newPath.c_str());
  }
  ~OwnedRequest() {
    for (StringVar* f = &request.WindowTitle; f <= &request.NewPath; f++)
      FreeString(f);
  }
};

// Each test runs in a folder of its own, made the current folder so that
// the stub is found by its relative name.
class PatchTest : public ::testing::Test {
 protected:
  std::string folder;
  char previous[MAX_PATH] = {};
  Bytes stub;

  static void SetUpTestSuite() {
    CreateHeaps();
    InitScratchBuffer();
    if (FileSlotTable.records == nullptr)
      InitFileSlots();
  }

  void SetUp() override {
    static int serial;
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    folder = std::string(temp) + "pbpatch" + std::to_string(GetCurrentProcessId()) + "_" +
             std::to_string(serial++);
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    GetCurrentDirectoryA(sizeof previous, previous);
    SetCurrentDirectoryA(folder.c_str());
    std::mt19937 rng(7);
    stub = RandomBytes(rng, STUB_SIZE);
    WriteBytes("patch.dat", stub);
    Reports.clear();
  }

  void TearDown() override {
    CloseAllFiles();
    SetCurrentDirectoryA(previous);
    for (const auto& name : ListFolder(folder))
      DeleteFileA(Path(name).c_str());
    RemoveDirectoryA(folder.c_str());
  }

  std::string Path(const std::string& name) const { return folder + "\\" + name; }

  PatchOutcome Generate(const std::string& patchPath) {
    OwnedRequest r(Path("old.bin"), Path("new.bin"));
    return GeneratePatch(&r.request, patchPath.c_str(), Record);
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
    std::mt19937 rng(seed);
    Bytes old = RandomBytes(rng, c.oldSize), now = RandomBytes(rng, c.newSize);
    for (size_t i = 0; i < now.size(); i++) {
      if (i >= old.size())
        now[i] = rng() % 2 ? now[i] : 0;
      else if (static_cast<int>(rng() % 100) >= c.changePercent)
        now[i] = old[i];
    }
    WriteBytes("old.bin", old);
    WriteBytes("new.bin", now);
    WriteBytes("out.exe", Bytes(200000, 0xEE));  // replaced whole, no stale tail
    Reports.clear();
    ASSERT_EQ(Generate("out.exe"), PATCH_WRITTEN);
    EXPECT_TRUE(ReadBytes("out.exe") == Oracle(stub, old, now, "old.bin"));
    EXPECT_EQ(Reports, c.reports);
    EXPECT_EQ(ListFolder(folder), (std::set<std::string>{"patch.dat", "old.bin", "new.bin", "out.exe"}));
  }
}

TEST_F(PatchTest, WorkedExamples) {
  struct Case {
    Bytes old, now;
    std::string oldSize, newSize;
    Bytes stream;
  };
  const Case cases[] = {
      {{0x41, 0x42, 0x43}, {0x41, 0x58, 0x43, 0x44}, "3", "4", {0x00, 0x01, 0x58, 0x00, 0x01, 0x44}},
      {{0x41}, {0x41, 0x00}, "1", "2", {0x00, 0x00}},
  };
  for (const Case& c : cases) {
    WriteBytes("old.bin", c.old);
    WriteBytes("new.bin", c.now);
    ASSERT_EQ(Generate(Path("p.exe")), PATCH_WRITTEN);
    Bytes out = ReadBytes("p.exe");
    ASSERT_TRUE(std::equal(stub.begin(), stub.end(), out.begin()));
    std::vector<std::string> lines(1);
    size_t at = STUB_SIZE;
    for (; lines.size() <= 14; at++) {
      if (out[at] == '\r' && out[at + 1] == '\n') {
        lines.emplace_back();
        at++;
      } else {
        lines.back() += static_cast<char>(out[at]);
      }
    }
    EXPECT_EQ(lines[11], c.oldSize);
    EXPECT_EQ(lines[12], c.newSize);
    EXPECT_EQ(lines[13], "old.bin");
    EXPECT_EQ(Bytes(out.begin() + at, out.end()), c.stream);
  }
}

TEST_F(PatchTest, EncodesEveryBytePairAtEveryAlignment) {
  Bytes old(65536 + 8), now(65536 + 8);
  for (size_t i = 0; i < 65536; i++)
    old[i] = static_cast<unsigned char>(i >> 8), now[i] = static_cast<unsigned char>(i);
  Bytes records(2 * old.size());
  for (int32_t offset = 0; offset < 8; offset++) {
    int32_t count = 65536 - offset;
    Bytes expected;
    for (int32_t i = offset; i < offset + count; i++) {
      if (old[i] == now[i])
        expected.push_back(0);
      else
        expected.insert(expected.end(), {1, now[i]});
    }
    int32_t length = EncodeDiffBlock(&old[offset], &now[offset], count, records.data());
    EXPECT_EQ(Bytes(records.begin(), records.begin() + length), expected) << "offset " << offset;
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
  std::mt19937 rng(11);
  Bytes old = RandomBytes(rng, 5000), now = RandomBytes(rng, 6000);
  HANDLE held = INVALID_HANDLE_VALUE;
  auto hold = [&](const char* name, DWORD share) {
    held = CreateFileA(name, GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr);
  };
  const Case cases[] = {
      {"short stub", [&] { WriteBytes("patch.dat", Bytes(STUB_SIZE - 1)); }, "out.exe",
       PATCH_STUB_REJECTED},
      {"long stub", [&] { WriteBytes("patch.dat", Bytes(STUB_SIZE + 1)); }, "out.exe",
       PATCH_STUB_REJECTED},
      {"missing stub", [&] { DeleteFileA("patch.dat"); }, "out.exe", PATCH_STUB_REJECTED},
      {"missing old", [&] { DeleteFileA("old.bin"); }, "out.exe", PATCH_OLD_UNREADABLE},
      {"old held", [&] { hold("old.bin", 0); }, "out.exe", PATCH_OLD_UNREADABLE},
      {"new held", [&] { hold("new.bin", 0); }, "out.exe", PATCH_NEW_UNREADABLE},
      {"output is old, relative, other case", [] {}, "OLD.BIN", PATCH_OUTPUT_IS_INPUT},
      {"output is new, roundabout", [] {}, Path("..\\" + folder.substr(folder.rfind('\\') + 1) +
                                               "\\.\\NeW.bin"), PATCH_OUTPUT_IS_INPUT},
      {"output is the stub", [] {}, "PATCH.DAT", PATCH_OUTPUT_IS_INPUT},
      {"no such folder", [] {}, Path("none\\out.exe"), PATCH_OUTPUT_FAILED},
      {"output held, move refused", [&] { hold("out.exe", FILE_SHARE_READ); }, "out.exe",
       PATCH_OUTPUT_FAILED},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteBytes("patch.dat", stub);
    WriteBytes("old.bin", old);
    WriteBytes("new.bin", now);
    WriteBytes("out.exe", {'k', 'e', 'e', 'p'});
    c.arrange();
    std::set<std::string> before = ListFolder(folder);
    Bytes kept = ReadBytes(c.patchPath);
    EXPECT_EQ(Generate(c.patchPath), c.outcome);
    EXPECT_EQ(ReadBytes(c.patchPath), kept);
    EXPECT_EQ(ReadBytes("out.exe"), (Bytes{'k', 'e', 'e', 'p'}));
    EXPECT_EQ(ListFolder(folder), before);
    if (held != INVALID_HANDLE_VALUE)
      CloseHandle(held), held = INVALID_HANDLE_VALUE;
  }
}

TEST_F(PatchTest, ReadOnlyFolderLeavesNoFile) {
  const char* dir = std::getenv("PB_READONLY_DIR");
  if (dir == nullptr)
    GTEST_SKIP() << "PB_READONLY_DIR unset: no read-only folder to write into";
  WriteBytes("old.bin", {1, 2, 3});
  WriteBytes("new.bin", {1, 2, 4});
  std::string out = std::string(dir) + "\\out.exe";
  EXPECT_EQ(Generate(out), PATCH_OUTPUT_FAILED);
  EXPECT_FALSE(Exists(out));
  EXPECT_TRUE(ListFolder(dir).empty());
}

TEST_F(PatchTest, FullDiskKeepsPreviousOutput) {
  const char* dir = std::getenv("PB_FULL_DIR");
  if (dir == nullptr)
    GTEST_SKIP() << "PB_FULL_DIR unset: no small disk to fill";
  std::mt19937 rng(13);
  WriteBytes("old.bin", RandomBytes(rng, 1 << 20));
  WriteBytes("new.bin", RandomBytes(rng, 2 << 20));
  std::string out = std::string(dir) + "\\out.exe";
  WriteBytes(out, {'k', 'e', 'e', 'p'});
  EXPECT_EQ(Generate(out), PATCH_OUTPUT_FAILED);
  EXPECT_EQ(ReadBytes(out), (Bytes{'k', 'e', 'e', 'p'}));
  EXPECT_EQ(ListFolder(dir), std::set<std::string>{"out.exe"});
  DeleteFileA(out.c_str());
}

}  // namespace
