// The difference stream: one record per position of the new file, in
// order. RECORD_UNCHANGED keeps the old file's byte at that position (0x00
// past the old file's end); RECORD_CHANGED is followed by the new byte.
// Nothing follows the record of the last position.
//
// Pure computation on the caller's buffers: no I/O, no allocation, no
// exceptions, so that the patcher stub, the tool and the tests share it.
#pragma once

#include <cstdint>

constexpr unsigned char RECORD_UNCHANGED = 0x00;
constexpr unsigned char RECORD_CHANGED = 0x01;

// The records of count positions. records has room for 2 * count bytes;
// returns the number of bytes written there.
int32_t EncodeDiffBlock(const unsigned char* oldBytes, const unsigned char* newBytes,
                        int32_t count, unsigned char* records);

enum DiffStatus {
  DIFF_MORE,        // the buffers given are used up: feed more (or room)
  DIFF_DONE,        // every position decoded and the stream ended with it
  DIFF_BAD_RECORD,  // a record code other than the two
  DIFF_CUT_SHORT,   // the stream ended before the last position
  DIFF_TOO_LONG,    // stream bytes follow the last position's record
};

// A decoding in progress; resumes where the last call stopped, even inside
// a changed record. Any status but DIFF_MORE is final and sticks.
struct DiffDecoder {
  int32_t oldSize;
  int32_t newSize;
  int32_t position;     // the next position of the new file
  bool changedPending;  // RECORD_CHANGED read, its byte not yet
  DiffStatus status;
};

// The caller's buffers for one call; the decoder advances the pointers and
// lowers the counts by what it used or filled.
struct DiffChunk {
  // The old file's bytes from the decoder's position on; the decoder takes
  // them only for positions below oldSize.
  const unsigned char* old;
  int32_t oldCount;
  const unsigned char* stream;
  int32_t streamCount;
  bool streamEnds;  // nothing follows the stream bytes given
  unsigned char* out;
  int32_t outRoom;
};

void StartDiffDecoder(DiffDecoder* decoder, int32_t oldSize, int32_t newSize);

// Decodes as far as the buffers allow. DIFF_MORE while more old bytes,
// stream bytes or room are needed; the end of the stream is judged only
// once the chunk says it ends. A caller loops until any other status:
// refills the old bytes once used up while the position is below both
// sizes (a file that gives none then is shorter than oldSize), refills the
// stream once used up and sets streamEnds when it gives none, and takes
// what was written to out before giving fresh room.
DiffStatus DecodeDiff(DiffDecoder* decoder, DiffChunk* chunk);
