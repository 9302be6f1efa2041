#include "app/stack_guard.h"

#include <windows.h>

#include <cstdint>

extern "C" {
// Read by every protected function's prologue and epilogue.
uintptr_t __stack_chk_guard = 0x2B992DDFu;

// A smashed stack: nothing of the process can be trusted any more, so it
// ends at once, without the shutdown and without a message box.
[[noreturn]] void __stack_chk_fail(void) {
  TerminateProcess(GetCurrentProcess(), STATUS_STACK_BUFFER_OVERRUN);
  for (;;) {
  }
}
}

// Not protected: it changes the canary its own frame would be checked against.
__attribute__((no_stack_protector)) void SeedStackGuard() {
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  uintptr_t seed = static_cast<uintptr_t>(counter.QuadPart) ^
                   (static_cast<uintptr_t>(counter.QuadPart >> 32) << 7) ^ now.dwLowDateTime ^
                   (static_cast<uintptr_t>(GetCurrentProcessId()) << 16) ^
                   GetCurrentThreadId() ^ reinterpret_cast<uintptr_t>(&counter);
  // A zero byte at the bottom stops string functions that overrun a buffer
  // from copying the canary along with it.
  __stack_chk_guard = seed << 8;
}
