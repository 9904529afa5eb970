// Finished patches in memory, read as the stub reads them: plain and
// compact streams, signed the way signing tools sign (zero padding to 8
// bytes, then the certificate table the stub's PE header points at), and
// tables or tails that a stub must refuse. No read may reach into a table.
#include "format/patch_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>

namespace {

using Bytes = std::string;

constexpr size_t PE_AT = 0x80;
constexpr size_t OPTIONAL_AT = PE_AT + 24;
constexpr size_t SECURITY_AT = OPTIONAL_AT + 96 + 4 * 8;

PatchReader Reader;  // too large for the stack

void Put32(Bytes* bytes, size_t at, uint32_t value) {
  for (int i = 0; i < 4; i++)
    (*bytes)[at + i] = static_cast<char>(value >> (8 * i));
}

// A stub of STUB_SIZE bytes with a PE32 header naming the table.
Bytes Stub(uint32_t tableAt = 0, uint32_t tableSize = 0) {
  Bytes stub(STUB_SIZE, '\0');
  stub[0] = 'M', stub[1] = 'Z';
  Put32(&stub, 0x3C, PE_AT);
  stub.replace(PE_AT, 4, "PE\0\0", 4);
  stub[OPTIONAL_AT] = 0x0B, stub[OPTIONAL_AT + 1] = 0x01;
  Put32(&stub, OPTIONAL_AT + 92, 16);
  Put32(&stub, SECURITY_AT, tableAt);
  Put32(&stub, SECURITY_AT + 4, tableSize);
  return stub;
}

// The lines, the window title titleLength bytes long.
Bytes Lines(size_t oldSize, size_t newSize, size_t titleLength = 1) {
  return Bytes(titleLength, 'W') +
         "\r\nP\r\nD\r\nN\r\nT\r\nC:\\x\r\nO\r\nI\r\nE\r\n\r\n\r\n" +
         std::to_string(oldSize) + "\r\n" + std::to_string(newSize) +
         "\r\nC:\\a\\t.bin\r\n";
}

Bytes PlainStream(Bytes old, const Bytes& now) {
  old.resize(now.size());
  Bytes records(2 * now.size(), '\0');
  records.resize(EncodeDiffBlock(reinterpret_cast<const uint8_t*>(old.data()),
                                 reinterpret_cast<const uint8_t*>(now.data()),
                                 static_cast<int32_t>(now.size()),
                                 reinterpret_cast<uint8_t*>(records.data())));
  return records;
}

Bytes CompactStreamOf(const Bytes& old, const Bytes& now) {
  CompactStream stream;
  EXPECT_TRUE(EncodeCompact(reinterpret_cast<const uint8_t*>(old.data()),
                            static_cast<int32_t>(old.size()),
                            reinterpret_cast<const uint8_t*>(now.data()),
                            static_cast<int32_t>(now.size()), nullptr, &stream));
  Bytes bytes(reinterpret_cast<char*>(stream.bytes), stream.size);
  FreeCompactStream(&stream);
  return bytes;
}

// Signs as the signing tools do: zeros to an 8-byte boundary, then a table.
Bytes Signed(Bytes patch, size_t tableSize = 1000) {
  patch.resize((patch.size() + 7) / 8 * 8, '\0');
  uint32_t tableAt = static_cast<uint32_t>(patch.size());
  patch.append(tableSize, '\x5A');
  Put32(&patch, SECURITY_AT, tableAt);
  Put32(&patch, SECURITY_AT + 4, static_cast<uint32_t>(tableSize));
  return patch;
}

uint32_t TableAt(const Bytes& patch) {
  uint32_t at = 0;
  for (int i = 3; i >= 0; i--)
    at = at << 8 | static_cast<uint8_t>(patch[SECURITY_AT + i]);
  return at;
}

struct Files {
  const Bytes* patch;
  size_t readLimit;  // no patch byte at or past it may be read
  bool readPastLimit;
  const Bytes* old;
  Bytes out;
};

int32_t ReadPatch(void* context, int64_t offset, uint8_t* bytes, int32_t count) {
  Files* f = static_cast<Files*>(context);
  f->readPastLimit |= offset < 0 || count < 0;
  size_t end = std::min(f->patch->size(), static_cast<size_t>(offset) + count);
  if (f->readPastLimit || static_cast<size_t>(offset) >= end)
    return 0;
  f->readPastLimit |= end > f->readLimit;
  std::memcpy(bytes, f->patch->data() + offset, end - offset);
  return static_cast<int32_t>(end - offset);
}

bool ReadOld(void* context, int32_t offset, uint8_t* bytes, int32_t count) {
  const Bytes& old = *static_cast<Files*>(context)->old;
  if (offset < 0 || static_cast<size_t>(offset) + count > old.size())
    return false;
  std::memcpy(bytes, old.data() + offset, count);
  return true;
}

bool WriteNew(void* context, const uint8_t* bytes, int32_t count) {
  static_cast<Files*>(context)->out.append(reinterpret_cast<const char*>(bytes), count);
  return true;
}

// Opens and decodes; the first result that is not READ_DONE.
ReadResult Read(const Bytes& patch, const Bytes& old, Bytes* out = nullptr,
                size_t readLimit = SIZE_MAX) {
  Files files{&patch, std::min(readLimit, patch.size()), false, &old, {}};
  PatchIo io{&files, ReadPatch, ReadOld, WriteNew, nullptr};
  ReadResult result = OpenPatch(&Reader, &io, static_cast<int64_t>(patch.size()));
  if (result == READ_DONE)
    result = DecodePatchStream(&Reader, &io);
  EXPECT_FALSE(files.readPastLimit) << "read behind the payload or out of bounds";
  if (out != nullptr)
    *out = files.out;
  return result;
}

Bytes Old() {
  std::mt19937 rng(20);
  Bytes old(30000, '\0');
  for (char& b : old)
    b = static_cast<char>(rng() % 7);
  return old;
}

// A new file whose plain stream ends with a 00 record, which padding zeros
// must not be taken for.
Bytes New(const Bytes& old) {
  Bytes now = old.substr(0, 20000) + "inserted" + old.substr(20000);
  now.back() = old.back();
  return now;
}

TEST(PatchReader, PlainAndCompactPatchesApplySignedOrNot) {
  const Bytes old = Old(), now = New(old);
  for (StreamKind kind : {STREAM_PLAIN, STREAM_COMPACT}) {
    const Bytes stream =
        kind == STREAM_PLAIN ? PlainStream(old, now) : CompactStreamOf(old, now);
    // Titles of 1 to 8 bytes meet every padding a signing tool adds.
    for (size_t title = 1; title <= 8; title++) {
      const Bytes patch = Stub() + Lines(old.size(), now.size(), title) + stream;
      for (bool sign : {false, true}) {
        SCOPED_TRACE(std::string(kind == STREAM_PLAIN ? "plain" : "compact") +
                     (sign ? " signed" : " unsigned") + ", title " +
                     std::to_string(title));
        Bytes out;
        const Bytes made = sign ? Signed(patch) : patch;
        EXPECT_EQ(Read(made, old, &out, sign ? TableAt(made) : SIZE_MAX), READ_DONE);
        EXPECT_EQ(Reader.kind, kind);
        EXPECT_EQ(Reader.tableSize, sign ? 1000 : 0);
        EXPECT_TRUE(out == now);
      }
    }
  }
}

// Every table a signing tool would not make, and bytes behind the stream
// that are not its padding, make the patch damaged; nothing is read from a
// table or behind it.
TEST(PatchReader, MisplacedTablesAndStrayBytesAreDamage) {
  const Bytes old = Old(), now = New(old);
  for (StreamKind kind : {STREAM_PLAIN, STREAM_COMPACT}) {
    const Bytes stream =
        kind == STREAM_PLAIN ? PlainStream(old, now) : CompactStreamOf(old, now);
    const Bytes lines = Lines(old.size(), now.size(), 3);  // signing pads it
    const Bytes patch = Stub() + lines + stream, good = Signed(patch);
    const uint32_t tableAt = TableAt(good), streamAt = STUB_SIZE + lines.size();
    auto entry = [&](Bytes bytes, uint32_t at, uint32_t size) {
      Put32(&bytes, SECURITY_AT, at);
      Put32(&bytes, SECURITY_AT + 4, size);
      return bytes;
    };
    Bytes badPadding = good;
    badPadding[tableAt - 1] = 1;
    const struct {
      const char* name;
      Bytes patch;
    } cases[] = {
        {"a byte behind the table", good + "x"},
        {"a table in the stub", entry(good, 4096, good.size() - 4096)},
        {"a table in the lines", entry(good, STUB_SIZE + 8, good.size() - STUB_SIZE - 8)},
        {"a table in the stream",
         entry(good, (streamAt + 15) / 8 * 8, good.size() - (streamAt + 15) / 8 * 8)},
        {"a table past the end", entry(good, tableAt, 1008)},
        {"a misaligned table", entry(good, tableAt - 1, 1001)},
        {"padding that is not zeros", badPadding},
        {"eight bytes of padding",
         entry(patch + Bytes(8 + (8 - patch.size() % 8) % 8, '\0') + Bytes(1000, 'Z'),
               tableAt + 8, 1000)},
        {"a byte behind an unsigned stream", patch + '\0'},
    };
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(kind == STREAM_PLAIN ? "plain, " : "compact, ") + c.name);
      EXPECT_EQ(
          Read(c.patch, old, nullptr, TableAt(c.patch) ? TableAt(c.patch) : SIZE_MAX),
          READ_DAMAGED);
    }
  }
}

}  // namespace
