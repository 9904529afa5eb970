// The compact encoder built for the machine the benchmark runs on, so that
// its time compares with the peers' native times (the tool itself is a
// 32-bit Windows program, which may only run emulated here). Writes the
// stream that turns OLD into NEW to OUT.
//   encode OLD NEW OUT
#include <cstdio>
#include <vector>

#include "format/compact.h"

namespace {

bool Load(const char* path, std::vector<uint8_t>* bytes) {
  FILE* file = std::fopen(path, "rb");
  if (file == nullptr)
    return false;
  char chunk[65536];
  for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, file)) > 0;)
    bytes->insert(bytes->end(), chunk, chunk + n);
  std::fclose(file);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<uint8_t> old, now;
  CompactStream stream;
  if (argc != 4 || !Load(argv[1], &old) || !Load(argv[2], &now) ||
      !EncodeCompact(old.data(), static_cast<int32_t>(old.size()), now.data(),
                     static_cast<int32_t>(now.size()), nullptr, &stream)) {
    std::fprintf(stderr, "usage: encode OLD NEW OUT (pairs the encoder takes)\n");
    return 1;
  }
  FILE* out = std::fopen(argv[3], "wb");
  bool written = out != nullptr &&
                 std::fwrite(stream.bytes, 1, static_cast<size_t>(stream.size), out) ==
                     static_cast<size_t>(stream.size);
  if (out != nullptr)
    written = std::fclose(out) == 0 && written;
  FreeCompactStream(&stream);
  return written ? 0 : 1;
}
