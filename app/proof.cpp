#include "app/proof.h"

#include <cstring>

#include "format/layout.h"
#include "rt/files.h"
#include "rt/heaps.h"
#include "rt/strings.h"

namespace {

void CloseIfOpen(int32_t* file) {
  if (*file != 0)
    CloseFileSlot(*file);
  *file = 0;
}

// The reader's reads follow each other from the lines on; the file is
// positioned only where one starts elsewhere, which happens within the
// stub and the lines, far below the runtime's 2 GiB positions.
int32_t ReadPatch(void* context, int64_t offset, uint8_t* bytes, int32_t count) {
  ReadBack* back = static_cast<ReadBack*>(context);
  SelectFile(back->patchFile);
  if (offset != back->patchPosition) {
    if (offset > INT32_MAX)
      return -1;
    SetFilePosition(static_cast<int32_t>(offset));
  }
  int32_t read = ReadFileBlock(bytes, count);
  back->patchPosition = offset + read;
  return read;
}

bool ReadOld(void* context, int32_t offset, uint8_t* bytes, int32_t count) {
  SelectFile(static_cast<ReadBack*>(context)->oldFile);
  SetFilePosition(offset);
  return ReadFileBlock(bytes, count) == count;
}

bool HashNew(void* context, const uint8_t* bytes, int32_t count) {
  Md5Update(&static_cast<ReadBack*>(context)->md5, bytes, static_cast<uint32_t>(count));
  return true;
}

PatchIo ReadBackIo(ReadBack* back) {
  return PatchIo{back, ReadPatch, ReadOld, HashNew, back->progress};
}

bool SameStub(ReadBack* back, const char* stubPath) {
  unsigned char* bytes = static_cast<unsigned char*>(MainAlloc(2 * STUB_SIZE));
  int32_t stubFile = OpenForRead(-1, stubPath);
  bool same = bytes != nullptr && stubFile != 0 &&
              ReadFileBlock(bytes, STUB_SIZE) == STUB_SIZE &&
              ReadPatch(back, 0, bytes + STUB_SIZE, STUB_SIZE) == STUB_SIZE &&
              std::memcmp(bytes, bytes + STUB_SIZE, STUB_SIZE) == 0;
  CloseIfOpen(&stubFile);
  MainFree(bytes);
  return same;
}

// A null text is the empty line the writer wrote.
bool LinesAsMeant(const PatchReader* reader, const PatchIntent* intent) {
  for (int32_t i = 0; i < LINE_COUNT; i++)
    if (!StringsEqual(reader->line[i], intent->lines[i]))
      return false;
  return true;
}

ProofResult Prove(ReadBack* back, const char* patchPath, const PatchIntent* intent,
                  ProgressReport progress) {
  if (OpenReadBack(back, patchPath) != READ_DONE || !SameStub(back, intent->stubPath) ||
      !LinesAsMeant(back->reader, intent))
    return PROOF_FAILED;
  back->progress = progress;
  char fingerprint[33];
  ReadResult result = DecodeReadBack(back, intent->oldPath, fingerprint);
  if (result == READ_OLD_UNREADABLE)
    return PROOF_OLD_UNREADABLE;
  return result == READ_DONE &&
                 StringsEqual(fingerprint, intent->lines[LINE_NEW_FINGERPRINT])
             ? PROOF_HOLDS
             : PROOF_FAILED;
}

}  // namespace

ReadResult OpenReadBack(ReadBack* back, const char* patchPath) {
  *back = ReadBack{};
  back->reader = static_cast<PatchReader*>(MainAlloc(sizeof(PatchReader)));
  back->patchFile = OpenForRead(-1, patchPath);
  if (back->reader == nullptr || back->patchFile == 0)
    return READ_PATCH_UNREADABLE;
  PatchIo io = ReadBackIo(back);
  return OpenPatch(back->reader, &io,
                   static_cast<int64_t>(QueryFileStamp(patchPath).size));
}

ReadResult DecodeReadBack(ReadBack* back, const char* oldPath, char fingerprint[33]) {
  back->oldFile = OpenForRead(-1, oldPath);
  if (back->oldFile == 0)
    return READ_OLD_UNREADABLE;
  Md5Init(&back->md5);
  PatchIo io = ReadBackIo(back);
  ReadResult result = DecodePatchStream(back->reader, &io);
  unsigned char digest[16];
  Md5Final(digest, &back->md5);
  Md5DigestText(digest, fingerprint);
  return result;
}

void CloseReadBack(ReadBack* back) {
  CloseIfOpen(&back->patchFile);
  CloseIfOpen(&back->oldFile);
  MainFree(back->reader);
  back->reader = nullptr;
}

ProofResult ProvePatch(const char* patchPath, const PatchIntent* intent,
                       ProgressReport progress) {
  ReadBack back;
  ProofResult result = Prove(&back, patchPath, intent, progress);
  CloseReadBack(&back);
  return result;
}
