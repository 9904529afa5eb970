// Where in a large old file a piece of the new one comes from: the old
// file's SAMPLE_WIDTH-byte strings at every step-th place, kept as hashes in
// a table of fixed size, built from the file read in pieces; a piece of
// the new file looked up there string by string; and the old regions that
// the windowed compact encoder should hold for that piece, within its
// capacity. Pure computation; the table is allocated once.
#pragma once

#include <cstdint>

constexpr int32_t SAMPLE_WIDTH = 32;

struct OldSamples {
  int32_t oldSize;
  int32_t step;
  int slotBits;
  uint32_t* slots;  // place + 1 (0: empty) and a check, in pairs
};

// What StartSamples takes at most for memory bytes of table: the step grows
// with the old file so that the table fits.
int64_t SamplesMemory(int32_t oldSize, int64_t memory);

bool StartSamples(OldSamples* samples, int32_t oldSize, int64_t memory);
void FreeSamples(OldSamples* samples);

// Takes the samples whose strings start in [start, start + count) from
// bytes, which hold the old file from start for count + SAMPLE_WIDTH - 1
// bytes or up to its end.
void AddSamples(OldSamples* samples, const uint8_t* bytes, int32_t start, int32_t count);

// A stretch of the new file found in the old file at a fixed distance:
// the new bytes [newStart, newEnd) against the old ones from oldStart.
struct SampleRun {
  int32_t newStart;
  int32_t newEnd;
  int32_t oldStart;
};

// Looks up every string of now[0..count), the new file's bytes from
// newStart, and records the stretches found, in new file order, up to
// capacity of them. Returns their number.
int32_t FindRuns(const OldSamples* samples, const uint8_t* now, int32_t count,
                 int32_t newStart, SampleRun* runs, int32_t capacity);

// A stretch of the old file.
struct OldRegion {
  int32_t start;
  int32_t length;
};

// What a segment of the new file asks of the window, and what it gets.
struct RegionPlan {
  int32_t start;     // the segment is the new bytes [start, start + count),
  int32_t count;     // cut short where the old regions it draws on stop fitting
  int32_t aligned;   // the old file place the last copy's alignment leads to
  int32_t capacity;  // the window's bytes
  int32_t grow;      // the most the regions may grow by
};

constexpr int32_t PLANNED_REGIONS = 256;

// The old regions to hold for the segment: around the aligned stretch and
// the runs of more than one sample that FindRuns found in it, in its order,
// merged where they meet, cutting the segment short before the first run
// that does not fit; then grown into the rest of the capacity, mostly
// forward. In old file order, at most PLANNED_REGIONS of them; returns
// their number.
int32_t PlanRegions(const SampleRun* runs, int32_t runCount, int32_t oldSize,
                    RegionPlan* plan, OldRegion* regions);
