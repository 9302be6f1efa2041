// The middle layer of the client connection control: IPv4 TCP sockets, the
// connection attempt, and the reading of what the server sends when Windows
// Sockets notifies the control's window. It knows nothing of controls or
// events; it reports through OnReceived and OnClosed.
//
// Threads: Connect runs on the thread that asks for the connection and uses
// the core only. The notification handling, OnReceived and OnClosed run on
// the user-interface thread, which owns the window.
#pragma once

#include <cstdint>

#include "net/socket_window.h"

// The most bytes one notification gathers. A server that sends faster than
// the window reads must not keep the window from its other messages, nor
// grow the gathered bytes without end: what is left waits for the next
// FD_READ, which Windows Sockets posts again after a recv while data remains.
constexpr int32_t kMaxGatherBytes = 64 * 1024;
constexpr int32_t kReadChunkBytes = 1024;

// Bytes in one heap block, owned. Swap hands ownership over without copying.
class ByteBlock {
 public:
  ByteBlock() = default;
  ~ByteBlock() { Clear(); }
  ByteBlock(const ByteBlock&) = delete;
  ByteBlock& operator=(const ByteBlock&) = delete;

  const unsigned char* bytes() const { return bytes_; }
  int32_t length() const { return length_; }
  void Swap(ByteBlock& other);
  void Clear();
  // Room for at least `room` more bytes past length(), growing by doubling
  // but, where `room` allows, to no more than `limit` bytes; returns where
  // the bytes go.
  unsigned char* Reserve(int32_t room, int32_t limit);
  void Grow(int32_t added) { length_ += added; }

 private:
  unsigned char* bytes_ = nullptr;
  int32_t length_ = 0;
  int32_t capacity_ = 0;
};

class TcpClient : public SocketWindow {
 public:
  // Closes the control's current socket without a closed event and makes a
  // stream socket for a new attempt, with the attempt's serial. The new
  // socket belongs to the calling thread until Connect hands it over.
  // Called with the design lock held.
  bool CreateSocket(SOCKET* created, uint32_t* serial) override;

  // The rest of an attempt that CreateSocket began, on the calling thread:
  // resolve, connect (blocking), and hand the socket to the control with its
  // notifications requested. Touches only `core`, so the control may be
  // destroyed meanwhile (the result is then false).
  //
  // Overlapping attempts: the newest attempt that connects is the one whose
  // data is delivered. An attempt that connects while a newer attempt's
  // connection is already held is superseded: it closes its own socket and
  // returns true (its server did accept it), but no event ever comes of it.
  // An older attempt that connects after a newer one failed, or before the
  // newer one connects, becomes the control's connection until then.
  static bool Connect(SocketCore* core, SOCKET s, uint32_t serial, const char* host,
                      uint16_t port);

  // The serial of the connection whose notification is being handled (while
  // OnReceived or OnClosed runs), 0 at all other times.
  uint32_t event_connection() const { return event_connection_; }
  // The Winsock error of the close being raised (WSAECONNRESET for a reset,
  // 0 for an orderly close, and 0 outside OnClosed).
  int32_t event_close_error() const { return event_close_error_; }

 protected:
  TcpClient() = default;

  virtual void OnReceived(ByteBlock& gathered) { (void)gathered; }
  virtual void OnClosed() {}

  LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp) override;

 private:
  void OnSocketNotify(SOCKET s, WORD event, WORD error);
  void OnSocketActivated(LPARAM serial) { active_serial_ = static_cast<uint32_t>(serial); }

  // User-interface thread only.
  uint32_t active_serial_ = 0;  // serial of the last activation message handled
  uint32_t event_connection_ = 0;
  int32_t event_close_error_ = 0;
};
