// The libraries the built programs import, read from their import tables in
// the build folder.
#include <gtest/gtest.h>
#include <windows.h>

#include <cctype>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

namespace {

using Names = std::set<std::string>;

const Names WINDOW_LIBRARIES = {"USER32.DLL", "GDI32.DLL", "COMCTL32.DLL", "COMDLG32.DLL",
                                "UXTHEME.DLL"};

// The upper-cased names of the DLLs in a 32-bit program's import table; an
// image that is cut short gives what was read up to there.
Names ImportedLibraries(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  const std::string image{std::istreambuf_iterator<char>(file), {}};
  auto fits = [&](size_t offset, size_t size) { return offset + size <= image.size(); };
  Names names;
  if (!fits(0, sizeof(IMAGE_DOS_HEADER)))
    return names;
  size_t ntOffset = reinterpret_cast<const IMAGE_DOS_HEADER*>(image.data())->e_lfanew;
  if (!fits(ntOffset, sizeof(IMAGE_NT_HEADERS32)))
    return names;
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(image.data() + ntOffset);
  const auto* sections = IMAGE_FIRST_SECTION(nt);
  auto offsetOf = [&](DWORD rva) -> size_t {
    for (WORD i = 0; i < nt->FileHeader.NumberOfSections; i++)
      if (rva >= sections[i].VirtualAddress &&
          rva < sections[i].VirtualAddress + sections[i].SizeOfRawData)
        return rva - sections[i].VirtualAddress + sections[i].PointerToRawData;
    return image.size();
  };
  size_t at = offsetOf(
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress);
  for (; fits(at, sizeof(IMAGE_IMPORT_DESCRIPTOR));
       at += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
    const auto* entry = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(&image[at]);
    size_t name = offsetOf(entry->Name);
    if (entry->Name == 0 || !fits(name, 1))
      break;
    std::string text = image.c_str() + name;
    for (char& c : text)
      c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    names.insert(text);
  }
  return names;
}

Names WindowLibrariesOf(const std::string& path) {
  Names found;
  for (const std::string& name : ImportedLibraries(path))
    if (WINDOW_LIBRARIES.count(name) != 0)
      found.insert(name);
  return found;
}

// The console program runs in build scripts and opens no window, so it
// carries no window code; the tool's own imports show that the table is read.
TEST(Imports, ConsoleProgramImportsNoWindowLibrary) {
  EXPECT_EQ(WindowLibrariesOf(".\\patchbuilder.exe"),
            (Names{"COMCTL32.DLL", "COMDLG32.DLL", "GDI32.DLL", "USER32.DLL"}));
  EXPECT_EQ(WindowLibrariesOf(".\\patchbuilder-cli.exe"), Names{});
  EXPECT_EQ(ImportedLibraries(".\\patchbuilder-cli.exe").count("KERNEL32.DLL"), 1u);
}

}  // namespace
