// Helpers of the client connection tests: a loopback listener (127.0.0.1,
// ephemeral or fixed port), waiting for a peer's close, patching one import
// of the test executable (to count or steer a Winsock or kernel32 call that
// the code under test makes), and a harness that builds a hidden parent
// window with one client connection control from a test design, with
// handlers that record every event.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "sync/platform.h"

namespace nettest {

// Starts Windows Sockets for the test's own sockets (once per process).
void StartWinsock();

// A listening socket on 127.0.0.1. Accept waits at most `timeout_ms`.
class Listener {
 public:
  explicit Listener(uint16_t port = 0, int backlog = 8);
  ~Listener();
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;
  bool ok() const { return socket_ != INVALID_SOCKET; }
  uint16_t port() const { return port_; }
  SOCKET Accept(DWORD timeout_ms = 5000);

 private:
  SOCKET socket_ = INVALID_SOCKET;
  uint16_t port_ = 0;
};

// Sends all of `bytes`; false when the connection failed.
bool SendAll(SOCKET s, const void* bytes, int n);
// Waits until the peer has closed (EOF or reset), discarding what it sends.
bool WaitPeerClosed(SOCKET s, DWORD timeout_ms = 5000);
// A port on 127.0.0.1 where nobody listens (bound, then released).
uint16_t UnusedPort();

// Replaces the executable's import `function` of `dll` by `replacement` and
// returns the previous target (null when the import is not there).
void* PatchImport(const char* dll, const char* function, void* replacement);

// Restores an import patched in a scope.
class ImportPatch {
 public:
  ImportPatch(const char* dll, const char* function, void* replacement);
  ~ImportPatch();
  ImportPatch(const ImportPatch&) = delete;
  ImportPatch& operator=(const ImportPatch&) = delete;
  void* original() const { return original_; }

 private:
  const char* dll_;
  const char* function_;
  void* original_;
};

// What the recording handlers saw of one event.
struct ClientEvent {
  int event;                // 0 data arrival, 1 connection closed
  uint32_t connection;      // GetEventConnection inside the handler
  std::string bytes;        // GetReceivedData inside the handler
  bool separate_copies;     // two calls gave two blocks with the same bytes
  int32_t close_error = 0;  // GetEventCloseError inside the handler
};

// A hidden top-level window (entry 0) with a client connection control
// (entry 1) made by CreateClientControl, bound to a test design whose events
// 0 and 1 of the control go to recording handlers. One harness at a time.
class ClientHarness {
 public:
  static constexpr ControlRef kRef{0x52017701, 0x16017707};
  static constexpr ControlRef kWindowRef{0x52017701, 0x06017700};

  ClientHarness();
  ~ClientHarness();
  ClientHarness(const ClientHarness&) = delete;
  ClientHarness& operator=(const ClientHarness&) = delete;

  bool ok() const { return client_hwnd_ != nullptr; }
  HWND parent() const { return parent_; }
  HWND client_hwnd() const { return client_hwnd_; }
  // Destroys the parent and with it the control.
  void Destroy();

  std::vector<ClientEvent>& events();
  // Bytes of all data-arrival events of one connection, in order.
  std::string DataOf(uint32_t connection) const;
  int CountOf(int event) const;
  // Runs inside the data-arrival handler, after the event is recorded.
  std::function<void()> on_data;
  // When false the handler does not copy the bytes into the record (the
  // flood test keeps only counts).
  bool keep_bytes = true;
  uint64_t data_bytes = 0;

 private:
  HWND parent_ = nullptr;
  HWND client_hwnd_ = nullptr;
};

}  // namespace nettest
