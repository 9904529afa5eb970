// Reading a finished patch as the patcher stub does, in one definition for
// the stub itself, the tool's read-back of every patch it writes and the
// console program's check of a patch (signed or not).
//
// A patch is the stub, the fourteen lines, the stream, and, once it has
// been signed, the padding to an 8-byte boundary and the certificate table
// that the stub's own PE header points at. The table is not covered by the
// signature, so nothing is ever taken from it or from behind it: the stream
// ends before it, followed only by the signing tool's zero padding.
//
// Pure computation like the rest of format/: the files are reached through
// PatchIo, and the caller places the PatchReader record (large: the lines,
// buffers and the compact decoder's model are in it).
#pragma once

#include <cstdint>

#include "format/compact.h"
#include "format/layout.h"
#include "format/payload.h"
#include "format/stream.h"

// Operation slots through which the reader reaches its files.
struct PatchIo {
  void* context;
  // Up to count bytes of the patch from offset: the number read, fewer
  // only at the file's end; -1 on failure.
  int32_t (*readPatch)(void* context, int64_t offset, uint8_t* bytes, int32_t count);
  // Exactly count bytes of the old file from offset; false on failure.
  bool (*readOld)(void* context, int32_t offset, uint8_t* bytes, int32_t count);
  bool (*writeNew)(void* context, const uint8_t* bytes, int32_t count);
  ProgressReport progress;  // may be null; follows the new file's bytes
};

enum ReadResult {
  READ_DONE,
  READ_DAMAGED,  // out of shape, cut short, too long, or a misplaced table
  READ_PATCH_UNREADABLE,
  READ_OLD_UNREADABLE,
  READ_WRITE_FAILED,  // writeNew said no
};

enum StreamKind { STREAM_PLAIN, STREAM_COMPACT };

constexpr int32_t READ_BUFFER_SIZE = 65536;

struct PatchReader {
  // What OpenPatch found.
  const char* line[LINE_COUNT];  // NUL-terminated, inside lineBytes
  PayloadFacts facts;
  StreamKind kind;
  int64_t patchSize;
  int64_t streamStart;
  int64_t payloadEnd;  // the certificate table's start, else the patch's end
  int64_t tableSize;   // 0 for a patch that is not signed

  // Decoding state.
  const PatchIo* io;
  int64_t readAt;         // the patch offset behind the buffered stream bytes
  const uint8_t* unread;  // stream bytes read but not yet taken
  int32_t unreadCount;
  bool readFailed;
  char lineBytes[PAYLOAD_LINES_LIMIT];
  uint8_t streamBytes[READ_BUFFER_SIZE];
  union {
    struct {
      uint8_t old[READ_BUFFER_SIZE];
      uint8_t out[READ_BUFFER_SIZE];
    } plain;
    CompactDecoder compact;
  };
};

// Finds the certificate table through the stub's header, reads and checks
// the lines and tells the stream's kind; the lines stay valid until the
// reader is opened again. patchSize is the whole file's.
ReadResult OpenPatch(PatchReader* reader, const PatchIo* io, int64_t patchSize);

// Decodes the stream of an opened patch against the old file, handing the
// new file's bytes to writeNew, and checks that the stream ends where the
// patch says. Anything but READ_DONE leaves what was written incomplete.
ReadResult DecodePatchStream(PatchReader* reader, const PatchIo* io);
