// The libraries the built programs import, read from their import tables in
// the build folder, and the ones they load themselves.
#include <gtest/gtest.h>
#include <windows.h>

#include <cctype>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

namespace {

using Names = std::set<std::string>;

std::string Bytes(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), {}};
}

// The upper-cased names of the DLLs in a 32-bit program's import table; an
// image that is cut short gives what was read up to there.
Names ImportedLibraries(const std::string& path) {
  const std::string image = Bytes(path);
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

// A planted DLL is found first in a program's folder unless the program
// loads it after restricting the search to the system folder: the loader
// itself may resolve only KERNEL32, and for the two programs with a C
// runtime, MSVCRT, one of the system's known DLLs.
TEST(Imports, LoaderResolvesOnlyKernel32AndTheCRuntime) {
  EXPECT_EQ(ImportedLibraries(".\\patchbuilder.exe"),
            (Names{"KERNEL32.DLL", "MSVCRT.DLL"}));
  EXPECT_EQ(ImportedLibraries(".\\patchbuilder-cli.exe"),
            (Names{"KERNEL32.DLL", "MSVCRT.DLL"}));
  EXPECT_EQ(ImportedLibraries(".\\patch.dat"), Names{"KERNEL32.DLL"});
}

// The console program runs in build scripts and opens no window, so it
// carries no window code: it names no window library to load, and no
// window function; the tool's own bytes show that the names are found.
TEST(Imports, ConsoleProgramLoadsNoWindowLibrary) {
  const std::string tool = Bytes(".\\patchbuilder.exe"),
                    console = Bytes(".\\patchbuilder-cli.exe");
  for (const char* name :
       {"user32.dll", "gdi32.dll", "comctl32.dll", "comdlg32.dll", "CreateWindowExA"}) {
    std::string text = name + std::string(1, '\0');
    EXPECT_NE(tool.find(text), std::string::npos) << name;
    EXPECT_EQ(console.find(text), std::string::npos) << name;
  }
}

}  // namespace
