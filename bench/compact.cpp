// The compact stream against its peers on the pairs that bench/compact-pairs
// made and timed (the list file is passed in PB_COMPACT_PAIRS): patch sizes
// of ours, plain and compact, and of bsdiff, xdelta3 -9 and zstd -19
// --patch-from, and the time each takes to encode, ours with the encoder
// built for the machine as the peers are. Ours are the difference streams
// alone, without the stub and the fourteen lines every patch carries. The
// last lines are the ratios.
#include "format/compact.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "format/layout.h"
#include "format/stream.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Peer {
  long long bytes;
  double seconds;
};

struct Pair {
  char name[64];
  char kind[16];  // pe, elf, synthetic or random
  char oldPath[512];
  char newPath[512];
  Peer bsdiff, xdelta3, zstd, native;
};

CompactDecoder Decoder;

// The stream and the old file in memory, the new bytes compared as they come.
struct MemoryFiles {
  const Bytes* stream;
  size_t read;
  const Bytes* old;
  const Bytes* now;
  size_t compared;
};

int NextByte(void* context) {
  MemoryFiles* m = static_cast<MemoryFiles*>(context);
  return m->read < m->stream->size() ? (*m->stream)[m->read++] : -1;
}

bool ReadOld(void* context, int32_t offset, uint8_t* bytes, int32_t count) {
  const Bytes& old = *static_cast<MemoryFiles*>(context)->old;
  if (offset < 0 || count < 0 || static_cast<size_t>(offset) + count > old.size())
    return false;
  std::memcpy(bytes, old.data() + offset, count);
  return true;
}

bool CompareNew(void* context, const uint8_t* bytes, int32_t count) {
  MemoryFiles* m = static_cast<MemoryFiles*>(context);
  bool same = m->compared + count <= m->now->size() &&
              std::memcmp(m->now->data() + m->compared, bytes, count) == 0;
  m->compared += count;
  return same;
}

bool DecodesTo(const Bytes& stream, const Bytes& old, const Bytes& now) {
  MemoryFiles files{&stream, 0, &old, &now, 0};
  CompactIo io{&files, NextByte, ReadOld, CompareNew, nullptr};
  return DecodeCompact(&Decoder, &io, static_cast<int32_t>(old.size()),
                       static_cast<int32_t>(now.size())) == COMPACT_DONE &&
         files.compared == now.size() && files.read == stream.size();
}

double Now() {
  LARGE_INTEGER count, frequency;
  QueryPerformanceCounter(&count);
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(count.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Paths in the list are the build machine's; Wine sees its root as Z:.
Bytes Load(const char* unixPath) {
  std::string path = std::string("Z:") + unixPath;
  for (char& c : path)
    c = c == '/' ? '\\' : c;
  Bytes bytes;
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    std::fprintf(stderr, "bench: cannot read %s\n", path.c_str());
    std::exit(1);
  }
  char chunk[65536];
  for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, file)) > 0;)
    bytes.insert(bytes.end(), chunk, chunk + n);
  std::fclose(file);
  return bytes;
}

std::vector<Pair> ReadPairs(const char* listPath) {
  std::vector<Pair> pairs;
  FILE* list = std::fopen(listPath, "r");
  Pair p{};
  while (list != nullptr &&
         std::fscanf(list, "%63s %15s %511s %511s %lld %lf %lld %lf %lld %lf %lld %lf",
                     p.name, p.kind, p.oldPath, p.newPath, &p.bsdiff.bytes,
                     &p.bsdiff.seconds, &p.xdelta3.bytes, &p.xdelta3.seconds,
                     &p.zstd.bytes, &p.zstd.seconds, &p.native.bytes,
                     &p.native.seconds) == 12)
    pairs.push_back(p);
  if (list != nullptr)
    std::fclose(list);
  return pairs;
}

// The plain stream: one or two bytes a position of the new file.
long long PlainSize(const Bytes& old, const Bytes& now) {
  long long size = 0;
  Bytes records(2 * DIFF_BLOCK);
  Bytes oldBlock(DIFF_BLOCK);
  for (size_t done = 0; done < now.size(); done += DIFF_BLOCK) {
    size_t count = now.size() - done < DIFF_BLOCK ? now.size() - done : DIFF_BLOCK;
    for (size_t i = 0; i < count; i++)
      oldBlock[i] = done + i < old.size() ? old[done + i] : 0;
    size += EncodeDiffBlock(oldBlock.data(), now.data() + done,
                            static_cast<int32_t>(count), records.data());
  }
  return size;
}

struct Ours {
  long long newSize;
  long long plain;
  long long compact;
  double applySeconds;
};

Ours Measure(const Pair& pair) {
  Bytes old = Load(pair.oldPath), now = Load(pair.newPath);
  int32_t oldSize = static_cast<int32_t>(old.size()),
          newSize = static_cast<int32_t>(now.size());
  Ours ours{newSize, PlainSize(old, now), 0, 0};
  CompactStream stream;
  if (!EncodeCompact(old.data(), oldSize, now.data(), newSize, nullptr, &stream)) {
    std::fprintf(stderr, "bench: %s is too large for the compact encoder\n", pair.name);
    std::exit(1);
  }
  Bytes bytes(stream.bytes, stream.bytes + stream.size);
  // The best of three decodes, as the encoders are timed.
  ours.applySeconds = 1e9;
  for (int run = 0; run < 3; run++) {
    double start = Now();
    if (!DecodesTo(bytes, old, now)) {
      std::fprintf(stderr, "bench: the compact stream of %s does not decode\n",
                   pair.name);
      std::exit(1);
    }
    ours.applySeconds = std::min(ours.applySeconds, Now() - start);
  }
  ours.compact = stream.size;
  FreeCompactStream(&stream);
  return ours;
}

double Ratio(long long part, long long whole) {
  return static_cast<double>(part) / static_cast<double>(whole);
}

}  // namespace

int main() {
  const char* listPath = std::getenv("PB_COMPACT_PAIRS");
  std::vector<Pair> pairs = ReadPairs(listPath != nullptr ? listPath : "");
  if (pairs.empty()) {
    std::fprintf(stderr,
                 "bench: no pairs (PB_COMPACT_PAIRS names bench/compact-pairs' list)\n");
    return 1;
  }
  std::printf(
      "%-9s %-9s %9s %9s %9s %9s %9s %9s   encode seconds: compact bsdiff "
      "xdelta3 zstd\n",
      "pair", "kind", "new", "plain", "compact", "bsdiff", "xdelta3", "zstd");
  long long compactBytes = 0, bsdiffBytes = 0, newBytes = 0;
  double encodeSeconds = 0, bsdiffSeconds = 0, applySeconds = 0;
  double exeRatio = 0, maxRatio = 0, slowest = 1e9, randomGrowth = 0;
  for (const Pair& p : pairs) {
    Ours ours = Measure(p);
    long long size = ours.newSize;
    std::printf("%-9s %-9s %9lld %9lld %9lld %9lld %9lld %9lld   %.3f %.3f %.3f %.3f\n",
                p.name, p.kind, size, ours.plain, ours.compact, p.bsdiff.bytes,
                p.xdelta3.bytes, p.zstd.bytes, p.native.seconds, p.bsdiff.seconds,
                p.xdelta3.seconds, p.zstd.seconds);
    double ratio = Ratio(ours.compact, p.bsdiff.bytes);
    if (std::strcmp(p.kind, "pe") == 0 && ratio > exeRatio)
      exeRatio = ratio;
    if (ratio > maxRatio)
      maxRatio = ratio;
    if (p.bsdiff.seconds / p.native.seconds < slowest)
      slowest = p.bsdiff.seconds / p.native.seconds;
    // Random bytes would swamp the sums: they give their growth alone.
    if (std::strcmp(p.kind, "random") == 0) {
      randomGrowth = Ratio(ours.compact - size, size);
      continue;
    }
    compactBytes += ours.compact;
    bsdiffBytes += p.bsdiff.bytes;
    newBytes += size;
    encodeSeconds += p.native.seconds;
    bsdiffSeconds += p.bsdiff.seconds;
    applySeconds += ours.applySeconds;
  }
  std::printf(
      "encode seconds of the compact encoder and the peers built for this machine, each\n"
      "the best of three whole runs of its program; ours applied (best of three) in "
      "this\n"
      "process under Wine (maybe on qemu-i386 emulation); sums without the random "
      "pair\n");
  std::printf("compact_size_ratio_to_bsdiff_exe=%.3f\n", exeRatio);
  std::printf("compact_size_ratio_to_bsdiff_max=%.3f\n", maxRatio);
  std::printf("compact_random_growth=%.4f\n", randomGrowth);
  std::printf("compact_size_ratio_to_bsdiff=%.3f\n", Ratio(compactBytes, bsdiffBytes));
  std::printf("compact_apply_mb_s=%.1f\n",
              static_cast<double>(newBytes) / 1e6 / applySeconds);
  std::printf("compact_encode_ratio_to_bsdiff=%.3f\n", bsdiffSeconds / encodeSeconds);
  std::printf("compact_encode_ratio_to_bsdiff_min=%.3f\n", slowest);
  return 0;
}
