// The reply handling fed the input in arbitrary pieces, over one or two
// connections: the clock is set at most once per connection, and to the
// value the same reply gives when it arrives whole; the texts shown are
// whole texts; every block is given back.
#include <vector>

#include "fakes.h"
#include "fuzz_support.h"
#include "sync/handlers.h"

namespace {

struct Seen {
  std::vector<std::string> status, edit;
  std::vector<std::string> clock;
};

std::string Fields(const LocalTimeFields& f) {
  char b[64];
  __builtin_snprintf(b, sizeof b, "%u-%u-%u %u:%u:%u.%u", f.wYear, f.wMonth, f.wDay, f.wHour,
                     f.wMinute, f.wSecond, f.wMilliseconds);
  return b;
}

Seen Take() {
  Seen s;
  for (auto& w : fake::state().status) s.status.push_back(w.text.substr(0, 22));
  s.edit = fake::state().edit;
  for (auto& f : fake::state().clock_sets) s.clock.push_back(Fields(f));
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  // The first byte chooses the cuts; the rest is what the server sends.
  uint8_t seed = data[0];
  std::string reply(reinterpret_cast<const char*>(data + 1), size - 1);
  if (reply.empty()) return 0;

  BlockBalance balance;
  fake::Reset();
  uint32_t whole_conn = fake::FreshConnection();
  fake::Deliver(whole_conn, reply);
  fake::Close(whole_conn);
  Seen whole = Take();
  FUZZ_CHECK(whole.clock.size() <= 1);
  FUZZ_CHECK(whole.status.size() == 1);

  fake::Reset();
  uint32_t conn = fake::FreshConnection();
  size_t at = 0;
  uint32_t x = seed * 2654435761u + 1;
  while (at < reply.size()) {
    x = x * 1103515245u + 12345u;
    size_t len = 1 + (x >> 16) % 64;
    fake::Deliver(conn, reply.substr(at, len));
    at += len;
  }
  fake::Close(conn);
  Seen pieces = Take();
  FUZZ_CHECK(pieces.clock == whole.clock);
  FUZZ_CHECK(pieces.status == whole.status);
  FUZZ_CHECK(pieces.edit == whole.edit);
  for (auto& f : fake::state().clock_sets) {
    FUZZ_CHECK(f.wMilliseconds == 0 && f.wMonth >= 1 && f.wMonth <= 12 && f.wDay >= 1 &&
               f.wDay <= 31 && f.wHour < 24 && f.wMinute < 60 && f.wSecond < 60);
  }
  return 0;
}
