// The compact stream's encoder, for the tool; it writes the newest
// version. Matching: each part of the new file is taken from the best place
// of the old file found through the old file's suffix array, as a copy with
// differences (an alignment that agrees on most bytes, stretched forward
// and backward as long as it pays) followed by literal bytes, in which
// repeats of recent new bytes are chosen by what they cost under the model
// as it stands; then everything goes through the adaptive range coder of
// the shared model.
//
// A block is coded from its copy's old bytes, its own new bytes and the
// COMPACT_BUFFER_SIZE new bytes before it; nothing else of either file.
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "format/compact_internal.h"
#include "format/suffix_array.h"

namespace {

// A new alignment must beat the current one over its match by this many
// bytes: a few differing bytes cost less than a jump.
constexpr int32_t SWITCH_MARGIN = 8;
// Longer exact matches are taken in parts; this bounds the search's work.
constexpr int32_t MATCH_LIMIT = 4096;
constexpr int32_t PROGRESS_STEP = 1 << 16;
constexpr int32_t GRAM = 8;
// Repeats are looked up through chains of earlier places with the same
// first four bytes, the most recent first, this many at most.
constexpr int HASH_BITS = 16;
constexpr int CHAIN_LIMIT = 64;

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

  int Code(uint32_t p, int bit) {
    uint32_t bound = (range >> PROBABILITY_BITS) * p;
    if (bit) {
      low += bound;
      range -= bound;
    } else {
      range = bound;
    }
    while (range < RANGE_TOP) {
      range <<= 8;
      ShiftLow();
    }
    return bit;
  }

  int Bit(CompactProbability* p, int bit, int shift = ADAPT_SHIFT) {
    Code(*p, bit);
    AdaptTo(p, bit, shift);
    return bit;
  }

  void Finish() {
    for (int i = 0; i < RANGE_START_BYTES; i++)
      ShiftLow();
  }
};

// What coding a bit would cost, in bits, without coding it or adapting.
struct Pricer {
  const int32_t* costs;  // of a bit of probability p, at p >> 4
  int32_t bits;          // in 1/256 bit, so that choices are the same on every build

  int Code(uint32_t p, int bit) {
    bits += costs[(bit ? (1u << PROBABILITY_BITS) - p : p) >> 4];
    return bit;
  }
  int Bit(CompactProbability* p, int bit, int = 0) { return Code(*p, bit); }
};

// Chains of the new file's places by their first four bytes, filled as
// the encoding goes, over the last COMPACT_BUFFER_SIZE places.
struct RepeatFinder {
  int32_t head[1 << HASH_BITS];
  int32_t previous[COMPACT_BUFFER_SIZE];
  int32_t filled;  // places before this are in the chains
};

struct Encoding {
  const uint8_t* old;
  int32_t oldSize;
  const uint8_t* now;
  int32_t newSize;
  const int32_t* suffixes;
  CompactModel2* model;
  RangeEncoder coder;
  int32_t oldEnd;  // where the last copy ended
  ProgressReport progress;
  int32_t reported;  // new bytes covered at the last report
  RepeatFinder* repeats;
  int32_t* buckets;  // where the suffixes of each two first bytes begin
  uint8_t* grams;    // one bit for each hash of the old file's eight-byte strings
  int gramBits;
  int32_t costs[1 << (PROBABILITY_BITS - 4)];
};

// An alignment: new byte i against old byte i + offset.
struct Anchor {
  int32_t start;
  int32_t offset;
  int32_t length;
};

uint32_t GramHash(const uint8_t* bytes, int bits) {
  uint64_t gram;
  std::memcpy(&gram, bytes, sizeof gram);
  return static_cast<uint32_t>((gram * 0x9E3779B97F4A7C15u) >> (64 - bits));
}

// Whether the eight new bytes from at may occur in the old file; false
// only when they surely do not.
bool MayOccur(const Encoding* e, int32_t at) {
  if (e->newSize - at < GRAM || e->grams == nullptr)
    return true;
  uint32_t hash = GramHash(e->now + at, e->gramBits);
  return (e->grams[hash >> 3] >> (hash & 7)) & 1;
}

// Half a byte to a byte for each byte of the old file (4 KiB at least).
void MarkGrams(Encoding* e) {
  int bits = 15;
  while (bits < 32 && (int64_t{1} << (bits + 1)) <= int64_t{8} * e->oldSize)
    bits++;
  e->grams = static_cast<uint8_t*>(std::calloc(size_t{1} << (bits - 3), 1));
  e->gramBits = bits;
  for (int32_t i = 0; e->grams != nullptr && i + GRAM <= e->oldSize; i++) {
    uint32_t hash = GramHash(e->old + i, bits);
    e->grams[hash >> 3] = static_cast<uint8_t>(e->grams[hash >> 3] | 1 << (hash & 7));
  }
}

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
    // Where the old file has not even the next eight bytes anywhere and the
    // current alignment disagrees here, a search could find nothing that
    // counts.
    SuffixMatch match{0, 0};
    if (Agrees(e, scan, offset) || MayOccur(e, scan))
      match =
          LongestMatch(e->old, e->oldSize, e->suffixes, e->buckets, e->now + scan, limit);
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

uint32_t HashAt(const uint8_t* bytes) {
  uint32_t word = uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 |
                  uint32_t{bytes[2]} << 16 | uint32_t{bytes[3]} << 24;
  return (word * 2654435761u) >> (32 - HASH_BITS);
}

// The longest earlier occurrence, within reach, of the new bytes from at,
// up to limit of them; a repeat of the last distance when it is as long.
Repeat FindRepeat(Encoding* e, int32_t at, int32_t limit) {
  RepeatFinder* f = e->repeats;
  for (; f->filled < at && f->filled + REPEAT_MIN <= e->newSize; f->filled++) {
    uint32_t key = HashAt(e->now + f->filled);
    f->previous[f->filled & (COMPACT_BUFFER_SIZE - 1)] = f->head[key];
    f->head[key] = f->filled;
  }
  Repeat best{0, 0};
  if (limit < REPEAT_MIN)
    return best;
  const uint8_t* here = e->now + at;
  int32_t last = e->model->state.lastDistance;
  if (last > 0 && last <= at && last <= COMPACT_BUFFER_SIZE)
    while (best.length < limit && here[best.length] == here[best.length - last])
      best = Repeat{last, best.length + 1};
  int32_t place = f->head[HashAt(here)];
  for (int tries = 0;
       tries < CHAIN_LIMIT && place >= 0 && at - place <= COMPACT_BUFFER_SIZE; tries++) {
    int32_t length = 0;
    while (length < limit && e->now[place + length] == here[length])
      length++;
    if (length > best.length + (best.length > 0 && best.distance == last ? 1 : 0))
      best = Repeat{at - place, length};
    int32_t next = f->previous[place & (COMPACT_BUFFER_SIZE - 1)];
    if (next >= place)
      break;
    place = next;
  }
  return best;
}

int32_t PriceRepeat(Encoding* e, Repeat repeat) {
  CompactModel2* m = e->model;
  int lastRepeat = m->state.lastRepeat;
  int32_t lastDistance = m->state.lastDistance;
  Pricer pricer{e->costs, 0};
  CodeRepeat(&pricer, m, repeat);
  m->state.lastRepeat = lastRepeat;
  m->state.lastDistance = lastDistance;
  return pricer.bits;
}

// Literal bytes priced as the model stands, without its learning from
// them.
int32_t PriceLiterals(const Encoding* e, const uint8_t* bytes, int32_t count) {
  CompactModel2* m = e->model;
  Pricer pricer{e->costs, 0};
  uint8_t previous = m->state.lastNew;
  for (int32_t i = 0; i < count; i++) {
    pricer.Bit(&m->repeat[i == 0 ? m->state.lastRepeat : 0], 0);
    for (uint32_t node = 1; node < 256;) {
      int bit = (bytes[i] >> (8 - BitWidth(node))) & 1;
      pricer.Code(static_cast<uint32_t>(Mixed(m, &m->literal[previous][node],
                                              &m->literalAlone[node],
                                              m->weights[CHANGE_WEIGHTS + node]))
                      << 4,
                  bit);
      node = node << 1 | static_cast<uint32_t>(bit);
    }
    previous = bytes[i];
  }
  return pricer.bits;
}

// Whether the repeat costs less than the bytes it stands for, and less
// than a longer repeat one byte later would with this byte before it.
bool RepeatPays(Encoding* e, int32_t at, int32_t end, Repeat repeat) {
  int32_t price = PriceRepeat(e, repeat);
  if (repeat.length < REPEAT_MIN || price >= PriceLiterals(e, e->now + at, repeat.length))
    return false;
  Repeat later = at + 1 < end ? FindRepeat(e, at + 1, end - at - 1) : Repeat{0, 0};
  if (later.length <= repeat.length)
    return true;
  int32_t otherwise = PriceLiterals(e, e->now + at, 1) + PriceRepeat(e, later);
  return price + PriceLiterals(e, e->now + at + repeat.length,
                               later.length + 1 - repeat.length) <=
         otherwise;
}

void EncodeStretch(Encoding* e, int32_t at, int32_t end) {
  while (at < end) {
    Repeat repeat = FindRepeat(e, at, end - at);
    if (!RepeatPays(e, at, end, repeat))
      repeat = Repeat{0, 0};
    CodeRepeat(&e->coder, e->model, repeat);
    if (repeat.length == 0)
      CodeLiteral2(&e->coder, e->model, e->now[at++]);
    for (int32_t i = 0; i < repeat.length; i++)
      NoteLiteral(e->model, e->now[at++]);
  }
}

void EncodeBlock(Encoding* e, int32_t start, int32_t copy, int32_t offset,
                 int32_t literal) {
  if (copy + literal == 0)
    return;
  int32_t from = start + offset;
  if (copy == 0)
    from = e->oldEnd;
  CompactModel2* m = e->model;
  CodeBlockHead(&e->coder, &m->jumpBack, m->lengths,
                BlockHead{from - e->oldEnd, copy, literal});
  m->state.deltaDue = 0;
  for (int32_t i = 0; i < copy;) {
    uint8_t made[RUN_LIMIT];
    i +=
        CodeCopyStep(&e->coder, m, e->old + from + i, copy - i, e->now + start + i, made);
  }
  EncodeStretch(e, start + copy, start + copy + literal);
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
  StartModel2(e->model);
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
  Encoding* e = static_cast<Encoding*>(std::malloc(sizeof(Encoding)));
  CompactModel2* model = static_cast<CompactModel2*>(std::malloc(sizeof(CompactModel2)));
  RepeatFinder* repeats = static_cast<RepeatFinder*>(std::malloc(sizeof(RepeatFinder)));
  bool encoded = suffixes != nullptr && e != nullptr && model != nullptr &&
                 repeats != nullptr && Grow(stream, newSize / 4 + 64) &&
                 SortSuffixes(old, oldSize, suffixes);
  if (encoded) {
    std::memset(repeats->head, 0xFF, sizeof repeats->head);
    repeats->filled = 0;
    *e = Encoding{old,      oldSize, now,     newSize, suffixes, model, {}, 0,
                  progress, 0,       repeats, nullptr, nullptr,  0,     {}};
    // Both indexes are taken after sorting, which needs more while it works;
    // without them the encoder searches more.
    e->buckets = static_cast<int32_t*>(std::malloc(sizeof(int32_t) * (PAIR_BUCKETS + 1)));
    if (e->buckets != nullptr)
      FindPairBuckets(old, oldSize, e->buckets);
    MarkGrams(e);
    e->coder = RangeEncoder{stream, false, 0, UINT32_MAX, 0, 1};
    for (int i = 0; i < (1 << (PROBABILITY_BITS - 4)); i++)
      e->costs[i] = static_cast<int32_t>(
          std::lround(-256 * std::log2((i + 0.5) / (1 << (PROBABILITY_BITS - 4)))));
    encoded = Encode(e);
    std::free(e->buckets);
    std::free(e->grams);
  }
  std::free(suffixes);
  std::free(e);
  std::free(model);
  std::free(repeats);
  if (!encoded)
    FreeCompactStream(stream);
  return encoded;
}

void FreeCompactStream(CompactStream* stream) {
  std::free(stream->bytes);
  *stream = CompactStream{};
}
