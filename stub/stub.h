// The patcher stub: a small Win32 program that carries its patch behind its
// own image, laid out as format/layout.h says.
//
// State lives in two process-wide records: ThePayload, filled once at start
// from the stub's own file, and TheInstall, which names the files of the
// last install for its message. The target is never changed unless the new
// file was written in full and checked; on every failure it is left as it
// was and the temporary file is removed.
#pragma once

#include <cstdint>

#include "format/layout.h"
#include "format/payload.h"
#include "stub/results.h"

constexpr int32_t PATH_LIMIT = 260;

struct Payload {
  const char* line[LINE_COUNT];  // NUL-terminated, inside a buffer of its own
  PayloadFacts facts;
  int64_t streamOffset;
  bool compact;                // the stream starts with COMPACT_LEAD
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

// Reads and checks the lines behind the stub image at the head of the
// patch file and measures the stream. False when anything is missing, cut
// short or out of shape.
bool LoadPayload(const char* patchPath);

// Patches the old file's name in the folder into the new version. progress
// may be null.
StubResult InstallPatch(const char* folder, ProgressReport progress);

// The user's message for a result of InstallPatch, naming TheInstall's
// files; valid until the next call.
const char* ResultMessage(StubResult result);

// Runs the window until it is closed; returns the exit code.
int RunStubWindow(const char* folder);
