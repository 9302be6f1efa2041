// The reply handling from the received bytes to the clock, the status bar and
// the edit box, with the window layer faked.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fakes.h"
#include "sync/handlers.h"
#include "values/memory.h"

namespace {

// The expected texts, as GBK bytes.
const std::string kSynchronised =  // 校时完毕,当前系统时间:
    "\xD0\xA3\xCA\xB1\xCD\xEA\xB1\xCF,\xB5\xB1\xC7\xB0\xCF\xB5\xCD\xB3\xCA\xB1\xBC\xE4:";
const std::string kSyncFailed = "\xD0\xA3\xCA\xB1\xB4\xED\xCE\xF3";  // 校时错误

const std::string kNist = "\n55420 10-08-12 02:24:10 50 0 0 0.0 UTC(NIST) * \n";

class DaytimeTest : public ::testing::Test {
 protected:
  void SetUp() override { fake::Reset(); }
  fake::State& s() { return fake::state(); }
};

// Formats fields the way the status bar and the edit box show them.
std::string Shown(const LocalTimeFields& f) {
  char buf[64];
  snprintf(buf, sizeof buf, "%d-%02d-%02d %02d:%02d:%02d", f.wYear, f.wMonth, f.wDay, f.wHour,
           f.wMinute, f.wSecond);
  return buf;
}

struct ReplyCase {
  const char* name;
  std::string reply;
  bool clock_accepts;
  const char* clock_set;  // the time handed to SetLocalTime, or null for no call
  std::string status;     // "ok" for the synchronised text, else the exact text; "" for none
  const char* edit;       // null: the edit box is not written
};

class ReplyTable : public DaytimeTest, public ::testing::WithParamInterface<ReplyCase> {};

TEST_P(ReplyTable, SetsClockAndShowsResult) {
  const ReplyCase& c = GetParam();
  s().clock_accepts = c.clock_accepts;
  uint32_t conn = fake::FreshConnection();
  fake::Deliver(conn, c.reply);
  fake::Close(conn);

  if (c.clock_set) {
    ASSERT_EQ(s().clock_sets.size(), 1u);
    EXPECT_EQ(Shown(s().clock_sets[0]), c.clock_set);
    EXPECT_EQ(s().clock_sets[0].wMilliseconds, 0);
  } else {
    EXPECT_TRUE(s().clock_sets.empty());
  }
  if (c.status.empty()) {
    EXPECT_TRUE(s().status.empty());
  } else if (c.status == "ok") {
    ASSERT_EQ(s().status.size(), 1u);
    const std::string& t = s().status[0].text;
    ASSERT_EQ(t.compare(0, kSynchronised.size(), kSynchronised), 0) << t;
    // The clock read back, "YYYY-MM-DD HH:MM:SS".
    EXPECT_EQ(t.size(), kSynchronised.size() + 19) << t;
    EXPECT_EQ(s().status[0].part, 0);
  } else {
    ASSERT_EQ(s().status.size(), 1u);
    EXPECT_EQ(s().status[0].text, c.status);
    EXPECT_EQ(s().status[0].part, 0);
  }
  if (c.edit) {
    ASSERT_EQ(s().edit.size(), 1u);
    EXPECT_EQ(s().edit[0], c.edit);
  } else {
    EXPECT_TRUE(s().edit.empty());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Replies, ReplyTable,
    ::testing::Values(
        ReplyCase{"nist", kNist, true, "2010-08-12 10:24:10", "ok", "2010-08-12 10:24:10"},
        ReplyCase{"refused", kNist, false, "2010-08-12 10:24:10", kSyncFailed,
                  "2010-08-12 10:24:10"},
        ReplyCase{"rollover", "\n55561 10-12-31 20:30:00 00 0 0 0.0 UTC(NIST) * \n", true,
                  "2011-01-01 04:30:00", "ok", "2011-01-01 04:30:00"},
        ReplyCase{"no_leading_lf", "55420 10-08-12 02:24:10 50 0 0 0.0 UTC(NIST) *\n", true,
                  "2010-08-12 10:24:10", "ok", "2010-08-12 10:24:10"},
        ReplyCase{"crlf", "\r\n55420 10-08-12 02:24:10 50 0 0 0.0 UTC(NIST) *\r\n", true,
                  "2010-08-12 10:24:10", "ok", "2010-08-12 10:24:10"},
        // An empty field 2 makes the clock text 20-10-08-12, which does not
        // parse: the failure value, clamped to 100-01-01, is refused.
        ReplyCase{"two_spaces", "\n55420  10-08-12 02:24:10 50 0 0 0.0 UTC(NIST) *\n", true,
                  "100-01-01 00:00:00", kSyncFailed, "100-01-01 00:00:00"},
        ReplyCase{"only_three_fields", "\n55420 10-08-12 02:24:10", true,
                  "2010-08-12 10:24:10", "ok", "2010-08-12 10:24:10"},
        // Too few fields: a failed synchronisation, nothing else changes.
        ReplyCase{"one_field", "\n55420\n", true, nullptr, kSyncFailed, nullptr},
        ReplyCase{"two_fields", "\n55420 10-08-12\n", true, nullptr, kSyncFailed, nullptr},
        ReplyCase{"zero_first", std::string("\0\n55420 10-08-12 02:24:10 x\n", 28), true, nullptr,
                  kSyncFailed, nullptr},
        ReplyCase{"only_white_space", " \r\n\t ", true, nullptr, kSyncFailed, nullptr},
        // The text ends at the first zero byte.
        ReplyCase{"zero_after_time", std::string("\n55420 10-08-12 02:24:10\0 junk\n", 31), true,
                  "2010-08-12 10:24:10", "ok", "2010-08-12 10:24:10"}),
    [](const auto& info) { return std::string(info.param.name); });

// What the handlers do with a whole reply, recorded for comparison.
struct Outcome {
  std::vector<std::string> status;
  std::vector<std::string> edit;
  std::vector<std::string> clock;
};

Outcome Record(const std::vector<std::string>& pieces, bool close) {
  fake::Reset();
  uint32_t conn = fake::FreshConnection();
  for (const auto& p : pieces) fake::Deliver(conn, p);
  if (close) fake::Close(conn);
  Outcome o;
  for (auto& w : fake::state().status) o.status.push_back(w.text.substr(0, kSynchronised.size()));
  o.edit = fake::state().edit;
  for (auto& f : fake::state().clock_sets) o.clock.push_back(Shown(f));
  return o;
}

TEST(DaytimePieces, EverySplitGivesTheResultOfTheWholeReply) {
  for (bool close : {false, true}) {
    Outcome whole = Record({kNist}, close);
    ASSERT_EQ(whole.clock.size(), 1u);
    for (size_t cut = 1; cut < kNist.size(); ++cut) {
      Outcome split = Record({kNist.substr(0, cut), kNist.substr(cut)}, close);
      EXPECT_EQ(split.clock, whole.clock) << "cut at " << cut;
      EXPECT_EQ(split.status, whole.status) << "cut at " << cut;
      EXPECT_EQ(split.edit, whole.edit) << "cut at " << cut;
    }
    std::vector<std::string> bytes;
    for (char c : kNist) bytes.push_back(std::string(1, c));
    Outcome drip = Record(bytes, close);
    EXPECT_EQ(drip.clock, whole.clock);
    EXPECT_EQ(drip.edit, whole.edit);
  }
}

TEST_F(DaytimeTest, PieceEndingInsideTheTimeWaitsForTheRest) {
  uint32_t conn = fake::FreshConnection();
  fake::Deliver(conn, "\n55420 10-08-12 12:3");
  EXPECT_TRUE(s().clock_sets.empty());
  EXPECT_TRUE(s().status.empty());
  fake::Deliver(conn, "4:56 50 0 0 0.0 UTC(NIST) * \n");
  ASSERT_EQ(s().clock_sets.size(), 1u);
  EXPECT_EQ(Shown(s().clock_sets[0]), "2010-08-12 20:34:56");
}

TEST_F(DaytimeTest, ServerClosingCompletesAReplyWithoutLineFeed) {
  uint32_t conn = fake::FreshConnection();
  fake::Deliver(conn, "\n55420 10-08-12 02:24:10 50 0 0 0.0 UTC(NIST) *");
  EXPECT_TRUE(s().clock_sets.empty());
  fake::Close(conn);
  ASSERT_EQ(s().clock_sets.size(), 1u);
  EXPECT_EQ(s().edit, std::vector<std::string>{"2010-08-12 10:24:10"});
}

TEST_F(DaytimeTest, ClockIsSetOnceAndLaterBytesOfTheConnectionAreIgnored) {
  uint32_t conn = fake::FreshConnection();
  fake::Deliver(conn, kNist + "\n55420 11-01-01 00:00:00 0 0 0 0.0 UTC(NIST) *\n");
  fake::Deliver(conn, kNist);
  fake::Close(conn);
  EXPECT_EQ(s().clock_sets.size(), 1u);
  EXPECT_EQ(s().status.size(), 1u);
  EXPECT_EQ(s().edit.size(), 1u);
}

TEST_F(DaytimeTest, NewConnectionDropsWhatTheEarlierOneLeft) {
  uint32_t first = fake::FreshConnection();
  uint32_t second = fake::FreshConnection();
  fake::Deliver(first, "\n55420 99-01-0");
  fake::Deliver(second, "\n55561 10-12-31 20:30:00 00 0 0 0.0 UTC(NIST) * \n");
  ASSERT_EQ(s().clock_sets.size(), 1u);
  EXPECT_EQ(Shown(s().clock_sets[0]), "2011-01-01 04:30:00");
  fake::Close(first);  // a stale close changes nothing
  EXPECT_EQ(s().clock_sets.size(), 1u);
}

TEST_F(DaytimeTest, ResetCutsTheReplyOff) {
  constexpr int32_t kConnectionReset = 10054;  // WSAECONNRESET
  // Cut inside the seconds, and cut after the last field without a line
  // feed: neither may set the clock, however plausible the rest looks.
  for (const char* piece : {"\n55420 10-08-12 02:24:1", "\n55420 10-08-12 02:24:10 50 0 0 0.0 UTC(NIST) *"}) {
    fake::Reset();
    uint32_t conn = fake::FreshConnection();
    fake::Deliver(conn, piece);
    fake::Close(conn, kConnectionReset);
    EXPECT_TRUE(s().clock_sets.empty()) << piece;
    EXPECT_TRUE(s().edit.empty()) << piece;
    EXPECT_EQ(fake::LastStatus(), kSyncFailed) << piece;
  }
  // A reset with nothing received, or after the whole line, changes nothing.
  fake::Reset();
  fake::Close(fake::FreshConnection(), kConnectionReset);
  EXPECT_TRUE(s().status.empty());
  uint32_t conn = fake::FreshConnection();
  fake::Deliver(conn, kNist);
  fake::Close(conn, kConnectionReset);
  EXPECT_EQ(s().clock_sets.size(), 1u);
  EXPECT_EQ(s().status.size(), 1u);
}

TEST_F(DaytimeTest, ServerClosingWithoutDataShowsNothing) {
  fake::Close(fake::FreshConnection());
  EXPECT_TRUE(s().status.empty());
  EXPECT_TRUE(s().edit.empty());
  EXPECT_TRUE(s().clock_sets.empty());
}

TEST_F(DaytimeTest, OverlongReplyIsMalformedAndTheRestIgnored) {
  for (size_t size : {4097u, 10240u}) {
    fake::Reset();
    uint32_t conn = fake::FreshConnection();
    std::string line = "\n55420 10-08-12 02:24:10 " + std::string(size, 'x');
    // In pieces, as a long line reaches the client.
    for (size_t at = 0; at < line.size(); at += 1000) fake::Deliver(conn, line.substr(at, 1000));
    fake::Deliver(conn, "\n");
    fake::Close(conn);
    EXPECT_TRUE(s().clock_sets.empty()) << size;
    EXPECT_TRUE(s().edit.empty()) << size;
    ASSERT_EQ(s().status.size(), 1u) << size;
    EXPECT_EQ(s().status[0].text, kSyncFailed);
  }
}

TEST_F(DaytimeTest, ReplyOfExactlyTheLimitIsStillHandled) {
  std::string reply = kNist.substr(0, kNist.size() - 1);
  reply += std::string(4096 - reply.size() - 1, 'x') + "\n";
  ASSERT_EQ(reply.size(), 4096u);
  uint32_t conn = fake::FreshConnection();
  fake::Deliver(conn, reply);
  EXPECT_EQ(s().clock_sets.size(), 1u);
}

TEST_F(DaytimeTest, HandlingLeavesNoBlockBehind) {
  for (const std::string& reply : {kNist, std::string("\n1 2\n"), std::string("x"),
                                   std::string("\n55420  10-08-12 02:24:10 x\n")}) {
    BlockCounts before = GetBlockCounts();
    uint32_t conn = fake::FreshConnection();
    fake::Deliver(conn, reply);
    fake::Close(conn);
    BlockCounts after = GetBlockCounts();
    EXPECT_GT(after.allocated, before.allocated) << reply;
    EXPECT_EQ(after.allocated - before.allocated, after.released - before.released) << reply;
  }
}

}  // namespace
