// The bottom layer of the client connection control: a window of the
// framework that owns one socket, and the small shared core through which a
// connecting thread and the user-interface thread hand that socket over.
//
// Threads: the SocketWindow object belongs to the user-interface thread and
// may be deleted there at any time once its window is destroyed. A thread
// that connects (a worker) therefore never keeps a pointer to the object: it
// takes a reference on the object's SocketCore while the design lock keeps
// the object alive, and from then on touches the core only. The core outlives
// the object until the last reference is dropped.
#pragma once

#include <windows.h>
#include <winsock2.h>

#include <cstdint>

#include "app/window_base.h"

// The notification message that Windows Sockets posts to the control's
// window: wParam the socket, low word of lParam the network event.
constexpr UINT kSocketNotifyMessage = 0x8078;
// Posted by a connecting thread just before it requests notifications for a
// new socket: wParam the socket, lParam its connection serial. Every
// notification of an older socket was posted before it, so the window can
// tell stale notifications from current ones even when the system hands out
// the old socket's handle value again.
constexpr UINT kSocketActivatedMessage = 0x8079;
constexpr long kSocketNotifyEvents = FD_READ | FD_CLOSE;  // 0x21
constexpr WORD kWinsockVersion = 0x0101;                  // Windows Sockets 1.1

// State shared by the control and the threads that connect it. All fields
// but `refs` are read and written under `lock` only.
struct SocketCore {
  volatile LONG refs;  // InterlockedIncrement / InterlockedDecrement
  CRITICAL_SECTION lock;
  // The control's current socket, INVALID_SOCKET when it holds none. Written
  // by connecting threads and by the control's destruction, read by the
  // notification handling on the user-interface thread.
  SOCKET socket;
  uint32_t socket_serial;  // serial of the attempt that made `socket`
  bool connected;          // `socket` is connected and notifications are requested
  uint32_t last_serial;    // the serial handed to the latest attempt
  // Set once, by the user-interface thread, when the control is destroyed;
  // `notify` is null from then on.
  bool dead;
  HWND notify;
};

SocketCore* NewSocketCore();
void RetainSocketCore(SocketCore* core);
void ReleaseSocketCore(SocketCore* core);

// Holds the core's lock for one scope.
class SocketCoreLock {
 public:
  explicit SocketCoreLock(SocketCore* core) : core_(core) { EnterCriticalSection(&core_->lock); }
  ~SocketCoreLock() { LeaveCriticalSection(&core_->lock); }
  SocketCoreLock(const SocketCoreLock&) = delete;
  SocketCoreLock& operator=(const SocketCoreLock&) = delete;

 private:
  SocketCore* core_;
};

// Cancels the notifications of the core's socket and closes it, without any
// closed event; the core then holds none. Caller holds the core's lock.
void CloseCoreSocketLocked(SocketCore* core);

// One use of Windows Sockets for the lifetime of the object: WSAStartup in
// the constructor, WSACleanup in the destructor when the start succeeded.
class NetworkUse {
 public:
  NetworkUse();
  ~NetworkUse();
  NetworkUse(const NetworkUse&) = delete;
  NetworkUse& operator=(const NetworkUse&) = delete;
  bool ready() const { return ready_; }

 private:
  bool ready_;
};

class SocketWindow : public Window {
 public:
  // Makes the next socket of a connection attempt. The base holds no kind of
  // socket of its own and refuses. Called with the design lock held.
  virtual bool CreateSocket(SOCKET* created, uint32_t* serial);

  // A zeroed 16-byte IPv4 address for `host` (a dotted address, used as it
  // is, or a name resolved with gethostbyname) and `port` (host order).
  // False for an absent or empty host, and for a name that does not resolve
  // to exactly one kind of answer this socket can use: an AF_INET address of
  // 4 bytes. Any thread.
  static bool ResolveHost(const char* host, uint16_t port, sockaddr_in* address);

  bool network_ready() const { return network_.ready(); }
  SocketCore* core() const { return core_; }

 protected:
  SocketWindow();
  // Closes the socket, marks the core dead for any thread still connecting,
  // and drops the object's reference on it.
  ~SocketWindow() override;

  // Closes the control's current socket (no closed event). Any thread.
  void CloseSocket();

 private:
  NetworkUse network_;  // constructed first, cleaned up last
  SocketCore* core_;
};
