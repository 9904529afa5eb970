// Suffix sorting of a byte string and longest-match search over the result,
// for the compact encoder. Pure computation over caller-owned arrays.
#pragma once

#include <cstdint>

// Fills suffixes[0..count) with the starts of text's suffixes in ascending
// order (a shorter suffix before a longer one it begins). Besides the
// caller's 4 bytes a byte, sorting takes up to 4 more bytes a byte of the
// text from the C heap for a while; false when that could not be had.
bool SortSuffixes(const uint8_t* text, int32_t count, int32_t* suffixes);

struct SuffixMatch {
  int32_t position;  // in text
  int32_t length;
};

constexpr int32_t PAIR_BUCKETS = 1 << 16;

// Where the sorted suffixes that start with each two bytes begin:
// buckets[PAIR_BUCKETS + 1], the last one count. The one-byte suffix goes
// with its byte followed by 0, before all of them.
void FindPairBuckets(const uint8_t* text, int32_t count, int32_t* buckets);

// The longest prefix of pattern that occurs anywhere in text, given text's
// sorted suffixes and, to search less, their pair buckets (may be null).
SuffixMatch LongestMatch(const uint8_t* text, int32_t count, const int32_t* suffixes,
                         const int32_t* buckets, const uint8_t* pattern,
                         int32_t patternLength);
