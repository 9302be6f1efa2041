#include "net/tcp_client.h"

#include "values/memory.h"

void ByteBlock::Swap(ByteBlock& other) {
  unsigned char* b = bytes_;
  int32_t n = length_;
  int32_t c = capacity_;
  bytes_ = other.bytes_;
  length_ = other.length_;
  capacity_ = other.capacity_;
  other.bytes_ = b;
  other.length_ = n;
  other.capacity_ = c;
}

void ByteBlock::Clear() {
  ReleaseBlock(bytes_);
  bytes_ = nullptr;
  length_ = 0;
  capacity_ = 0;
}

unsigned char* ByteBlock::Reserve(int32_t room, int32_t limit) {
  if (capacity_ - length_ < room) {
    int32_t capacity = capacity_ < 4096 ? 4096 : capacity_ * 2;
    if (capacity > limit) capacity = limit;
    if (capacity < length_ + room) capacity = length_ + room;
    auto* grown = static_cast<unsigned char*>(AllocateBlock(static_cast<uint32_t>(capacity)));
    if (length_ > 0) CopyMemory(grown, bytes_, static_cast<SIZE_T>(length_));
    ReleaseBlock(bytes_);
    bytes_ = grown;
    capacity_ = capacity;
  }
  return bytes_ + length_;
}

bool TcpClient::CreateSocket(SOCKET* created, uint32_t* serial) {
  *created = INVALID_SOCKET;
  *serial = 0;
  if (!network_ready()) return false;
  SocketCore* core = this->core();
  SocketCoreLock lock(core);
  // Data not yet read from the old connection is lost, and it raises no
  // closed event: the window ignores whatever it already posted (the
  // activation message of the next socket tells them apart).
  CloseCoreSocketLocked(core);
  SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
  if (s == INVALID_SOCKET) return false;
  *created = s;
  *serial = ++core->last_serial;
  return true;
}

bool TcpClient::Connect(SocketCore* core, SOCKET s, uint32_t serial, const char* host,
                        uint16_t port) {
  sockaddr_in address;
  if (!ResolveHost(host, port, &address)) {
    // The unconnected socket stays with the control, to be closed by the
    // next attempt or the control's end, unless something else holds that
    // place by now.
    SocketCoreLock lock(core);
    if (core->dead || core->socket != INVALID_SOCKET) {
      closesocket(s);
    } else {
      core->socket = s;
      core->socket_serial = serial;
      core->connected = false;
    }
    return false;
  }

  // Blocking, without a lock: the user-interface thread keeps handling the
  // current connection meanwhile.
  if (connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    closesocket(s);
    return false;
  }

  SocketCoreLock lock(core);
  if (core->dead) {
    // The control ended while this thread waited: its window is gone.
    closesocket(s);
    return false;
  }
  if (core->connected && core->socket_serial > serial) {
    // A newer attempt's connection is already delivering; this one must not
    // replace it.
    closesocket(s);
    return true;
  }
  CloseCoreSocketLocked(core);
  // The activation goes first, so that the window sees it before any
  // notification of this socket.
  if (!PostMessageW(core->notify, kSocketActivatedMessage, static_cast<WPARAM>(s),
                    static_cast<LPARAM>(serial)) ||
      WSAAsyncSelect(s, core->notify, kSocketNotifyMessage, kSocketNotifyEvents) != 0) {
    WSAAsyncSelect(s, core->notify, 0, 0);
    closesocket(s);
    return false;
  }
  core->socket = s;
  core->socket_serial = serial;
  core->connected = true;
  return true;
}

LRESULT TcpClient::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case kSocketNotifyMessage:
      OnSocketNotify(static_cast<SOCKET>(wp), WSAGETSELECTEVENT(lp), WSAGETSELECTERROR(lp));
      return 0;
    case kSocketActivatedMessage:
      OnSocketActivated(lp);
      return 0;
    default:
      return SocketWindow::HandleMessage(msg, wp, lp);
  }
}

namespace {

// Windows puts a reset into the error half of FD_CLOSE (WSAECONNRESET).
// Where a stack leaves it 0, a peek at the closed socket may still tell: an
// orderly close reads as the end of the stream, a reset or an abort as an
// error. Nothing is consumed; the socket is non-blocking, so the peek never
// waits. (Wine 8 shows a reset as an orderly close both ways.)
WORD ProbeAbortiveClose(SOCKET s) {
  char byte;
  int got = recv(s, &byte, 1, MSG_PEEK);
  if (got != SOCKET_ERROR) return 0;
  int error = WSAGetLastError();
  return (error == WSAECONNRESET || error == WSAECONNABORTED || error == WSAENETRESET)
             ? static_cast<WORD>(error)
             : 0;
}

}  // namespace

void TcpClient::OnSocketNotify(SOCKET s, WORD event, WORD error) {
  SocketCore* core = this->core();
  ByteBlock gathered;
  uint32_t serial;
  {
    // Held while reading, so that no connecting thread closes the socket
    // (and lets its handle value be reused) under the reads. Every read is
    // non-blocking.
    SocketCoreLock lock(core);
    // Only the current connection speaks: notifications of a socket closed
    // by a newer attempt, still queued, are dropped.
    if (core->socket == INVALID_SOCKET || !core->connected || core->socket != s ||
        core->socket_serial != active_serial_) {
      return;
    }
    serial = core->socket_serial;
    if (event == FD_CLOSE && error == 0) error = ProbeAbortiveClose(s);
    if (event != FD_CLOSE) {
      u_long waiting = 0;
      if (ioctlsocket(s, FIONREAD, &waiting) != 0) return;
      int32_t first = waiting < 1 ? 1
                      : waiting > static_cast<u_long>(kMaxGatherBytes)
                          ? kMaxGatherBytes
                          : static_cast<int32_t>(waiting);
      int32_t want = first;
      while (want > 0) {
        int got = recv(s, reinterpret_cast<char*>(gathered.Reserve(want, kMaxGatherBytes)), want, 0);
        // SOCKET_ERROR: the waiting data is consumed (WSAEWOULDBLOCK) or the
        // read failed; 0: the server has closed.
        if (got <= 0) break;
        gathered.Grow(got);
        int32_t room = kMaxGatherBytes - gathered.length();
        want = room < kReadChunkBytes ? room : kReadChunkBytes;
      }
    }
  }

  // The events run without the lock: a handler may take as long as it likes
  // and a connecting thread must not wait for it. Saved and restored, as a
  // handler may pump messages (a message box) and so nest a notification.
  uint32_t outer = event_connection_;
  int32_t outer_error = event_close_error_;
  event_connection_ = serial;
  if (event == FD_CLOSE) {
    // The error half tells an orderly close (0) from a reset or an abort,
    // after which whatever the server had sent may be incomplete.
    event_close_error_ = error;
    OnClosed();
  } else if (gathered.length() > 0) {
    OnReceived(gathered);
  }
  event_connection_ = outer;
  event_close_error_ = outer_error;
}
