// System libraries loaded from the system folder only.
//
// Windows looks for a library that is not one of its known DLLs first in
// the folder of the program that loads it, and a patch runs from a
// downloads folder, often with an administrator's rights. So the programs
// import nothing from the loader but KERNEL32 (and the C runtime, a known
// DLL, which the start-up code needs): each restricts every later search
// to the system folder at its entry, before any other library is loaded,
// and then loads the libraries it calls itself.
//
// The compiler calls an imported function through a pointer named
// __imp__<name>@<argument bytes> (__imp__<name> for a C-calling one), which
// the loader would fill for a static import. A program defines those
// pointers with SYSTEM_FUNCTION_SLOT in one list per library and has
// LoadSystemLibraries fill them, so that calls are written as usual.
#pragma once

#include <cstdint>
#include <span>

struct SystemFunction {
  void** slot;
  const char* name;
};

struct SystemLibrary {
  const char* name;
  std::span<const SystemFunction> functions;
};

// For a list macro LIST(F) that names each function as F(name, "@bytes")
// (or F(name, "") for a C-calling one): the slots, then the table for
// LoadSystemLibraries.
#define SYSTEM_FUNCTION_SLOT(name, decoration) \
  void* name##Slot __asm__("__imp__" #name decoration) = nullptr;
#define SYSTEM_FUNCTION_ENTRY(name, decoration) {&name##Slot, #name},

// Restricts every later library search of the process to the system
// folder, then loads each library by name and fills its slots; false when
// a library or a function is missing. Where the system cannot restrict the
// search (Windows 7 without its 2011 update), the current folder is at
// least left out; there the system's known DLLs and side-by-side
// assemblies are still taken from the system alone.
bool LoadSystemLibraries(std::span<const SystemLibrary> libraries);
