#include "sync/handlers.h"

#include "sync/daytime.h"
#include "sync/platform.h"
#include "sync/texts.h"

namespace {

// NIST's recommended name, served round-robin by its Internet Time Service;
// every server answers the Daytime protocol on port 13.
constexpr char kServerHost[] = "time.nist.gov";
constexpr int32_t kServerPort = 13;

// The worker's closing text, written on the user-interface thread so that
// the check against a result already shown and the write cannot interleave
// with the reply handling, which runs there too.
struct Outcome {
  uint32_t connection;
  const char* text;
  int32_t result;
};

void WriteOutcome(void* arg) {
  auto* outcome = static_cast<Outcome*>(arg);
  // The reply of this connection (or of a later one) may already have been
  // handled: its result stays.
  if (ResultShownFor(outcome->connection)) return;
  outcome->result = SetStatusText(kStatusBarRef, 0, outcome->text);
}

}  // namespace

uint32_t ConnectTimeServer(uint32_t /*unused*/) {
  int32_t result = SetStatusText(kStatusBarRef, 0, kTextConnecting);
  uint32_t connection = 0;
  bool connected = ConnectClient(kClientRef, kServerHost, kServerPort, &connection);
  Outcome outcome{connection, connected ? kTextConnected : kTextConnectFailed, result};
  RunOnUiThread(WriteOutcome, &outcome);
  return static_cast<uint32_t>(outcome.result);
}

void OnMainWindowCreated() {
  StartThread(ConnectTimeServer);
  // The window is still hidden here, so the focus stays on the window itself
  // and not on one of its controls.
  SetControlFocus(kMainWindowRef);
}

void OnResyncClicked() { StartThread(ConnectTimeServer); }
