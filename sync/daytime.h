// Handling of the Daytime server's reply: from the received bytes to the
// clock set, the result in the status bar and the network time in the edit
// box. User-interface thread only: the data-arrival and connection-closed
// events of 客户1 are raised there, and all state here belongs to it.
#pragma once

#include <cstdint>

#include "values/text.h"

// A reply may reach the client in pieces. The bytes of one connection are
// gathered until the reply is complete: a line feed after its first
// character that is not white space, or the server closing the connection.
// More than kMaxReplyBytes without completing is a malformed reply.
constexpr int32_t kMaxReplyBytes = 4096;

class ReplyGatherer {
 public:
  enum class Step {
    kWaiting,   // keep gathering
    kComplete,  // reply() holds the whole reply; handle it once
    kMalformed,  // too long without completing, or cut off by a reset
    kIgnored,   // this connection's reply was already handled
  };

  // Bytes of `connection` (a connection serial); a new serial drops whatever
  // an earlier connection left.
  Step Feed(uint32_t connection, const unsigned char* bytes, int32_t count);
  // The server closed `connection`: whatever was gathered is the reply.
  Step Close(uint32_t connection);
  // The connection was reset or aborted: what was gathered may be cut off
  // anywhere, even inside the time, so it is no reply. kMalformed when bytes
  // were gathered (a failed synchronisation), kIgnored otherwise.
  Step Abort(uint32_t connection);

  // The gathered reply, laid out as a ByteBuffer so that it is converted to
  // text without another copy.
  const ByteBuffer* reply() {
    reply_.head.marker = 1;
    reply_.head.length = length_;
    return &reply_.head;
  }

 private:
  void Restart(uint32_t connection);

  uint32_t connection_ = 0;
  bool done_ = false;       // the reply of connection_ has been handed out
  bool seen_text_ = false;  // a character that is not white space was gathered
  int32_t length_ = 0;
  struct {
    // All zero, filled in by reply(): so the whole object is constant
    // initialised into the executable's bss, not written out in its data.
    ByteBuffer head;
    unsigned char data[kMaxReplyBytes];
  } reply_{};
};

// Steps from the reply text to the clock and the texts shown, for one whole
// reply. A reply with fewer than three fields is a failed synchronisation:
// "校时错误", with the clock and the edit box left as they were.
void HandleDaytimeReply(const ByteBuffer* reply);

// Marks that the result of `connection` is on the status bar, so that a
// later "connected" or "failed" text of that connection (or of an older
// one) does not replace it. Read and written on the user-interface thread.
void NoteResultShown(uint32_t connection);
bool ResultShownFor(uint32_t connection);
