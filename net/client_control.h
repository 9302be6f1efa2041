// The top layer of the client connection control 客户1: the control placed
// on a window. It raises the data-arrival event (0) and the connection-closed
// event (1) of its design entry and keeps the received bytes for the
// data-arrival handler. User-interface thread, except where noted.
#pragma once

#include "net/tcp_client.h"

class Client final : public TcpClient {
 public:
  // Makes the control's hidden child window; null when it cannot be made.
  static Client* Create(ControlRef ref, HWND parent, int child_id, const RECT& rect);

  // A fresh copy of the received bytes, null when there are none (always,
  // outside the data-arrival event).
  ByteBuffer* CopyReceived() const;

 protected:
  void OnReceived(ByteBlock& gathered) override;
  void OnClosed() override;
  LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp) override;
  void OnFinalDestroy() override;

 private:
  explicit Client(ControlRef ref) : control_(ref) {}
  ~Client() override = default;

  ControlRef control_;
  // The bytes of the data-arrival event being raised; empty at other times.
  ByteBlock received_;
  // A handler may destroy the window (and so this object) while an event
  // runs; the deletion then waits until the notification is done with us.
  int32_t notify_depth_ = 0;
  bool creating_ = false;
  bool destroy_pending_ = false;
};
