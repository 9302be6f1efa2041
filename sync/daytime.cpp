#include "sync/daytime.h"

#include <cstring>

#include "sync/clock_text.h"
#include "sync/handlers.h"
#include "sync/platform.h"
#include "sync/texts.h"
#include "values/datetime.h"
#include "values/memory.h"
#include "values/text.h"

namespace {

// The clock text is "20" + field 2 + "-" + field 3; the server's time is UTC
// and the clock is set to it plus this many hours, whatever the computer's
// time zone.
constexpr int32_t kHoursAhead = 8;

// Connection serials start at 1, so 0 means "no result shown yet".
uint32_t g_result_connection = 0;

ReplyGatherer g_gatherer;

bool IsWhiteSpace(unsigned char c) { return c == ' ' || (c >= 0x09 && c <= 0x0D); }

void ShowSyncFailed() { SetStatusText(kStatusBarRef, 0, kTextSyncFailed); }

}  // namespace

void ReplyGatherer::Restart(uint32_t connection) {
  connection_ = connection;
  done_ = false;
  seen_text_ = false;
  length_ = 0;
}

ReplyGatherer::Step ReplyGatherer::Feed(uint32_t connection, const unsigned char* bytes,
                                        int32_t count) {
  if (connection != connection_) Restart(connection);
  if (done_) return Step::kIgnored;
  for (int32_t i = 0; i < count; ++i) {
    if (length_ == kMaxReplyBytes) {
      done_ = true;
      return Step::kMalformed;
    }
    unsigned char c = bytes[i];
    reply_.data[length_++] = c;
    if (c == '\n' && seen_text_) {
      // Whatever follows the line in this piece is not part of the reply.
      done_ = true;
      return Step::kComplete;
    }
    if (!IsWhiteSpace(c)) seen_text_ = true;
  }
  return Step::kWaiting;
}

ReplyGatherer::Step ReplyGatherer::Close(uint32_t connection) {
  if (connection != connection_) Restart(connection);
  if (done_ || length_ == 0) return Step::kIgnored;
  done_ = true;
  return Step::kComplete;
}

ReplyGatherer::Step ReplyGatherer::Abort(uint32_t connection) {
  if (connection != connection_) Restart(connection);
  if (done_ || length_ == 0) return Step::kIgnored;
  done_ = true;
  return Step::kMalformed;
}

void NoteResultShown(uint32_t connection) {
  if (connection > g_result_connection) g_result_connection = connection;
}

bool ResultShownFor(uint32_t connection) {
  return connection != 0 && g_result_connection >= connection;
}

void HandleDaytimeReply(const ByteBuffer* received) {
  char* reply = BytesToText(received);

  TextArray* fields = SplitText(reply ? reply : "", " ");
  ReleaseBlock(reply);

  // Too few fields is a malformed reply from the network, not a fault of the
  // program: report a failed synchronisation and leave everything else.
  if (ArrayElementCount(fields) < 3) {
    ReleaseTextArray(fields);
    ShowSyncFailed();
    return;
  }

  char* date_text = ConcatText({"20", TextArrayElement(fields, 2)});
  char* time_text = ConcatText({"-", TextArrayElement(fields, 3)});
  char* clock_text = ConcatText({date_text, time_text});

  DateTime server_time = ParseDateTime(clock_text);
  DateTime local_time = AddToDateTime(server_time, kPartHour, kHoursAhead);

  char* status_text = nullptr;
  if (SetLocalClock(local_time)) {
    char* now_text = FormatClockText(GetLocalClock());
    status_text = ConcatText({kTextSynchronised, now_text});
    ReleaseBlock(now_text);
    SetStatusText(kStatusBarRef, 0, status_text);
  } else {
    ShowSyncFailed();
  }

  char* edit_text = FormatClockText(local_time);
  SetControlText(kEditBoxRef, edit_text);

  ReleaseTextArray(fields);
  ReleaseBlock(date_text);
  ReleaseBlock(time_text);
  ReleaseBlock(clock_text);
  ReleaseBlock(status_text);
  ReleaseBlock(edit_text);
}

void OnClientDataArrived() {
  uint32_t connection = GetEventConnection(kClientRef);
  ByteBuffer* received = GetReceivedData(kClientRef);
  const ByteBuffer* bytes = received ? received : &kEmptyByteBuffer;
  ReplyGatherer::Step step = g_gatherer.Feed(connection, ByteBufferData(bytes), bytes->length);
  ReleaseBlock(received);

  if (step == ReplyGatherer::Step::kComplete) {
    HandleDaytimeReply(g_gatherer.reply());
    NoteResultShown(connection);
  } else if (step == ReplyGatherer::Step::kMalformed) {
    ShowSyncFailed();
    NoteResultShown(connection);
  }
}

void OnClientConnectionClosed() {
  uint32_t connection = GetEventConnection(kClientRef);
  if (GetEventCloseError(kClientRef) != 0) {
    if (g_gatherer.Abort(connection) == ReplyGatherer::Step::kMalformed) {
      ShowSyncFailed();
      NoteResultShown(connection);
    }
    return;
  }
  if (g_gatherer.Close(connection) == ReplyGatherer::Step::kComplete) {
    HandleDaytimeReply(g_gatherer.reply());
    NoteResultShown(connection);
  }
}
