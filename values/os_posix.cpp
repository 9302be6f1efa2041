// The native build's side of the operating-system seam. It exists for the
// tests and tools that run on Linux, as root: it must never set the clock.
#include <cstdlib>

#include "values/os.h"

void* OsHeapAlloc(uint32_t size) {
  // The Windows heap hands out a block for a request of 0; malloc(0) may not.
  return std::malloc(size != 0 ? size : 1);
}

void OsHeapFree(void* block) { std::free(block); }

bool OsSetLocalTime(const LocalTimeFields&) {
  // No real clock setter here at all: the native build reports a refusal.
  return false;
}
