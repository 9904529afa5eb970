// Induced sorting: the suffixes that start a run of smaller-than-next
// characters (the leftmost ones of each such run) are sorted first, through
// a string of their names that is sorted the same way one level down; every
// other suffix then falls into place in two scans. The end of the text acts
// as a character below all others without being stored.
#include "format/suffix_array.h"

#include <cstdlib>
#include <cstring>

namespace {

constexpr int32_t BYTE_VALUES = 256;
constexpr int32_t EMPTY = -1;

// The arrays of one level: its text, the suffix types (1: the suffix is
// smaller than the one after it) and one bucket bound per character.
template <typename Char>
struct Level {
  const Char* text;
  int32_t count;
  int32_t alphabet;
  uint8_t* smaller;
  int32_t* bucket;
};

template <typename Char>
void FindBuckets(const Level<Char>& l, bool ends) {
  std::memset(l.bucket, 0, sizeof(int32_t) * l.alphabet);
  for (int32_t i = 0; i < l.count; i++)
    l.bucket[l.text[i]]++;
  int32_t sum = 0;
  for (int32_t c = 0; c < l.alphabet; c++) {
    int32_t size = l.bucket[c];
    l.bucket[c] = ends ? sum + size : sum;
    sum += size;
  }
}

template <typename Char>
bool StartsRun(const Level<Char>& l, int32_t i) {
  return i > 0 && l.smaller[i] && !l.smaller[i - 1];
}

template <typename Char>
void Classify(const Level<Char>& l) {
  l.smaller[l.count - 1] = 0;
  for (int32_t i = l.count - 2; i >= 0; i--)
    l.smaller[i] =
        l.text[i] < l.text[i + 1] || (l.text[i] == l.text[i + 1] && l.smaller[i + 1]);
}

// From the run starts in place, the larger-type suffixes left to right
// (the last suffix first, as the end of the text comes before everything),
// then the smaller-type ones right to left.
template <typename Char>
void Induce(const Level<Char>& l, int32_t* sa) {
  FindBuckets(l, false);
  sa[l.bucket[l.text[l.count - 1]]++] = l.count - 1;
  for (int32_t i = 0; i < l.count; i++) {
    int32_t j = sa[i] - 1;
    if (sa[i] > 0 && !l.smaller[j])
      sa[l.bucket[l.text[j]]++] = j;
  }
  FindBuckets(l, true);
  for (int32_t i = l.count - 1; i >= 0; i--) {
    int32_t j = sa[i] - 1;
    if (sa[i] > 0 && l.smaller[j])
      sa[--l.bucket[l.text[j]]] = j;
  }
}

// Whether the run-start substrings at a and b (up to the next run start,
// inclusive) differ; the one that reaches the end of the text is unique.
template <typename Char>
bool SubstringsDiffer(const Level<Char>& l, int32_t a, int32_t b) {
  for (int32_t d = 0;; d++) {
    if (a + d == l.count || b + d == l.count || l.text[a + d] != l.text[b + d] ||
        l.smaller[a + d] != l.smaller[b + d])
      return true;
    if (d > 0 && (StartsRun(l, a + d) || StartsRun(l, b + d)))
      return false;
  }
}

// Names the sorted run starts held in sa[0..runs) and leaves the names in
// text order in sa[count - runs..count). Returns the number of names.
template <typename Char>
int32_t NameRuns(const Level<Char>& l, int32_t* sa, int32_t runs) {
  for (int32_t i = runs; i < l.count; i++)
    sa[i] = EMPTY;
  int32_t names = 0;
  for (int32_t i = 0, previous = EMPTY; i < runs; i++) {
    int32_t at = sa[i];
    if (previous == EMPTY || SubstringsDiffer(l, at, previous))
      names++;
    previous = at;
    sa[runs + at / 2] = names - 1;  // run starts are never adjacent
  }
  for (int32_t i = l.count - 1, j = l.count - 1; i >= runs; i--)
    if (sa[i] != EMPTY)
      sa[j--] = sa[i];
  return names;
}

template <typename Char>
bool SortLevel(const Char* text, int32_t count, int32_t alphabet, int32_t* sa);

// Sorts the run starts: their names one level down, or directly when the
// names are all distinct. Leaves them sorted in sa[0..runs).
template <typename Char>
bool SortRuns(const Level<Char>& l, int32_t* sa, int32_t runs, int32_t names) {
  int32_t* reduced = sa + l.count - runs;
  if (names < runs) {
    if (!SortLevel(static_cast<const int32_t*>(reduced), runs, names, sa))
      return false;
  } else {
    for (int32_t i = 0; i < runs; i++)
      sa[reduced[i]] = i;
  }
  for (int32_t i = 1, j = 0; i < l.count; i++)
    if (StartsRun(l, i))
      reduced[j++] = i;
  for (int32_t i = 0; i < runs; i++)
    sa[i] = reduced[sa[i]];
  return true;
}

template <typename Char>
bool SortWith(Level<Char>& l, int32_t* sa) {
  Classify(l);
  FindBuckets(l, true);
  for (int32_t i = 0; i < l.count; i++)
    sa[i] = EMPTY;
  for (int32_t i = 1; i < l.count; i++)
    if (StartsRun(l, i))
      sa[--l.bucket[l.text[i]]] = i;
  Induce(l, sa);
  int32_t runs = 0;
  for (int32_t i = 0; i < l.count; i++)
    if (StartsRun(l, sa[i]))
      sa[runs++] = sa[i];
  int32_t names = NameRuns(l, sa, runs);
  // The level below needs its own buckets; these are rebuilt afterwards.
  std::free(l.bucket);
  l.bucket = nullptr;
  if (!SortRuns(l, sa, runs, names))
    return false;
  l.bucket = static_cast<int32_t*>(std::malloc(sizeof(int32_t) * l.alphabet));
  if (l.bucket == nullptr)
    return false;
  for (int32_t i = runs; i < l.count; i++)
    sa[i] = EMPTY;
  FindBuckets(l, true);
  for (int32_t i = runs - 1; i >= 0; i--) {
    int32_t j = sa[i];
    sa[i] = EMPTY;
    sa[--l.bucket[l.text[j]]] = j;
  }
  Induce(l, sa);
  return true;
}

template <typename Char>
bool SortLevel(const Char* text, int32_t count, int32_t alphabet, int32_t* sa) {
  if (count == 1)
    sa[0] = 0;
  if (count <= 1)
    return true;
  Level<Char> l{text, count, alphabet, nullptr, nullptr};
  l.smaller = static_cast<uint8_t*>(std::malloc(count));
  l.bucket = static_cast<int32_t*>(std::malloc(sizeof(int32_t) * alphabet));
  bool sorted = l.smaller != nullptr && l.bucket != nullptr && SortWith(l, sa);
  std::free(l.smaller);
  std::free(l.bucket);
  return sorted;
}

// Common prefix length of pattern and text from at, counting from known
// (or from the shorter one's end, which the one-byte suffix in a pair
// bucket has before known).
int32_t CommonLength(const uint8_t* text, int32_t count, int32_t at,
                     const uint8_t* pattern, int32_t patternLength, int32_t known) {
  int32_t limit = count - at < patternLength ? count - at : patternLength;
  if (known > limit)
    known = limit;
  while (known < limit && text[at + known] == pattern[known])
    known++;
  return known;
}

}  // namespace

bool SortSuffixes(const uint8_t* text, int32_t count, int32_t* suffixes) {
  return SortLevel(text, count, BYTE_VALUES, suffixes);
}

void FindPairBuckets(const uint8_t* text, int32_t count, int32_t* buckets) {
  for (int32_t i = 0; i <= PAIR_BUCKETS; i++)
    buckets[i] = 0;
  for (int32_t i = 0; i < count; i++)
    buckets[text[i] << 8 | (i + 1 < count ? text[i + 1] : 0)]++;
  for (int32_t i = 0, sum = 0; i <= PAIR_BUCKETS; i++) {
    int32_t size = buckets[i];
    buckets[i] = sum;
    sum += size;
  }
}

SuffixMatch LongestMatch(const uint8_t* text, int32_t count, const int32_t* suffixes,
                         const int32_t* buckets, const uint8_t* pattern,
                         int32_t patternLength) {
  // Between the bounds, every suffix shares at least the smaller of the
  // two bounds' common lengths with the pattern, so comparing starts there;
  // inside the pattern's pair bucket, at least two.
  int32_t low = -1, high = count, lowLength = 0, highLength = 0, shared = 0;
  if (buckets != nullptr && patternLength >= 2) {
    int32_t pair = pattern[0] << 8 | pattern[1];
    if (buckets[pair] < buckets[pair + 1]) {
      low = buckets[pair] - 1;
      high = buckets[pair + 1];
      shared = 2;
    }
  }
  while (high - low > 1) {
    int32_t middle = low + (high - low) / 2;
    int32_t at = suffixes[middle];
    int32_t known = lowLength < highLength ? lowLength : highLength;
    int32_t length = CommonLength(text, count, at, pattern, patternLength,
                                  known > shared ? known : shared);
    if (length == patternLength)
      return {at, length};
    if (at + length == count || text[at + length] < pattern[length]) {
      low = middle;
      lowLength = length;
    } else {
      high = middle;
      highLength = length;
    }
  }
  if (low >= 0 && (high == count || lowLength >= highLength))
    return {suffixes[low], lowLength};
  if (high < count)
    return {suffixes[high], highLength};
  return {0, 0};
}
