#include "format/stub_mark.h"

#include <cstring>

bool StubAppliesCompact(const uint8_t* stub, int32_t size, uint8_t version) {
  for (int32_t at = 0; at + static_cast<int32_t>(sizeof(StubMark)) <= size; at++) {
    if (std::memcmp(stub + at, STUB_MARK_MAGIC, STUB_MARK_MAGIC_SIZE) != 0)
      continue;
    const uint8_t* range = stub + at + STUB_MARK_MAGIC_SIZE;
    if (range[0] <= version && version <= range[1])
      return true;
  }
  return false;
}
