// Chains of a text's places by the hash of their first CHAIN_GRAM bytes,
// every CHAIN_STEP-th place, newest first; and the longest match of a
// pattern among the CHAIN_DEPTH most recent places of each chain it may
// start at. Cheap to build for any stretch of text, close to the longest
// match anywhere: the windowed compact encoder's index of the old bytes it
// holds. Pure computation over arrays it allocates once.
#pragma once

#include <cstdint>
#include <cstring>

#include "format/suffix_array.h"

constexpr int32_t CHAIN_STEP = 2;
constexpr int32_t CHAIN_GRAM = 8;
constexpr int CHAIN_DEPTH = 48;

// The eight bytes from bytes hashed to bits bits (up to 32); inline, as
// matchers call it at nearly every place they search.
inline uint32_t GramHash(const uint8_t* bytes, int bits) {
  uint64_t gram;
  std::memcpy(&gram, bytes, sizeof gram);
  return static_cast<uint32_t>((gram * 0x9E3779B97F4A7C15u) >> (64 - bits));
}

struct MatchChains {
  int32_t capacity;  // the longest text it can index
  int headBits;
  int32_t* head;      // newest place for each hash, -1 for none
  int32_t* previous;  // the next older place on the same chain, per place / CHAIN_STEP
};

// What StartChains takes for a text of up to capacity bytes.
int64_t ChainsMemory(int32_t capacity);

// False, with nothing to free, when the memory could not be had.
bool StartChains(MatchChains* chains, int32_t capacity);
void FreeChains(MatchChains* chains);

// Forgets what was indexed and indexes text[0..count), count <= capacity.
void IndexText(MatchChains* chains, const uint8_t* text, int32_t count);

// The longest prefix of pattern found at the chained places, or a zero
// length; prefixes shorter than CHAIN_GRAM are not looked for.
SuffixMatch ChainMatch(const MatchChains* chains, const uint8_t* text, int32_t count,
                       const uint8_t* pattern, int32_t patternLength);
