#include "fakes.h"

#include <cstring>

#include "sync/handlers.h"
#include "values/datetime.h"
#include "values/error.h"
#include "values/memory.h"
#include "values/text.h"

namespace fake {

State& state() {
  static State s;
  return s;
}

namespace {

bool FakeSetter(const LocalTimeFields& f) {
  state().clock_sets.push_back(f);
  // SetLocalTime refuses every date before 1601-01-01.
  return f.wYear >= 1601 && state().clock_accepts;
}

std::string g_box;

void ShowBox(const char* text, const char*, uint32_t) { g_box = text; }
void EndProgram(int32_t code) { throw FatalEnd{g_box, code}; }

}  // namespace

void Reset() {
  state() = State{};
  SetLocalClockSetter(FakeSetter);
  FatalErrorHooks hooks{};
  hooks.show_box = ShowBox;
  hooks.end_program = EndProgram;
  SetFatalErrorHooks(hooks);
}

void Deliver(uint32_t connection, const std::string& bytes) {
  state().event_connection = connection;
  state().event_bytes = &bytes;
  OnClientDataArrived();
  state().event_bytes = nullptr;
  state().event_connection = 0;
}

void Close(uint32_t connection, int32_t error) {
  state().event_connection = connection;
  state().event_close_error = error;
  OnClientConnectionClosed();
  state().event_close_error = 0;
  state().event_connection = 0;
}

uint32_t FreshConnection() {
  static uint32_t next = 1;
  return next++;
}

std::string LastStatus() { return state().status.empty() ? "" : state().status.back().text; }

}  // namespace fake

using fake::state;

// The logic only ever writes part 0 of 状态条1 and the text of 编辑框2; a
// write anywhere else is recorded with a marker so that tests see it.
namespace {
bool Is(ControlRef a, ControlRef b) { return a.window_id == b.window_id && a.control_id == b.control_id; }
}  // namespace

int32_t SetStatusText(ControlRef control, int32_t part, const char* text) {
  std::string t = text ? text : "";
  if (!Is(control, kStatusBarRef)) t = "<not the status bar>" + t;
  state().status.push_back({part, t});
  return 1;
}

void SetControlText(ControlRef control, const char* text) {
  std::string t = text ? text : "";
  if (!Is(control, kEditBoxRef)) t = "<not the edit box>" + t;
  state().edit.push_back(t);
}

void SetControlFocus(ControlRef control) {
  state().focus.push_back({control.window_id, control.control_id});
}

bool ConnectClient(ControlRef control, const char* host, int32_t port, uint32_t* connection) {
  state().connects.push_back({Is(control, kClientRef) ? (host ? host : "") : "<not 客户1>", port});
  uint32_t serial = state().next_connection;
  if (connection) *connection = serial;
  if (state().during_connect) state().during_connect(serial);
  return state().connect_result;
}

ByteBuffer* GetReceivedData(ControlRef control) {
  if (!Is(control, kClientRef) || !state().event_bytes) return nullptr;
  const std::string& b = *state().event_bytes;
  return MakeByteBuffer(b.data(), static_cast<int32_t>(b.size()));
}

uint32_t GetEventConnection(ControlRef control) {
  return Is(control, kClientRef) ? state().event_connection : 0;
}

int32_t GetEventCloseError(ControlRef control) {
  return Is(control, kClientRef) ? state().event_close_error : 0;
}

bool StartThread(ThreadRoutine routine, uint32_t, uintptr_t*) {
  state().threads.push_back(routine);
  return true;
}

bool RunOnUiThread(void (*fn)(void*), void* arg) {
  fn(arg);
  return true;
}
