#include "net/socket_window.h"

#include "values/memory.h"

SocketCore* NewSocketCore() {
  auto* core = static_cast<SocketCore*>(AllocateBlock(sizeof(SocketCore)));
  core->refs = 1;
  InitializeCriticalSection(&core->lock);
  core->socket = INVALID_SOCKET;
  core->socket_serial = 0;
  core->connected = false;
  core->last_serial = 0;
  core->dead = false;
  core->notify = nullptr;
  return core;
}

void RetainSocketCore(SocketCore* core) { InterlockedIncrement(&core->refs); }

void ReleaseSocketCore(SocketCore* core) {
  if (InterlockedDecrement(&core->refs) != 0) return;
  // The last holder: nobody else can reach the core any more.
  if (core->socket != INVALID_SOCKET) closesocket(core->socket);
  DeleteCriticalSection(&core->lock);
  ReleaseBlock(core);
}

void CloseCoreSocketLocked(SocketCore* core) {
  SOCKET s = core->socket;
  if (s == INVALID_SOCKET) return;
  core->socket = INVALID_SOCKET;
  core->socket_serial = 0;
  core->connected = false;
  // Cancel first: once closed, the handle value may be given to a new socket.
  WSAAsyncSelect(s, core->notify, 0, 0);
  closesocket(s);
}

NetworkUse::NetworkUse() {
  WSADATA data;
  ready_ = WSAStartup(kWinsockVersion, &data) == 0;
}

NetworkUse::~NetworkUse() {
  if (ready_) WSACleanup();
}

SocketWindow::SocketWindow() : core_(NewSocketCore()) {}

SocketWindow::~SocketWindow() {
  {
    SocketCoreLock lock(core_);
    CloseCoreSocketLocked(core_);
    core_->dead = true;
    core_->notify = nullptr;
  }
  // A thread still connecting keeps the core alive; it finds `dead` and
  // closes its own socket.
  ReleaseSocketCore(core_);
  core_ = nullptr;
}

bool SocketWindow::CreateSocket(SOCKET* created, uint32_t* serial) {
  *created = INVALID_SOCKET;
  *serial = 0;
  return false;
}

void SocketWindow::CloseSocket() {
  SocketCoreLock lock(core_);
  CloseCoreSocketLocked(core_);
}

bool SocketWindow::ResolveHost(const char* host, uint16_t port, sockaddr_in* address) {
  if (host == nullptr || host[0] == '\0') return false;
  ZeroMemory(address, sizeof *address);
  address->sin_family = AF_INET;
  address->sin_port = htons(port);
  // A dotted address needs no lookup. ("255.255.255.255" reads as
  // INADDR_NONE and goes to the lookup, which is what Winsock 1.1 allows.)
  unsigned long dotted = inet_addr(host);
  if (dotted != INADDR_NONE) {
    address->sin_addr.s_addr = dotted;
    return true;
  }
  // The answer lives in storage of this thread until its next lookup; only
  // its first address is tried. Anything but a 4-byte IPv4 address would not
  // fit the address field (or mean something else in it): a failed lookup.
  const hostent* found = gethostbyname(host);
  if (found == nullptr || found->h_addrtype != AF_INET || found->h_length != 4 ||
      found->h_addr_list == nullptr || found->h_addr_list[0] == nullptr) {
    return false;
  }
  CopyMemory(&address->sin_addr, found->h_addr_list[0], 4);
  return true;
}
