#include "format/old_samples.h"

#include <algorithm>
#include <cstdlib>

namespace {

constexpr int32_t MIN_STEP = 16;
constexpr int MIN_SLOT_BITS = 10;
constexpr int PROBE_LIMIT = 16;
// A run is held with some of the old file around it: the matcher stretches
// copies past the sampled strings, and finds short matches near them. The
// longer the run, the more, up to PAD (or an eighth of a small window); a
// short one, likely a piece moved on its own, gets little more than the
// samples it may have missed at its ends. Hits further apart on one
// diagonal are separate runs.
constexpr int32_t PAD = 1 << 16;
constexpr int32_t SHORT_PAD = 1 << 10;
// A segment is cut short rather than lose a run, but never to less than a
// SHORTEST_PART-th of it.
constexpr int32_t SHORTEST_PART = 16;
// Strings are hashed as a polynomial in this odd number.
constexpr uint64_t MULTIPLIER = 0x100000001B3u;

constexpr uint64_t PowerOfMultiplier(int exponent) {
  uint64_t power = 1;
  for (int i = 0; i < exponent; i++)
    power *= MULTIPLIER;
  return power;
}

constexpr uint64_t LEADING_POWER = PowerOfMultiplier(SAMPLE_WIDTH - 1);

uint64_t StringHash(const uint8_t* bytes) {
  uint64_t hash = 0;
  for (int i = 0; i < SAMPLE_WIDTH; i++)
    hash = hash * MULTIPLIER + bytes[i];
  return hash;
}

uint64_t RollHash(uint64_t hash, uint8_t out, uint8_t in) {
  return (hash - out * LEADING_POWER) * MULTIPLIER + in;
}

uint32_t SlotOf(uint64_t hash, int bits) {
  return static_cast<uint32_t>(((hash ^ hash >> 29) * 0x9E3779B97F4A7C15u) >>
                               (64 - bits));
}

uint32_t CheckOf(uint64_t hash) {
  return static_cast<uint32_t>(hash);
}

// A string that occurs at several sampled places keeps the first.
void Insert(OldSamples* s, uint64_t hash, int32_t place) {
  uint32_t mask = (1u << s->slotBits) - 1, check = CheckOf(hash);
  for (uint32_t slot = SlotOf(hash, s->slotBits), i = 0; i < PROBE_LIMIT;
       i++, slot = (slot + 1) & mask) {
    uint32_t* entry = s->slots + 2 * slot;
    if (entry[0] != 0 && entry[1] == check)
      return;
    if (entry[0] == 0) {
      entry[0] = static_cast<uint32_t>(place) + 1;
      entry[1] = check;
      return;
    }
  }
}

// The sampled place whose string has this hash, or -1.
int32_t Find(const OldSamples* s, uint64_t hash) {
  uint32_t mask = (1u << s->slotBits) - 1, check = CheckOf(hash);
  for (uint32_t slot = SlotOf(hash, s->slotBits), i = 0; i < PROBE_LIMIT;
       i++, slot = (slot + 1) & mask) {
    const uint32_t* entry = s->slots + 2 * slot;
    if (entry[0] == 0)
      return -1;
    if (entry[1] == check)
      return static_cast<int32_t>(entry[0] - 1);
  }
  return -1;
}

// As many slots as memory allows, up to twice the samples at the shortest
// step; the step then keeps the table at most half full.
void Size(int32_t oldSize, int64_t memory, int32_t* step, int* slotBits) {
  int bits = MIN_SLOT_BITS;
  while (bits < 31 && (int64_t{8} << (bits + 1)) <= memory &&
         (int64_t{1} << bits) < 2 * (int64_t{oldSize} / MIN_STEP + 1))
    bits++;
  int32_t s = MIN_STEP;
  while (s < (1 << 30) && int64_t{oldSize} / s > (int64_t{1} << bits) / 2)
    s *= 2;
  *step = s;
  *slotBits = bits;
}

// Runs of tiny length are dropped first when the runs' room is full.
int32_t DropShortRuns(SampleRun* runs, int32_t count) {
  int32_t shortest = 2 * SAMPLE_WIDTH;
  for (;; shortest *= 2) {
    int32_t kept = 0;
    for (int32_t i = 0; i < count; i++)
      if (runs[i].newEnd - runs[i].newStart >= shortest)
        runs[kept++] = runs[i];
    if (kept < count)
      return kept;
  }
}

struct Weighed {
  OldRegion region;
  int64_t weight;  // new bytes the runs in it cover
};

// Adds the region around a run to the sorted, disjoint regions, merged
// with those it meets, if they then still fit in capacity bytes and
// PLANNED_REGIONS entries; false when they would not.
bool AddAround(Weighed* regions, int32_t* count, int32_t capacity, Weighed next) {
  int64_t start = next.region.start, end = start + next.region.length;
  int64_t total = 0, merged = 0;
  int32_t first = *count, last = -1;  // the regions it meets
  for (int32_t i = 0; i < *count; i++) {
    const OldRegion& r = regions[i].region;
    total += r.length;
    if (r.start <= end && start <= int64_t{r.start} + r.length) {
      first = std::min(first, i);
      last = i;
    }
  }
  int64_t weight = next.weight;
  for (int32_t i = first; i <= last; i++) {
    const OldRegion& r = regions[i].region;
    start = std::min<int64_t>(start, r.start);
    end = std::max<int64_t>(end, int64_t{r.start} + r.length);
    merged += r.length;
    weight += regions[i].weight;
  }
  int32_t after = *count - (last >= first ? last - first + 1 : 0) + 1;
  if (total - merged + (end - start) > capacity || after > PLANNED_REGIONS)
    return false;
  if (last < first) {  // meets none: inserted in order
    first = 0;
    while (first < *count && regions[first].region.start < start)
      first++;
    for (int32_t i = *count; i > first; i--)
      regions[i] = regions[i - 1];
  } else {  // replaces those it meets
    for (int32_t i = last + 1, j = first + 1; i < *count; i++, j++)
      regions[j] = regions[i];
  }
  regions[first] =
      Weighed{{static_cast<int32_t>(start), static_cast<int32_t>(end - start)}, weight};
  *count = after;
  return true;
}

// The region around the part of a run before end, weighed by its length.
Weighed Around(const SampleRun& run, int32_t end, int32_t oldSize, int32_t capacity) {
  int32_t length = std::min(run.newEnd, end) - run.newStart;
  int32_t pad = std::min({PAD, capacity / 8, SHORT_PAD + length / 2});
  int64_t from = std::max<int64_t>(0, int64_t{run.oldStart} - pad);
  int64_t to = std::min<int64_t>(oldSize, int64_t{run.oldStart} + length + pad);
  return Weighed{{static_cast<int32_t>(from), static_cast<int32_t>(to - from)}, length};
}

// The aligned stretch, then the runs in new file order as long as they
// fit; the segment ends before the first that does not, unless that would
// leave too little of it. A run of one sample is likely a string that
// recurs, found at its first place: not held. -1 when it was cut short.
int32_t HoldRuns(const SampleRun* runs, int32_t runCount, int32_t oldSize,
                 RegionPlan* plan, Weighed* kept) {
  int32_t end = plan->start + plan->count, count = 0;
  SampleRun aligned{plan->start, end, plan->aligned};
  AddAround(kept, &count, plan->capacity, Around(aligned, end, oldSize, plan->capacity));
  for (int32_t i = 0; i < runCount && runs[i].newStart < end; i++) {
    if (runs[i].newEnd - runs[i].newStart <= SAMPLE_WIDTH ||
        AddAround(kept, &count, plan->capacity,
                  Around(runs[i], end, oldSize, plan->capacity)))
      continue;
    if (runs[i].newStart - plan->start >= plan->count / SHORTEST_PART) {
      plan->count = runs[i].newStart - plan->start;
      return -1;
    }
  }
  return count;
}

int64_t TotalLength(const Weighed* regions, int32_t count) {
  int64_t total = 0;
  for (int32_t i = 0; i < count; i++)
    total += regions[i].region.length;
  return total;
}

// Grows each region by its share of grow, a quarter backward and the rest
// forward, where the encoder goes next; overlapping ones are merged.
int32_t Grow(Weighed* regions, int32_t count, int32_t oldSize, int64_t grow) {
  int64_t weight = 0;
  for (int32_t i = 0; i < count; i++)
    weight += regions[i].weight;
  int32_t merged = 0;
  for (int32_t i = 0; i < count; i++) {
    int64_t share = weight > 0 ? grow * regions[i].weight / weight : grow / count;
    OldRegion& r = regions[i].region;
    int64_t start = std::max<int64_t>(0, r.start - share / 4);
    int64_t end =
        std::min<int64_t>(oldSize, int64_t{r.start} + r.length + share - share / 4);
    OldRegion* last = merged > 0 ? &regions[merged - 1].region : nullptr;
    if (last != nullptr && start <= int64_t{last->start} + last->length) {
      if (end > int64_t{last->start} + last->length)
        last->length = static_cast<int32_t>(end - last->start);
    } else {
      regions[merged++].region =
          OldRegion{static_cast<int32_t>(start), static_cast<int32_t>(end - start)};
    }
  }
  return merged;
}

}  // namespace

int64_t SamplesMemory(int32_t oldSize, int64_t memory) {
  int32_t step;
  int bits;
  Size(oldSize, memory, &step, &bits);
  return int64_t{8} << bits;
}

bool StartSamples(OldSamples* s, int32_t oldSize, int64_t memory) {
  s->oldSize = oldSize;
  Size(oldSize, memory, &s->step, &s->slotBits);
  s->slots =
      static_cast<uint32_t*>(std::calloc(size_t{2} << s->slotBits, sizeof(uint32_t)));
  return s->slots != nullptr;
}

void FreeSamples(OldSamples* s) {
  std::free(s->slots);
  *s = OldSamples{};
}

void AddSamples(OldSamples* s, const uint8_t* bytes, int32_t start, int32_t count) {
  int64_t first = (int64_t{start} + s->step - 1) / s->step * s->step;
  for (int64_t place = first;
       place < int64_t{start} + count && place + SAMPLE_WIDTH <= s->oldSize;
       place += s->step)
    Insert(s, StringHash(bytes + (place - start)), static_cast<int32_t>(place));
}

// Every string is looked up until one is found; along a run only the
// places where the next sample should be are, so that a piece of the new
// file that the old one has costs a lookup every step bytes.
int32_t FindRuns(const OldSamples* s, const uint8_t* now, int32_t count, int32_t newStart,
                 SampleRun* runs, int32_t capacity) {
  int32_t found = 0;
  if (count < SAMPLE_WIDTH)
    return 0;
  uint64_t hash = StringHash(now);
  for (int32_t at = 0;;) {
    int32_t place = Find(s, hash);
    if (place >= 0) {
      SampleRun* last = found > 0 ? &runs[found - 1] : nullptr;
      int32_t newAt = newStart + at;
      if (last != nullptr && place - newAt == last->oldStart - last->newStart &&
          newAt <= int64_t{last->newEnd} + PAD) {
        last->newEnd = newAt + SAMPLE_WIDTH;
      } else {
        if (found == capacity)
          found = DropShortRuns(runs, found);
        runs[found++] = SampleRun{newAt, newAt + SAMPLE_WIDTH, place};
      }
    }
    int32_t next = place >= 0 ? at + s->step : at + 1;
    if (next + SAMPLE_WIDTH > count)
      return found;
    hash = next == at + 1 ? RollHash(hash, now[at], now[at + SAMPLE_WIDTH])
                          : StringHash(now + next);
    at = next;
  }
}

int32_t PlanRegions(const SampleRun* runs, int32_t runCount, int32_t oldSize,
                    RegionPlan* plan, OldRegion* regions) {
  Weighed kept[PLANNED_REGIONS];
  // Cut short, the segment is planned again up to the cut, which can come
  // out differently where its shorter runs merge otherwise.
  int32_t count;
  while ((count = HoldRuns(runs, runCount, oldSize, plan, kept)) < 0) {
  }
  int64_t room = plan->capacity - TotalLength(kept, count);
  count = Grow(kept, count, oldSize, std::min<int64_t>(room, plan->grow));
  for (int32_t i = 0; i < count; i++)
    regions[i] = kept[i].region;
  return count;
}
