// The compact stream's model, written once for both directions: a Coder
// either encodes the bit it is given or decodes one and ignores it, and
// returns the bit either way; the bit's probability then adapts by
// 1 / 2^shift. Included by the encoder and the decoder only.
#pragma once

#include "format/compact.h"

constexpr int PROBABILITY_BITS = 16;
constexpr CompactProbability PROBABILITY_START = 1 << (PROBABILITY_BITS - 1);
constexpr int ADAPT_SHIFT = 3;
// Literal bytes are new code or data, some of it close to random: their
// probabilities settle more and swing less.
constexpr int LITERAL_ADAPT_SHIFT = 4;
constexpr uint32_t RANGE_TOP = 1u << 24;
constexpr int RANGE_START_BYTES = 5;
constexpr uint32_t ADLER_MODULUS = 65521;
constexpr int LENGTH_WIDTH_BITS = 5;

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

template <typename Table>
void StartTable(Table& table) {
  StartProbabilities(reinterpret_cast<CompactProbability*>(&table),
                     static_cast<int>(sizeof table / sizeof(CompactProbability)));
}

inline void StartModel(CompactModel* m) {
  StartTable(m->changed);
  StartTable(m->difference);
  StartTable(m->literal);
  StartTable(m->width);
  StartTable(m->mantissa);
  m->jumpBack = PROBABILITY_START;
  m->changes = 0;
  m->lastOld = m->lastNew = m->lastDifference = 0;
}

// bits bits of value, most significant first, through a binary tree of
// probabilities (2^bits of them, the first unused).
template <typename Coder>
uint32_t CodeTree(Coder* c, CompactProbability* tree, int bits, uint32_t value,
                  int shift = ADAPT_SHIFT) {
  uint32_t node = 1;
  for (int i = bits - 1; i >= 0; i--)
    node = (node << 1) | c->Bit(&tree[node], (value >> i) & 1, shift);
  return node - (1u << bits);
}

inline int BitWidth(uint32_t value) {
  int width = 0;
  for (; value != 0; value >>= 1)
    width++;
  return width;
}

// A length below 2^31: its bit width, then the bits below the leading one.
template <typename Coder>
int32_t CodeLength(Coder* c, CompactModel* m, CompactField field, uint32_t value) {
  int width = static_cast<int>(CodeTree(c, m->width[field], LENGTH_WIDTH_BITS,
                                        static_cast<uint32_t>(BitWidth(value))));
  if (width == 0)
    return 0;
  uint32_t result = 1;
  for (int i = width - 2; i >= 0; i--)
    result = (result << 1) | c->Bit(&m->mantissa[field][width][i], (value >> i) & 1);
  return static_cast<int32_t>(result);
}

// A copied byte: whether it differs from the old byte under it, judged by
// the recent changes and the old byte before; then by how much.
template <typename Coder>
uint8_t CodeCopied(Coder* c, CompactModel* m, uint8_t oldByte, uint8_t newByte) {
  int context = static_cast<int>((m->changes & 7) << 8 | m->lastOld);
  int changed = c->Bit(&m->changed[context], newByte != oldByte);
  uint8_t difference = 0;
  if (changed)
    difference = static_cast<uint8_t>(CodeTree(c, m->difference[m->lastDifference], 8,
                                               static_cast<uint8_t>(newByte - oldByte)));
  m->changes = m->changes << 1 | static_cast<uint32_t>(changed);
  m->lastDifference = difference;
  m->lastOld = oldByte;
  m->lastNew = static_cast<uint8_t>(oldByte + difference);
  return m->lastNew;
}

template <typename Coder>
uint8_t CodeLiteral(Coder* c, CompactModel* m, uint8_t newByte) {
  m->lastNew = static_cast<uint8_t>(
      CodeTree(c, m->literal[m->lastNew], 8, newByte, LITERAL_ADAPT_SHIFT));
  return m->lastNew;
}

// The jump's direction, then its size, then the block's two lengths.
struct BlockHead {
  int32_t jump;
  int32_t copy;
  int32_t literal;
};

template <typename Coder>
BlockHead CodeBlockHead(Coder* c, CompactModel* m, BlockHead head) {
  int back = c->Bit(&m->jumpBack, head.jump < 0);
  int32_t size = CodeLength(
      c, m, FIELD_JUMP, static_cast<uint32_t>(head.jump < 0 ? -head.jump : head.jump));
  BlockHead result;
  result.jump = back ? -size : size;
  result.copy = CodeLength(c, m, FIELD_COPY, static_cast<uint32_t>(head.copy));
  result.literal = CodeLength(c, m, FIELD_LITERAL, static_cast<uint32_t>(head.literal));
  return result;
}

inline void AddToSum(CompactSum* sum, const uint8_t* bytes, int32_t count) {
  // 5552 bytes are the most that cannot overflow 32 bits between reductions.
  constexpr int32_t RUN = 5552;
  while (count > 0) {
    int32_t run = count < RUN ? count : RUN;
    count -= run;
    for (int32_t i = 0; i < run; i++) {
      sum->low += bytes[i];
      sum->high += sum->low;
    }
    bytes += run;
    sum->low %= ADLER_MODULUS;
    sum->high %= ADLER_MODULUS;
  }
}
