// A stand-in for the window and network layer, so the clock logic runs
// natively: it records every status write, edit text, focus change,
// connection attempt and thread start, and lets a test deliver the client
// control's events by hand.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "sync/platform.h"
#include "values/os.h"

namespace fake {

struct StatusWrite {
  int32_t part;
  std::string text;
};

struct State {
  std::vector<StatusWrite> status;
  std::vector<std::string> edit;
  std::vector<std::pair<uint32_t, uint32_t>> focus;
  std::vector<ThreadRoutine> threads;
  std::vector<LocalTimeFields> clock_sets;
  bool clock_accepts = true;  // SetLocalTime's answer for a date from 1601 on
  struct Connect {
    std::string host;
    int32_t port;
  };
  std::vector<Connect> connects;
  // What the next ConnectClient returns, and what it does while "connecting"
  // (to let a test deliver a reply before the call returns).
  bool connect_result = true;
  uint32_t next_connection = 0;
  std::function<void(uint32_t connection)> during_connect;

  // The event being raised.
  uint32_t event_connection = 0;
  int32_t event_close_error = 0;
  const std::string* event_bytes = nullptr;
};

State& state();
void Reset();  // also installs the fake clock setter and the fatal hooks

// Raises the data-arrival / connection-closed events of 客户1.
void Deliver(uint32_t connection, const std::string& bytes);
void Close(uint32_t connection, int32_t error = 0);  // error: a reset, e.g. 10054

// A connection serial no other test has used: the logic remembers the last
// connection whose result it showed.
uint32_t FreshConnection();

std::string LastStatus();

struct FatalEnd {
  std::string text;
  int32_t code;
};

}  // namespace fake
