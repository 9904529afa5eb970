// Entry of the patcher stub. No C runtime start-up: the entry reads the
// command line itself and ends the process with the outcome.
//
//   patch.exe                  the window, folder field preset from the patch
//   patch.exe /D=<folder>      the window, folder field preset to <folder>
//   patch.exe /S [/D=<folder>] no window: installs and exits with a StubResult
//
// As usual for installers, /D= comes last and takes the rest of the line,
// spaces included.
#include <windows.h>

#include "format/stub_mark.h"
#include "rt/heaps.h"
#include "rt/strings.h"
#include "stub/stub.h"

// Found by the tool in patch.dat: this stub applies the compact streams
// that the format's decoder, compiled in here, reads.
[[gnu::used]] extern const StubMark TheStubMark = STUB_MARK;

namespace {

struct StubOptions {
  bool silent;
  bool valid;
  const char* folder;  // null when not given
};

char FolderOption[PATH_LIMIT];

const char* SkipSpaces(const char* s) {
  while (*s == ' ' || *s == '\t')
    s++;
  return s;
}

const char* SkipProgramName(const char* s) {
  if (*s == '"') {
    for (s++; *s != '\0' && *s != '"'; s++) {
    }
    return *s == '"' ? s + 1 : s;
  }
  while (*s != '\0' && *s != ' ' && *s != '\t')
    s++;
  return s;
}

bool IsOption(const char* s, char letter) {
  return s[0] == '/' && (s[1] == letter || s[1] == letter + ('a' - 'A'));
}

// The rest of the line without trailing blanks or surrounding quotes.
bool TakeFolder(const char* s) {
  int n = lstrlenA(s);
  while (n > 0 && (s[n - 1] == ' ' || s[n - 1] == '\t'))
    n--;
  if (n >= 2 && s[0] == '"' && s[n - 1] == '"') {
    s++;
    n -= 2;
  }
  if (n >= PATH_LIMIT)
    return false;
  lstrcpynA(FolderOption, s, n + 1);
  return true;
}

StubOptions ReadStubOptions() {
  StubOptions options = {false, true, nullptr};
  const char* s = SkipSpaces(SkipProgramName(GetCommandLineA()));
  while (*s != '\0' && options.valid) {
    if (IsOption(s, 'D') && s[2] == '=') {
      options.valid = TakeFolder(s + 3);
      options.folder = FolderOption;
      break;
    }
    // Anything else is refused, in a window unless /S came before it.
    options.valid = IsOption(s, 'S') && (s[2] == '\0' || s[2] == ' ' || s[2] == '\t');
    options.silent = options.silent || options.valid;
    if (options.valid)
      s = SkipSpaces(s + 2);
  }
  return options;
}

void Tell(StubResult result) {
  const char* title =
      result == STUB_PATCH_DAMAGED ? "Patch" : ThePatch.line[LINE_WINDOW_TITLE];
  MessageBoxA(nullptr, ResultMessage(result), title, MB_ICONERROR);
}

int RunStub() {
  // Fingerprints and paths are worked out in the runtime's scratch buffer.
  if (!LoadStubLibraries() || !CreateHeaps() || InitScratchBuffer() == nullptr)
    return STUB_WRITE_FAILED;
  StubOptions options = ReadStubOptions();
  char ownPath[PATH_LIMIT];
  DWORD n = GetModuleFileNameA(nullptr, ownPath, PATH_LIMIT);
  bool loaded = n > 0 && n < static_cast<DWORD>(PATH_LIMIT) && LoadPayload(ownPath);
  StubResult failure = !loaded          ? STUB_PATCH_DAMAGED
                       : !options.valid ? STUB_BAD_COMMAND_LINE
                                        : STUB_DONE;
  if (failure != STUB_DONE) {
    if (!options.silent)
      Tell(failure);
    return failure;
  }
  if (options.silent) {
    const char* folder =
        options.folder ? options.folder : ThePatch.line[LINE_DEFAULT_FOLDER];
    return InstallPatch(folder, nullptr);
  }
  return RunStubWindow(options.folder);
}

}  // namespace

extern "C" void StubEntry() {
  ExitProcess(RunStub());
}
