// The compact stream's encoder, for the tool. Matching: each part of the
// new file is taken from the best place of the old file found through the
// old file's suffix array, as a copy with differences (an alignment that
// agrees on most bytes, stretched forward and backward as long as it pays)
// followed by literal bytes; then everything goes through the adaptive
// range coder of the shared model.
#include <cstdlib>

#include "format/compact_internal.h"
#include "format/suffix_array.h"

namespace {

// A new alignment must beat the current one over its match by this many
// bytes: a few differing bytes cost less than a jump.
constexpr int32_t SWITCH_MARGIN = 8;
// Longer exact matches are taken in parts; this bounds the search's work.
constexpr int32_t MATCH_LIMIT = 4096;
constexpr int32_t PROGRESS_STEP = 1 << 16;

bool Grow(CompactStream* s, int32_t more) {
  if (s->capacity - s->size >= more)
    return true;
  int64_t wanted = (int64_t{s->capacity} + more) * 2;
  if (wanted > INT32_MAX)
    return false;
  void* bytes = std::realloc(s->bytes, static_cast<size_t>(wanted));
  if (bytes == nullptr)
    return false;
  s->bytes = static_cast<uint8_t*>(bytes);
  s->capacity = static_cast<int32_t>(wanted);
  return true;
}

struct RangeEncoder {
  CompactStream* out;
  bool failed;
  uint64_t low;
  uint32_t range;
  uint8_t cache;
  int64_t cacheCount;  // bytes held back until a carry can no longer change them

  void Emit(uint8_t byte) {
    if (!failed && Grow(out, 1))
      out->bytes[out->size++] = byte;
    else
      failed = true;
  }

  void ShiftLow() {
    if (static_cast<uint32_t>(low) < 0xFF000000u || (low >> 32) != 0) {
      uint8_t carry = static_cast<uint8_t>(low >> 32);
      for (uint8_t held = cache; cacheCount > 0; cacheCount--, held = 0xFF)
        Emit(static_cast<uint8_t>(held + carry));
      cache = static_cast<uint8_t>(low >> 24);
    }
    cacheCount++;
    low = (low & 0x00FFFFFFu) << 8;
  }

  int Bit(CompactProbability* p, int bit, int shift = ADAPT_SHIFT) {
    uint32_t bound = (range >> PROBABILITY_BITS) * *p;
    if (bit) {
      low += bound;
      range -= bound;
    } else {
      range = bound;
    }
    AdaptTo(p, bit, shift);
    while (range < RANGE_TOP) {
      range <<= 8;
      ShiftLow();
    }
    return bit;
  }

  void Finish() {
    for (int i = 0; i < RANGE_START_BYTES; i++)
      ShiftLow();
  }
};

struct Encoding {
  const uint8_t* old;
  int32_t oldSize;
  const uint8_t* now;
  int32_t newSize;
  const int32_t* suffixes;
  CompactModel* model;
  RangeEncoder coder;
  int32_t oldEnd;  // where the last copy ended
  ProgressReport progress;
  int32_t reported;  // new bytes covered at the last report
};

// An alignment: new byte i against old byte i + offset.
struct Anchor {
  int32_t start;
  int32_t offset;
  int32_t length;
};

bool Agrees(const Encoding* e, int32_t at, int32_t offset) {
  int64_t o = int64_t{at} + offset;
  return o >= 0 && o < e->oldSize && e->old[o] == e->now[at];
}

int32_t AgreeingRun(const Encoding* e, int32_t at, int32_t offset) {
  int32_t run = 0;
  while (at + run < e->newSize && Agrees(e, at + run, offset))
    run++;
  return run;
}

// The next place from scan on where another alignment beats the current
// one clearly; its start is newSize when there is none. agreeing counts
// the current alignment's agreements in [scan, counted).
Anchor NextAnchor(const Encoding* e, int32_t scan, int32_t offset) {
  int32_t agreeing = 0, counted = scan;
  while (scan < e->newSize) {
    int32_t limit = e->newSize - scan < MATCH_LIMIT ? e->newSize - scan : MATCH_LIMIT;
    SuffixMatch match =
        LongestMatch(e->old, e->oldSize, e->suffixes, e->now + scan, limit);
    for (; counted < scan + match.length; counted++)
      agreeing += Agrees(e, counted, offset);
    if (match.length > agreeing + SWITCH_MARGIN)
      return {scan, match.position - scan, match.length};
    int32_t run = match.length > 0 ? AgreeingRun(e, scan, offset) : 0;
    if (match.length > 0 && run >= match.length) {
      scan += run;
      agreeing = 0;
      counted = scan;
      continue;
    }
    if (scan < counted)
      agreeing -= Agrees(e, scan, offset);
    scan++;
    if (counted < scan)
      counted = scan;
  }
  return {e->newSize, offset, 0};
}

// How far from start the alignment pays: the prefix of [start, end) where
// agreements outnumber disagreements the most.
int32_t ForwardReach(const Encoding* e, int32_t start, int32_t end, int32_t offset) {
  int32_t best = 0, score = 0, bestScore = 0;
  for (int32_t i = start; i < end && int64_t{i} + offset < e->oldSize; i++) {
    score += Agrees(e, i, offset) ? 1 : -1;
    if (score > bestScore) {
      bestScore = score;
      best = i + 1 - start;
    }
  }
  return best;
}

// The same backward from end, down to start.
int32_t BackwardReach(const Encoding* e, int32_t start, int32_t end, int32_t offset) {
  int32_t best = 0, score = 0, bestScore = 0;
  for (int32_t i = end - 1; i >= start && int64_t{i} + offset >= 0; i--) {
    score += Agrees(e, i, offset) ? 1 : -1;
    if (score > bestScore) {
      bestScore = score;
      best = end - i;
    }
  }
  return best;
}

// Where both reaches overlap, the point that keeps the most agreements.
int32_t SplitPoint(const Encoding* e, int32_t from, int32_t to, int32_t before,
                   int32_t after) {
  int32_t best = from, score = 0, bestScore = 0;
  for (int32_t i = from; i < to; i++) {
    score += Agrees(e, i, before) - Agrees(e, i, after);
    if (score > bestScore) {
      bestScore = score;
      best = i + 1;
    }
  }
  return best;
}

void Report(Encoding* e, int32_t done) {
  if (e->progress != nullptr && done - e->reported >= PROGRESS_STEP) {
    e->reported = done;
    e->progress(static_cast<int32_t>(done * int64_t{100} / e->newSize));
  }
}

void EncodeBlock(Encoding* e, int32_t start, int32_t copy, int32_t offset,
                 int32_t literal) {
  if (copy + literal == 0)
    return;
  int32_t from = start + offset;
  if (copy == 0)
    from = e->oldEnd;
  CodeBlockHead(&e->coder, e->model, BlockHead{from - e->oldEnd, copy, literal});
  for (int32_t i = 0; i < copy; i++)
    CodeCopied(&e->coder, e->model, e->old[from + i], e->now[start + i]);
  for (int32_t i = start + copy; i < start + copy + literal; i++)
    CodeLiteral(&e->coder, e->model, e->now[i]);
  e->oldEnd = from + copy;
  Report(e, start + copy + literal);
}

void EncodeBlocks(Encoding* e) {
  int32_t copyStart = 0, offset = 0;
  for (int32_t scan = 0; copyStart < e->newSize;) {
    Anchor next = NextAnchor(e, scan, offset);
    int32_t forward = ForwardReach(e, copyStart, next.start, offset);
    int32_t backward = next.start < e->newSize
                           ? BackwardReach(e, copyStart, next.start, next.offset)
                           : 0;
    int32_t copyEnd = copyStart + forward, nextStart = next.start - backward;
    if (copyEnd > nextStart) {
      copyEnd = nextStart = SplitPoint(e, nextStart, copyEnd, offset, next.offset);
    }
    EncodeBlock(e, copyStart, copyEnd - copyStart, offset, nextStart - copyEnd);
    copyStart = nextStart;
    offset = next.offset;
    scan = next.start + next.length;
  }
}

void PutSum(RangeEncoder* coder, const uint8_t* now, int32_t newSize) {
  CompactSum sum{1, 0};
  AddToSum(&sum, now, newSize);
  uint32_t value = sum.high << 16 | sum.low;
  for (int shift = 24; shift >= 0; shift -= 8)
    coder->Emit(static_cast<uint8_t>(value >> shift));
}

bool Encode(Encoding* e) {
  RangeEncoder* c = &e->coder;
  c->Emit(COMPACT_LEAD);
  for (uint8_t magic : COMPACT_MAGIC)
    c->Emit(magic);
  c->Emit(COMPACT_VERSION);
  StartModel(e->model);
  EncodeBlocks(e);
  c->Finish();
  PutSum(c, e->now, e->newSize);
  return !c->failed;
}

}  // namespace

bool CompactFits(int32_t oldSize, int32_t newSize) {
  return oldSize >= 0 && newSize >= 0 &&
         COMPACT_BYTES_PER_OLD * oldSize + COMPACT_BYTES_PER_NEW * newSize <=
             COMPACT_MEMORY_LIMIT;
}

bool EncodeCompact(const uint8_t* old, int32_t oldSize, const uint8_t* now,
                   int32_t newSize, ProgressReport progress, CompactStream* stream) {
  *stream = CompactStream{};
  if (!CompactFits(oldSize, newSize))
    return false;
  int32_t* suffixes = static_cast<int32_t*>(std::malloc(sizeof(int32_t) * (oldSize + 1)));
  CompactModel* model = static_cast<CompactModel*>(std::malloc(sizeof(CompactModel)));
  bool encoded = suffixes != nullptr && model != nullptr &&
                 Grow(stream, newSize / 4 + 64) && SortSuffixes(old, oldSize, suffixes);
  if (encoded) {
    Encoding e{old, oldSize, now, newSize, suffixes, model, {}, 0, progress, 0};
    e.coder = RangeEncoder{stream, false, 0, UINT32_MAX, 0, 1};
    encoded = Encode(&e);
  }
  std::free(suffixes);
  std::free(model);
  if (!encoded)
    FreeCompactStream(stream);
  return encoded;
}

void FreeCompactStream(CompactStream* stream) {
  std::free(stream->bytes);
  *stream = CompactStream{};
}
