#include "net/client.h"

#include <new>

#include "app/design.h"
#include "net/client_control.h"
#include "values/error.h"
#include "values/text.h"

namespace {

const wchar_t kClientClass[] = L"KestrivoClient";

// Client controls whose window has been destroyed, with the thread that owned
// them: a worker that finds one of these gone has merely outlived it (the
// program is ending) and gets false instead of the fatal lookup error.
// Written on the user-interface thread and read by workers, both under the
// design lock.
struct GoneClient {
  ControlRef ref;
  DWORD owner_thread;
  bool used;
};
GoneClient g_gone[4];

bool SameRef(ControlRef a, ControlRef b) {
  return a.window_id == b.window_id && a.control_id == b.control_id;
}

void ForgetGone(ControlRef ref) {
  DesignLock lock;
  for (GoneClient& g : g_gone) {
    if (g.used && SameRef(g.ref, ref)) g.used = false;
  }
}

void RecordGone(ControlRef ref) {
  DesignLock lock;
  GoneClient* slot = &g_gone[0];
  for (GoneClient& g : g_gone) {
    if (!g.used || SameRef(g.ref, ref)) {
      slot = &g;
      break;
    }
  }
  *slot = GoneClient{ref, GetCurrentThreadId(), true};
}

// The end of the program destroys the windows, and so the control, before
// the process ends: a worker that comes late finds the control gone here.
bool OutlivedControl(ControlRef ref) {
  DesignLock lock;
  for (const GoneClient& g : g_gone) {
    if (g.used && SameRef(g.ref, ref)) return g.owner_thread != GetCurrentThreadId();
  }
  return false;
}

bool IsClientEntry(ControlRef ref) {
  WindowDesign* design = FindDesign(ref.window_id);
  DesignEntry* entry = design ? FindEntry(design, ref.control_id) : nullptr;
  return entry != nullptr && entry->kind == ControlKind::kClient;
}

// The live control, or null. A caller on another thread holds the design lock
// for as long as it uses the result.
Client* LiveClient(ControlRef ref) {
  Window* live = FindLiveControl(ref);
  if (live == nullptr || !IsClientEntry(ref)) return nullptr;
  return static_cast<Client*>(live);
}

// The control for the operations of the user-interface thread; not found is
// fatal.
Client* ClientOrFatal(ControlRef ref) {
  Window* live = FindControl(ref);  // fatal when not live
  if (!IsClientEntry(ref)) ReportFatalError(kTextNoSuchControl, 0);
  return static_cast<Client*>(live);
}

bool OnWindowThread(const Window* window) {
  return GetWindowThreadProcessId(window->hwnd(), nullptr) == GetCurrentThreadId();
}

}  // namespace

Client* Client::Create(ControlRef ref, HWND parent, int child_id, const RECT& rect) {
  if (!RegisterOwnClass(kClientClass, 0, nullptr, nullptr)) return nullptr;
  Client* client = new (std::nothrow) Client(ref);
  if (client == nullptr) return nullptr;
  client->creating_ = true;
  bool made = client->CreateOwn(kClientClass, 0, WS_CHILD, L"", rect.left, rect.top,
                                rect.right - rect.left, rect.bottom - rect.top, parent,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(child_id)));
  client->creating_ = false;
  if (!made) {
    // Whether or not a half-made window was destroyed meanwhile, the object
    // is still ours.
    delete client;
    return nullptr;
  }
  {
    SocketCoreLock lock(client->core());
    client->core()->notify = client->hwnd();
  }
  ForgetGone(ref);
  return client;
}

ByteBuffer* Client::CopyReceived() const {
  return MakeByteBuffer(received_.bytes(), received_.length());
}

void Client::OnReceived(ByteBlock& gathered) {
  ByteBlock outer;  // empty unless a handler nested this event
  outer.Swap(received_);
  received_.Swap(gathered);
  RaiseEvent(control_, kEventDataArrival);
  received_.Clear();
  received_.Swap(outer);
}

void Client::OnClosed() { RaiseEvent(control_, kEventClosed); }

LRESULT Client::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == kSocketNotifyMessage) {
    ++notify_depth_;
    LRESULT r = TcpClient::HandleMessage(msg, wp, lp);
    if (--notify_depth_ == 0 && destroy_pending_) delete this;
    return r;
  }
  // Before the design is told: a worker that then fails to find the control
  // knows it outlived it.
  if (msg == WM_NCDESTROY && !creating_) RecordGone(control_);
  return TcpClient::HandleMessage(msg, wp, lp);
}

void Client::OnFinalDestroy() {
  if (notify_depth_ > 0) {
    destroy_pending_ = true;
    return;
  }
  delete this;
}

Window* CreateClientControl(ControlRef ref, HWND parent, int child_id, const RECT& rect) {
  return Client::Create(ref, parent, child_id, rect);
}

bool ConnectClient(ControlRef control, const char* host, int32_t port, uint32_t* connection) {
  if (connection) *connection = 0;
  if (port < 1) port = 1;
  const auto port16 = static_cast<uint16_t>(port & 0xFFFF);

  // This thread's own use of Windows Sockets: the control may end, and clean
  // up its own, while this thread still waits in connect.
  NetworkUse network;

  bool found = false;
  bool made = false;
  SOCKET s = INVALID_SOCKET;
  uint32_t serial = 0;
  SocketCore* core = nullptr;
  {
    // The design lock keeps the object alive until the core is ours.
    DesignLock lock;
    if (Client* client = LiveClient(control)) {
      found = true;
      made = client->CreateSocket(&s, &serial);
      if (made) {
        core = client->core();
        RetainSocketCore(core);
      }
    }
  }
  if (!found) {
    if (OutlivedControl(control)) return false;
    ReportFatalError(kTextNoSuchControl, 0);
  }
  if (!made) return false;
  if (connection) *connection = serial;

  bool connected = TcpClient::Connect(core, s, serial, host, port16);
  ReleaseSocketCore(core);
  return connected;
}

ByteBuffer* GetReceivedData(ControlRef control) {
  Client* client = ClientOrFatal(control);
  // The bytes belong to the event being raised on the window's thread.
  if (!OnWindowThread(client)) return nullptr;
  return client->CopyReceived();
}

uint32_t GetEventConnection(ControlRef control) {
  Client* client = ClientOrFatal(control);
  if (!OnWindowThread(client)) return 0;
  return client->event_connection();
}

int32_t GetEventCloseError(ControlRef control) {
  Client* client = ClientOrFatal(control);
  if (!OnWindowThread(client)) return 0;
  return client->event_close_error();
}
