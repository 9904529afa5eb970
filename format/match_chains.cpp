#include "format/match_chains.h"

#include <cstdlib>
#include <cstring>

namespace {

constexpr int MIN_HEAD_BITS = 12;
constexpr int MAX_HEAD_BITS = 24;

// About two chained places a chain.
int HeadBits(int32_t capacity) {
  int bits = MIN_HEAD_BITS;
  while (bits < MAX_HEAD_BITS && (int64_t{1} << (bits + 1)) * CHAIN_STEP <= capacity)
    bits++;
  return bits;
}

}  // namespace

int64_t ChainsMemory(int32_t capacity) {
  return (int64_t{1} << HeadBits(capacity)) * 4 +
         (int64_t{capacity} / CHAIN_STEP + 1) * 4;
}

bool StartChains(MatchChains* c, int32_t capacity) {
  c->capacity = capacity;
  c->headBits = HeadBits(capacity);
  c->head = static_cast<int32_t*>(std::malloc(sizeof(int32_t) << c->headBits));
  c->previous = static_cast<int32_t*>(
      std::malloc(sizeof(int32_t) * (static_cast<size_t>(capacity) / CHAIN_STEP + 1)));
  if (c->head != nullptr && c->previous != nullptr)
    return true;
  FreeChains(c);
  return false;
}

void FreeChains(MatchChains* c) {
  std::free(c->head);
  std::free(c->previous);
  *c = MatchChains{};
}

void IndexText(MatchChains* c, const uint8_t* text, int32_t count) {
  std::memset(c->head, 0xFF, sizeof(int32_t) << c->headBits);
  for (int32_t at = 0; at + CHAIN_GRAM <= count; at += CHAIN_STEP) {
    uint32_t hash = GramHash(text + at, c->headBits);
    c->previous[at / CHAIN_STEP] = c->head[hash];
    c->head[hash] = at;
  }
}

// A match may start up to CHAIN_STEP - 1 bytes before a chained place, so
// the pattern is looked up from each of its first CHAIN_STEP places.
SuffixMatch ChainMatch(const MatchChains* c, const uint8_t* text, int32_t count,
                       const uint8_t* pattern, int32_t patternLength) {
  SuffixMatch best{0, 0};
  for (int32_t shift = 0; shift < CHAIN_STEP && shift + CHAIN_GRAM <= patternLength;
       shift++) {
    int32_t place = c->head[GramHash(pattern + shift, c->headBits)];
    for (int tries = 0; tries < CHAIN_DEPTH && place >= 0;
         tries++, place = c->previous[place / CHAIN_STEP]) {
      int32_t at = place - shift;
      int32_t limit = count - at < patternLength ? count - at : patternLength;
      // Only a longer match counts, and most candidates differ right there.
      if (at < 0 || limit <= best.length ||
          text[at + best.length] != pattern[best.length])
        continue;
      int32_t length = 0;
      while (length < limit && text[at + length] == pattern[length])
        length++;
      if (length > best.length) {
        best = SuffixMatch{at, length};
        if (length == patternLength)
          return best;
      }
    }
  }
  return best;
}
