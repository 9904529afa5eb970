// The compact stream: what follows the fourteen payload lines in a patch
// made with --compact, in place of the byte-by-byte records.
//
//   COMPACT_LEAD, COMPACT_MAGIC, a version byte  (a plain stream starts
//                                                 with 0x00 or 0x01)
//   range-coded blocks until the new file is complete, each:
//     a jump in the old file (from where the last copy ended), a copy length
//     and a literal length; the copied bytes as changes to the old file's
//     bytes there, then the literal bytes
//   the new file's Adler-32, four bytes, most significant first; the end
//
// Version 2, which the encoder writes, codes a change in a copy either as
// a byte difference or as one of the sixteen 32-bit word differences seen
// last (a moved address or displacement changes by the same amount in many
// places), and the literal bytes as single bytes, as repeats from the last
// COMPACT_BUFFER_SIZE bytes of the new file; a literal byte's two
// predictions, from the byte before and from none, are mixed by weights
// that learn which to trust, and so are those of whether a copied byte
// changed. Where those predictions are confident of a run of copied bytes,
// one bit says whether all of them are unchanged, and only if not are they
// judged one by one. Version 1 streams, with byte differences and single
// literal bytes only, still decode.
//
// The decoder streams: the caller feeds stream bytes, reads the old file at
// the offsets asked for and takes the new bytes, all through CompactIo, and
// places the fixed CompactDecoder record (no allocation). Every value read
// is checked before use; a damaged stream yields COMPACT_DAMAGED, and
// nothing is ever read or written outside the two files' sizes.
#pragma once

#include <cstdint>

#include "format/layout.h"

constexpr uint8_t COMPACT_LEAD = 0xFE;
constexpr uint8_t COMPACT_MAGIC[] = {'P', 'B', 'C'};
// The newest version, the one the encoder writes; the decoder takes every
// version from 1 up to it.
constexpr uint8_t COMPACT_VERSION = 2;

// Probabilities that the next bit is 0, in 1/65536.
using CompactProbability = uint16_t;

enum CompactField {
  FIELD_JUMP,
  FIELD_COPY,
  FIELD_LITERAL,
  FIELD_DISTANCE,  // of a repeat, version 2 on
  FIELD_REPEAT,
  FIELD_COUNT
};

constexpr int COMPACT_WIDTHS = 32;  // bit widths 0 to 31 of a length

// A length's bit width, then the bits below its leading one.
struct LengthModel {
  CompactProbability width[COMPACT_WIDTHS];
  CompactProbability mantissa[COMPACT_WIDTHS][COMPACT_WIDTHS];
};

// The adaptive models, the same on both sides, and what their contexts
// are made of: version 1's and version 2's. Each starts with its
// probabilities, all even at the start, and ends with its state, all zero.
struct CompactModel1 {
  CompactProbability changed[1 << 11];
  CompactProbability difference[256][256];
  CompactProbability literal[256][256];
  LengthModel lengths[FIELD_LITERAL + 1];
  CompactProbability jumpBack;
  struct {
    uint32_t changes;  // one bit per recent copied byte, 1 where it changed
    uint8_t lastOld;   // the old byte under the last copied byte
    uint8_t lastNew;
    uint8_t lastDifference;
  } state;
};

constexpr int CHANGE_CONTEXTS = 1 << 12;
constexpr int WORD_DELTAS = 16;
constexpr int STRETCH_STEPS = 4096;
constexpr int STRETCH_LIMIT = 2047;
constexpr int CHANGE_WEIGHTS = 16;
constexpr int STRIDE_LIMIT = 31;
// From QUIET_AFTER unchanged copied bytes on, up to RUN_LIMIT bytes that
// both predictions would be confident of, one by one, are judged at once;
// a step of a copy looks at most STEP_READS old bytes ahead.
constexpr int QUIET_AFTER = 3;
constexpr int RUN_LIMIT = 64;
constexpr int RUN_WIDTHS = 8;  // of a run's length
constexpr int STEP_READS = RUN_LIMIT + 3;

struct CompactModel2 {
  CompactProbability changedAfter[CHANGE_CONTEXTS];  // by the old byte before
  // by the old byte itself and the bytes since the last change, which
  // follows the records of a table
  CompactProbability changedAt[CHANGE_CONTEXTS << 2];
  CompactProbability quiet[RUN_WIDTHS];  // whether a run changed, by its length
  CompactProbability deltaHit[4];
  CompactProbability deltaIndex[2][WORD_DELTAS];
  CompactProbability difference[128][256];
  CompactProbability literal[256][256];
  CompactProbability literalAlone[256];
  CompactProbability repeat[2];  // after a literal byte or a repeat
  CompactProbability sameDistance;
  LengthModel lengths[FIELD_COUNT];
  CompactProbability jumpBack;
  // The mixers' weights, for changes and then for literal bits, and the
  // scale they work in; made at the start.
  int32_t weights[CHANGE_WEIGHTS + 256][2];
  int16_t stretch[STRETCH_STEPS];
  int16_t squash[2 * STRETCH_LIMIT + 1];
  struct {
    uint32_t deltas[WORD_DELTAS];  // most recent first
    // the bytes a copy made since a byte change, the latest on top, and the
    // old bytes under them
    uint32_t newWord;
    uint32_t oldWord;
    uint32_t changes;
    int since;          // bytes since the last changed one, up to STRIDE_LIMIT
    uint32_t lastHigh;  // 1 + the top half of the old word at the last change
    int32_t lastDistance;
    int deltaDue;  // bytes until a byte change's word is complete
    int lastHit;
    int lastRepeat;
    int unsure;  // bytes left of a run known to hold a change
    uint8_t lastOld;
    uint8_t lastNew;
    // By old byte, for bytes STRIDE_LIMIT or more after a change, whether
    // the predictions of no change are confident enough for a run: bit 0
    // the one after the byte, bit 1 the same where the old bytes look like
    // the address that changed last; bits 2 and 3 the one at the byte. The
    // tool keeps them to find runs faster; the stub does without.
    uint8_t sure[256];
  } state;
};

// Adler-32 in its two halves.
struct CompactSum {
  uint32_t low;
  uint32_t high;
};

// Operation slots through which the decoder reaches its files.
struct CompactIo {
  void* context;
  int (*nextByte)(void* context);  // the next stream byte, -1 past the end or on failure
  // Exactly count bytes of the old file from offset; false on failure.
  bool (*readOld)(void* context, int32_t offset, uint8_t* bytes, int32_t count);
  bool (*writeNew)(void* context, const uint8_t* bytes, int32_t count);
  ProgressReport progress;  // may be null; after every buffer written
};

enum CompactResult {
  COMPACT_DONE,
  COMPACT_DAMAGED,
  COMPACT_OLD_UNREADABLE,
  COMPACT_WRITE_FAILED,
};

constexpr int32_t COMPACT_BUFFER_SIZE = 65536;

struct CompactDecoder {
  union {
    CompactModel1 model1;
    CompactModel2 model2;
  };
  int version;
  const CompactIo* io;
  bool streamEnded;
  int32_t newSize;
  int32_t written;  // new bytes handed to writeNew so far
  int32_t pending;  // new bytes in output
  CompactSum sum;   // of the new bytes written
  uint8_t old[COMPACT_BUFFER_SIZE];
  uint8_t output[COMPACT_BUFFER_SIZE];
};

// Reads a whole compact stream, lead byte included, and writes the new
// file of newSize bytes, made from the old one of oldSize bytes. It reads
// no byte behind the stream's end; whether anything follows is the
// caller's to judge. On any result but COMPACT_DONE what was written is
// incomplete or wrong.
CompactResult DecodeCompact(CompactDecoder* decoder, const CompactIo* io, int32_t oldSize,
                            int32_t newSize);

// The encoder, in one of two ways. Where the old file fits, it holds both
// files and the old one's suffix array in memory: about
// COMPACT_BYTES_PER_OLD bytes a byte of the old file and
// COMPACT_BYTES_PER_NEW a byte of the new one, and COMPACT_FIXED_MEMORY
// besides. Larger pairs go through a window: the new file a segment at a
// time, each matched against the old regions it draws on (found through
// samples of the whole old file), held with their hash chains; its memory
// is set by the limits, whatever the files' sizes. Both write the same
// stream, which the same decoder reads.
constexpr int64_t COMPACT_BYTES_PER_OLD = 9;
constexpr int64_t COMPACT_BYTES_PER_NEW = 1;
constexpr int64_t COMPACT_FIXED_MEMORY = 4 << 20;

// A 32-bit process has 2 GiB; the encoder takes at most memory of it.
// Tests lower the others to send small pairs through the window.
struct CompactLimits {
  int64_t memory;
  int32_t wholeOld;  // the largest old file matched whole, in memory
  int32_t window;    // the most old bytes the window holds
  int32_t segment;   // the most new bytes it takes at a time
};
extern CompactLimits CompactLimit;
constexpr CompactLimits COMPACT_LIMITS = {int64_t{1} << 30, INT32_MAX, 64 << 20,
                                          16 << 20};

enum CompactMode { COMPACT_WHOLE, COMPACT_WINDOWED, COMPACT_REFUSED };

// How a pair would be encoded under CompactLimit; COMPACT_REFUSED when
// not even the window fits in its memory.
CompactMode CompactModeFor(int32_t oldSize, int32_t newSize);

// A stream in C heap memory; FreeCompactStream releases it. With a sink,
// the buffer is handed to it whenever it is full, and then reused.
struct CompactStream {
  uint8_t* bytes;
  int32_t size;
  int32_t capacity;
  bool (*sink)(void* context, const uint8_t* bytes, int32_t count);
  void* sinkContext;
};

// Encodes the stream that turns old into now, both in memory, whatever
// CompactLimit says. False, with nothing to free, when memory ran out.
// progress (may be null) follows the new file's bytes.
bool EncodeCompact(const uint8_t* old, int32_t oldSize, const uint8_t* now,
                   int32_t newSize, ProgressReport progress, CompactStream* stream);

void FreeCompactStream(CompactStream* stream);

// The encoder's files: read in pieces, exactly count bytes from offset,
// and the stream written as it is made.
struct CompactFiles {
  void* context;
  bool (*readOld)(void* context, int32_t offset, uint8_t* bytes, int32_t count);
  bool (*readNew)(void* context, int32_t offset, uint8_t* bytes, int32_t count);
  bool (*writeStream)(void* context, const uint8_t* bytes, int32_t count);
  ProgressReport progress;  // may be null; follows the whole encoding
};

enum CompactEncoding {
  COMPACT_ENCODED,
  COMPACT_TOO_LARGE,  // refused, or memory ran out
  COMPACT_OLD_FAILED,
  COMPACT_NEW_FAILED,
  COMPACT_STREAM_FAILED,
};

// Encodes the files' stream in the mode CompactModeFor gives; anything
// but COMPACT_ENCODED leaves what was written incomplete.
CompactEncoding EncodeCompactFiles(const CompactFiles* files, int32_t oldSize,
                                   int32_t newSize);
