// Seeded round trips of the stream fed in chunks of every size; damaged
// streams and lines are refused, never read or written past the buffers.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>

#include "format/payload.h"
#include "format/stream.h"

namespace {

using Bytes = std::basic_string<unsigned char>;
using namespace std::string_literals;

std::string Differ(const Bytes& a, const Bytes& b) {
  auto at = std::mismatch(a.begin(), a.end(), b.begin(), b.end()).first - a.begin();
  return "sizes " + std::to_string(a.size()) + ", " + std::to_string(b.size()) +
         ", first difference at offset " + std::to_string(at);
}

Bytes Random(std::mt19937& rng, size_t size, size_t step = 1, Bytes bytes = {}) {
  bytes.resize(size);  // zeros past the end of the bytes given
  for (size_t i = rng() % step; i < size; i += 1 + rng() % step)
    bytes[i] ^= static_cast<unsigned char>(1 + rng() % 255);
  return bytes;
}

Bytes Encode(Bytes old, const Bytes& now) {
  old.resize(now.size());  // zeros past the old end, as the tool reads them
  Bytes stream(2 * now.size(), 0);
  stream.resize(EncodeDiffBlock(old.data(), now.data(), static_cast<int32_t>(now.size()),
                                stream.data()));
  return stream;
}

// Fed as the stub does, each buffer refilled once used up, in chunks of
// random sizes up to maxChunk. DIFF_MORE at the end means it stalled.
DiffStatus Decode(const Bytes& old, const Bytes& stream, int32_t newSize,
                  std::mt19937& rng, size_t maxChunk, Bytes* out) {
  DiffDecoder decoder;
  StartDiffDecoder(&decoder, static_cast<int32_t>(old.size()), newSize);
  DiffChunk c{old.data(), 0, stream.data(), 0, false, nullptr, 0};
  auto next = [&](size_t left) {
    return static_cast<int32_t>(std::min(left, 1 + rng() % maxChunk));
  };
  DiffStatus status = DIFF_MORE;
  for (int calls = 0; status == DIFF_MORE && calls < 3 * newSize + 9; calls++) {
    if (c.oldCount == 0)
      c.oldCount = next(old.data() + old.size() - c.old);
    if (c.streamCount == 0)
      c.streamCount = next(stream.data() + stream.size() - c.stream);
    c.streamEnds = c.stream + c.streamCount == stream.data() + stream.size();
    Bytes room(1 + rng() % maxChunk, 0xEE);
    c.out = room.data();
    c.outRoom = static_cast<int32_t>(room.size());
    status = DecodeDiff(&decoder, &c);
    out->append(room, 0, room.size() - c.outRoom);
  }
  return status;
}

TEST(Stream, RoundTripsOfSeededPairsAndDamage) {
  const unsigned seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  const Bytes a = Random(rng, 3000), b = Random(rng, 25601);
  const std::pair<Bytes, Bytes> pairs[] = {
      {a, Random(rng, 9000, 50, a)},  // old shorter: zeros and bytes past its end
      {a, Random(rng, 1000, 10, a)},
      {b, Random(rng, 25601, 3, b)},
      {a, Random(rng, 4001)},
      {a, a},
      {a, {}},
  };
  for (const auto& [old, now] : pairs) {
    const Bytes stream = Encode(old, now);
    for (size_t maxChunk : {1, 2, 3, 4096, 100000}) {
      Bytes out;
      EXPECT_EQ(
          Decode(old, stream, static_cast<int32_t>(now.size()), rng, maxChunk, &out),
          DIFF_DONE);
      EXPECT_TRUE(out == now) << "chunks up to " << maxChunk << ": " << Differ(out, now);
    }
  }
  // Damage is reported, never applied.
  const Bytes old = Random(rng, 5000), stream = Encode(old, Random(rng, 6000, 20, old));
  const size_t code = stream.find(RECORD_CHANGED);
  Bytes unknown = stream;
  unknown[code] = 2;
  const struct {
    Bytes stream;
    int32_t newSize;
    DiffStatus status;
  } cases[] = {
      {stream.substr(0, stream.size() - 1), 6000, DIFF_CUT_SHORT},
      {stream.substr(0, code + 1), 6000, DIFF_CUT_SHORT},  // inside a changed record
      {{}, 6000, DIFF_CUT_SHORT},
      {stream + Bytes{0}, 6000, DIFF_TOO_LONG},
      {stream, 5999, DIFF_TOO_LONG},
      {unknown, 6000, DIFF_BAD_RECORD},
  };
  for (const auto& c : cases)
    for (size_t maxChunk : {1, 5000}) {
      Bytes out;
      EXPECT_EQ(Decode(old, c.stream, c.newSize, rng, maxChunk, &out), c.status)
          << "stream of " << c.stream.size() << " bytes, chunks up to " << maxChunk;
      EXPECT_LE(out.size(), static_cast<size_t>(c.newSize));
    }
  // A byte changed at random: any verdict, never a stall or an overrun.
  for (int round = 0; round < 200; round++) {
    Bytes corrupt = stream, out;
    corrupt[rng() % corrupt.size()] = static_cast<unsigned char>(rng());
    EXPECT_NE(Decode(old, corrupt, 6000, rng, 1 + rng() % 300, &out), DIFF_MORE);
    EXPECT_LE(out.size(), 6000u) << "round " << round;
  }
}

const std::string GOOD[LINE_COUNT] = {
    "Title",     "",      "  spaced  ", "Notice",  "Tip",
    "C:\\Games", "Open",  "Install",    "Exit",    "0123456789abcdef0123456789abcdef",
    "",          "30000", "0",          "game.exe"};

// The lines with one replaced, or the first count of them.
std::string Lines(int line = -1, const std::string& text = "", int count = LINE_COUNT) {
  std::string bytes;
  for (int i = 0; i < count; i++)
    bytes += (i == line ? text : GOOD[i]) + "\r\n";
  return bytes;
}

// The bytes the lines take when a stub accepts them, else 0.
int32_t Accepted(std::string bytes, PayloadFacts* facts = nullptr) {
  const char* lines[LINE_COUNT];
  int32_t used =
      SplitPayloadLines(bytes.data(), static_cast<int32_t>(bytes.size()), lines);
  return used > 0 && ReadPayloadLines(lines, facts) ? used : 0;
}

TEST(Payload, LinesAreSplitAndChecked) {
  PayloadFacts facts{};
  EXPECT_EQ(Accepted(Lines() + "\1\x41", &facts), static_cast<int32_t>(Lines().size()));
  EXPECT_TRUE(facts.oldSize == 30000 && facts.newSize == 0);
  const std::string longest(PAYLOAD_TEXT_LIMIT, 'x');
  const std::pair<std::string, bool> cases[] = {
      {Lines(LINE_PROGRAM_DESCRIPTION, longest), true},
      {Lines(LINE_SYSTEM_NOTICE, "lone\rCR and\nLF"), true},
      {Lines(LINE_NEW_SIZE, "2147483647"), true},
      {Lines(LINE_OLD_NAME, "C:\\x/y:game.exe"), true},
      {Lines(LINE_FOLDER_TIP, longest + "x"), false},
      {Lines(-1, "", LINE_COUNT - 1), false},
      {Lines().substr(0, Lines().size() - 1), false},
      {Lines(LINE_WINDOW_TITLE, "a\0b"s), false},
      {Lines(LINE_OLD_FINGERPRINT, std::string(32, 'A')), false},
      {Lines(LINE_NEW_FINGERPRINT, std::string(31, 'a')), false},
      {Lines(LINE_OLD_SIZE, "+30000"), false},
      {Lines(LINE_OLD_SIZE, "-1"), false},
      {Lines(LINE_NEW_SIZE, "01"), false},
      {Lines(LINE_NEW_SIZE, "2147483648"), false},
      {Lines(LINE_NEW_SIZE, ""), false},
      {Lines(LINE_OLD_NAME, "C:\\x\\nul.txt"), false},
  };
  for (size_t i = 0; i < std::size(cases); i++)
    EXPECT_EQ(Accepted(cases[i].first) != 0, cases[i].second) << "case " << i;
}

TEST(Payload, FileNamesStayInTheFolder) {
  const std::string n(FILE_NAME_LIMIT, 'n');
  for (std::string name : {"a b.c d"s, "\xE9t\xE9.exe"s, ".x"s, "COM10"s, "nul_.exe"s, n})
    EXPECT_TRUE(FileNameAcceptable(name.c_str())) << name;
  for (std::string name :
       {""s,       "."s,        ".."s,   "..."s,  "x."s,       "x "s,
        "CON"s,    "con.txt"s,  "PRN "s, "COM1"s, "lpt9.log"s, "COM\xB9"s,
        "CONIN$"s, "CON .txt"s, "a<b"s,  "a\"b"s, "a|b"s,      "a?b"s,
        "a*b"s,    "a\x1f"s,    "a\\b"s, "a/b"s,  "a:b"s,      n + "n"})
    EXPECT_FALSE(FileNameAcceptable(name.c_str())) << name;
}

}  // namespace
