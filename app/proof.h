// Reading a finished patch back through the runtime's numbered files, as
// the patcher stub reads it (format/patch_reader.h): the tool proves every
// patch it writes before it is handed out, and the console program checks
// patches that release scripts made and signed.
#pragma once

#include <cstdint>

#include "format/patch_reader.h"
#include "rt/md5.h"

// One patch open for reading back. Closed with CloseReadBack, whatever
// OpenReadBack returned.
struct ReadBack {
  PatchReader* reader;  // from MainHeap; the lines stay in it until closed
  int32_t patchFile;    // automatic numbers, 0 while closed
  int32_t oldFile;
  int64_t patchPosition;    // where the patch file's position stands
  Md5Context md5;           // of the decoded bytes
  ProgressReport progress;  // may be null; follows the decoding
};

// Opens the patch and reads its lines and layout into back->reader.
ReadResult OpenReadBack(ReadBack* back, const char* patchPath);

// Decodes the opened patch's stream against the old file; on READ_DONE
// fingerprint holds the MD5 of what it gave, as 32 lowercase hexadecimal
// digits.
ReadResult DecodeReadBack(ReadBack* back, const char* oldPath, char fingerprint[33]);

void CloseReadBack(ReadBack* back);

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

// Its stub bytes against the stub file, its lines through the stub's
// checks and against the lines meant, its stream through the stub's
// decoder against the old file, and the result's MD5 against the lines.
// progress (may be null) follows the decoding.
ProofResult ProvePatch(const char* patchPath, const PatchIntent* intent,
                       ProgressReport progress);
