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
// COMPACT_BUFFER_SIZE new bytes before it; nothing else of either file. So
// the same matching runs on a window as well as on the whole files: on a
// segment of the new file, the COMPACT_BUFFER_SIZE bytes before it, and
// the old regions it draws on, packed one after the other in old file
// order and searched through hash chains; a copy that runs across two of
// them is coded as two, with the jump between them.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "format/compact_internal.h"
#include "format/match_chains.h"
#include "format/old_samples.h"
#include "format/suffix_array.h"

namespace {

// A new alignment must beat the current one over its match by this many
// bytes: a few differing bytes cost less than a jump.
constexpr int32_t SWITCH_MARGIN = 8;
// Longer exact matches are taken in parts; this bounds the search's work.
constexpr int32_t MATCH_LIMIT = 4096;
constexpr int32_t PROGRESS_STEP = 1 << 16;
// After 2^MISS_SHIFT searches of the hash chains in vain, every second
// place is searched, and so on, up to every MISS_STRIDE + 1st.
constexpr int MISS_SHIFT = 4;
constexpr int32_t MISS_STRIDE = 7;
constexpr int32_t GRAM = 8;
// Repeats are looked up through chains of earlier places with the same
// first four bytes, the most recent first, this many at most.
constexpr int HASH_BITS = 16;
constexpr int CHAIN_LIMIT = 64;

bool Grow(CompactStream* s, int32_t more) {
  if (s->capacity - s->size >= more)
    return true;
  if (s->sink != nullptr && s->size > 0) {
    if (!s->sink(s->sinkContext, s->bytes, s->size))
      return false;
    s->size = 0;
    if (s->capacity >= more)
      return true;
  }
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

// Old bytes the matcher holds, from the old file's start on: length of
// them at old[at].
struct HeldRegion {
  int32_t start;
  int32_t at;
  int32_t length;
};

constexpr int32_t MAX_REGIONS = PLANNED_REGIONS;

// What the matcher sees: old[0..oldSize) and now[0..newSize), the new file
// from newBase; places and offsets are in these, and only the coded jumps
// in the old file itself.
struct Encoding {
  const uint8_t* old;
  int32_t oldSize;
  const uint8_t* now;
  int32_t newSize;
  int32_t newBase;
  int32_t fileSize;  // the whole new file's
  // Searched through the suffix array, its pair buckets and eight-byte
  // string bitmap, or through hash chains.
  const int32_t* suffixes;
  int32_t* buckets;  // where the suffixes of each two first bytes begin
  uint8_t* grams;    // one bit for each hash of the old file's eight-byte strings
  int gramBits;
  const MatchChains* chains;
  HeldRegion regions[MAX_REGIONS];
  int32_t regionCount;
  int32_t fileOldEnd;  // where the last copy ended in the old file
  int32_t diagonal;    // the old file place less the new one at its end
  CompactModel2* model;
  RangeEncoder coder;
  int32_t oldEnd;  // fileOldEnd in the region a block is coded from
  ProgressReport progress;
  int32_t progressFrom;  // the percentage at which coding starts
  int32_t reported;      // new bytes covered at the last report
  RepeatFinder* repeats;
  int32_t costs[1 << (PROBABILITY_BITS - 4)];
};

// An alignment: new byte i against old byte i + offset.
struct Anchor {
  int32_t start;
  int32_t offset;
  int32_t length;
};

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
  int32_t agreeing = 0, counted = scan, misses = 0;
  while (scan < e->newSize) {
    int32_t limit = e->newSize - scan < MATCH_LIMIT ? e->newSize - scan : MATCH_LIMIT;
    SuffixMatch match{0, 0};
    // Where the old file has not even the next eight bytes anywhere and the
    // current alignment disagrees here, a search could find nothing that
    // counts.
    if (e->chains != nullptr)
      match = ChainMatch(e->chains, e->old, e->oldSize, e->now + scan, limit);
    else if (Agrees(e, scan, offset) || MayOccur(e, scan))
      match =
          LongestMatch(e->old, e->oldSize, e->suffixes, e->buckets, e->now + scan, limit);
    for (; counted < scan + match.length; counted++)
      agreeing += Agrees(e, counted, offset);
    if (match.length > agreeing + SWITCH_MARGIN)
      return {scan, match.position - scan, match.length};
    // Hash chains are costly to search in vain: where they have found
    // nothing for a while, only every few places are looked up, which
    // still finds every match long enough to count, from a little way in.
    if (e->chains != nullptr && match.length == 0) {
      scan += 1 + std::min(misses++ >> MISS_SHIFT, MISS_STRIDE);
      agreeing = 0;
      counted = scan;
      continue;
    }
    misses = 0;
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
  int32_t covered = e->newBase + done;
  if (e->progress != nullptr && covered - e->reported >= PROGRESS_STEP) {
    e->reported = covered;
    e->progress(
        e->progressFrom +
        static_cast<int32_t>(covered * int64_t{100 - e->progressFrom} / e->fileSize));
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

const HeldRegion* RegionAt(const Encoding* e, int32_t at) {
  int32_t i = 0;
  while (i + 1 < e->regionCount && e->regions[i + 1].at <= at)
    i++;
  return &e->regions[i];
}

// A copy is coded from the old file's place of its old bytes, a part for
// each region it runs through.
void EmitBlock(Encoding* e, int32_t start, int32_t copy, int32_t offset,
               int32_t literal) {
  do {
    const HeldRegion* r = RegionAt(e, copy > 0 ? start + offset : 0);
    int32_t part = copy > 0 ? std::min(copy, r->at + r->length - (start + offset)) : 0;
    int32_t shift = r->start - r->at;
    e->oldEnd = e->fileOldEnd - shift;
    EncodeBlock(e, start, part, offset, part == copy ? literal : 0);
    e->fileOldEnd = e->oldEnd + shift;
    if (part > 0)
      e->diagonal = e->fileOldEnd - (e->newBase + start + part);
    start += part;
    copy -= part;
  } while (copy > 0);
}

// Blocks for now[start..newSize), the first one's copy at offset.
void EncodeBlocks(Encoding* e, int32_t start, int32_t offset) {
  int32_t copyStart = start;
  for (int32_t scan = start; copyStart < e->newSize;) {
    Anchor next = NextAnchor(e, scan, offset);
    int32_t forward = ForwardReach(e, copyStart, next.start, offset);
    int32_t backward = next.start < e->newSize
                           ? BackwardReach(e, copyStart, next.start, next.offset)
                           : 0;
    int32_t copyEnd = copyStart + forward, nextStart = next.start - backward;
    if (copyEnd > nextStart) {
      copyEnd = nextStart = SplitPoint(e, nextStart, copyEnd, offset, next.offset);
    }
    EmitBlock(e, copyStart, copyEnd - copyStart, offset, nextStart - copyEnd);
    copyStart = nextStart;
    offset = next.offset;
    scan = next.start + next.length;
  }
}

void PutSum(RangeEncoder* coder, CompactSum sum) {
  uint32_t value = sum.high << 16 | sum.low;
  for (int shift = 24; shift >= 0; shift -= 8)
    coder->Emit(static_cast<uint8_t>(value >> shift));
}

void StartStream(Encoding* e) {
  RangeEncoder* c = &e->coder;
  c->Emit(COMPACT_LEAD);
  for (uint8_t magic : COMPACT_MAGIC)
    c->Emit(magic);
  c->Emit(COMPACT_VERSION);
  StartModel2(e->model);
}

// The rest of the stream, then whatever its sink has not had yet.
bool FinishStream(Encoding* e, CompactSum sum) {
  RangeEncoder* c = &e->coder;
  c->Finish();
  PutSum(c, sum);
  CompactStream* s = c->out;
  if (!c->failed && s->sink != nullptr && s->size > 0) {
    c->failed = !s->sink(s->sinkContext, s->bytes, s->size);
    s->size = 0;
  }
  return !c->failed;
}

// The coding side's records, and the matcher's that do not depend on the
// files; null when memory ran out.
Encoding* StartEncoding(CompactStream* stream, int32_t newSize, ProgressReport progress) {
  Encoding* e = static_cast<Encoding*>(std::malloc(sizeof(Encoding)));
  CompactModel2* model = static_cast<CompactModel2*>(std::malloc(sizeof(CompactModel2)));
  RepeatFinder* repeats = static_cast<RepeatFinder*>(std::malloc(sizeof(RepeatFinder)));
  if (e == nullptr || model == nullptr || repeats == nullptr) {
    std::free(e);
    std::free(model);
    std::free(repeats);
    return nullptr;
  }
  *e = Encoding{};
  e->fileSize = newSize;
  e->model = model;
  e->repeats = repeats;
  e->progress = progress;
  e->coder = RangeEncoder{stream, false, 0, UINT32_MAX, 0, 1};
  for (int i = 0; i < (1 << (PROBABILITY_BITS - 4)); i++)
    e->costs[i] = static_cast<int32_t>(
        std::lround(-256 * std::log2((i + 0.5) / (1 << (PROBABILITY_BITS - 4)))));
  return e;
}

void FreeEncoding(Encoding* e) {
  std::free(e->model);
  std::free(e->repeats);
  std::free(e);
}

// The new bytes now[0..newSize) are the file's from newBase: repeats are
// found among them alone.
void SeeNew(Encoding* e, const uint8_t* now, int32_t newSize, int32_t newBase) {
  e->now = now;
  e->newSize = newSize;
  e->newBase = newBase;
  std::memset(e->repeats->head, 0xFF, sizeof e->repeats->head);
  e->repeats->filled = 0;
}

// The whole files in memory, searched through the old one's suffix array.
// False, with nothing coded, when memory ran out; then the stream's
// failure tells why it stopped.
bool EncodeWhole(Encoding* e, const uint8_t* old, int32_t oldSize, const uint8_t* now,
                 int32_t newSize, int32_t progressFrom) {
  int32_t* suffixes = static_cast<int32_t*>(std::malloc(sizeof(int32_t) * (oldSize + 1)));
  if (suffixes == nullptr || !SortSuffixes(old, oldSize, suffixes)) {
    std::free(suffixes);
    return false;
  }
  e->old = old;
  e->oldSize = oldSize;
  e->suffixes = suffixes;
  e->regions[0] = HeldRegion{0, 0, oldSize};
  e->regionCount = 1;
  e->progressFrom = progressFrom;
  if (e->progress != nullptr && progressFrom > 0)
    e->progress(progressFrom);
  SeeNew(e, now, newSize, 0);
  // Both indexes are taken after sorting, which needs more while it works;
  // without them the encoder searches more.
  e->buckets = static_cast<int32_t*>(std::malloc(sizeof(int32_t) * (PAIR_BUCKETS + 1)));
  if (e->buckets != nullptr)
    FindPairBuckets(old, oldSize, e->buckets);
  MarkGrams(e);
  StartStream(e);
  EncodeBlocks(e, 0, 0);
  CompactSum sum{1, 0};
  AddToSum(&sum, now, newSize);
  FinishStream(e, sum);
  std::free(e->buckets);
  std::free(e->grams);
  std::free(suffixes);
  return true;
}

// Files are read in pieces of at most this many bytes; the stream is
// handed on in pieces of this size.
constexpr int32_t READ_PIECE = 8 << 20;
constexpr int32_t STREAM_PIECE = 1 << 20;
// The old file's samples take at most this much memory, or a quarter of
// what the limits leave.
constexpr int64_t SAMPLES_MEMORY = 128 << 20;
constexpr int32_t MIN_WINDOW = 1 << 16;
constexpr int32_t MIN_SEGMENT = 1 << 12;
constexpr int32_t RUN_CAPACITY = 1 << 16;
// A window filled anew grows into what comes next: up to this many times
// the segment's length beyond what it needs.
constexpr int32_t GROW_SEGMENTS = 2;
// Progress: whole files are sorted, large old files sampled, before coding.
constexpr int32_t SORT_SHARE = 40;
constexpr int32_t SAMPLE_SHARE = 10;

bool ReadPieces(bool (*read)(void*, int32_t, uint8_t*, int32_t), void* context,
                int32_t offset, uint8_t* bytes, int32_t count) {
  for (int32_t done = 0; done < count;) {
    int32_t piece = std::min(READ_PIECE, count - done);
    if (!read(context, offset + done, bytes + done, piece))
      return false;
    done += piece;
  }
  return true;
}

struct WindowSizes {
  int32_t window;
  int32_t segment;
  int64_t samples;  // 0 when the window holds the whole old file
};

int64_t WindowMemory(int32_t window) {
  return window + ChainsMemory(window);
}

// The largest window that fits in memory beside the rest; with a large
// old file, part of the memory goes to its samples.
bool SizeWindow(int32_t oldSize, int32_t newSize, int64_t memory, WindowSizes* sizes) {
  int64_t left = memory - COMPACT_FIXED_MEMORY;
  int32_t segment = std::max(MIN_SEGMENT, std::min(CompactLimit.segment, newSize));
  int32_t window = std::max(1, std::min(CompactLimit.window, oldSize));
  sizes->samples = 0;
  for (;;) {
    int64_t room = left - sizes->samples - COMPACT_BUFFER_SIZE - segment;
    while (window > MIN_WINDOW && WindowMemory(window) > room)
      window -= window / 16 + 1;
    if (window >= oldSize || sizes->samples > 0)
      break;
    sizes->samples = SamplesMemory(oldSize, std::min(SAMPLES_MEMORY, left / 4));
  }
  sizes->window = window;
  sizes->segment = std::max(MIN_SEGMENT, std::min(segment, window / 2));
  return WindowMemory(window) + sizes->samples + COMPACT_BUFFER_SIZE + sizes->segment <=
         left;
}

// The windowed matcher's own records beside the Encoding.
struct Window {
  const CompactFiles* files;
  int32_t oldSize;
  int32_t newSize;
  WindowSizes sizes;
  OldSamples samples;  // none while sizes.samples is 0
  MatchChains chains;
  uint8_t* old;
  uint8_t* now;  // COMPACT_BUFFER_SIZE bytes before a segment, then the segment
  SampleRun* runs;
  OldRegion planned[MAX_REGIONS];
};

bool StartWindow(Window* w) {
  w->old = static_cast<uint8_t*>(std::malloc(w->sizes.window));
  w->now = static_cast<uint8_t*>(std::malloc(COMPACT_BUFFER_SIZE + w->sizes.segment));
  w->runs = static_cast<SampleRun*>(std::malloc(sizeof(SampleRun) * RUN_CAPACITY));
  return w->old != nullptr && w->now != nullptr && w->runs != nullptr &&
         StartChains(&w->chains, w->sizes.window) &&
         (w->sizes.samples == 0 ||
          StartSamples(&w->samples, w->oldSize, w->sizes.samples));
}

void FreeWindow(Window* w) {
  FreeSamples(&w->samples);
  FreeChains(&w->chains);
  std::free(w->old);
  std::free(w->now);
  std::free(w->runs);
}

// Samples of the whole old file, read in pieces through the new bytes'
// buffer, which is free until coding starts.
bool SampleOld(Window* w, Encoding* e) {
  for (int32_t at = 0, count; at < w->oldSize; at += count) {
    count = std::min(w->sizes.segment, w->oldSize - at);
    int32_t read = std::min(count + SAMPLE_WIDTH - 1, w->oldSize - at);
    if (!ReadPieces(w->files->readOld, w->files->context, at, w->now, read))
      return false;
    AddSamples(&w->samples, w->now, at, count);
    if (e->progress != nullptr)
      e->progress(
          static_cast<int32_t>(SAMPLE_SHARE * (int64_t{at} + count) / w->oldSize));
  }
  return true;
}

// Reads the regions into the window, one after the other, and indexes them.
bool HoldRegions(Window* w, Encoding* e, const OldRegion* regions, int32_t count) {
  int32_t at = 0;
  for (int32_t i = 0; i < count; i++) {
    const OldRegion& r = regions[i];
    if (!ReadPieces(w->files->readOld, w->files->context, r.start, w->old + at, r.length))
      return false;
    e->regions[i] = HeldRegion{r.start, at, r.length};
    at += r.length;
  }
  e->regionCount = count;
  e->old = w->old;
  e->oldSize = at;
  e->chains = &w->chains;
  IndexText(&w->chains, w->old, at);
  return true;
}

bool Holds(const Encoding* e, const OldRegion* regions, int32_t count) {
  for (int32_t i = 0; i < count; i++) {
    const OldRegion& r = regions[i];
    bool held = false;
    for (int32_t j = 0; j < e->regionCount && !held; j++)
      held = e->regions[j].start <= r.start &&
             int64_t{r.start} + r.length <=
                 int64_t{e->regions[j].start} + e->regions[j].length;
    if (!held)
      return false;
  }
  return true;
}

// Makes the window hold the old regions that the new bytes
// segment[0..*count), from start, draw on, cutting *count short where they
// do not all fit: kept as it is when it holds them, else filled anew with
// them, grown into the rest of it.
CompactEncoding PlanSegment(Window* w, Encoding* e, const uint8_t* segment,
                            int32_t* count, int32_t start) {
  if (w->sizes.samples == 0) {
    OldRegion whole{0, w->oldSize};
    if (e->regionCount == 0 && !HoldRegions(w, e, &whole, 1))
      return COMPACT_OLD_FAILED;
    return COMPACT_ENCODED;
  }
  int32_t runs = FindRuns(&w->samples, segment, *count, start, w->runs, RUN_CAPACITY);
  // Samples of strings that recur keep their first place only: the
  // alignment so far, likely to go on, is held as if it had been found.
  int64_t aligned = std::clamp<int64_t>(int64_t{start} + e->diagonal, 0, w->oldSize - 1);
  RegionPlan plan{start, *count, static_cast<int32_t>(aligned), w->sizes.window, 0};
  int32_t planned = PlanRegions(w->runs, runs, w->oldSize, &plan, w->planned);
  *count = plan.count;
  if (e->regionCount > 0 && Holds(e, w->planned, planned))
    return COMPACT_ENCODED;
  plan.grow = GROW_SEGMENTS * plan.count;
  planned = PlanRegions(w->runs, runs, w->oldSize, &plan, w->planned);
  return HoldRegions(w, e, w->planned, planned) ? COMPACT_ENCODED : COMPACT_OLD_FAILED;
}

// The offset that continues the last copy's alignment from the new
// file's place start, at now[keep]; one that reaches no old byte when
// the window does not hold where it leads.
int32_t ContinuedOffset(const Encoding* e, int32_t start, int32_t keep) {
  int64_t place = int64_t{start} + e->diagonal;
  for (int32_t i = 0; i < e->regionCount; i++) {
    const HeldRegion& r = e->regions[i];
    if (r.start <= place && place < int64_t{r.start} + r.length)
      return static_cast<int32_t>(r.at + (place - r.start) - keep);
  }
  return -e->newSize - 1;
}

CompactEncoding EncodeWindowed(Window* w, Encoding* e) {
  if (w->sizes.samples > 0) {
    if (!SampleOld(w, e))
      return COMPACT_OLD_FAILED;
    e->progressFrom = SAMPLE_SHARE;
  }
  StartStream(e);
  CompactSum sum{1, 0};
  int32_t held = 0;  // new bytes in the buffer
  for (int32_t start = 0; start < w->newSize;) {
    int32_t keep = std::min(start, COMPACT_BUFFER_SIZE);
    int32_t count = std::min(w->sizes.segment, w->newSize - start);
    std::memmove(w->now, w->now + held - keep, keep);
    if (!ReadPieces(w->files->readNew, w->files->context, start, w->now + keep, count))
      return COMPACT_NEW_FAILED;
    // What a segment cut short leaves is read again with the next one.
    CompactEncoding planned = PlanSegment(w, e, w->now + keep, &count, start);
    if (planned != COMPACT_ENCODED)
      return planned;
    held = keep + count;
    AddToSum(&sum, w->now + keep, count);
    SeeNew(e, w->now, held, start - keep);
    EncodeBlocks(e, keep, ContinuedOffset(e, start, keep));
    if (e->coder.failed)
      return COMPACT_STREAM_FAILED;
    start += count;
  }
  return FinishStream(e, sum) ? COMPACT_ENCODED : COMPACT_STREAM_FAILED;
}

// Both files read whole; COMPACT_TOO_LARGE, with nothing written, when
// they or the suffix array cannot be had.
CompactEncoding EncodeWholeFiles(const CompactFiles* f, int32_t oldSize, int32_t newSize,
                                 Encoding* e) {
  uint8_t* old = static_cast<uint8_t*>(std::malloc(std::max(oldSize, 1)));
  uint8_t* now = static_cast<uint8_t*>(std::malloc(std::max(newSize, 1)));
  CompactEncoding result = COMPACT_TOO_LARGE;
  if (old != nullptr && now != nullptr) {
    if (!ReadPieces(f->readOld, f->context, 0, old, oldSize))
      result = COMPACT_OLD_FAILED;
    else if (!ReadPieces(f->readNew, f->context, 0, now, newSize))
      result = COMPACT_NEW_FAILED;
    else if (EncodeWhole(e, old, oldSize, now, newSize, SORT_SHARE))
      result = e->coder.failed ? COMPACT_STREAM_FAILED : COMPACT_ENCODED;
  }
  std::free(old);
  std::free(now);
  return result;
}

CompactEncoding EncodeThroughWindow(const CompactFiles* f, int32_t oldSize,
                                    int32_t newSize, Encoding* e) {
  // Where the process cannot give what the limits allow, a smaller window
  // still serves.
  CompactEncoding result = COMPACT_TOO_LARGE;
  for (int64_t memory = CompactLimit.memory; result == COMPACT_TOO_LARGE; memory /= 2) {
    Window w{};
    w.files = f;
    w.oldSize = oldSize;
    w.newSize = newSize;
    if (!SizeWindow(oldSize, newSize, memory, &w.sizes))
      break;
    if (StartWindow(&w))
      result = EncodeWindowed(&w, e);
    FreeWindow(&w);
  }
  return result;
}

using FileEncoder = CompactEncoding (*)(const CompactFiles*, int32_t, int32_t, Encoding*);

CompactEncoding EncodeFiles(FileEncoder encoder, const CompactFiles* files,
                            int32_t oldSize, int32_t newSize, CompactStream* stream) {
  Encoding* e = StartEncoding(stream, newSize, files->progress);
  if (e == nullptr)
    return COMPACT_TOO_LARGE;
  CompactEncoding result = encoder(files, oldSize, newSize, e);
  FreeEncoding(e);
  return result;
}

}  // namespace

CompactLimits CompactLimit = COMPACT_LIMITS;

CompactMode CompactModeFor(int32_t oldSize, int32_t newSize) {
  if (oldSize < 0 || newSize < 0)
    return COMPACT_REFUSED;
  if (oldSize <= CompactLimit.wholeOld && COMPACT_BYTES_PER_OLD * oldSize +
                                                  COMPACT_BYTES_PER_NEW * newSize +
                                                  COMPACT_FIXED_MEMORY <=
                                              CompactLimit.memory)
    return COMPACT_WHOLE;
  WindowSizes sizes;
  return SizeWindow(oldSize, newSize, CompactLimit.memory, &sizes) ? COMPACT_WINDOWED
                                                                   : COMPACT_REFUSED;
}

bool EncodeCompact(const uint8_t* old, int32_t oldSize, const uint8_t* now,
                   int32_t newSize, ProgressReport progress, CompactStream* stream) {
  *stream = CompactStream{};
  Encoding* e = StartEncoding(stream, newSize, progress);
  bool encoded = e != nullptr && Grow(stream, newSize / 4 + 64) &&
                 EncodeWhole(e, old, oldSize, now, newSize, 0) && !e->coder.failed;
  if (e != nullptr)
    FreeEncoding(e);
  if (!encoded)
    FreeCompactStream(stream);
  return encoded;
}

void FreeCompactStream(CompactStream* stream) {
  std::free(stream->bytes);
  *stream = CompactStream{};
}

// A whole-file encoding that finds no memory gives way to the window.
CompactEncoding EncodeCompactFiles(const CompactFiles* files, int32_t oldSize,
                                   int32_t newSize) {
  CompactMode mode = CompactModeFor(oldSize, newSize);
  CompactStream stream{nullptr, 0, STREAM_PIECE, files->writeStream, files->context};
  stream.bytes = static_cast<uint8_t*>(std::malloc(STREAM_PIECE));
  CompactEncoding result = COMPACT_TOO_LARGE;
  if (stream.bytes != nullptr && mode == COMPACT_WHOLE)
    result = EncodeFiles(EncodeWholeFiles, files, oldSize, newSize, &stream);
  if (stream.bytes != nullptr && mode != COMPACT_REFUSED && result == COMPACT_TOO_LARGE)
    result = EncodeFiles(EncodeThroughWindow, files, oldSize, newSize, &stream);
  std::free(stream.bytes);
  return result;
}
