// The heap work of one reply handling: every block the handler and the
// services it calls take from the heap, counted through GetBlockCounts and
// compared with what the algorithms make for that reply, and none left over.
// The expected figure is derived from the reply itself, step by step.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fakes.h"
#include "values/memory.h"

namespace {

const std::string kSynchronised =  // 校时完毕,当前系统时间:
    "\xD0\xA3\xCA\xB1\xCD\xEA\xB1\xCF,\xB5\xB1\xC7\xB0\xCF\xB5\xCD\xB3\xCA\xB1\xBC\xE4:";

// The pieces of `text` between single spaces, empty ones included, with the
// splitter's rule for the end: a space at the very end adds no piece.
std::vector<std::string> Pieces(const std::string& text) {
  std::vector<std::string> pieces;
  size_t start = 0;
  for (size_t at; (at = text.find(' ', start)) != std::string::npos; start = at + 1) {
    pieces.push_back(text.substr(start, at - start));
  }
  if (start < text.size()) pieces.push_back(text.substr(start));
  return pieces;
}

// Blocks of one FormatClockText of the clock text `shown` (YYYY-MM-DD
// HH:MM:SS): a NumberToText per component, a TextToNumber work copy for each
// of the five padded ones, a "0" + text join for each below 10, the joined
// text and its returned copy.
uint32_t FormatBlocks(const std::string& shown) {
  const uint32_t components = 6;
  const uint32_t number_work_copies = 5;
  uint32_t padded = 0;
  // Month, day, hour, minute and second start at these offsets behind the
  // year; each is two digits and begins with '0' exactly when padded.
  const size_t year_end = shown.find('-');
  for (size_t offset : {1u, 4u, 7u, 10u, 13u}) padded += shown[year_end + offset] == '0' ? 1 : 0;
  const uint32_t joined = 1;
  const uint32_t copy = 1;
  return components + number_work_copies + padded + joined + copy;
}

struct Handling {
  BlockCounts before;
  BlockCounts after;
  uint32_t allocated() const { return after.allocated - before.allocated; }
  uint32_t released() const { return after.released - before.released; }
};

class BlocksTest : public ::testing::Test {
 protected:
  void SetUp() override { fake::Reset(); }
  fake::State& s() { return fake::state(); }

  Handling Handle(const std::string& reply) {
    const uint32_t connection = fake::FreshConnection();
    Handling h;
    h.before = GetBlockCounts();
    fake::Deliver(connection, reply);
    h.after = GetBlockCounts();
    return h;
  }

  // The blocks of the handling up to the clock setting, for a reply that
  // completes in one delivery, has at least three fields, no zero byte and
  // at most 32 fields (the split's work list then stays off the heap).
  static uint32_t BlocksBeforeClock(const std::string& reply) {
    const uint32_t received = 1;    // GetReceivedData's copy of the bytes
    const uint32_t reply_text = 1;  // BytesToText
    uint32_t elements = 0;          // SplitText: one per non-empty piece...
    for (const std::string& piece : Pieces(reply)) elements += piece.empty() ? 0 : 1;
    const uint32_t array = 1;       // ...and the array at its exact size
    const uint32_t joins = 3;       // date text, time text, clock text
    const uint32_t parse_work_copy = 1;  // ParseDateTime's NormaliseFullWidth
    return received + reply_text + elements + array + joins + parse_work_copy;
  }
};

const std::string kNist = "\n55420 10-08-12 02:24:10 50 0 0 0.0 UTC(NIST) * \n";

TEST_F(BlocksTest, RefusedClockTakesTheBlocksOfItsStepsAndGivesAllBack) {
  s().clock_accepts = false;
  const struct {
    const char* name;
    std::string reply;
    const char* edit;
  } cases[] = {
      // Edit text 2010-08-12 10:24:10: only the month is below 10.
      {"nist", kNist, "2010-08-12 10:24:10"},
      // Two empty fields (absent, no block): the date and the time still in
      // fields 2 and 3; 01:05:09 + 8 h pads all five components.
      {"empty fields", "\n55420 10-01-01 01:05:09  0   UTC(NIST) * \n", "2010-01-01 09:05:09"},
      // A Daytime-like reply without the leading line feed, ending in the line feed.
      {"no leading line feed", "55420 10-12-31 20:30:00 00 0 0 0.0 UTC(NIST) *\n", "2011-01-01 04:30:00"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    s().edit.clear();
    const Handling h = Handle(c.reply);
    ASSERT_EQ(s().edit.size(), 1u);
    ASSERT_EQ(s().edit.back(), c.edit);
    const uint32_t edit_text = FormatBlocks(s().edit.back());
    EXPECT_EQ(h.allocated(), BlocksBeforeClock(c.reply) + edit_text);
    EXPECT_EQ(h.released(), h.allocated());
  }
}

TEST_F(BlocksTest, AcceptedClockAddsTheReadBackAndTheStatusText) {
  s().clock_accepts = true;
  const Handling h = Handle(kNist);
  ASSERT_EQ(s().edit.size(), 1u);
  const std::string status = fake::LastStatus();
  ASSERT_EQ(status.compare(0, kSynchronised.size(), kSynchronised), 0) << status;
  // The clock read back is whatever the clock said: its padding is read off
  // the text shown.
  const uint32_t read_back = FormatBlocks(status.substr(kSynchronised.size()));
  const uint32_t status_text = 1;  // the synchronised text + the clock read back
  const uint32_t edit_text = FormatBlocks(s().edit.back());
  EXPECT_EQ(h.allocated(), BlocksBeforeClock(kNist) + read_back + status_text + edit_text);
  EXPECT_EQ(h.released(), h.allocated());
}

TEST_F(BlocksTest, SplitOfManyFieldsAddsOnlyItsWorkList) {
  // 40 fields: past the 32 references the split keeps in place, its work
  // list moves to one block of 64 (and gives it back).
  s().clock_accepts = false;
  std::string reply = "\n55420 10-08-12 02:24:10";
  for (int i = 0; i < 36; ++i) reply += " x";
  reply += " \n";
  ASSERT_EQ(Pieces(reply).size(), 40u);
  const Handling h = Handle(reply);
  ASSERT_EQ(s().edit.size(), 1u);
  const uint32_t work_list = 1;
  EXPECT_EQ(h.allocated(), BlocksBeforeClock(reply) + work_list + FormatBlocks(s().edit.back()));
  EXPECT_EQ(h.released(), h.allocated());
}

}  // namespace
