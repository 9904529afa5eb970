// The compact stream's models, written once for both directions: a Coder
// either encodes the bit it is given or decodes one and ignores it, and
// returns the bit either way. Bit adapts the probability it was given by
// 1 / 2^shift; Code takes a probability that something else keeps.
// Included by the encoder and the decoder only.
#pragma once

#include <cstddef>
#include <cstring>

#include "format/compact.h"

constexpr int PROBABILITY_BITS = 16;
constexpr CompactProbability PROBABILITY_START = 1 << (PROBABILITY_BITS - 1);
constexpr int ADAPT_SHIFT = 3;
// Version 1's literal bytes are new code or data, some of it close to
// random: their probabilities settle more and swing less.
constexpr int LITERAL_ADAPT_SHIFT = 4;
constexpr uint32_t RANGE_TOP = 1u << 24;
constexpr int RANGE_START_BYTES = 5;
constexpr uint32_t ADLER_MODULUS = 65521;
constexpr int LENGTH_WIDTH_BITS = 5;
// The shortest repeat of earlier new bytes; the farthest is
// COMPACT_BUFFER_SIZE back, all the decoder keeps.
constexpr int32_t REPEAT_MIN = 4;
// How fast the mixers' weights learn: 1 / 2^rate of input times error.
constexpr int CHANGE_MIX_RATE = 13;
constexpr int LITERAL_MIX_RATE = 10;
// The stub is built for size, the tool for speed: there the hottest
// steps are expanded where they are used, while the stub calls even small
// ones rather than repeat them.
// Some loops also take a faster way there, the same steps several at a
// time, that the stub goes without.
#ifdef __OPTIMIZE_SIZE__
#define HOT_INLINE inline
#define SMALL_CALL __attribute__((noinline))
constexpr bool FAST_WAYS = false;
#else
#define HOT_INLINE __attribute__((always_inline)) inline
#define SMALL_CALL inline
constexpr bool FAST_WAYS = true;
#endif

// A probability of a 0 above this is all but sure.
constexpr CompactProbability ZERO_SURE = 64500;
// Copied bytes whose both predictions of no change are above this make runs.
constexpr CompactProbability RUN_SURE = 36000;

inline void AdaptTo(CompactProbability* p, int bit, int shift) {
  if (bit == 0)
    *p += ((1 << PROBABILITY_BITS) - *p) >> shift;
  else
    *p -= *p >> shift;
}

inline void StartProbabilities(CompactProbability* p, int count) {
  for (int i = 0; i < count; i++)
    p[i] = PROBABILITY_START;
}

// Logistic mixing in integers. squash maps a stretched probability d (the
// log of its odds, in 1/256, within +-STRETCH_LIMIT) to a probability in
// 1/4096: 4096 / (1 + e^-d/256), with e^d/256 grown step by step from d = 0
// by 1 + 1/256, close enough to e^1/256; stretch is its inverse.
inline void MakeMixerScales(int16_t* stretch, int16_t* squash) {
  uint32_t grown = 1 << 16;
  for (int d = 0; d <= STRETCH_LIMIT; d++, grown += grown >> 8) {
    int p = 4096 - static_cast<int>((1u << 28) / (grown + (1u << 16)));
    squash[STRETCH_LIMIT + d] = static_cast<int16_t>(p);
    squash[STRETCH_LIMIT - d] = static_cast<int16_t>(4096 - p);
  }
  int next = 0;
  for (int d = -STRETCH_LIMIT; d <= STRETCH_LIMIT; d++)
    for (; next <= squash[STRETCH_LIMIT + d]; next++)
      stretch[next] = static_cast<int16_t>(d);
  for (; next < STRETCH_STEPS; next++)
    stretch[next] = STRETCH_LIMIT;
}

// Weights are in 1/65536. Their sums and products wrap around rather than
// overflow, whatever a damaged stream makes of them; sound streams keep
// them far from that.
inline void Learn(int32_t* weight, int input, int error, int rate) {
  *weight = static_cast<int32_t>(static_cast<uint32_t>(*weight) +
                                 static_cast<uint32_t>((input * error) >> rate));
}

// The probability of a 0 (in 1/4096) that two others make, mixed by the
// weights.
inline int Mixed(const CompactModel2* m, const CompactProbability* a,
                 const CompactProbability* b, const int32_t* weights) {
  uint32_t sum =
      static_cast<uint32_t>(weights[0]) * static_cast<uint32_t>(m->stretch[*a >> 4]) +
      static_cast<uint32_t>(weights[1]) * static_cast<uint32_t>(m->stretch[*b >> 4]);
  int d = static_cast<int32_t>(sum) >> 16;
  return m->squash[(d > STRETCH_LIMIT    ? STRETCH_LIMIT
                    : d < -STRETCH_LIMIT ? -STRETCH_LIMIT
                                         : d) +
                   STRETCH_LIMIT];
}

// A bit predicted by two adaptive probabilities, mixed by weights that
// learn which of them to trust. Where both are sure of a 0, the less sure
// one serves alone: nearly as good, much faster, and most copied bytes'
// change bits are there.
template <typename Coder>
HOT_INLINE int CodeMixed(Coder* c, CompactModel2* m, CompactProbability* a, int shiftA,
                         CompactProbability* b, int shiftB, int32_t* weights, int rate,
                         int bit) {
  if (*a > ZERO_SURE && *b > ZERO_SURE) {
    bit = c->Code(*a < *b ? *a : *b, bit);
  } else {
    int inputs[2] = {m->stretch[*a >> 4], m->stretch[*b >> 4]};
    int p = Mixed(m, a, b, weights);
    bit = c->Code(static_cast<uint32_t>(p) << 4, bit);
    for (int i = 0; i < 2; i++)
      Learn(&weights[i], inputs[i], ((bit == 0) << 12) - p, rate);
  }
  AdaptTo(a, bit, shiftA);
  AdaptTo(b, bit, shiftB);
  return bit;
}

// bits bits of value, most significant first, through a binary tree of
// probabilities (2^bits of them, the first unused).
template <typename Coder>
HOT_INLINE uint32_t CodeTree(Coder* c, CompactProbability* tree, int bits, uint32_t value,
                             int shift = ADAPT_SHIFT) {
  uint32_t node = 1;
  for (int i = bits - 1; i >= 0; i--)
    node = (node << 1) | c->Bit(&tree[node], (value >> i) & 1, shift);
  return node - (1u << bits);
}

inline int BitWidth(uint32_t value) {
  return value == 0 ? 0 : 32 - __builtin_clz(value);
}

// A length below 2^31: its bit width, then the bits below the leading one.
template <typename Coder>
HOT_INLINE int32_t CodeLength(Coder* c, LengthModel* m, uint32_t value) {
  int width = static_cast<int>(
      CodeTree(c, m->width, LENGTH_WIDTH_BITS, static_cast<uint32_t>(BitWidth(value))));
  if (width == 0)
    return 0;
  uint32_t result = 1;
  for (int i = width - 2; i >= 0; i--)
    result = (result << 1) | c->Bit(&m->mantissa[width][i], (value >> i) & 1);
  return static_cast<int32_t>(result);
}

// The jump's direction, then its size, then the block's two lengths.
struct BlockHead {
  int32_t jump;
  int32_t copy;
  int32_t literal;
};

template <typename Coder>
BlockHead CodeBlockHead(Coder* c, CompactProbability* jumpBack, LengthModel* lengths,
                        BlockHead head) {
  int back = c->Bit(jumpBack, head.jump < 0);
  int32_t size =
      CodeLength(c, &lengths[FIELD_JUMP],
                 static_cast<uint32_t>(head.jump < 0 ? -head.jump : head.jump));
  BlockHead result;
  result.jump = back ? -size : size;
  result.copy = CodeLength(c, &lengths[FIELD_COPY], static_cast<uint32_t>(head.copy));
  result.literal =
      CodeLength(c, &lengths[FIELD_LITERAL], static_cast<uint32_t>(head.literal));
  return result;
}

// Probabilities first, state last: see CompactModel1 and CompactModel2.
template <typename Model>
void StartModel(Model* m) {
  StartProbabilities(reinterpret_cast<CompactProbability*>(m),
                     offsetof(Model, jumpBack) / sizeof(CompactProbability) + 1);
  m->state = {};
}

// Version 1.

// A copied byte: whether it differs from the old byte under it, judged by
// the recent changes and the old byte before; then by how much.
template <typename Coder>
uint8_t CodeCopied(Coder* c, CompactModel1* m, uint8_t oldByte, uint8_t newByte) {
  int context = static_cast<int>((m->state.changes & 7) << 8 | m->state.lastOld);
  int changed = c->Bit(&m->changed[context], newByte != oldByte);
  uint8_t difference = 0;
  if (changed)
    difference =
        static_cast<uint8_t>(CodeTree(c, m->difference[m->state.lastDifference], 8,
                                      static_cast<uint8_t>(newByte - oldByte)));
  m->state.changes = m->state.changes << 1 | static_cast<uint32_t>(changed);
  m->state.lastDifference = difference;
  m->state.lastOld = oldByte;
  m->state.lastNew = static_cast<uint8_t>(oldByte + difference);
  return m->state.lastNew;
}

template <typename Coder>
uint8_t CodeLiteral(Coder* c, CompactModel1* m, uint8_t newByte) {
  m->state.lastNew = static_cast<uint8_t>(
      CodeTree(c, m->literal[m->state.lastNew], 8, newByte, LITERAL_ADAPT_SHIFT));
  return m->state.lastNew;
}

// Version 2.

inline void StartModel2(CompactModel2* m) {
  StartModel(m);
  for (auto& weights : m->weights)
    weights[0] = weights[1] = 1 << 15;
  MakeMixerScales(m->stretch, m->squash);
}

// Moves delta to the front of the recent ones, or puts it there; the
// others move back up to its old place, or to the end.
inline void PromoteDelta(CompactModel2* m, uint32_t delta) {
  uint32_t carried = delta;
  for (uint32_t& place : m->state.deltas) {
    uint32_t was = place;
    place = carried;
    if (was == delta)
      break;
    carried = was;
  }
}

// Every byte a copy makes passes here. Four bytes after a byte change the
// word that starts there is complete, and its difference joins the recent
// ones.
inline void NoteCopied(CompactModel2* m, uint8_t oldByte, uint8_t newByte) {
  m->state.changes = m->state.changes << 1 | (oldByte != newByte);
  m->state.since =
      oldByte != newByte ? 0 : m->state.since + (m->state.since < STRIDE_LIMIT);
  m->state.lastOld = oldByte;
  m->state.lastNew = newByte;
  if (m->state.deltaDue > 0) {
    m->state.newWord = m->state.newWord >> 8 | uint32_t{newByte} << 24;
    m->state.oldWord = m->state.oldWord >> 8 | uint32_t{oldByte} << 24;
    if (--m->state.deltaDue == 0 && m->state.newWord != m->state.oldWord)
      PromoteDelta(m, m->state.newWord - m->state.oldWord);
  }
}

// A word difference's low bytes that are zero leave the old bytes under
// them as they are: the change starts above them.
inline int LowZeroBytes(uint32_t delta) {
  int zeros = 0;
  for (; zeros < 3 && (delta & 0xFF) == 0; delta >>= 8)
    zeros++;
  return zeros;
}

// count bytes of old, little-endian, plus delta.
inline void AddDelta(const uint8_t* old, uint32_t delta, int count, uint8_t* out) {
  uint32_t carry = 0;
  for (int i = 0; i < count; i++, delta >>= 8) {
    carry += old[i] + (delta & 0xFF);
    out[i] = static_cast<uint8_t>(carry);
    carry >>= 8;
  }
}

// The encoder's choice: the first recent word difference that makes
// exactly the new bytes, or -1.
inline int FindDelta(const CompactModel2* m, const uint8_t* old, int32_t available,
                     const uint8_t* now) {
  for (int i = 0; i < WORD_DELTAS; i++) {
    uint32_t delta = m->state.deltas[i];
    int zeros = LowZeroBytes(delta), count = 4 - zeros;
    uint8_t word[4];
    if (delta == 0 || count > available)
      continue;
    AddDelta(old, delta >> (8 * zeros), count, word);
    bool same = true;
    for (int j = 0; j < count; j++)
      same = same && word[j] == now[j];
    if (same)
      return i;
  }
  return -1;
}

// count unchanged bytes at once after a quiet stretch: the state as
// NoteCopied would leave it after each. No word is due, and the last
// changes, of which only three are ever looked at, are none.
inline int CopyUnchanged(CompactModel2* m, const uint8_t* old, int count, uint8_t* out) {
  // Four bytes a move: a library call costs more than these few bytes.
  int i = 0;
  for (; FAST_WAYS && i + 4 <= count; i += 4) {
    uint32_t word;
    std::memcpy(&word, old + i, 4);
    std::memcpy(out + i, &word, 4);
  }
  for (; i < count; i++)
    out[i] = old[i];
  m->state.since =
      m->state.since + count < STRIDE_LIMIT ? m->state.since + count : STRIDE_LIMIT;
  m->state.lastOld = m->state.lastNew = old[count - 1];
  return count;
}

// Keeps the byte's sure bits in step with the predictions they sum up.
inline void NoteSure(CompactModel2* m, uint8_t byte) {
  const CompactProbability* after = &m->changedAfter[byte];
  const CompactProbability* at = &m->changedAt[STRIDE_LIMIT << 9 | byte];
  m->state.sure[byte] = static_cast<uint8_t>(
      (uint32_t{after[0]} > RUN_SURE) | (uint32_t{after[256]} > RUN_SURE) << 1 |
      (uint32_t{at[0]} > RUN_SURE) << 2 | (uint32_t{at[256]} > RUN_SURE) << 3);
}

inline uint32_t Load32(const uint8_t* bytes) {
  uint32_t word;
  std::memcpy(&word, bytes, 4);
  return word;
}

// Whether either 16-bit half of the word is zero.
inline bool HasZeroHalf(uint32_t word) {
  return ((word - 0x10001) & ~word & 0x80008000) != 0;
}

__attribute__((always_inline)) inline uint32_t LooksLike(const CompactModel2* m,
                                                         const uint8_t* old) {
  return (uint32_t{old[2]} | uint32_t{old[3]} << 8) + 1 == m->state.lastHigh;
}

// SureRun where a quiet stretch goes on, from the sure bits: four bytes at
// once while none looks like the address and each is sure where none does
// (and so sure of the byte after it), else one by one.
inline int SureRunFurther(const CompactModel2* m, const uint8_t* old, int run, int limit,
                          uint32_t before) {
  const uint8_t* sure = m->state.sure;
  uint32_t pattern = ((m->state.lastHigh - 1) & 0xFFFF) * 0x10001;
  before = sure[before];
  for (; run < limit; run++) {
    if ((before & 1) != 0) {
      int from = run;
      for (; run + 4 <= limit; run += 4) {
        const uint8_t* next = old + run;
        uint32_t all = sure[next[0]] & sure[next[1]] & sure[next[2]] & sure[next[3]];
        if ((all & 5) != 5 || HasZeroHalf(Load32(next + 2) ^ pattern) |
                                  HasZeroHalf(Load32(next + 3) ^ pattern))
          break;
      }
      if (run > from)
        before = sure[old[run - 1]];
      if (run == limit)
        break;
    }
    uint32_t here = sure[old[run]], both = before & here >> 2;
    if (((both >> LooksLike(m, old + run)) & 1) == 0)
      break;
    before = here;
  }
  return run;
}

// How many of the next bytes, up to RUN_LIMIT, both predictions would be
// confident of one by one after a quiet stretch, were none of them changed.
HOT_INLINE int SureRun(const CompactModel2* m, const uint8_t* old, int32_t available) {
  int limit = available - 3 < RUN_LIMIT ? static_cast<int>(available) - 3 : RUN_LIMIT;
  uint32_t before = m->state.lastOld, since = static_cast<uint32_t>(m->state.since);
  int run = 0;
  for (; run < limit; run++, since += since < STRIDE_LIMIT) {
    if (FAST_WAYS && since == STRIDE_LIMIT)
      return SureRunFurther(m, old, run, limit, before);
    uint32_t like = LooksLike(m, old + run);
    if (uint32_t{m->changedAfter[like << 8 | before]} <= RUN_SURE ||
        uint32_t{m->changedAt[since << 9 | like << 8 | old[run]]} <= RUN_SURE)
      break;
    before = old[run];
  }
  return run;
}

// One step of a copy: an unchanged byte, or a change, which is either a
// byte difference or a recent word difference; or, where the models are
// confident of a run of bytes, all of them unchanged. old holds the copy's
// next bytes, available of them (at least STEP_READS unless the copy ends
// sooner); now holds the new ones for the encoder and is null for the
// decoder. Writes the new bytes to out (room for RUN_LIMIT) and returns
// their count: 0 when the stream asks for what cannot be.
template <typename Coder>
HOT_INLINE int CodeCopyStep(Coder* c, CompactModel2* m, const uint8_t* old,
                            int32_t available, const uint8_t* now, uint8_t* out) {
  int run = m->state.since >= QUIET_AFTER && m->state.unsure == 0
                ? SureRun(m, old, available)
                : 0;
  if (run > 0) {
    bool same = true;
    for (int i = 0; now != nullptr && i < run; i++)
      same = same && now[i] == old[i];
    if (!c->Bit(&m->quiet[BitWidth(static_cast<uint32_t>(run))], !same))
      return CopyUnchanged(m, old, run, out);
    // A change is among them, to be found byte by byte.
    m->state.unsure = run;
  }
  // A change is likelier where the old bytes look like the address or
  // displacement that changed last.
  uint32_t high = available >= 4 ? (uint32_t{old[2]} | uint32_t{old[3]} << 8) + 1 : 0;
  int like = high == m->state.lastHigh;
  int history = static_cast<int>(m->state.changes & 7) << 9 | like << 8;
  CompactProbability* after = &m->changedAfter[history | m->state.lastOld];
  CompactProbability* at = &m->changedAt[m->state.since << 9 | like << 8 | old[0]];
  // The last byte of such a run changed if none before it did.
  int changed = m->state.unsure == 1;
  if (changed) {
    AdaptTo(after, 1, ADAPT_SHIFT);
    AdaptTo(at, 1, ADAPT_SHIFT);
  } else {
    changed =
        CodeMixed(c, m, after, ADAPT_SHIFT, at, ADAPT_SHIFT, m->weights[history >> 8],
                  CHANGE_MIX_RATE, now != nullptr && now[0] != old[0]);
  }
  m->state.unsure = changed || m->state.unsure == 0 ? 0 : m->state.unsure - 1;
  if (FAST_WAYS && history >> 9 == 0)
    NoteSure(m, m->state.lastOld);
  if (FAST_WAYS && m->state.since == STRIDE_LIMIT)
    NoteSure(m, old[0]);
  int count = 1;
  out[0] = old[0];
  if (changed) {
    m->state.lastHigh = high;
    int index = now != nullptr ? FindDelta(m, old, available, now) : -1;
    m->state.lastHit = c->Bit(&m->deltaHit[m->state.lastHit | like << 1], index >= 0);
    if (m->state.lastHit) {
      uint32_t delta =
          m->state
              .deltas[CodeTree(c, m->deltaIndex[like], 4, static_cast<uint32_t>(index))];
      int zeros = LowZeroBytes(delta);
      count = 4 - zeros;
      if (delta == 0 || count > available)
        return 0;
      AddDelta(old, delta >> (8 * zeros), count, out);
      PromoteDelta(m, delta);
    } else {
      uint32_t difference = CodeTree(c, m->difference[old[0] >> 1], 8,
                                     now != nullptr ? uint8_t(now[0] - old[0]) : 0);
      if (difference == 0)
        return 0;
      out[0] = static_cast<uint8_t>(old[0] + difference);
      if (m->state.deltaDue == 0)
        m->state.deltaDue = 4;
    }
  }
  for (int i = 0; i < count; i++)
    NoteCopied(m, old[i], out[i]);
  return count;
}

inline uint8_t NoteLiteral(CompactModel2* m, uint8_t byte) {
  m->state.lastNew = byte;
  return byte;
}

// A literal byte: its order-1 and order-0 predictions mixed.
template <typename Coder>
uint8_t CodeLiteral2(Coder* c, CompactModel2* m, uint8_t byte) {
  CompactProbability* after = m->literal[m->state.lastNew];
  uint32_t node = 1, rest = byte;
  for (; node < 256; rest <<= 1)
    node = node << 1 | CodeMixed(c, m, &after[node], 3, &m->literalAlone[node], 4,
                                 m->weights[CHANGE_WEIGHTS + node], LITERAL_MIX_RATE,
                                 (rest >> 7) & 1);
  return NoteLiteral(m, static_cast<uint8_t>(node));
}

// The literal part of a block is made of single bytes and repeats of
// earlier new bytes: a distance back and a length.
struct Repeat {
  int32_t distance;
  int32_t length;  // 0: a single byte
};

// Whether a repeat comes next and, if so, its numbers; a single byte's
// value is the caller's to code.
template <typename Coder>
Repeat CodeRepeat(Coder* c, CompactModel2* m, Repeat repeat) {
  m->state.lastRepeat = c->Bit(&m->repeat[m->state.lastRepeat], repeat.length > 0);
  if (!m->state.lastRepeat)
    return Repeat{0, 0};
  if (!c->Bit(&m->sameDistance, repeat.distance == m->state.lastDistance))
    m->state.lastDistance = CodeLength(c, &m->lengths[FIELD_DISTANCE],
                                       static_cast<uint32_t>(repeat.distance));
  int32_t length =
      CodeLength(c, &m->lengths[FIELD_REPEAT], static_cast<uint32_t>(repeat.length));
  return Repeat{m->state.lastDistance, length};
}

inline void AddToSum(CompactSum* sum, const uint8_t* bytes, int32_t count) {
  // 5552 bytes are the most that cannot overflow 32 bits between reductions.
  constexpr int32_t RUN = 5552;
  uint32_t low = sum->low, high = sum->high;
  while (count > 0) {
    int32_t run = count < RUN ? count : RUN, i = 0;
    count -= run;
    for (; FAST_WAYS && i + 4 <= run; i += 4) {
      low += bytes[i];
      high += low;
      low += bytes[i + 1];
      high += low;
      low += bytes[i + 2];
      high += low;
      low += bytes[i + 3];
      high += low;
    }
    for (; i < run; i++) {
      low += bytes[i];
      high += low;
    }
    bytes += run;
    low %= ADLER_MODULUS;
    high %= ADLER_MODULUS;
  }
  sum->low = low;
  sum->high = high;
}
