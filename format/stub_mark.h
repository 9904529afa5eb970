// What a patcher stub declares about the compact streams it applies: a
// fixed record in its image, which the tool finds among the stub's bytes
// before it writes a compact patch with it. A stub without the record (an
// older one, another maker's) is given plain patches only, since it would
// refuse a compact stream or misread it.
#pragma once

#include <cstdint>

#include "format/compact.h"

constexpr char STUB_MARK_MAGIC[] = "PBSTUB:COMPACT";
constexpr int32_t STUB_MARK_MAGIC_SIZE = sizeof STUB_MARK_MAGIC;  // with its NUL

struct StubMark {
  char magic[STUB_MARK_MAGIC_SIZE];
  // The range of compact stream versions the stub decodes.
  uint8_t oldestCompact;
  uint8_t newestCompact;
};
static_assert(sizeof(StubMark) == STUB_MARK_MAGIC_SIZE + 2);

// Our stub's: it decodes with format/compact, which reads every version from
// 1 up to COMPACT_VERSION.
constexpr StubMark STUB_MARK = {"PBSTUB:COMPACT", 1, COMPACT_VERSION};

// Whether the stub's bytes hold a mark whose range takes in version.
bool StubAppliesCompact(const uint8_t* stub, int32_t size, uint8_t version);
