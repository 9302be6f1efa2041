#include "net_support.h"

#include <gtest/gtest.h>

#include <cstring>

#include "app/design.h"
#include "net/client.h"
#include "values/memory.h"
#include "values/text.h"
#include "win_support.h"

namespace nettest {

void StartWinsock() {
  static bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  (void)started;
}

Listener::Listener(uint16_t port, int backlog) {
  StartWinsock();
  // WSASocketW, not socket: tests count the code's socket() calls through
  // its import, and the test's own listeners must not show up there.
  socket_ = WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, 0);
  if (socket_ == INVALID_SOCKET) return;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(port);
  if (bind(socket_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      listen(socket_, backlog) != 0) {
    closesocket(socket_);
    socket_ = INVALID_SOCKET;
    return;
  }
  int n = sizeof a;
  getsockname(socket_, reinterpret_cast<sockaddr*>(&a), &n);
  port_ = ntohs(a.sin_port);
}

Listener::~Listener() {
  if (socket_ != INVALID_SOCKET) closesocket(socket_);
}

SOCKET Listener::Accept(DWORD timeout_ms) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(socket_, &set);
  timeval tv{static_cast<long>(timeout_ms / 1000), static_cast<long>(timeout_ms % 1000) * 1000};
  if (select(0, &set, nullptr, nullptr, &tv) != 1) return INVALID_SOCKET;
  return accept(socket_, nullptr, nullptr);
}

bool SendAll(SOCKET s, const void* bytes, int n) {
  const char* p = static_cast<const char*>(bytes);
  while (n > 0) {
    int sent = send(s, p, n, 0);
    if (sent <= 0) return false;
    p += sent;
    n -= sent;
  }
  return true;
}

bool WaitPeerClosed(SOCKET s, DWORD timeout_ms) {
  DWORD start = GetTickCount();
  char buf[4096];
  for (;;) {
    DWORD spent = GetTickCount() - start;
    if (spent >= timeout_ms) return false;
    DWORD left = timeout_ms - spent;
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval tv{static_cast<long>(left / 1000), static_cast<long>(left % 1000) * 1000};
    if (select(0, &set, nullptr, nullptr, &tv) != 1) return false;
    if (recv(s, buf, sizeof buf, 0) <= 0) return true;
  }
}

uint16_t UnusedPort() {
  Listener l;
  return l.port();  // released when `l` ends; nothing listens there afterwards
}

void* PatchImport(const char* dll, const char* function, void* replacement) {
  auto* base = reinterpret_cast<BYTE*>(GetModuleHandleW(nullptr));
  auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
  auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  auto* imp = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress);
  for (; imp->Name != 0; ++imp) {
    if (_stricmp(reinterpret_cast<char*>(base + imp->Name), dll) != 0) continue;
    auto* slot = reinterpret_cast<IMAGE_THUNK_DATA*>(base + imp->FirstThunk);
    auto* name = reinterpret_cast<IMAGE_THUNK_DATA*>(
        base + (imp->OriginalFirstThunk ? imp->OriginalFirstThunk : imp->FirstThunk));
    for (; slot->u1.Function != 0; ++slot, ++name) {
      if (name->u1.Ordinal & IMAGE_ORDINAL_FLAG) continue;
      auto* by_name = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + name->u1.AddressOfData);
      if (std::strcmp(reinterpret_cast<char*>(by_name->Name), function) != 0) continue;
      void* previous = reinterpret_cast<void*>(slot->u1.Function);
      DWORD old = 0;
      VirtualProtect(&slot->u1.Function, sizeof slot->u1.Function, PAGE_READWRITE, &old);
      slot->u1.Function = reinterpret_cast<uintptr_t>(replacement);
      VirtualProtect(&slot->u1.Function, sizeof slot->u1.Function, old, &old);
      FlushInstructionCache(GetCurrentProcess(), nullptr, 0);
      return previous;
    }
  }
  return nullptr;
}

ImportPatch::ImportPatch(const char* dll, const char* function, void* replacement)
    : dll_(dll), function_(function), original_(PatchImport(dll, function, replacement)) {
  EXPECT_NE(original_, nullptr) << "no import " << dll << "!" << function;
}

ImportPatch::~ImportPatch() {
  if (original_) PatchImport(dll_, function_, original_);
}

namespace {

ClientHarness* g_harness = nullptr;

void RecordEvent(int event) {
  ClientEvent e{event, GetEventConnection(ClientHarness::kRef), {}, false,
                GetEventCloseError(ClientHarness::kRef)};
  if (event == kEventDataArrival) {
    ByteBuffer* a = GetReceivedData(ClientHarness::kRef);
    ByteBuffer* b = GetReceivedData(ClientHarness::kRef);
    if (a && b) {
      e.separate_copies = a != b && a->length == b->length &&
                          std::memcmp(ByteBufferData(a), ByteBufferData(b),
                                      static_cast<size_t>(a->length)) == 0;
      g_harness->data_bytes += static_cast<uint64_t>(a->length);
      if (g_harness->keep_bytes) {
        e.bytes.assign(reinterpret_cast<const char*>(ByteBufferData(a)),
                       static_cast<size_t>(a->length));
      } else {
        e.bytes.assign(std::to_string(a->length));
      }
    }
    ReleaseBlock(a);
    ReleaseBlock(b);
  }
  g_harness->events().push_back(std::move(e));
  if (event == kEventDataArrival && g_harness->on_data) g_harness->on_data();
}

void OnData() { RecordEvent(kEventDataArrival); }
void OnClosed() { RecordEvent(kEventClosed); }

const EventBinding kClientEvents[] = {{kEventDataArrival, OnData}, {kEventClosed, OnClosed}};
DesignEntry g_entries[2];
WindowDesign g_design;
std::vector<ClientEvent> g_events;

}  // namespace

ClientHarness::ClientHarness() {
  StartWinsock();
  g_harness = this;
  g_events.clear();
  g_entries[0] = DesignEntry{kWindowRef.control_id, ControlKind::kMainWindow, "", 0, 0, 300, 120,
                             -1, false, false, false, 0, nullptr, 0, nullptr, nullptr};
  g_entries[1] = DesignEntry{kRef.control_id, ControlKind::kClient, "client", 24, 16, 26, 26, -1,
                             false, false, false, 0, kClientEvents, 2, nullptr, nullptr};
  g_design = WindowDesign{kRef.window_id, g_entries, 2};
  InstallWindowDesigns(&g_design, 1);

  TestWindow* parent = TestWindow::TopLevel(L"client test");
  if (!parent) return;
  parent_ = parent->hwnd();
  parent->SetDesignRef(kWindowRef);
  SetLiveControl(kWindowRef, parent);
  RECT rect{24, 16, 50, 42};
  Window* client = CreateClientControl(kRef, parent_, 0x100, rect);
  if (!client) {
    ADD_FAILURE() << "CreateClientControl failed";
    return;
  }
  client->SetDesignRef(kRef);
  SetLiveControl(kRef, client);
  client_hwnd_ = client->hwnd();
}

ClientHarness::~ClientHarness() {
  Destroy();
  PumpFor(20);
  ForgetWindowDesigns();
  g_harness = nullptr;
}

void ClientHarness::Destroy() {
  if (parent_ && IsWindow(parent_)) DestroyWindow(parent_);
  parent_ = nullptr;
}

std::vector<ClientEvent>& ClientHarness::events() { return g_events; }

std::string ClientHarness::DataOf(uint32_t connection) const {
  std::string all;
  for (const ClientEvent& e : g_events) {
    if (e.event == kEventDataArrival && e.connection == connection) all += e.bytes;
  }
  return all;
}

int ClientHarness::CountOf(int event) const {
  int n = 0;
  for (const ClientEvent& e : g_events) n += e.event == event;
  return n;
}

}  // namespace nettest
