// The compact decoder once more, built as the stub builds it: for size,
// without the faster ways the tool's build takes (tests/CMakeLists.txt
// compiles this file with -Os). The tests check that it reads every stream
// the tool writes, and refuses damaged ones, as the tool's build does.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "format/compact.h"

namespace stub_build {
#include "format/compact.cpp"
}  // namespace stub_build
