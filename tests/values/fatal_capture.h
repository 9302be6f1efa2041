// Runs code that is expected to end the program with a fatal error, with
// hooks that record the box and unwind by throwing instead of ending the
// process. Test thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "values/error.h"

struct FatalCapture {
  bool ended = false;      // end_program was reached
  std::string text;        // the box text
  std::string caption;
  uint32_t style = 0;
  int32_t exit_code = 0;
  std::string steps;       // the hooks in the order they ran: S B C E
};

// Runs `fn`; returns what the fatal path did (ended == false if it returned).
FatalCapture CaptureFatal(const std::function<void()>& fn);
