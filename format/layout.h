// The patch file: the patcher stub, STUB_SIZE bytes, then the fourteen
// payload lines (format/payload.h), then the difference stream
// (format/stream.h, or format/compact.h) up to the end of the file, or in a
// signed patch up to the certificate table (format/patch_reader.h). No
// header, no alignment of our own.
//
// The build pads the stub to STUB_SIZE and the scripts make stand-ins of
// that length: both read the number from this line, so keep its shape.
#pragma once

#include <cstdint>

constexpr int32_t STUB_SIZE = 25088;

// Positions of the new file per progress step of the tool.
constexpr int32_t DIFF_BLOCK = 25600;

// Takes a percentage from 0 to 100.
using ProgressReport = void (*)(int32_t percent);

// done * 100 / total without a 64-bit division, which the stub would have
// to carry: exact while done * 100 fits, off by far less than one beyond.
inline int32_t ProgressPercent(int32_t done, int32_t total) {
  return done <= INT32_MAX / 100 ? done * 100 / total : done / (total / 100);
}
