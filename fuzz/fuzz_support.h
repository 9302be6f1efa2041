// Shared by the fuzz targets: a NUL-terminated copy of the input, and a
// check that every block handed out was given back.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "values/memory.h"

#define FUZZ_CHECK(cond)                                                   \
  do {                                                                     \
    if (!(cond)) {                                                         \
      __builtin_printf("invariant failed: %s (%s:%d)\n", #cond, __FILE__, __LINE__); \
      std::abort();                                                        \
    }                                                                      \
  } while (0)

struct BlockBalance {
  BlockCounts before = GetBlockCounts();
  ~BlockBalance() {
    BlockCounts after = GetBlockCounts();
    FUZZ_CHECK(after.allocated - before.allocated == after.released - before.released);
  }
};

inline std::string AsText(const uint8_t* data, size_t size) {
  std::string s(reinterpret_cast<const char*>(data), size);
  return s.substr(0, s.find('\0'));
}
