// The compact encoder built for the machine the benchmark runs on, so that
// its time compares with the peers' native times (the tool itself is a
// 32-bit Windows program, which may only run emulated here), and so that
// its two ways of matching can be compared quickly on large pairs (the
// stream does not depend on the machine). Writes the stream that turns OLD
// into NEW to OUT, reading both in pieces as the tool does; --window sends
// every pair through the window.
//   encode [--window] OLD NEW OUT
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "format/compact.h"

namespace {

struct Files {
  FILE* old;
  FILE* now;
  FILE* out;
};

bool ReadAt(FILE* file, int32_t offset, uint8_t* bytes, int32_t count) {
  return std::fseek(file, offset, SEEK_SET) == 0 &&
         std::fread(bytes, 1, static_cast<size_t>(count), file) ==
             static_cast<size_t>(count);
}

int32_t SizeOf(FILE* file) {
  if (file == nullptr || std::fseek(file, 0, SEEK_END) != 0)
    return -1;
  long size = std::ftell(file);
  return size >= 0 && size <= INT32_MAX ? static_cast<int32_t>(size) : -1;
}

}  // namespace

int main(int argc, char** argv) {
  bool window = argc == 5 && std::strcmp(argv[1], "--window") == 0;
  if (argc != 4 + window) {
    std::fprintf(stderr, "usage: encode [--window] OLD NEW OUT\n");
    return 1;
  }
  char** paths = argv + 1 + window;
  Files files{std::fopen(paths[0], "rb"), std::fopen(paths[1], "rb"),
              std::fopen(paths[2], "wb")};
  int32_t oldSize = SizeOf(files.old), newSize = SizeOf(files.now);
  if (window)
    CompactLimit.wholeOld = 0;
  CompactFiles io{&files,
                  [](void* c, int32_t at, uint8_t* b, int32_t n) {
                    return ReadAt(static_cast<Files*>(c)->old, at, b, n);
                  },
                  [](void* c, int32_t at, uint8_t* b, int32_t n) {
                    return ReadAt(static_cast<Files*>(c)->now, at, b, n);
                  },
                  [](void* c, const uint8_t* b, int32_t n) {
                    return std::fwrite(b, 1, static_cast<size_t>(n),
                                       static_cast<Files*>(c)->out) ==
                           static_cast<size_t>(n);
                  },
                  nullptr};
  bool written = oldSize >= 0 && newSize >= 0 && files.out != nullptr &&
                 EncodeCompactFiles(&io, oldSize, newSize) == COMPACT_ENCODED;
  for (FILE* file : {files.old, files.now})
    if (file != nullptr)
      std::fclose(file);
  if (files.out != nullptr)
    written = std::fclose(files.out) == 0 && written;
  if (!written)
    std::fprintf(stderr, "encode: no stream for %s and %s\n", paths[0], paths[1]);
  return written ? 0 : 1;
}
