// The console program as a release script runs it: started with its output
// in pipes, judged by its exit code and its one line on standard error. Its
// patch must be the one GeneratePatch writes, which the stub's tests apply.
#include <gtest/gtest.h>
#include <windows.h>

#include <random>
#include <string>

#include "app/patch.h"
#include "app/request.h"
#include "tests/test_files.h"

namespace {

// The work folder has no patch.dat: the build's, beside the program, is used.
class CliTest : public testing::Test {
 protected:
  static void SetUpTestSuite() { SetUpRuntime(); }
  void SetUp() override {
    folder.Write("old.bin", "old"), folder.Write("new.bin", "new!");
    folder.Write("empty.bin", "");
  }

  ProgramRun Cli(const std::string& arguments) {
    char program[MAX_PATH];
    GetFullPathNameA("patchbuilder-cli.exe", MAX_PATH, program, nullptr);
    return RunProgram(std::string(1, '"').append(program).append("\" ") + arguments,
                      folder.root);
  }
  TempFolder folder{"pb cli "};  // a space that the command lines must quote
};

TEST_F(CliTest, PatchIsGeneratePatchs) {
  CreateDirectoryA(folder.Path("old files").c_str(), nullptr);
  CreateDirectoryA(folder.Path("site dir").c_str(), nullptr);
  folder.Write("old files\\game.exe", "old");
  folder.Write(
      "texts.txt",
      "# release texts\r\nwindow-title=Dune rally update\n  # indented\r\n\n"
      "program-description=from the file\r\ndefault-folder= C:\\Games\\Dune rally \n");
  // Spaces in paths and a quote in a text, quoted as Windows quotes them; the
  // output name is used as given, with no ".exe" added.
  ProgramRun run =
      Cli("--texts texts.txt --old \"old files\\game.exe\" --new new.bin "
          "--out \"site dir\\the patch.v2\" --program-title \"Say \\\"1.1\\\"\" "
          "--program-description \"from the command line\"");
  EXPECT_EQ(run.code, 0u);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "Process done\r\n");

  PatchRequest request{};
  const std::string given[][2] = {
      {"window-title", "Dune rally update"},
      {"program-title", "Say \"1.1\""},
      {"program-description", "from the command line"},
      {"default-folder", " C:\\Games\\Dune rally "},
  };
  for (const RequestText& text : REQUEST_TEXTS) {
    AssignText(&(request.*text.field), text.initialText);
    for (const auto& [name, value] : given)
      if (name == text.name)
        AssignText(&(request.*text.field), value.c_str());
  }
  AssignText(&request.OldPath, folder.Path("old files\\game.exe").c_str());
  AssignText(&request.NewPath, folder.Path("new.bin").c_str());
  const std::string expected = folder.Path("expected.exe");
  ASSERT_EQ(GeneratePatch(&request, expected.c_str(), nullptr), PATCH_WRITTEN);
  FreeRequest(&request);
  EXPECT_TRUE(
      SameBytes(ReadBytes(folder.Path("site dir\\the patch.v2")), ReadBytes(expected)));
  ClearFolder(folder.Path("site dir"));
  ClearFolder(folder.Path("old files"));
}

TEST_F(CliTest, EveryExitCodeWithItsLine) {
  const std::string base =
      "--old old.bin --new new.bin --out p.exe --window-title W --program-title P "
      "--program-description D --default-folder F ";
  folder.Write("bad.txt", "window-title=W\n  bogus =1\n");
  folder.Write("standin.dat", std::string(STUB_SIZE, 'S'));  // no compact stream known
  HANDLE held = INVALID_HANDLE_VALUE;
  const struct {
    std::string arguments;
    const char* hold;  // a file this process keeps open without sharing
    DWORD code;
    std::string err;
  } cases[] = {
      {base, nullptr, 0, "Process done\r\n"},
      {base + "--quiet", nullptr, 0, ""},
      {base + "--program-title \"\" --allow-empty", nullptr, 0, "Process done\r\n"},
      {"--old old.bin --new new.bin", nullptr, EXIT_USAGE,
       "--old, --new and --out are required (see --help)\r\n"},
      {base + "--texts bad.txt", nullptr, EXIT_USAGE,
       "Texts file line 2: unknown text name bogus\r\n"},
      {base + "--window-title \"\" --exit-button \"\"", nullptr, 2,
       "Window title is empty\r\nButton exit is empty\r\n"},
      {base + "--old none.bin", nullptr, 3, "Old version file not found\r\n"},
      {base + "--new .", nullptr, 4, "New version file not found\r\n"},
      {base + "--new empty.bin", nullptr, 4, "New version file not found\r\n"},
      {base + "--stub new.bin", nullptr, 5, "'patch.dat' corrupted, can't continue.\r\n"},
      {base + "--stub standin.dat", nullptr, 0, "Process done\r\n"},
      {base + "--stub standin.dat --compact", nullptr, 15,
       "'patch.dat' can't apply compact patches: use the one that came with this tool, "
       "or "
       "make a plain patch\r\n"},
      {base + "--out OLD.BIN", nullptr, 6,
       "Patch file can't replace the old or new version file\r\n"},
      {base, "old.bin", 7, "Can't read old version file\r\n"},
      {base, "new.bin", 8, "Can't read new version file\r\n"},
      {base + "--out none\\p.exe", nullptr, 9, "Can't write patch file\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments);
    if (c.hold != nullptr)
      held = CreateFileA(folder.Path(c.hold).c_str(), GENERIC_READ, 0, nullptr,
                         OPEN_EXISTING, 0, nullptr);
    ProgramRun run = Cli(c.arguments);
    EXPECT_EQ(run.code, c.code);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, c.err);
    if (held != INVALID_HANDLE_VALUE)
      CloseHandle(held), held = INVALID_HANDLE_VALUE;
  }
  ProgramRun help = Cli("--help");
  EXPECT_EQ(help.code, 0u);
  EXPECT_EQ(help.out.rfind("Usage: patchbuilder-cli --old FILE", 0), 0u);
  EXPECT_EQ(help.err, "");
}

// An insertion near the start and scattered changes: the plain stream would
// take every byte of the new file again, the compact one a few kilobytes.
TEST_F(CliTest, CompactPatchIsSmallAndApplies) {
  std::mt19937 rng(16);
  const std::string old = RandomBytes(rng, 200000);
  std::string now = old.substr(0, 300) + RandomBytes(rng, 700) + old.substr(300);
  for (size_t i = 5000; i < now.size(); i += 997)
    now[i] = static_cast<char>(rng());
  folder.Write("old.bin", old);
  folder.Write("new.bin", now);
  CreateDirectoryA(folder.Path("site").c_str(), nullptr);
  ProgramRun run =
      Cli("--compact --old old.bin --new new.bin --out site\\patch.exe --window-title W "
          "--program-title P --program-description D --default-folder F");
  EXPECT_EQ(run.code, 0u);
  EXPECT_EQ(run.err, "Process done\r\n");
  EXPECT_LT(ReadBytes(folder.Path("site\\patch.exe")).size(), STUB_SIZE + 4000u);
  ClearFolder(folder.Path("site"));
}

}  // namespace
