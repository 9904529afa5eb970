// The console program: makes the form's patch from a command line, for
// build and release scripts. It opens no window; it tells the outcome as
// one line on standard error, in the form's words, and in its exit code.
// Standard output carries only --help, --version and what --verify found.
#include <windows.h>
// After windows.h, on which it builds.
#include <shellapi.h>

#include <string>
#include <vector>

#include "app/patch.h"
#include "app/request.h"
#include "cli/options.h"
#include "cli/verify.h"
#include "rt/files.h"
#include "rt/heaps.h"
#include "rt/libraries.h"
#include "rt/strings.h"

namespace {

// The name the form reads its stub by, from the current folder.
constexpr char STUB_NAME[] = "patch.dat";
constexpr DWORD WIDE_PATH_SIZE = 32768;

constexpr char VERSION_TEXT[] = "patchbuilder-cli " PATCHBUILDER_VERSION "\r\n";
constexpr char HELP_TEXT[] =
    "Usage: patchbuilder-cli --old FILE --new FILE --out FILE [options]\r\n"
    "Makes a patch executable that turns the old file into the new one.\r\n"
    "\r\n"
    "  --old FILE, --new FILE   the two versions (required)\r\n"
    "  --out FILE               the patch to write, used as given (required)\r\n"
    "  --stub FILE              the patcher stub; default patch.dat in the\r\n"
    "                           current folder, else beside this program\r\n"
    "  --texts FILE             texts from name=value lines ('#' comments);\r\n"
    "                           options on the command line win\r\n"
    "  --window-title TEXT  --program-title TEXT  --program-description TEXT\r\n"
    "  --system-notice TEXT  --folder-tip TEXT  --default-folder TEXT\r\n"
    "  --open-button TEXT  --install-button TEXT  --exit-button TEXT\r\n"
    "                           the patch's texts; default the form's\r\n"
    "  --allow-empty            write empty texts instead of refusing them\r\n"
    "  --compact                a much smaller difference stream; up to 1 GiB\r\n"
    "                           of memory, however large the files\r\n"
    "  --quiet                  no progress, no line when the patch is written\r\n"
    "  --help, --version\r\n"
    "\r\n"
    "Usage: patchbuilder-cli --verify PATCH [--old FILE] [--quiet]\r\n"
    "Reads a finished patch, signed or not, as the patch itself will and\r\n"
    "prints what it holds; with --old, also applies it to FILE in memory.\r\n"
    "\r\n"
    "Exit code 0 when the patch was written (or is sound), else one code per\r\n"
    "reason.\r\n";

// Standard error that is no console, a build log, gets a progress line at
// every tenth of the way once a patch has taken this long: a long encode
// should not look like a hung one.
constexpr DWORD LONG_RUN_MS = 15000;
constexpr int32_t LINE_STEP = 10;

// Whether standard error is a console, whether a progress figure stands on
// its last line, and for a log, when the patch was begun and the next
// percentage that gets a line.
struct ConsoleState {
  bool errorIsConsole;
  bool progressShown;
  DWORD started;
  int32_t nextLine;
};

ConsoleState TheConsole;

void WriteTo(DWORD stream, const std::string& bytes) {
  DWORD written;
  WriteFile(GetStdHandle(stream), bytes.data(), static_cast<DWORD>(bytes.size()),
            &written, nullptr);
}

void SayLine(const std::string& text) {
  std::string line(TheConsole.progressShown ? "\r" : "");
  line.append(text).append("\r\n");
  WriteTo(STD_ERROR_HANDLE, line);
  TheConsole.progressShown = false;
}

void SayMessage(const char*, const char* text) {
  SayLine(text);
}

void SayVerdict(const char* line) {
  SayLine(line);
}

void SayFact(const char* line) {
  WriteTo(STD_OUTPUT_HANDLE, std::string(line).append("\r\n"));
}

void ShowProgress(int32_t percent) {
  if (TheConsole.errorIsConsole) {
    WriteTo(STD_ERROR_HANDLE,
            std::string("\r").append(std::to_string(percent)).append("%"));
    TheConsole.progressShown = true;
  } else if (percent >= TheConsole.nextLine &&
             GetTickCount() - TheConsole.started >= LONG_RUN_MS) {
    WriteTo(STD_ERROR_HANDLE, std::to_string(percent).append("%\r\n"));
    TheConsole.nextLine = percent / LINE_STEP * LINE_STEP + LINE_STEP;
  }
}

// The ANSI spelling the runtime's files and the patch's texts use. False
// when a character has none: a best-fit stand-in could name another file.
bool ToAnsi(const wchar_t* wide, std::string* ansi) {
  UINT page = GetACP();
  DWORD flags = page == CP_UTF8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
  BOOL usedDefault = FALSE;
  BOOL* used = page == CP_UTF8 ? nullptr : &usedDefault;
  int size = WideCharToMultiByte(page, flags, wide, -1, nullptr, 0, nullptr, used);
  if (size <= 0)
    return false;
  ansi->resize(size);
  WideCharToMultiByte(page, flags, wide, -1, ansi->data(), size, nullptr, used);
  ansi->resize(size - 1);
  return !usedDefault;
}

// The arguments after the program's name, split as Windows splits every
// program's command line. False, with a line said, when one cannot be had.
bool ReadArguments(std::vector<std::string>* arguments) {
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) {
    SayLine("Can't read the command line");
    return false;
  }
  bool spelled = true;
  for (int i = 1; i < count && spelled; i++) {
    arguments->emplace_back();
    spelled = ToAnsi(wide[i], &arguments->back());
  }
  LocalFree(wide);
  if (!spelled)
    SayLine("Argument " + std::to_string(arguments->size()) +
            " has characters the system code page can't spell");
  return spelled;
}

// The current folder's stub as the form reads it, else the one beside
// this program; an unknown folder gives a name that is never found.
std::string DefaultStub() {
  if (QueryFileSize(STUB_NAME) >= 0)
    return STUB_NAME;
  std::wstring module(WIDE_PATH_SIZE, L'\0');
  DWORD length = GetModuleFileNameW(nullptr, module.data(), WIDE_PATH_SIZE);
  std::string path;
  if (length == 0 || length >= WIDE_PATH_SIZE || !ToAnsi(module.c_str(), &path))
    return "";
  return path.substr(0, path.rfind('\\') + 1) + STUB_NAME;
}

// The form's checks, in its order, then generation.
int32_t MakePatch(const CommandLine* line) {
  if (!line->allowEmpty && CheckTexts(&line->request, SayMessage) != REQUEST_ACCEPTED)
    return RefusalExitCode(REQUEST_TEXT_EMPTY);
  RequestRefusal refusal = CheckInputFiles(&line->request, SayMessage);
  if (refusal != REQUEST_ACCEPTED)
    return RefusalExitCode(refusal);
  std::string stub = line->stubPath != nullptr ? line->stubPath : DefaultStub();
  TheConsole.started = GetTickCount();
  PatchOutcome outcome =
      GeneratePatch(&line->request, line->outPath, line->quiet ? nullptr : ShowProgress,
                    stub.c_str(), line->compact ? PATCH_COMPACT : PATCH_PLAIN);
  if (outcome != PATCH_WRITTEN || !line->quiet)
    ReportOutcome(outcome, SayMessage);
  return OutcomeExitCode(outcome);
}

int32_t Run() {
  std::vector<std::string> arguments;
  if (!ReadArguments(&arguments))
    return EXIT_USAGE;
  std::vector<const char*> texts;
  for (const std::string& argument : arguments)
    texts.push_back(argument.c_str());
  CommandLine line{};
  int32_t code = 0;
  if (!ReadCommandLine(texts, &line)) {
    SayLine(line.usageError != nullptr ? line.usageError : "");
    code = EXIT_USAGE;
  } else if (line.help) {
    WriteTo(STD_OUTPUT_HANDLE, HELP_TEXT);
  } else if (line.version) {
    WriteTo(STD_OUTPUT_HANDLE, VERSION_TEXT);
  } else if (line.verifyPath != nullptr) {
    code = VerifyPatch(line.verifyPath, line.request.OldPath, line.quiet, SayFact,
                       SayVerdict);
  } else {
    code = MakePatch(&line);
  }
  FreeCommandLine(&line);
  return code;
}

}  // namespace

// The console program's own system function beyond KERNEL32.
SYSTEM_FUNCTION_SLOT(CommandLineToArgvW, "@8")

namespace {

constexpr SystemFunction SHELL32[] = {SYSTEM_FUNCTION_ENTRY(CommandLineToArgvW, "@8")};
constexpr SystemLibrary LIBRARIES[] = {{"shell32.dll", SHELL32}};

}  // namespace

// The C runtime's start-up code for a console program.
extern "C" int mainCRTStartup();

// No library but KERNEL32 and the C runtime is loaded before this.
extern "C" int ConsoleEntry() {
  if (!LoadSystemLibraries(LIBRARIES))
    return OutcomeExitCode(PATCH_OUTPUT_FAILED);
  return mainCRTStartup();
}

int main() {
  DWORD mode;
  TheConsole.errorIsConsole = GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
  if (!CreateHeaps() || !InitFileSlots() || InitScratchBuffer() == nullptr) {
    ReportOutcome(PATCH_OUTPUT_FAILED, SayMessage);
    return OutcomeExitCode(PATCH_OUTPUT_FAILED);
  }
  int32_t code = Run();
  CloseAllFiles();
  DestroyHeaps();
  return code;
}
