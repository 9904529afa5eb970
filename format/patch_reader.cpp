#include "format/patch_reader.h"

namespace {

// Where the stub's header names the certificate table: the DOS header
// points at the PE header, whose optional header (PE32 or PE32+) lists
// data directories; entry 4, the security directory, holds a file offset
// and a size.
constexpr int32_t PE_POINTER_AT = 0x3C;
constexpr uint32_t PE_SIGNATURE = 0x00004550;  // "PE\0\0"
constexpr int32_t OPTIONAL_HEADER_AT = 24;     // behind the signature and file header
constexpr uint16_t PE32_MAGIC = 0x10B;
constexpr uint16_t PE32_PLUS_MAGIC = 0x20B;
constexpr int32_t PE32_DIRECTORIES_AT = 96;
constexpr int32_t PE32_PLUS_DIRECTORIES_AT = 112;
constexpr int32_t SECURITY_ENTRY = 4;
constexpr int32_t DIRECTORY_ENTRY_SIZE = 8;
constexpr int32_t PE_HEADER_READ = OPTIONAL_HEADER_AT + PE32_PLUS_DIRECTORIES_AT +
                                   (SECURITY_ENTRY + 1) * DIRECTORY_ENTRY_SIZE;

// Signing tools pad the file with zeros to this boundary before the table.
constexpr int64_t TABLE_ALIGNMENT = 8;

uint32_t Little32(const uint8_t* b) {
  return b[0] | b[1] << 8 | b[2] << 16 | static_cast<uint32_t>(b[3]) << 24;
}

bool ReadAll(const PatchReader* r, int64_t offset, void* bytes, int32_t count) {
  return r->io->readPatch(r->io->context, offset, static_cast<uint8_t*>(bytes), count) ==
         count;
}

// The security directory's offset and size; both 0 when the header names
// no table, as a stand-in stub without a PE header does not.
bool ReadTableEntry(const PatchReader* r, uint32_t entry[2]) {
  entry[0] = entry[1] = 0;
  uint8_t dos[PE_POINTER_AT + 4];
  if (!ReadAll(r, 0, dos, sizeof dos))
    return false;
  uint32_t at = Little32(dos + PE_POINTER_AT);
  if (dos[0] != 'M' || dos[1] != 'Z' || at > STUB_SIZE - PE_HEADER_READ)
    return true;
  uint8_t pe[PE_HEADER_READ];
  if (!ReadAll(r, at, pe, sizeof pe))
    return false;
  const uint8_t* optional = pe + OPTIONAL_HEADER_AT;
  uint32_t magic = optional[0] | optional[1] << 8;
  int32_t directories = magic == PE32_MAGIC        ? PE32_DIRECTORIES_AT
                        : magic == PE32_PLUS_MAGIC ? PE32_PLUS_DIRECTORIES_AT
                                                   : 0;
  if (Little32(pe) != PE_SIGNATURE || directories == 0 ||
      Little32(optional + directories - 4) <= SECURITY_ENTRY)
    return true;
  const uint8_t* security =
      optional + directories + SECURITY_ENTRY * DIRECTORY_ENTRY_SIZE;
  entry[0] = Little32(security);
  entry[1] = Little32(security + 4);
  return true;
}

// A table must be where a signing tool puts it: behind the stub, aligned,
// and the last bytes of the file.
bool PlaceTable(PatchReader* r, const uint32_t entry[2]) {
  r->tableSize = entry[1];
  r->payloadEnd = entry[1] == 0 ? r->patchSize : entry[0];
  return entry[1] == 0 ||
         (entry[0] > STUB_SIZE && (entry[0] & (TABLE_ALIGNMENT - 1)) == 0 &&
          int64_t{entry[0]} + entry[1] == r->patchSize);
}

// The most zero bytes a signing tool may put between the stream and the
// table.
int64_t PaddingLimit(const PatchReader* r) {
  return r->tableSize != 0 ? TABLE_ALIGNMENT - 1 : 0;
}

// The lines as the tool wrote them, read no further than the payload.
ReadResult ReadLines(PatchReader* r) {
  int64_t left = r->payloadEnd - STUB_SIZE;
  int32_t count =
      left < PAYLOAD_LINES_LIMIT ? static_cast<int32_t>(left) : PAYLOAD_LINES_LIMIT;
  int32_t read = r->io->readPatch(r->io->context, STUB_SIZE,
                                  reinterpret_cast<uint8_t*>(r->lineBytes), count);
  if (read < 0)
    return READ_PATCH_UNREADABLE;
  int32_t used = SplitPayloadLines(r->lineBytes, read, r->line);
  r->streamStart = STUB_SIZE + int64_t{used};
  return used != 0 && ReadPayloadLines(r->line, &r->facts) ? READ_DONE : READ_DAMAGED;
}

// The stream's first byte tells a compact stream from a plain one.
ReadResult ReadKind(PatchReader* r) {
  uint8_t lead = 0;
  if (r->streamStart < r->payloadEnd && !ReadAll(r, r->streamStart, &lead, 1))
    return READ_PATCH_UNREADABLE;
  r->kind = lead == COMPACT_LEAD ? STREAM_COMPACT : STREAM_PLAIN;
  // A compact stream's length says nothing; a plain one has one or two
  // bytes a position, and a signed patch may add padding behind it.
  int64_t length = r->payloadEnd - r->streamStart;
  bool possible = r->kind == STREAM_COMPACT ||
                  (length >= r->facts.newSize &&
                   length - PaddingLimit(r) <= 2 * int64_t{r->facts.newSize});
  return possible ? READ_DONE : READ_DAMAGED;
}

// The next bufferful of the stream, never reaching into the table; false
// when none is left or the patch could not be read.
bool Refill(PatchReader* r) {
  int64_t left = r->payloadEnd - r->readAt;
  int32_t count = left < READ_BUFFER_SIZE ? static_cast<int32_t>(left) : READ_BUFFER_SIZE;
  r->unread = r->streamBytes;
  r->unreadCount = 0;
  if (count == 0)
    return false;
  if (!ReadAll(r, r->readAt, r->streamBytes, count)) {
    r->readFailed = true;
    return false;
  }
  r->unreadCount = count;
  r->readAt += count;
  return true;
}

int NextStreamByte(void* context) {
  PatchReader* r = static_cast<PatchReader*>(context);
  if (r->unreadCount == 0 && !Refill(r))
    return -1;
  r->unreadCount--;
  return *r->unread++;
}

bool ReadOld(void* context, int32_t offset, uint8_t* bytes, int32_t count) {
  const PatchIo* io = static_cast<PatchReader*>(context)->io;
  return io->readOld(io->context, offset, bytes, count);
}

bool WriteNew(void* context, const uint8_t* bytes, int32_t count) {
  const PatchIo* io = static_cast<PatchReader*>(context)->io;
  return io->writeNew(io->context, bytes, count);
}

ReadResult DecodeCompactStream(PatchReader* r) {
  static constexpr ReadResult RESULTS[] = {READ_DONE, READ_DAMAGED, READ_OLD_UNREADABLE,
                                           READ_WRITE_FAILED};
  CompactIo io{r, NextStreamByte, ReadOld, WriteNew, r->io->progress};
  return RESULTS[DecodeCompact(&r->compact, &io, r->facts.oldSize, r->facts.newSize)];
}

// Feeds the decoder until it has every position, reading the old file only
// as far as the new one needs it.
ReadResult DecodePlainStream(PatchReader* r) {
  const PatchIo* io = r->io;
  DiffDecoder d;
  StartDiffDecoder(&d, r->facts.oldSize, r->facts.newSize);
  DiffChunk c{};
  DiffStatus status = DIFF_MORE;
  while (status == DIFF_MORE) {
    if (c.oldCount == 0 && d.position < d.oldSize && d.position < d.newSize) {
      int32_t left = d.oldSize - d.position;
      c.old = r->plain.old;
      c.oldCount = left < READ_BUFFER_SIZE ? left : READ_BUFFER_SIZE;
      if (!io->readOld(io->context, d.position, r->plain.old, c.oldCount))
        return READ_OLD_UNREADABLE;
    }
    if (c.streamCount == 0 && !c.streamEnds) {
      c.streamEnds = !Refill(r);
      c.stream = r->unread;
      c.streamCount = r->unreadCount;
    }
    c.out = r->plain.out;
    c.outRoom = READ_BUFFER_SIZE;
    status = DecodeDiff(&d, &c);
    int32_t made = READ_BUFFER_SIZE - c.outRoom;
    if (made > 0 && !io->writeNew(io->context, r->plain.out, made))
      return READ_WRITE_FAILED;
    if (io->progress != nullptr)
      io->progress(ProgressPercent(d.position, d.newSize));
  }
  // Bytes behind the last position are judged with the rest of the payload.
  r->unread = c.stream;
  r->unreadCount = c.streamCount;
  return status == DIFF_DONE || status == DIFF_TOO_LONG ? READ_DONE : READ_DAMAGED;
}

// Behind the stream only a signing tool's padding may follow: zero bytes
// up to the table's boundary.
bool EndsAtPayloadEnd(PatchReader* r) {
  int64_t left = r->unreadCount + (r->payloadEnd - r->readAt);
  if (left > PaddingLimit(r))
    return false;
  for (int byte; (byte = NextStreamByte(r)) >= 0;)
    if (byte != 0)
      return false;
  return true;
}

}  // namespace

ReadResult OpenPatch(PatchReader* r, const PatchIo* io, int64_t patchSize) {
  r->io = io;
  r->patchSize = patchSize;
  uint32_t entry[2];
  if (patchSize <= STUB_SIZE)
    return READ_DAMAGED;
  if (!ReadTableEntry(r, entry))
    return READ_PATCH_UNREADABLE;
  if (!PlaceTable(r, entry))
    return READ_DAMAGED;
  ReadResult result = ReadLines(r);
  return result == READ_DONE ? ReadKind(r) : result;
}

ReadResult DecodePatchStream(PatchReader* r, const PatchIo* io) {
  r->io = io;
  r->readAt = r->streamStart;
  r->unreadCount = 0;
  r->readFailed = false;
  ReadResult result =
      r->kind == STREAM_COMPACT ? DecodeCompactStream(r) : DecodePlainStream(r);
  if (result == READ_DONE && !EndsAtPayloadEnd(r))
    result = READ_DAMAGED;
  return r->readFailed ? READ_PATCH_UNREADABLE : result;
}
