// Reading a written patch back before it is handed out, as the patcher stub
// will read it: its stub bytes against the stub file, its lines through the
// stub's checks and against the lines meant, its stream through the stub's
// decoder against the old file, and the result's MD5 and size against the
// lines.
#pragma once

#include "format/payload.h"

enum ProofResult {
  PROOF_HOLDS,
  PROOF_OLD_UNREADABLE,
  PROOF_FAILED,
};

// What the patch at patchPath must hold.
struct PatchIntent {
  const char* stubPath;
  const char* oldPath;
  const char* lines[LINE_COUNT];
};

ProofResult ProvePatch(const char* patchPath, const PatchIntent* intent);
