// The patcher stub: a small Win32 program that carries its patch behind its
// own image. At STUB_SIZE its file holds fourteen CR LF lines (nine texts,
// the two fingerprints, the two sizes, the old file's name), then one
// difference record per byte of the new file up to the end: 0x00 keeps the
// old byte (0x00 past the old file's end), 0x01 b puts b.
//
// State lives in two process-wide records: ThePayload, filled once at start
// from the stub's own file, and TheInstall, which names the files of the
// last install for its message. The target is never changed unless the new
// file was written in full and checked; on every failure it is left as it
// was and the temporary file is removed.
#pragma once

#include <cstdint>

#include "stub/results.h"

constexpr int32_t STUB_SIZE = 25088;
constexpr int32_t PATH_LIMIT = 260;

enum PayloadLine {
  LINE_WINDOW_TITLE,
  LINE_PROGRAM_TITLE,
  LINE_PROGRAM_DESCRIPTION,
  LINE_SYSTEM_NOTICE,
  LINE_FOLDER_TIP,
  LINE_DEFAULT_FOLDER,
  LINE_OPEN_BUTTON,
  LINE_INSTALL_BUTTON,
  LINE_EXIT_BUTTON,
  LINE_OLD_FINGERPRINT,
  LINE_NEW_FINGERPRINT,
  LINE_OLD_SIZE,
  LINE_NEW_SIZE,
  LINE_OLD_NAME,
  LINE_COUNT
};

struct Payload {
  const char* line[LINE_COUNT];  // NUL-terminated, inside a buffer of its own
  int32_t oldSize;
  int32_t newSize;
  int64_t streamOffset;
  char patchPath[PATH_LIMIT];  // the stub's own file
};

struct InstallState {
  char folder[PATH_LIMIT];  // full path
  char target[PATH_LIMIT];
  char backup[PATH_LIMIT];
  char temporary[PATH_LIMIT];
};

extern Payload ThePayload;
extern InstallState TheInstall;

// Reads and checks the lines behind the stub's own image and measures the
// stream. False when anything is missing, cut short or out of shape.
bool LoadPayload();

// Takes a percentage from 0 to 100; may be null.
using ProgressReport = void (*)(int32_t percent);

// Patches the old file's name in the folder into the new version.
StubResult InstallPatch(const char* folder, ProgressReport progress);

// The user's message for a result of InstallPatch, naming TheInstall's
// files; valid until the next call.
const char* ResultMessage(StubResult result);

// Runs the window until it is closed; returns the exit code.
int RunStubWindow(const char* folder);
