#include "app/patch.h"

#include <cstring>

#include "app/patch_hook.h"
#include "app/proof.h"
#include "app/request.h"
#include "format/compact.h"
#include "format/payload.h"
#include "format/stream.h"
#include "format/stub_mark.h"
#include "rt/files.h"
#include "rt/fingerprints.h"
#include "rt/heaps.h"
#include "rt/paths.h"

namespace {

constexpr int32_t SLOT_OLD = 1;
constexpr int32_t SLOT_NEW = 2;
constexpr int32_t SLOT_STUB = 3;
constexpr int32_t SLOT_PATCH = 4;

constexpr size_t FINGERPRINT_SIZE = 33;  // 32 hexadecimal digits and the NUL
constexpr size_t TEMP_PATH_SIZE = 260;   // temporary names are system paths

// One block of each input and the records of one block (two bytes at most
// per position); the stub fits in it as well.
constexpr int32_t BUFFER_SIZE = 4 * DIFF_BLOCK;
static_assert(STUB_SIZE <= BUFFER_SIZE);

// A step's outcome when it did not fail. The run's outcome becomes
// PATCH_WRITTEN only with the final move, which is the last such step.
constexpr PatchOutcome STEP_DONE = PATCH_WRITTEN;

// What one run holds until it ends.
struct PatchRun {
  const PatchRequest* request;
  ProgressReport progress;
  const char* patchPath;
  const char* stubPath;
  PatchFormat format;
  int32_t oldSize;
  int32_t newSize;
  char oldFingerprint[FINGERPRINT_SIZE];
  char newFingerprint[FINGERPRINT_SIZE];
  char tempPath[TEMP_PATH_SIZE];  // empty until the temporary file exists
  unsigned char* buffer;
  // Taken when the inputs are opened, before they are fingerprinted, and
  // compared once the patch is proven.
  FileStamp oldStamp;
  FileStamp newStamp;
};

// A compact patch's progress follows the whole run, its inputs'
// fingerprints, its stream and its proof each within their share, as they
// take it on large files. A plain one reports its stream alone.
enum RunPhase { PHASE_FINGERPRINTS, PHASE_STREAM, PHASE_PROOF };
constexpr int32_t COMPACT_PHASE_ENDS[] = {8, 75, 100};

struct PhaseReport {
  ProgressReport report;
  int32_t from;
  int32_t to;
};

PhaseReport ThePhase;  // of the run under way; there is one at a time

void ReportInPhase(int32_t percent) {
  ThePhase.report(ThePhase.from + (ThePhase.to - ThePhase.from) * percent / 100);
}

// The phase's report, or null when it reports nothing.
ProgressReport EnterPhase(const PatchRun* run, RunPhase phase) {
  if (run->progress == nullptr || run->format == PATCH_PLAIN)
    return phase == PHASE_STREAM ? run->progress : nullptr;
  ThePhase = PhaseReport{run->progress, phase > 0 ? COMPACT_PHASE_ENDS[phase - 1] : 0,
                         COMPACT_PHASE_ENDS[phase]};
  return ReportInPhase;
}

bool OpenInput(int32_t slot, const char* path, int32_t* size) {
  *size = QueryFileSize(path);
  return *size >= 0 && OpenForRead(slot, path) != 0;
}

// An empty fingerprint of a file that opened means it could not be read to
// its end: such a patch could not check the file it applies to.
bool KeepFingerprint(const char* path, char (&fingerprint)[FINGERPRINT_SIZE]) {
  ScratchMark mark;
  const char* text = FileMd5Hex(path);
  size_t length = strnlen(text, FINGERPRINT_SIZE - 1);
  std::memcpy(fingerprint, text, length);
  fingerprint[length] = '\0';
  return length > 0;
}

// Reads count bytes of a slot's file; false when it delivers fewer.
bool Read(int32_t slot, unsigned char* bytes, int32_t count) {
  SelectFile(slot);
  return count == 0 || ReadFileBlock(bytes, count) == count;
}

// The cheap checks come first and nothing is created before all of them
// passed, so a refused run leaves no trace.
PatchOutcome PrepareRun(PatchRun* run) {
  const PatchRequest* request = run->request;
  if (QueryFileSize(run->stubPath) != STUB_SIZE)
    return PATCH_STUB_REJECTED;
  if (!OpenInput(SLOT_OLD, request->OldPath, &run->oldSize))
    return PATCH_OLD_UNREADABLE;
  if (!OpenInput(SLOT_NEW, request->NewPath, &run->newSize))
    return PATCH_NEW_UNREADABLE;
  run->oldStamp = QueryFileStamp(request->OldPath);
  run->newStamp = QueryFileStamp(request->NewPath);
  if (OpenForRead(SLOT_STUB, run->stubPath) == 0)
    return PATCH_STUB_REJECTED;
  // Replacing an input (or the stub) would destroy what the patch is made of.
  if (SameFile(run->patchPath, request->OldPath) ||
      SameFile(run->patchPath, request->NewPath) ||
      SameFile(run->patchPath, run->stubPath))
    return PATCH_OUTPUT_IS_INPUT;
  run->buffer = static_cast<unsigned char*>(MainAlloc(BUFFER_SIZE));
  if (run->buffer == nullptr)
    return PATCH_OUTPUT_FAILED;
  // The stub stays in the buffer until it is copied into the patch.
  if (!Read(SLOT_STUB, run->buffer, STUB_SIZE))
    return PATCH_STUB_REJECTED;
  if (run->format == PATCH_COMPACT) {
    // A stub that does not declare the compact stream the encoder writes
    // would refuse the patch, or worse.
    if (!StubAppliesCompact(run->buffer, STUB_SIZE, COMPACT_VERSION))
      return PATCH_STUB_WITHOUT_COMPACT;
    if (CompactModeFor(run->oldSize, run->newSize) == COMPACT_REFUSED)
      return PATCH_TOO_LARGE_FOR_COMPACT;
  }
  ProgressReport progress = EnterPhase(run, PHASE_FINGERPRINTS);
  if (!KeepFingerprint(request->OldPath, run->oldFingerprint))
    return PATCH_OLD_UNREADABLE;
  if (progress != nullptr)
    progress(50);
  if (!KeepFingerprint(request->NewPath, run->newFingerprint))
    return PATCH_NEW_UNREADABLE;
  if (!KeepTempFileBeside(run->patchPath, run->tempPath, TEMP_PATH_SIZE) ||
      CreateForWrite(SLOT_PATCH, run->tempPath) == 0)
    return PATCH_OUTPUT_FAILED;
  return STEP_DONE;
}

bool Write(const void* bytes, int32_t count) {
  SelectFile(SLOT_PATCH);
  return WriteFileBlock(bytes, count) == count;
}

bool WriteLine(const char* text) {
  return WriteTextLine(text) == StringLength(text) + 2;
}

// PrepareRun left the stub in the buffer.
PatchOutcome CopyStub(PatchRun* run) {
  return Write(run->buffer, STUB_SIZE) ? STEP_DONE : PATCH_OUTPUT_FAILED;
}

// Sets aside a result built at the ScratchCursor, so that the next one is
// built behind it instead of over it.
const char* SetAsideResult(char* result) {
  ScratchCursor++;
  return result;
}

// The lines in payload order; the sizes are results at the ScratchCursor,
// valid until the caller's mark rewinds it.
void PayloadLinesOf(const PatchRun* run, const char* (&lines)[LINE_COUNT]) {
  const PatchRequest* request = run->request;
  for (const RequestText& text : REQUEST_TEXTS)
    lines[text.line] = request->*text.field;
  lines[LINE_OLD_FINGERPRINT] = run->oldFingerprint;
  lines[LINE_NEW_FINGERPRINT] = run->newFingerprint;
  lines[LINE_OLD_SIZE] = SetAsideResult(FormatDecimal(run->oldSize, ScratchCursor));
  lines[LINE_NEW_SIZE] = SetAsideResult(FormatDecimal(run->newSize, ScratchCursor));
  lines[LINE_OLD_NAME] = PathFileName(request->OldPath);
}

PatchOutcome WritePayloadLines(PatchRun* run) {
  ScratchMark mark;
  const char* lines[LINE_COUNT];
  PayloadLinesOf(run, lines);
  SelectFile(SLOT_PATCH);
  for (const char* line : lines)
    if (!WriteLine(line))
      return PATCH_OUTPUT_FAILED;
  return STEP_DONE;
}

// One step per DIFF_BLOCK of the new file; past the old file's end the old
// bytes are zeros. Progress follows full blocks only.
PatchOutcome WriteDifferences(PatchRun* run, ProgressReport progress) {
  unsigned char* oldBytes = run->buffer;
  unsigned char* newBytes = oldBytes + DIFF_BLOCK;
  unsigned char* records = newBytes + DIFF_BLOCK;
  int32_t blocks = run->newSize / DIFF_BLOCK;
  for (int32_t done = 0, k = 0; done < run->newSize; done += DIFF_BLOCK) {
    int32_t count = run->newSize - done < DIFF_BLOCK ? run->newSize - done : DIFF_BLOCK;
    int32_t oldLeft = run->oldSize - done;
    int32_t oldCount = oldLeft <= 0 ? 0 : (oldLeft < count ? oldLeft : count);
    if (!Read(SLOT_OLD, oldBytes, oldCount))
      return PATCH_OLD_UNREADABLE;
    std::memset(oldBytes + oldCount, 0, count - oldCount);
    if (!Read(SLOT_NEW, newBytes, count))
      return PATCH_NEW_UNREADABLE;
    if (!Write(records, EncodeDiffBlock(oldBytes, newBytes, count, records)))
      return PATCH_OUTPUT_FAILED;
    if (count == DIFF_BLOCK && progress != nullptr)
      progress(++k * 100 / blocks);
  }
  return STEP_DONE;
}

bool ReadAt(int32_t slot, int32_t offset, uint8_t* bytes, int32_t count) {
  SelectFile(slot);
  SetFilePosition(offset);
  return ReadFileBlock(bytes, count) == count;
}

bool ReadOldAt(void*, int32_t offset, uint8_t* bytes, int32_t count) {
  return ReadAt(SLOT_OLD, offset, bytes, count);
}

bool ReadNewAt(void*, int32_t offset, uint8_t* bytes, int32_t count) {
  return ReadAt(SLOT_NEW, offset, bytes, count);
}

bool WriteStream(void*, const uint8_t* bytes, int32_t count) {
  return Write(bytes, count);
}

// The encoder reads both files in pieces and writes the stream as it goes;
// the written patch is read back and decoded afterwards like every patch.
PatchOutcome WriteCompact(PatchRun* run, ProgressReport progress) {
  CompactFiles files{nullptr, ReadOldAt, ReadNewAt, WriteStream, progress};
  switch (EncodeCompactFiles(&files, run->oldSize, run->newSize)) {
    case COMPACT_ENCODED:
      return STEP_DONE;
    case COMPACT_OLD_FAILED:
      return PATCH_OLD_UNREADABLE;
    case COMPACT_NEW_FAILED:
      return PATCH_NEW_UNREADABLE;
    case COMPACT_TOO_LARGE:
      return PATCH_TOO_LARGE_FOR_COMPACT;
    default:
      return PATCH_OUTPUT_FAILED;
  }
}

PatchOutcome WritePatch(PatchRun* run) {
  ProgressReport progress = EnterPhase(run, PHASE_STREAM);
  PatchOutcome outcome = CopyStub(run);
  if (outcome == STEP_DONE)
    outcome = WritePayloadLines(run);
  if (outcome == STEP_DONE)
    outcome = run->format == PATCH_COMPACT ? WriteCompact(run, progress)
                                           : WriteDifferences(run, progress);
  if (outcome == STEP_DONE && (SelectFile(SLOT_PATCH) == 0 || FlushCurrentFile() == 0))
    outcome = PATCH_OUTPUT_FAILED;
  return outcome;
}

void CloseSlots() {
  CloseFileSlot(SLOT_PATCH);
  CloseFileSlot(SLOT_OLD);
  CloseFileSlot(SLOT_NEW);
  CloseFileSlot(SLOT_STUB);
}

// The written patch must give the new file from the old one, read back as
// the stub reads it; an input that changed since it was opened makes both
// the fingerprints and the stream suspect, whatever the read-back found.
PatchOutcome ProveRun(const PatchRun* run) {
  if (BeforePatchProof != nullptr)
    BeforePatchProof(run->tempPath);
  ScratchMark mark;
  PatchIntent intent{run->stubPath, run->request->OldPath, {}};
  PayloadLinesOf(run, intent.lines);
  ProofResult proof = ProvePatch(run->tempPath, &intent, EnterPhase(run, PHASE_PROOF));
  if (QueryFileStamp(run->request->OldPath) != run->oldStamp)
    return PATCH_OLD_CHANGED;
  if (QueryFileStamp(run->request->NewPath) != run->newStamp)
    return PATCH_NEW_CHANGED;
  if (proof == PROOF_OLD_UNREADABLE)
    return PATCH_OLD_UNREADABLE;
  return proof == PROOF_HOLDS ? STEP_DONE : PATCH_CHECK_FAILED;
}

}  // namespace

void (*BeforePatchProof)(const char* tempPath);

PatchOutcome GeneratePatch(const PatchRequest* request, const char* patchPath,
                           ProgressReport progress, const char* stubPath,
                           PatchFormat format) {
  PatchRun run{};
  run.request = request;
  run.patchPath = patchPath;
  run.stubPath = stubPath;
  run.format = format;
  run.progress = progress;
  PatchOutcome outcome = PrepareRun(&run);
  if (outcome == STEP_DONE)
    outcome = WritePatch(&run);
  // The output must not be open while it is read back and moved into place.
  CloseSlots();
  if (outcome == STEP_DONE)
    outcome = ProveRun(&run);
  if (outcome == STEP_DONE && MoveReplacing(run.tempPath, patchPath) == 0)
    outcome = PATCH_OUTPUT_FAILED;
  if (outcome != STEP_DONE && run.tempPath[0] != '\0')
    DeletePath(run.tempPath);
  MainFree(run.buffer);
  return outcome;
}
