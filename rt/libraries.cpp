#include "rt/libraries.h"

#include <windows.h>

namespace {

constexpr DWORD SEARCH_SYSTEM_FOLDER = 0x00000800;  // LOAD_LIBRARY_SEARCH_SYSTEM32

using SetDefaultDllDirectoriesCall = BOOL(WINAPI*)(DWORD);

// A function pointer of one type as one of another, through the type that
// stands for any.
template <typename Function>
Function Cast(FARPROC found) {
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(found));
}

void RestrictLibrarySearch() {
  auto restrict = Cast<SetDefaultDllDirectoriesCall>(
      GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories"));
  if (restrict == nullptr || !restrict(SEARCH_SYSTEM_FOLDER))
    SetDllDirectoryA("");
}

}  // namespace

bool LoadSystemLibraries(std::span<const SystemLibrary> libraries) {
  RestrictLibrarySearch();
  for (const SystemLibrary& library : libraries) {
    // By name, so that a side-by-side assembly (the common controls of the
    // manifest) is taken where the system keeps it.
    HMODULE module = LoadLibraryA(library.name);
    if (module == nullptr)
      return false;
    for (const SystemFunction& function : library.functions) {
      *function.slot = Cast<void*>(GetProcAddress(module, function.name));
      if (*function.slot == nullptr)
        return false;
    }
  }
  return true;
}
