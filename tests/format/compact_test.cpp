// The compact stream: seeded round trips over pairs shaped like program
// updates, the places where a decoder's buffers end, and damaged streams,
// which must be refused without a read or a write outside the two files.
#include "format/compact.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

namespace stub_build {
CompactResult DecodeCompact(CompactDecoder* decoder, const CompactIo* io, int32_t oldSize,
                            int32_t newSize);
}

namespace {

using Bytes = std::vector<uint8_t>;
using Decoding = CompactResult (*)(CompactDecoder*, const CompactIo*, int32_t, int32_t);
// The tool's build and the stub's, which goes without some faster ways.
constexpr Decoding DECODINGS[] = {DecodeCompact, stub_build::DecodeCompact};

CompactDecoder Decoder;  // too large for the stack

Bytes RandomBytes(std::mt19937& rng, size_t count, int alphabet) {
  Bytes bytes(count);
  for (uint8_t& b : bytes)
    b = static_cast<uint8_t>(rng() % alphabet);
  return bytes;
}

// The old file with pieces changed, inserted, dropped and moved.
Bytes Edited(std::mt19937& rng, const Bytes& old, int alphabet) {
  Bytes now;
  for (size_t at = 0; at < old.size();) {
    size_t piece = 1 + rng() % 3000;
    size_t from = rng() % 4 == 0 ? rng() % old.size() : at;
    for (size_t i = from; i < from + piece && i < old.size(); i++)
      now.push_back(rng() % 50 == 0 ? static_cast<uint8_t>(rng()) : old[i]);
    if (rng() % 3 == 0) {
      Bytes inserted = RandomBytes(rng, rng() % 200, alphabet);
      now.insert(now.end(), inserted.begin(), inserted.end());
    }
    at += piece + (rng() % 5 == 0 ? rng() % 100 : 0);
  }
  return now;
}

void AddToWord(Bytes* bytes, size_t at, uint32_t delta) {
  uint32_t word = 0;
  for (int i = 3; i >= 0; i--)
    word = word << 8 | (*bytes)[at + i];
  word += delta;
  for (int i = 0; i < 4; i++, word >>= 8)
    (*bytes)[at + i] = static_cast<uint8_t>(word);
}

struct Pair {
  Bytes old, now;
};

// A program built twice, the second time with a piece of new code
// inserted: the addresses in the code that point past the insertion move
// with it, and the new piece repeats parts of the code before it.
Pair Relinked(std::mt19937& rng, size_t size) {
  constexpr uint32_t BASE = 0x401000;
  Pair pair{RandomBytes(rng, size, 256), {}};
  size_t insert = rng() % size, inserted = 64 + rng() % 2000;
  std::vector<std::pair<size_t, uint32_t>> addresses;
  for (size_t at = rng() % 16; at + 4 <= size; at += 5 + rng() % 12) {
    uint32_t target = static_cast<uint32_t>(rng() % size);
    for (int i = 0; i < 4; i++)
      pair.old[at + i] = static_cast<uint8_t>((BASE + target) >> (8 * i));
    addresses.push_back({at, target});
  }
  pair.now = pair.old;
  for (auto [at, target] : addresses)
    if (target > insert)
      AddToWord(&pair.now, at, static_cast<uint32_t>(inserted));
  Bytes piece;
  while (piece.size() < inserted) {
    size_t from = rng() % (insert + 1), count = 4 + rng() % 60;
    for (size_t i = 0; i < count && from + i < insert; i++)
      piece.push_back(pair.now[from + i]);
    piece.push_back(static_cast<uint8_t>(rng()));
  }
  pair.now.insert(pair.now.begin() + static_cast<ptrdiff_t>(insert), piece.begin(),
                  piece.end());
  return pair;
}

// Reads and writes go to the real buffers only while they are inside them.
struct Guarded {
  const Bytes* stream;
  size_t read;
  const Bytes* old;
  int64_t room;
  bool outside;
  Bytes out;
};

int NextByte(void* context) {
  Guarded* g = static_cast<Guarded*>(context);
  return g->read < g->stream->size() ? (*g->stream)[g->read++] : -1;
}

bool ReadOld(void* context, int32_t offset, uint8_t* bytes, int32_t count) {
  Guarded* g = static_cast<Guarded*>(context);
  g->outside |=
      offset < 0 || count < 0 || int64_t{offset} + count > int64_t(g->old->size());
  for (int32_t i = 0; i < count && !g->outside; i++)
    bytes[i] = (*g->old)[offset + i];
  return !g->outside;
}

bool WriteNew(void* context, const uint8_t* bytes, int32_t count) {
  Guarded* g = static_cast<Guarded*>(context);
  g->room -= count;
  g->outside |= count < 0 || g->room < 0;
  if (!g->outside)
    g->out.insert(g->out.end(), bytes, bytes + count);
  return !g->outside;
}

CompactResult Decode(Decoding decoding, Guarded* g, size_t newSize) {
  CompactIo io{g, NextByte, ReadOld, WriteNew, nullptr};
  return decoding(&Decoder, &io, static_cast<int32_t>(g->old->size()),
                  static_cast<int32_t>(newSize));
}

// Both builds decode the whole stream, and no byte behind it, to exactly now.
bool DecodesTo(const Bytes& stream, const Bytes& old, const Bytes& now) {
  bool decoded = true;
  for (Decoding decoding : DECODINGS) {
    Guarded g{&stream, 0, &old, static_cast<int64_t>(now.size()), false, {}};
    decoded = decoded && Decode(decoding, &g, now.size()) == COMPACT_DONE &&
              g.out == now && g.read == stream.size();
  }
  return decoded;
}

Bytes Encoded(const Bytes& old, const Bytes& now) {
  CompactStream stream;
  EXPECT_TRUE(EncodeCompact(old.data(), static_cast<int32_t>(old.size()), now.data(),
                            static_cast<int32_t>(now.size()), nullptr, &stream));
  Bytes bytes(stream.bytes, stream.bytes + stream.size);
  FreeCompactStream(&stream);
  return bytes;
}

// The files read in pieces from memory, the stream written as it comes.
struct Files {
  const Bytes* old;
  const Bytes* now;
  Bytes stream;
};

bool ReadPiece(const Bytes* bytes, int32_t offset, uint8_t* into, int32_t count) {
  if (offset < 0 || count < 0 || size_t(offset) + count > bytes->size())
    return false;
  std::copy_n(bytes->begin() + offset, count, into);
  return true;
}

// Through a window of 64 KiB, 16 KiB of the new file at a time.
CompactEncoding EncodeThroughWindow(Files* files,
                                    int64_t memory = COMPACT_LIMITS.memory) {
  CompactFiles io{files,
                  [](void* c, int32_t at, uint8_t* b, int32_t n) {
                    return ReadPiece(static_cast<Files*>(c)->old, at, b, n);
                  },
                  [](void* c, int32_t at, uint8_t* b, int32_t n) {
                    return ReadPiece(static_cast<Files*>(c)->now, at, b, n);
                  },
                  [](void* c, const uint8_t* b, int32_t n) {
                    static_cast<Files*>(c)->stream.insert(
                        static_cast<Files*>(c)->stream.end(), b, b + n);
                    return true;
                  },
                  nullptr};
  CompactLimit = CompactLimits{memory, 0, 1 << 16, 1 << 14};
  CompactEncoding result =
      EncodeCompactFiles(&io, static_cast<int32_t>(files->old->size()),
                         static_cast<int32_t>(files->now->size()));
  CompactLimit = COMPACT_LIMITS;
  return result;
}

// Each pair also goes through the window, which holds only the old regions
// that samples of the old file point it to: the stream must be as sound,
// and not much larger.
TEST(CompactTest, SeededPairsRoundTrip) {
  const size_t sizes[] = {0, 1, 700, 65535, 65537, 300000};
  for (uint32_t seed = 1; seed <= 48; seed++) {
    std::mt19937 rng(seed);
    int alphabet = seed % 3 == 0 ? 3 : 256;
    Bytes old = RandomBytes(rng, sizes[seed % 6], alphabet);
    Bytes now = old.empty() || seed % 8 == 1
                    ? RandomBytes(rng, sizes[(seed / 6) % 6], alphabet)
                    : Edited(rng, old, alphabet);
    if (seed % 4 == 2 && !old.empty()) {
      Pair relinked = Relinked(rng, old.size());
      old = relinked.old;
      now = relinked.now;
    }
    Bytes stream = Encoded(old, now);
    ASSERT_GT(stream[0], 1) << "seed " << seed << ": a plain stream starts like this";
    EXPECT_TRUE(DecodesTo(stream, old, now))
        << "seed " << seed << ", old " << old.size() << " bytes, new " << now.size();
    Files files{&old, &now, {}};
    ASSERT_EQ(EncodeThroughWindow(&files), COMPACT_ENCODED) << "seed " << seed;
    EXPECT_TRUE(DecodesTo(files.stream, old, now)) << "seed " << seed << ", windowed";
    EXPECT_LE(files.stream.size(), stream.size() * 5 / 4 + 16) << "seed " << seed;
  }
}

// The decoder reads the old file and keeps the new one's recent bytes in
// buffers of COMPACT_BUFFER_SIZE bytes; a step of a copy looks up to
// STEP_READS bytes ahead (a word change, a run of bytes judged at once and
// the change found in it may reach past a buffer's end), and a repeat may
// reach back its whole length. Each of those is cheap only when the decoder
// gets it right.
TEST(CompactTest, ChangesAndRepeatsAcrossBufferEnds) {
  std::mt19937 rng(7);
  constexpr size_t BUFFER = COMPACT_BUFFER_SIZE;
  Bytes old = RandomBytes(rng, 3 * BUFFER, 256);
  Bytes now(old.begin() + 1000, old.end());  // the copy starts 1000 bytes in
  for (size_t block : {BUFFER, 2 * BUFFER}) {
    for (size_t at = block - 6; at < block + 3; at += 1 + rng() % 3)
      AddToWord(&now, at, 0x1000);
    for (size_t at = block - 2 * STEP_READS; at < block + STEP_READS;
         at += 9 + rng() % 20)
      now[at] ^= 0x40;
  }
  for (size_t at = 100; at < BUFFER - 200; at += 997)  // the same change before
    AddToWord(&now, at, 0x1000);
  Bytes random = RandomBytes(rng, BUFFER + 5000, 256);
  now.insert(now.end(), random.begin(), random.end());
  // from exactly COMPACT_BUFFER_SIZE bytes back
  now.insert(now.end(), random.begin() + 5000, random.begin() + 15000);
  Bytes stream = Encoded(old, now);
  EXPECT_TRUE(DecodesTo(stream, old, now));
  EXPECT_LT(stream.size(), random.size() + 2000)
      << "the repeated 10000 bytes cost little";

  // Bytes nothing predicts grow by a fraction of a percent.
  Bytes unrelated = RandomBytes(rng, 4 * BUFFER, 256);
  stream = Encoded(old, unrelated);
  EXPECT_TRUE(DecodesTo(stream, old, unrelated));
  EXPECT_LE(stream.size(), unrelated.size() + unrelated.size() / 200);
}

TEST(CompactTest, DamagedStreamsAreRefused) {
  std::mt19937 rng(99);
  Pair pair = Relinked(rng, 90000);
  Bytes old = pair.old, now = Edited(rng, pair.now, 256);
  Bytes good = Encoded(old, now);
  for (uint32_t seed = 1; seed <= 400; seed++) {
    std::mt19937 m(seed);
    Bytes bad = good;
    size_t at = m() % bad.size();
    if (seed == 1)
      bad[4] = COMPACT_VERSION + 1;
    else if (seed % 3 == 0)
      bad.resize(at);
    else if (seed % 3 == 1)
      bad.push_back(static_cast<uint8_t>(m()));
    else  // one byte to eight changed
      for (size_t i = at; i < bad.size() && i <= at + seed % 8; i++)
        bad[i] ^= static_cast<uint8_t>(1 + m() % 255);
    for (Decoding decoding : DECODINGS) {
      Guarded g{&bad, 0, &old, static_cast<int64_t>(now.size()), false, {}};
      CompactResult result = Decode(decoding, &g, now.size());
      // What follows a whole stream is its reader's to judge: the decoder
      // must stop at the stream's end without reading on.
      if (seed % 3 == 1 && seed != 1)
        EXPECT_TRUE(result == COMPACT_DONE && g.read == good.size()) << "seed " << seed;
      else
        EXPECT_EQ(result, COMPACT_DAMAGED) << "seed " << seed << ", at " << at;
      EXPECT_FALSE(g.outside) << "seed " << seed << ", at " << at;
    }
  }
}

// A stream the first version's encoder made for this seeded pair; its
// generators above must stay as they are for the pair to stay the same.
TEST(CompactTest, VersionOneStreamsStillApply) {
  std::ifstream file(COMPACT_V1_STREAM, std::ios::binary);
  Bytes stream{std::istreambuf_iterator<char>(file), {}};
  ASSERT_GT(stream.size(), 4u) << COMPACT_V1_STREAM;
  ASSERT_EQ(stream[4], 1) << "the stored stream's version";
  std::mt19937 rng(22);
  Bytes old = RandomBytes(rng, 70000, 256);
  Bytes now = Edited(rng, old, 256);
  EXPECT_TRUE(DecodesTo(stream, old, now));
}

// Stretches moved from anywhere in an old file many windows long are found
// through its samples, the one moved last cut into segments of its own.
TEST(CompactTest, WindowFindsStretchesMovedFar) {
  std::mt19937 rng(4);
  Bytes old = RandomBytes(rng, 1 << 20, 256), now;
  for (size_t from : {900000, 20000, 300000, 1000, 700000})
    now.insert(now.end(), old.begin() + from, old.begin() + from + 100000);
  for (size_t at = 0; at < now.size(); at += 5000 + rng() % 5000)
    now[at] ^= 0x55;
  Files files{&old, &now, {}};
  ASSERT_EQ(EncodeThroughWindow(&files), COMPACT_ENCODED);
  EXPECT_TRUE(DecodesTo(files.stream, old, now));
  EXPECT_LT(files.stream.size(), 1000u);
}

// With less memory than even the window needs, no mode takes a pair, and
// nothing is written.
TEST(CompactTest, PairsNoModeTakesAreRefusedUntouched) {
  EXPECT_EQ(CompactModeFor(100 << 20, 10 << 20), COMPACT_WHOLE);
  EXPECT_EQ(CompactModeFor(INT32_MAX, INT32_MAX), COMPACT_WINDOWED);
  Bytes old(5000), now(5000);
  Files files{&old, &now, {}};
  EXPECT_EQ(EncodeThroughWindow(&files, 1 << 20), COMPACT_TOO_LARGE);
  EXPECT_TRUE(files.stream.empty());
}

}  // namespace
