// The compact stream: seeded round trips over pairs shaped like program
// updates, and damaged streams, which must be refused without a read or a
// write outside the two files.
#include "format/compact.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <random>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

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

Bytes Encoded(const Bytes& old, const Bytes& now) {
  CompactStream stream;
  EXPECT_TRUE(EncodeCompact(old.data(), static_cast<int32_t>(old.size()), now.data(),
                            static_cast<int32_t>(now.size()), nullptr, &stream));
  Bytes bytes(stream.bytes, stream.bytes + stream.size);
  FreeCompactStream(&stream);
  return bytes;
}

TEST(CompactTest, SeededPairsRoundTrip) {
  const size_t sizes[] = {0, 1, 700, 65535, 65537, 300000};
  for (uint32_t seed = 1; seed <= 48; seed++) {
    std::mt19937 rng(seed);
    int alphabet = seed % 3 == 0 ? 3 : 256;
    Bytes old = RandomBytes(rng, sizes[seed % 6], alphabet);
    Bytes now = old.empty() || seed % 8 == 1
                    ? RandomBytes(rng, sizes[(seed / 6) % 6], alphabet)
                    : Edited(rng, old, alphabet);
    Bytes stream = Encoded(old, now);
    ASSERT_GT(stream[0], 1) << "seed " << seed << ": a plain stream starts like this";
    EXPECT_TRUE(CompactDecodesTo(
        &Decoder, stream.data(), static_cast<int32_t>(stream.size()), old.data(),
        static_cast<int32_t>(old.size()), now.data(), static_cast<int32_t>(now.size())))
        << "seed " << seed << ", old " << old.size() << " bytes, new " << now.size();
  }
}

// Reads and writes go to the real buffers only while they are inside them.
struct Guarded {
  const Bytes* stream;
  size_t read;
  const Bytes* old;
  int64_t room;
  bool outside;
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

bool WriteNew(void* context, const uint8_t*, int32_t count) {
  Guarded* g = static_cast<Guarded*>(context);
  g->room -= count;
  g->outside |= count < 0 || g->room < 0;
  return !g->outside;
}

TEST(CompactTest, DamagedStreamsAreRefused) {
  std::mt19937 rng(99);
  Bytes old = RandomBytes(rng, 90000, 256);
  Bytes now = Edited(rng, old, 256);
  Bytes good = Encoded(old, now);
  for (uint32_t seed = 1; seed <= 400; seed++) {
    std::mt19937 m(seed);
    Bytes bad = good;
    size_t at = m() % bad.size();
    if (seed % 3 == 0)
      bad.resize(at);
    else if (seed % 3 == 1)
      bad.push_back(static_cast<uint8_t>(m()));
    else  // one byte to eight changed
      for (size_t i = at; i < bad.size() && i <= at + seed % 8; i++)
        bad[i] ^= static_cast<uint8_t>(1 + m() % 255);
    Guarded g{&bad, 0, &old, static_cast<int64_t>(now.size()), false};
    CompactIo io{&g, NextByte, ReadOld, WriteNew, nullptr};
    CompactResult result = DecodeCompact(&Decoder, &io, static_cast<int32_t>(old.size()),
                                         static_cast<int32_t>(now.size()));
    EXPECT_EQ(result, COMPACT_DAMAGED) << "seed " << seed << ", at " << at;
    EXPECT_FALSE(g.outside) << "seed " << seed << ", at " << at;
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
  EXPECT_TRUE(CompactDecodesTo(
      &Decoder, stream.data(), static_cast<int32_t>(stream.size()), old.data(),
      static_cast<int32_t>(old.size()), now.data(), static_cast<int32_t>(now.size())));
}

TEST(CompactTest, PairsBeyondTheMemoryLimitAreRefusedUntouched) {
  CompactStream stream;
  EXPECT_FALSE(EncodeCompact(nullptr, 200 << 20, nullptr, 1, nullptr, &stream));
  EXPECT_EQ(stream.bytes, nullptr);
  EXPECT_TRUE(CompactFits(100 << 20, 10 << 20));
}

}  // namespace
