// The compact stream's decoder, built into the patcher stub: small, no
// allocation, every value checked before it steers a read or a write.
#include "format/compact_internal.h"

namespace {

int NextStreamByte(CompactDecoder* d) {
  int byte = d->io->nextByte(d->io->context);
  if (byte < 0) {
    d->streamEnded = true;
    return 0;
  }
  return byte;
}

struct RangeDecoder {
  CompactDecoder* d;

  int Bit(CompactProbability* p, int, int shift = ADAPT_SHIFT) {
    uint32_t bound = (d->range >> PROBABILITY_BITS) * *p;
    int bit = d->code >= bound;
    if (bit) {
      d->code -= bound;
      d->range -= bound;
    } else {
      d->range = bound;
    }
    AdaptTo(p, bit, shift);
    while (d->range < RANGE_TOP) {
      d->range <<= 8;
      d->code = d->code << 8 | static_cast<uint32_t>(NextStreamByte(d));
    }
    return bit;
  }
};

bool ReadHeader(CompactDecoder* d) {
  bool valid = NextStreamByte(d) == COMPACT_LEAD;
  for (uint8_t magic : COMPACT_MAGIC)
    valid = valid && NextStreamByte(d) == magic;
  return valid && NextStreamByte(d) == COMPACT_VERSION && !d->streamEnded;
}

// The encoder's first byte is always 0.
bool StartRange(CompactDecoder* d) {
  d->range = UINT32_MAX;
  d->code = 0;
  bool valid = NextStreamByte(d) == 0;
  for (int i = 1; i < RANGE_START_BYTES; i++)
    d->code = d->code << 8 | static_cast<uint32_t>(NextStreamByte(d));
  return valid;
}

bool Flush(CompactDecoder* d) {
  AddToSum(&d->sum, d->output, d->pending);
  if (!d->io->writeNew(d->io->context, d->output, d->pending))
    return false;
  d->written += d->pending;
  d->pending = 0;
  if (d->io->progress != nullptr)
    d->io->progress(ProgressPercent(d->written, d->newSize));
  return true;
}

bool Put(CompactDecoder* d, uint8_t byte) {
  d->output[d->pending++] = byte;
  return d->pending < COMPACT_BUFFER_SIZE || Flush(d);
}

CompactResult Copy(CompactDecoder* d, int32_t from, int32_t count) {
  RangeDecoder coder{d};
  while (count > 0) {
    int32_t chunk = count < COMPACT_BUFFER_SIZE ? count : COMPACT_BUFFER_SIZE;
    if (!d->io->readOld(d->io->context, from, d->old, chunk))
      return COMPACT_OLD_UNREADABLE;
    for (int32_t i = 0; i < chunk; i++)
      if (!Put(d, CodeCopied(&coder, &d->model, d->old[i], 0)))
        return COMPACT_WRITE_FAILED;
    from += chunk;
    count -= chunk;
  }
  return COMPACT_DONE;
}

CompactResult Insert(CompactDecoder* d, int32_t count) {
  RangeDecoder coder{d};
  for (int32_t i = 0; i < count; i++)
    if (!Put(d, CodeLiteral(&coder, &d->model, 0)))
      return COMPACT_WRITE_FAILED;
  return COMPACT_DONE;
}

// Blocks until the new file is complete; *oldEnd is where the last copy
// ended. Lengths are below 2^31, so the sums are exact in 64 bits.
CompactResult DecodeBlock(CompactDecoder* d, int32_t oldSize, int32_t* oldEnd) {
  RangeDecoder coder{d};
  BlockHead head = CodeBlockHead(&coder, &d->model, BlockHead{});
  int64_t from = int64_t{*oldEnd} + head.jump;
  int64_t produced = int64_t{d->written} + d->pending;
  if (d->streamEnded || from < 0 || from + head.copy > oldSize ||
      produced + head.copy + head.literal > d->newSize ||
      head.copy + int64_t{head.literal} == 0)
    return COMPACT_DAMAGED;
  CompactResult result = Copy(d, static_cast<int32_t>(from), head.copy);
  *oldEnd = static_cast<int32_t>(from + head.copy);
  if (result == COMPACT_DONE)
    result = Insert(d, head.literal);
  return result;
}

bool ReadSum(CompactDecoder* d) {
  uint32_t stored = 0;
  for (int i = 0; i < 4; i++)
    stored = stored << 8 | static_cast<uint32_t>(NextStreamByte(d));
  return !d->streamEnded && stored == (d->sum.high << 16 | d->sum.low);
}

}  // namespace

CompactResult DecodeCompact(CompactDecoder* d, const CompactIo* io, int32_t oldSize,
                            int32_t newSize) {
  d->io = io;
  d->streamEnded = false;
  d->newSize = newSize;
  d->written = d->pending = 0;
  d->sum = CompactSum{1, 0};
  StartModel(&d->model);
  if (!ReadHeader(d) || !StartRange(d))
    return COMPACT_DAMAGED;
  CompactResult result = COMPACT_DONE;
  for (int32_t oldEnd = 0; result == COMPACT_DONE && d->written + d->pending < newSize;)
    result = DecodeBlock(d, oldSize, &oldEnd);
  if (result == COMPACT_DONE && d->pending > 0 && !Flush(d))
    result = COMPACT_WRITE_FAILED;
  // The encoder's last bytes spell out exactly where its range ended, which
  // leaves nothing over in a whole stream.
  if (result == COMPACT_DONE && (d->streamEnded || d->code != 0 || !ReadSum(d)))
    result = COMPACT_DAMAGED;
  return result;
}
