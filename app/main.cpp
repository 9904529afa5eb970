// Process entry. The GUI subsystem's start-up code calls main; the tool
// takes no arguments.
#include "rt/heaps.h"
#include "rt/strings.h"

int main() {
  if (!CreateHeaps() || InitScratchBuffer() == nullptr)
    return 1;
  DestroyHeaps();
  return 0;
}
