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

int32_t Smaller(int32_t a, int32_t b) {
  return a < b ? a : b;
}

// How many of the count bytes at s are RECORD_UNCHANGED in a row, eight at
// a time while it can.
int32_t UnchangedRun(const unsigned char* s, int32_t count) {
  int32_t n = 0;
  for (uint64_t word; n + 8 <= count; n += 8) {
    std::memcpy(&word, s + n, 8);
    if (word != 0)
      break;
  }
  while (n < count && s[n] == RECORD_UNCHANGED)
    n++;
  return n;
}

// Whole records as far as the chunk reaches, taken in runs: most positions
// keep their byte and are copied at once, and changed ones need no state.
// Stops before anything the careful path must judge: a bad code, a changed
// record cut by the chunk's end. Returns the positions decoded.
int32_t FastRecords(DiffDecoder* d, DiffChunk* c) {
  bool fromOld = d->position < d->oldSize;
  int32_t limit = Smaller(c->outRoom, d->newSize - d->position);
  if (fromOld)
    limit = Smaller(limit, Smaller(c->oldCount, d->oldSize - d->position));
  const unsigned char* s = c->stream;
  const unsigned char* end = s + c->streamCount;
  int32_t n = 0;
  while (n < limit && s < end) {
    if (*s == RECORD_UNCHANGED) {
      int32_t run = UnchangedRun(s, Smaller(limit - n, static_cast<int32_t>(end - s)));
      if (fromOld)
        std::memcpy(c->out + n, c->old + n, run);
      else
        std::memset(c->out + n, 0, run);
      n += run;
      s += run;
    } else if (*s == RECORD_CHANGED && end - s >= 2) {
      c->out[n++] = s[1];
      s += 2;
    } else {
      break;
    }
  }
  if (fromOld) {
    c->old += n;
    c->oldCount -= n;
  }
  c->out += n;
  c->outRoom -= n;
  c->streamCount -= static_cast<int32_t>(s - c->stream);
  c->stream = s;
  d->position += n;
  return n;
}

// The positions from the decoder's on, as far as the chunk reaches. Old
// bytes are taken only below oldSize, and one per finished position, so a
// changed record cut between its two bytes resumes cleanly.
DiffStatus DecodePositions(DiffDecoder* d, DiffChunk* c) {
  while (d->position < d->newSize) {
    bool fromOld = d->position < d->oldSize;
    if (c->outRoom == 0 || (fromOld && c->oldCount == 0))
      return DIFF_MORE;
    if (c->streamCount == 0)
      return c->streamEnds ? DIFF_CUT_SHORT : DIFF_MORE;
    if (!d->changedPending && FastRecords(d, c) > 0)
      continue;
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
    decoder->status = DecodePositions(decoder, chunk);
  return decoder->status;
}
