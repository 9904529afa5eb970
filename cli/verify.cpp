#include "cli/verify.h"

#include <string>

#include "app/proof.h"
#include "rt/files.h"
#include "rt/fingerprints.h"
#include "rt/strings.h"

namespace {

constexpr char SOUND[] = "Patch is sound";
constexpr char DAMAGED[] = "Patch file is damaged or cut short";
constexpr char PATCH_UNREADABLE[] = "Can't read patch file";
constexpr char OLD_UNREADABLE[] = "Can't read old version file";
constexpr char OLD_NOT_UPDATED[] =
    "Old version file is not the version this patch updates";

struct Verdict {
  int32_t code;
  const char* text;
};

Verdict VerdictOf(ReadResult result) {
  switch (result) {
    case READ_DONE:
      return {0, SOUND};
    case READ_PATCH_UNREADABLE:
      return {EXIT_UNREADABLE, PATCH_UNREADABLE};
    case READ_OLD_UNREADABLE:
      return {EXIT_UNREADABLE, OLD_UNREADABLE};
    default:
      return {EXIT_PATCH_DAMAGED, DAMAGED};
  }
}

std::string Fingerprint(const char* line) {
  return line[0] != '\0' ? std::string("MD5 ") + line : "no MD5 (not checked)";
}

void ReportFacts(const PatchReader* r, LineReport facts) {
  const char* const* line = r->line;
  facts((std::string("Stream: ") + (r->kind == STREAM_COMPACT ? "compact" : "plain") +
         ", " + std::to_string(r->payloadEnd - r->streamStart) + " bytes")
            .c_str());
  facts(("New file: " + std::to_string(r->facts.newSize) + " bytes, " +
         Fingerprint(line[LINE_NEW_FINGERPRINT]))
            .c_str());
  facts(("Old file: " + std::string(r->facts.fileName) + ", " +
         std::to_string(r->facts.oldSize) + " bytes, " +
         Fingerprint(line[LINE_OLD_FINGERPRINT]))
            .c_str());
  facts(r->tableSize == 0 ? "Certificate table: none"
                          : ("Certificate table: " + std::to_string(r->tableSize) +
                             " bytes at offset " + std::to_string(r->payloadEnd))
                                .c_str());
}

// The stub installs only over a file of the old size and, where the patch
// names one, the old fingerprint; like the stub, this reads the file only
// once its size fits and a fingerprint is named.
Verdict CheckOldFile(const PatchReader* r, const char* oldPath) {
  int32_t size = QueryFileSize(oldPath);
  if (size < 0)
    return {EXIT_UNREADABLE, OLD_UNREADABLE};
  if (size != r->facts.oldSize)
    return {EXIT_OLD_NOT_UPDATED, OLD_NOT_UPDATED};
  const char* wanted = r->line[LINE_OLD_FINGERPRINT];
  if (wanted[0] == '\0')
    return {0, SOUND};
  ScratchMark mark;
  const char* fingerprint = FileMd5Hex(oldPath);
  if (fingerprint[0] == '\0')
    return {EXIT_UNREADABLE, OLD_UNREADABLE};
  if (!StringsEqual(fingerprint, wanted))
    return {EXIT_OLD_NOT_UPDATED, OLD_NOT_UPDATED};
  return {0, SOUND};
}

Verdict Verify(ReadBack* back, const char* patchPath, const char* oldPath, bool quiet,
               LineReport facts) {
  Verdict verdict = VerdictOf(OpenReadBack(back, patchPath));
  if (verdict.code != 0)
    return verdict;
  if (!quiet)
    ReportFacts(back->reader, facts);
  if (oldPath == nullptr)
    return verdict;
  verdict = CheckOldFile(back->reader, oldPath);
  if (verdict.code != 0)
    return verdict;
  char fingerprint[33];
  verdict = VerdictOf(DecodeReadBack(back, oldPath, fingerprint));
  const char* wanted = back->reader->line[LINE_NEW_FINGERPRINT];
  if (verdict.code == 0 && wanted[0] != '\0' && !StringsEqual(fingerprint, wanted))
    verdict = {EXIT_PATCH_DAMAGED, DAMAGED};
  return verdict;
}

}  // namespace

int32_t VerifyPatch(const char* patchPath, const char* oldPath, bool quiet,
                    LineReport facts, LineReport verdict) {
  ReadBack back;
  Verdict result = Verify(&back, patchPath, oldPath, quiet, facts);
  CloseReadBack(&back);
  if (result.code != 0 || !quiet)
    verdict(result.text);
  return result.code;
}
