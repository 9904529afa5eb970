// The resources Windows reads from the built programs, found in the build
// folder: the tool, and the patcher stub as every patch carries it.
#include <gtest/gtest.h>
#include <windows.h>

#include <set>
#include <string>
#include <vector>

namespace {

using namespace std::string_literals;

std::string Resource(HMODULE module, LPCSTR type, int id) {
  HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(id), type);
  if (found == nullptr)
    return "";
  return {static_cast<const char*>(LockResource(LoadResource(module, found))),
          SizeofResource(module, found)};
}

// The sizes of the icon group's images that are there: the group is a
// 6-byte header and 14 bytes per image (a width of 0 means 256).
std::set<int> IconSizes(HMODULE module, const std::string& group) {
  std::set<int> sizes;
  for (size_t at = 6; at + 14 <= group.size(); at += 14) {
    const auto* entry = reinterpret_cast<const unsigned char*>(&group[at]);
    if (!Resource(module, RT_ICON, entry[12] | entry[13] << 8).empty())
      sizes.insert(entry[0] == 0 ? 256 : entry[0]);
  }
  return sizes;
}

// Windows asks to elevate a program named "patch..." that has no manifest
// saying otherwise; the console program must run in scripts that cannot
// answer. The console program draws no controls
// and carries no icon.
TEST(Resources, ManifestVersionAndIconOfEveryProgram) {
  struct Program {
    const char* file;
    std::string level;
    bool styled;
    std::set<int> iconSizes;
  };
  for (const Program& program :
       {Program{".\\patchbuilder.exe", "asInvoker", true, {16, 24, 32, 48, 64, 256}},
        Program{".\\patchbuilder-cli.exe", "asInvoker", false, {}},
        Program{".\\patch.dat", "highestAvailable", true, {16, 32}}}) {
    SCOPED_TRACE(program.file);
    HMODULE module = LoadLibraryExA(program.file, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr);
    const std::string manifest = Resource(module, RT_MANIFEST, 1);
    // The level; Windows 7, and 10 and 11; no DPI awareness; visual styles.
    for (std::string wanted :
         {"level=\"" + program.level + '"', "{35138b9a-"s, "{8e0f7a12-"s})
      EXPECT_NE(manifest.find(wanted), std::string::npos) << wanted;
    EXPECT_EQ(manifest.find("dpiAware"), std::string::npos);
    EXPECT_TRUE(!program.styled || manifest.find("Common-Controls") != std::string::npos);
    EXPECT_EQ(IconSizes(module, Resource(module, RT_GROUP_ICON, 1)), program.iconSizes);
    FreeLibrary(module);

    std::vector<char> info(GetFileVersionInfoSizeA(program.file, nullptr));
    ASSERT_TRUE(GetFileVersionInfoA(program.file, 0, info.size(), info.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    char* text = nullptr;
    UINT length = 0;
    ASSERT_TRUE(
        VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, MAKELONG(VERSION_MINOR, VERSION_MAJOR));
    EXPECT_EQ(fixed->dwFileVersionLS, MAKELONG(0, VERSION_PATCH));
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\StringFileInfo\\040904B0\\ProductVersion",
                               reinterpret_cast<void**>(&text), &length));
    EXPECT_STREQ(text, VERSION_TEXT);
  }
}

}  // namespace
