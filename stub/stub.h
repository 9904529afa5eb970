// The patcher stub: a small Win32 program that carries its patch behind its
// own image, laid out as format/layout.h says.
//
// State lives in process-wide records: ThePatch, the patch as the shared
// reader found it at start (its lines stay there), and TheInstall, which
// names the files of the last install for its message. The target is never
// changed unless the new file was written in full and checked; on every
// failure it is left as it was and the temporary file is removed.
#pragma once

#include <windows.h>

#include <cstdint>

#include "format/patch_reader.h"
#include "stub/results.h"

constexpr int32_t PATH_LIMIT = 260;

struct InstallState {
  char folder[PATH_LIMIT];  // full path
  char target[PATH_LIMIT];
  char backup[PATH_LIMIT];
  char temporary[PATH_LIMIT];
};

extern PatchReader ThePatch;
extern InstallState TheInstall;

// Restricts the library search to the system folder and loads the system
// libraries the stub calls beyond KERNEL32; false when one is missing.
bool LoadStubLibraries();

// Reads and checks the lines behind the stub image at the head of the
// patch file. False when anything is missing, cut short, out of shape or
// misplaced.
bool LoadPayload(const char* patchPath);

// Decodes the loaded patch's stream against the old file into out. On
// READ_WRITE_FAILED *writeError is the system's error for the failed write
// (ERROR_DISK_FULL for a short one).
ReadResult DecodeNewVersion(HANDLE oldFile, HANDLE out, ProgressReport progress,
                            DWORD* writeError);

// Patches the old file's name in the folder into the new version. progress
// may be null.
StubResult InstallPatch(const char* folder, ProgressReport progress);

// The user's message for a result of InstallPatch, naming TheInstall's
// files; valid until the next call.
const char* ResultMessage(StubResult result);

// Runs the window until it is closed; returns the exit code.
int RunStubWindow(const char* folder);
