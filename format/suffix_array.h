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

// The longest prefix of pattern that occurs anywhere in text, given text's
// sorted suffixes.
SuffixMatch LongestMatch(const uint8_t* text, int32_t count, const int32_t* suffixes,
                         const uint8_t* pattern, int32_t patternLength);
