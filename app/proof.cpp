#include "app/proof.h"

#include <cstring>

#include "format/compact.h"
#include "format/layout.h"
#include "format/stream.h"
#include "rt/files.h"
#include "rt/heaps.h"
#include "rt/md5.h"
#include "rt/strings.h"

namespace {

constexpr int32_t CHUNK_SIZE = 1 << 18;
static_assert(STUB_SIZE <= CHUNK_SIZE);

// The open files (automatic numbers, 0 while closed) and one allocation for
// every buffer: the lines may take up to PAYLOAD_LINES_LIMIT bytes, and the
// stream starts right behind them in the same read.
struct Proof {
  const char* patchPath;
  const PatchIntent* intent;
  int32_t patchFile;
  int32_t oldFile;
  unsigned char* block;
  unsigned char* oldBytes;
  unsigned char* streamBytes;
  unsigned char* newBytes;
  char* lineBytes;
};

constexpr int32_t BLOCK_SIZE = 3 * CHUNK_SIZE + PAYLOAD_LINES_LIMIT;

void CloseIfOpen(int32_t file) {
  if (file != 0)
    CloseFileSlot(file);
}

int32_t ReadFrom(int32_t file, void* bytes, int32_t count) {
  SelectFile(file);
  return ReadFileBlock(bytes, count);
}

bool SameStub(Proof* p) {
  int32_t stubFile = OpenForRead(-1, p->intent->stubPath);
  bool same = stubFile != 0 && ReadFrom(stubFile, p->oldBytes, STUB_SIZE) == STUB_SIZE &&
              ReadFrom(p->patchFile, p->newBytes, STUB_SIZE) == STUB_SIZE &&
              std::memcmp(p->oldBytes, p->newBytes, STUB_SIZE) == 0;
  CloseIfOpen(stubFile);
  return same;
}

// The lines as the stub splits and checks them, each equal to the line
// meant (a null text is the empty line the writer wrote). Leaves in the
// chunk the stream bytes the same read delivered.
bool LinesAsMeant(Proof* p, PayloadFacts* facts, DiffChunk* chunk) {
  int32_t count = ReadFrom(p->patchFile, p->lineBytes, PAYLOAD_LINES_LIMIT);
  const char* lines[LINE_COUNT];
  int32_t used = SplitPayloadLines(p->lineBytes, count, lines);
  if (used == 0 || !ReadPayloadLines(lines, facts))
    return false;
  for (int32_t i = 0; i < LINE_COUNT; i++)
    if (!StringsEqual(lines[i], p->intent->lines[i]))
      return false;
  chunk->stream = reinterpret_cast<unsigned char*>(p->lineBytes) + used;
  chunk->streamCount = count - used;
  chunk->streamEnds = count < PAYLOAD_LINES_LIMIT;
  return true;
}

// The stream's bytes: first those the lines' read delivered, then the
// patch file's from where that read ended; -1 past the end.
int NextStreamByte(Proof* p, DiffChunk* chunk) {
  if (chunk->streamCount == 0 && !chunk->streamEnds) {
    chunk->stream = p->streamBytes;
    chunk->streamCount = ReadFrom(p->patchFile, p->streamBytes, CHUNK_SIZE);
    chunk->streamEnds = chunk->streamCount == 0;
  }
  if (chunk->streamCount == 0)
    return -1;
  chunk->streamCount--;
  return *chunk->stream++;
}

bool FingerprintIsNew(Md5Context* md5, const Proof* p) {
  unsigned char digest[16];
  char text[33];
  Md5Final(digest, md5);
  Md5DigestText(digest, text);
  return StringsEqual(text, p->intent->lines[LINE_NEW_FINGERPRINT]);
}

// The compact decoder's view of the proof's files; the new bytes only feed
// the MD5.
struct CompactProof {
  Proof* proof;
  DiffChunk* chunk;
  Md5Context md5;
};

int NextCompactByte(void* context) {
  CompactProof* c = static_cast<CompactProof*>(context);
  return NextStreamByte(c->proof, c->chunk);
}

bool ReadCompactOld(void* context, int32_t offset, uint8_t* bytes, int32_t count) {
  CompactProof* c = static_cast<CompactProof*>(context);
  SelectFile(c->proof->oldFile);
  SetFilePosition(offset);
  return ReadFileBlock(bytes, count) == count;
}

bool HashCompactNew(void* context, const uint8_t* bytes, int32_t count) {
  Md5Update(&static_cast<CompactProof*>(context)->md5, bytes,
            static_cast<uint32_t>(count));
  return true;
}

ProofResult CompactDecodesToNewFile(Proof* p, const PayloadFacts* facts,
                                    DiffChunk* chunk) {
  CompactDecoder* decoder =
      static_cast<CompactDecoder*>(MainAlloc(sizeof(CompactDecoder)));
  if (decoder == nullptr)
    return PROOF_FAILED;
  CompactProof c{p, chunk, {}};
  Md5Init(&c.md5);
  CompactIo io{&c, NextCompactByte, ReadCompactOld, HashCompactNew, nullptr};
  CompactResult result = DecodeCompact(decoder, &io, facts->oldSize, facts->newSize);
  MainFree(decoder);
  if (result == COMPACT_OLD_UNREADABLE)
    return PROOF_OLD_UNREADABLE;
  return result == COMPACT_DONE && FingerprintIsNew(&c.md5, p) ? PROOF_HOLDS
                                                               : PROOF_FAILED;
}

// Decodes the stream as the stub does and fingerprints what it gives.
ProofResult DecodesToNewFile(Proof* p, const PayloadFacts* facts, DiffChunk* chunk) {
  DiffDecoder decoder;
  StartDiffDecoder(&decoder, facts->oldSize, facts->newSize);
  Md5Context md5;
  Md5Init(&md5);
  DiffStatus status = DIFF_MORE;
  while (status == DIFF_MORE) {
    if (chunk->oldCount == 0 && decoder.position < decoder.oldSize &&
        decoder.position < decoder.newSize) {
      chunk->old = p->oldBytes;
      chunk->oldCount = ReadFrom(p->oldFile, p->oldBytes, CHUNK_SIZE);
      if (chunk->oldCount == 0)
        return PROOF_OLD_UNREADABLE;
    }
    if (chunk->streamCount == 0 && !chunk->streamEnds) {
      chunk->stream = p->streamBytes;
      chunk->streamCount = ReadFrom(p->patchFile, p->streamBytes, CHUNK_SIZE);
      chunk->streamEnds = chunk->streamCount == 0;
    }
    chunk->out = p->newBytes;
    chunk->outRoom = CHUNK_SIZE;
    status = DecodeDiff(&decoder, chunk);
    Md5Update(&md5, p->newBytes, CHUNK_SIZE - chunk->outRoom);
  }
  bool holds = status == DIFF_DONE && decoder.position == facts->newSize &&
               FingerprintIsNew(&md5, p);
  return holds ? PROOF_HOLDS : PROOF_FAILED;
}

ProofResult Prove(Proof* p) {
  p->block = static_cast<unsigned char*>(MainAlloc(BLOCK_SIZE));
  if (p->block == nullptr)
    return PROOF_FAILED;
  p->oldBytes = p->block;
  p->streamBytes = p->oldBytes + CHUNK_SIZE;
  p->newBytes = p->streamBytes + CHUNK_SIZE;
  p->lineBytes = reinterpret_cast<char*>(p->newBytes + CHUNK_SIZE);
  p->oldFile = OpenForRead(-1, p->intent->oldPath);
  if (p->oldFile == 0)
    return PROOF_OLD_UNREADABLE;
  p->patchFile = OpenForRead(-1, p->patchPath);
  PayloadFacts facts{};
  DiffChunk chunk{};
  if (p->patchFile == 0 || !SameStub(p) || !LinesAsMeant(p, &facts, &chunk))
    return PROOF_FAILED;
  // The stub tells the two streams by the first byte, without taking it.
  int lead = NextStreamByte(p, &chunk);
  if (lead >= 0) {
    chunk.stream--;
    chunk.streamCount++;
  }
  return lead == COMPACT_LEAD ? CompactDecodesToNewFile(p, &facts, &chunk)
                              : DecodesToNewFile(p, &facts, &chunk);
}

}  // namespace

ProofResult ProvePatch(const char* patchPath, const PatchIntent* intent) {
  Proof proof{};
  proof.patchPath = patchPath;
  proof.intent = intent;
  ProofResult result = Prove(&proof);
  CloseIfOpen(proof.patchFile);
  CloseIfOpen(proof.oldFile);
  MainFree(proof.block);
  return result;
}
