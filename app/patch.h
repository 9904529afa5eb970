// Patch generation: the stub, fourteen payload lines and the difference
// stream, written to a temporary file beside the output, read back and
// decoded as the stub will, and moved over the output only when it gives the
// new file and neither input changed meanwhile. On every failure the output
// path is as it was.
#pragma once

#include <cstdint>

#include "format/layout.h"
#include "rt/strings.h"

// The nine texts in payload order, then the two input paths. The caller owns
// the strings.
struct PatchRequest {
  StringVar WindowTitle;
  StringVar ProgramTitle;
  StringVar ProgramDescription;
  StringVar SystemNotice;
  StringVar FolderTip;
  StringVar DefaultFolder;
  StringVar OpenButtonText;
  StringVar InstallButtonText;
  StringVar ExitButtonText;
  StringVar OldPath;
  StringVar NewPath;
};

enum PatchOutcome {
  PATCH_WRITTEN,
  PATCH_STUB_REJECTED,
  PATCH_OLD_UNREADABLE,
  PATCH_NEW_UNREADABLE,
  PATCH_OUTPUT_IS_INPUT,
  PATCH_OUTPUT_FAILED,
  // The patch is read back and decoded before it is handed out; these end a
  // run whose patch would not apply.
  PATCH_OLD_CHANGED,
  PATCH_NEW_CHANGED,
  PATCH_CHECK_FAILED,
  // The pair needs more memory than the compact encoder may take.
  PATCH_TOO_LARGE_FOR_COMPACT,
  // The stub does not declare that it applies the compact stream written.
  PATCH_STUB_WITHOUT_COMPACT,
};

// The difference stream that follows the lines: one or two bytes a byte of
// the new file, or the compact stream, which the stub tells by its first
// byte.
enum PatchFormat { PATCH_PLAIN, PATCH_COMPACT };

constexpr char STUB_FILE_NAME[] = "patch.dat";

// The stub is read from stubPath; the form's is "patch.dat" in the current
// folder. progress is called with (k * 100) / B after each full DIFF_BLOCK
// of the new file; for a compact patch it follows the whole run: the
// inputs' fingerprints, the encoder and the read-back.
PatchOutcome GeneratePatch(const PatchRequest* request, const char* patchPath,
                           ProgressReport progress, const char* stubPath = STUB_FILE_NAME,
                           PatchFormat format = PATCH_PLAIN);
