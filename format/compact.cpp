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

// A local of DecodeCompact's, so that the compiler can keep its range in
// registers while bytes are stored.
struct RangeDecoder {
  CompactDecoder* d;
  uint32_t range;
  uint32_t code;

  int Code(uint32_t p, int) {
    uint32_t bound = (range >> PROBABILITY_BITS) * p;
    int bit = code >= bound;
    if (bit) {
      code -= bound;
      range -= bound;
    } else {
      range = bound;
    }
    while (range < RANGE_TOP) {
      range <<= 8;
      code = code << 8 | static_cast<uint32_t>(NextStreamByte(d));
    }
    return bit;
  }

  int Bit(CompactProbability* p, int, int shift = ADAPT_SHIFT) {
    int bit = Code(*p, 0);
    AdaptTo(p, bit, shift);
    return bit;
  }
};

bool ReadHeader(CompactDecoder* d) {
  bool valid = NextStreamByte(d) == COMPACT_LEAD;
  for (uint8_t magic : COMPACT_MAGIC)
    valid = valid && NextStreamByte(d) == magic;
  d->version = NextStreamByte(d);
  return valid && static_cast<unsigned>(d->version - 1) < COMPACT_VERSION &&
         !d->streamEnded;
}

// The encoder's first byte is always 0.
bool StartRange(RangeDecoder* c) {
  c->range = UINT32_MAX;
  c->code = 0;
  bool valid = NextStreamByte(c->d) == 0;
  for (int i = 1; i < RANGE_START_BYTES; i++)
    c->code = c->code << 8 | static_cast<uint32_t>(NextStreamByte(c->d));
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

// count new bytes into the output, which is written whenever it is full.
SMALL_CALL bool Put(CompactDecoder* d, const uint8_t* bytes, int32_t count) {
  for (int32_t i = 0; i < count; i++) {
    d->output[d->pending++] = bytes[i];
    if (d->pending == COMPACT_BUFFER_SIZE && !Flush(d))
      return false;
  }
  return true;
}

// A step of version 2 looks up to STEP_READS bytes ahead, so each
// bufferful but the copy's last is decoded up to STEP_READS - 1 bytes short
// of its end, and the next one read from where the steps stopped.
CompactResult CopyWith(RangeDecoder* coder, int32_t from, int32_t count) {
  CompactDecoder* d = coder->d;
  if (d->version > 1)
    d->model2.state.deltaDue = 0;
  while (count > 0) {
    int32_t chunk = count < COMPACT_BUFFER_SIZE ? count : COMPACT_BUFFER_SIZE;
    if (!d->io->readOld(d->io->context, from, d->old, chunk))
      return COMPACT_OLD_UNREADABLE;
    int32_t end = chunk < count ? chunk - (STEP_READS - 1) : chunk, i = 0;
    while (i < end) {
      // Steps write straight into the output while it has room for any.
      uint8_t made[RUN_LIMIT];
      bool direct = FAST_WAYS && d->pending <= COMPACT_BUFFER_SIZE - RUN_LIMIT;
      uint8_t* out = direct ? d->output + d->pending : made;
      int n = 1;
      if (d->version == 1)
        out[0] = CodeCopied(coder, &d->model1, d->old[i], 0);
      else
        n = CodeCopyStep(coder, &d->model2, d->old + i, chunk - i, nullptr, out);
      if (n == 0)
        return COMPACT_DAMAGED;
      if (direct) {
        d->pending += n;
        if (d->pending == COMPACT_BUFFER_SIZE && !Flush(d))
          return COMPACT_WRITE_FAILED;
      } else if (!Put(d, made, n)) {
        return COMPACT_WRITE_FAILED;
      }
      i += n;
    }
    from += i;
    count -= i;
  }
  return COMPACT_DONE;
}

// Literal bytes: single ones, and repeats from the output buffer, which
// keeps the last COMPACT_BUFFER_SIZE new bytes.
CompactResult InsertWith(RangeDecoder* coder, int32_t count) {
  CompactDecoder* d = coder->d;
  CompactModel2* m = &d->model2;
  while (count > 0) {
    Repeat repeat{0, 0};
    if (d->version > 1)
      repeat = CodeRepeat(coder, m, repeat);
    int32_t produced = d->written + d->pending;
    if (repeat.length > count ||
        (repeat.length > 0 &&
         (repeat.length < REPEAT_MIN || repeat.distance < 1 ||
          repeat.distance > produced || repeat.distance > COMPACT_BUFFER_SIZE)))
      return COMPACT_DAMAGED;
    int32_t length = repeat.length > 0 ? repeat.length : 1;
    count -= length;
    for (int32_t i = 0; i < length; i++) {
      uint8_t byte;
      if (d->version == 1)
        byte = CodeLiteral(coder, &d->model1, 0);
      else if (repeat.length == 0)
        byte = CodeLiteral2(coder, m, 0);
      else
        byte = NoteLiteral(
            m, d->output[(d->pending - repeat.distance) & (COMPACT_BUFFER_SIZE - 1)]);
      if (!Put(d, &byte, 1))
        return COMPACT_WRITE_FAILED;
    }
  }
  return COMPACT_DONE;
}

// A block's copy and its literal bytes each decode in a function of their
// own, with the range in its locals: there the compiler keeps the hottest
// values in registers, where in one function with all the rest it spilled
// them, a cost the emulators that may run the program multiply.
__attribute__((noinline)) CompactResult Copy(RangeDecoder* coder, int32_t from,
                                             int32_t count) {
  RangeDecoder local = *coder;
  CompactResult result = CopyWith(&local, from, count);
  *coder = local;
  return result;
}

__attribute__((noinline)) CompactResult Insert(RangeDecoder* coder, int32_t count) {
  RangeDecoder local = *coder;
  CompactResult result = InsertWith(&local, count);
  *coder = local;
  return result;
}

// Blocks until the new file is complete; *oldEnd is where the last copy
// ended. Lengths and jumps are below 2^31 and checked against what is left
// before they are added, so nothing overflows.
CompactResult DecodeBlock(RangeDecoder* coder, int32_t oldSize, int32_t* oldEnd) {
  CompactDecoder* d = coder->d;
  bool first = d->version == 1;
  BlockHead head =
      CodeBlockHead(coder, first ? &d->model1.jumpBack : &d->model2.jumpBack,
                    first ? d->model1.lengths : d->model2.lengths, BlockHead{});
  if (d->streamEnded || head.jump < -*oldEnd || head.jump > oldSize - *oldEnd)
    return COMPACT_DAMAGED;
  int32_t from = *oldEnd + head.jump;
  int32_t room = d->newSize - d->written - d->pending;
  if (head.copy > oldSize - from || head.copy > room || head.literal > room - head.copy ||
      (head.copy | head.literal) == 0)
    return COMPACT_DAMAGED;
  CompactResult result = Copy(coder, from, head.copy);
  *oldEnd = from + head.copy;
  if (result == COMPACT_DONE)
    result = Insert(coder, head.literal);
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
  RangeDecoder coder{d, 0, 0};
  if (!ReadHeader(d) || !StartRange(&coder))
    return COMPACT_DAMAGED;
  if (d->version == 1)
    StartModel(&d->model1);
  else
    StartModel2(&d->model2);
  CompactResult result = COMPACT_DONE;
  for (int32_t oldEnd = 0; result == COMPACT_DONE && d->written + d->pending < newSize;)
    result = DecodeBlock(&coder, oldSize, &oldEnd);
  if (result == COMPACT_DONE && d->pending > 0 && !Flush(d))
    result = COMPACT_WRITE_FAILED;
  // The encoder's last bytes spell out exactly where its range ended, which
  // leaves nothing over in a whole stream.
  if (result == COMPACT_DONE && (d->streamEnded || coder.code != 0 || !ReadSum(d)))
    result = COMPACT_DAMAGED;
  return result;
}
