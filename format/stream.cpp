#include "format/stream.h"

#include <cstring>

namespace {

unsigned char* EncodeBytes(const unsigned char* oldBytes, const unsigned char* newBytes,
                           int32_t count, unsigned char* out) {
  for (int32_t i = 0; i < count; i++) {
    if (oldBytes[i] == newBytes[i]) {
      *out++ = RECORD_UNCHANGED;
    } else {
      *out++ = RECORD_CHANGED;
      *out++ = newBytes[i];
    }
  }
  return out;
}

// The positions from the decoder's on, as far as the chunk reaches. Old
// bytes are taken only below oldSize, and one per finished position, so a
// changed record cut between its two bytes resumes cleanly.
DiffStatus Decode(DiffDecoder* d, DiffChunk* c) {
  while (d->position < d->newSize) {
    bool fromOld = d->position < d->oldSize;
    if (c->outRoom == 0 || (fromOld && c->oldCount == 0))
      return DIFF_MORE;
    if (c->streamCount == 0)
      return c->streamEnds ? DIFF_CUT_SHORT : DIFF_MORE;
    unsigned char record = *c->stream++;
    c->streamCount--;
    unsigned char byte = record;
    if (!d->changedPending) {
      if (record == RECORD_CHANGED) {
        d->changedPending = true;
        continue;
      }
      if (record != RECORD_UNCHANGED)
        return DIFF_BAD_RECORD;
      byte = fromOld ? *c->old : 0;
    }
    d->changedPending = false;
    *c->out++ = byte;
    c->outRoom--;
    if (fromOld) {
      c->old++;
      c->oldCount--;
    }
    d->position++;
  }
  if (c->streamCount > 0)
    return DIFF_TOO_LONG;
  return c->streamEnds ? DIFF_DONE : DIFF_MORE;
}

}  // namespace

int32_t EncodeDiffBlock(const unsigned char* oldBytes, const unsigned char* newBytes,
                        int32_t count, unsigned char* records) {
  // Most positions agree: compare and emit eight at a time, and go byte by
  // byte only through the words that differ.
  unsigned char* out = records;
  int32_t i = 0;
  for (; i + 8 <= count; i += 8) {
    uint64_t o, n;
    std::memcpy(&o, oldBytes + i, 8);
    std::memcpy(&n, newBytes + i, 8);
    if (o == n) {
      std::memset(out, RECORD_UNCHANGED, 8);
      out += 8;
    } else {
      out = EncodeBytes(oldBytes + i, newBytes + i, 8, out);
    }
  }
  out = EncodeBytes(oldBytes + i, newBytes + i, count - i, out);
  return static_cast<int32_t>(out - records);
}

void StartDiffDecoder(DiffDecoder* decoder, int32_t oldSize, int32_t newSize) {
  *decoder = DiffDecoder{oldSize, newSize, 0, false, DIFF_MORE};
}

DiffStatus DecodeDiff(DiffDecoder* decoder, DiffChunk* chunk) {
  if (decoder->status == DIFF_MORE)
    decoder->status = Decode(decoder, chunk);
  return decoder->status;
}
