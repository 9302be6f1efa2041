#include "sync/clock_text.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "values/constants.h"
#include "values/memory.h"

namespace {

DateTime At(int32_t y, int32_t mo, int32_t d, int32_t h = 0, int32_t mi = 0, int32_t s = 0) {
  DateTime x = 0;
  EXPECT_TRUE(DateTimeFromFields(y, mo, d, h, mi, s, &x));
  return x;
}

std::string Format(DateTime value) {
  char* text = FormatClockText(value);
  EXPECT_NE(text, nullptr);
  std::string s = text != nullptr ? text : "<absent>";
  ReleaseBlock(text);
  return s;
}

int32_t LiveBlocks() {
  const BlockCounts c = GetBlockCounts();
  return static_cast<int32_t>(c.allocated - c.released);
}

TEST(FormatClockText, Cases) {
  RegisterProgramConstants();
  const struct {
    DateTime value;
    const char* text;
  } cases[] = {
      {At(2010, 8, 12, 10, 24, 10), "2010-08-12 10:24:10"},
      {At(2011, 1, 1, 4, 30, 0), "2011-01-01 04:30:00"},
      {At(2010, 8, 12), "2010-08-12 00:00:00"},
      {At(999, 6, 15, 8, 5, 9), "999-06-15 08:05:09"},
      {At(100, 1, 1), "100-01-01 00:00:00"},
      {At(2023, 12, 11, 14, 5, 9), "2023-12-11 14:05:09"},
      {At(9999, 12, 31), "9999-12-31 00:00:00"},
      {At(2012, 10, 10, 10, 10, 10), "2012-10-10 10:10:10"},
      {At(2012, 9, 9, 9, 9, 9), "2012-09-09 09:09:09"},
      {At(2010, 8, 12, 23, 59, 59), "2010-08-12 23:59:59"},
      // Readers take the components from the value pulled into the range.
      {AddToDateTime(ParseDateTime("not a date"), kPartHour, 8), "100-01-01 00:00:00"},
      {std::numeric_limits<double>::quiet_NaN(), "9999-12-31 00:00:00"},
      {ParseDateTime("9999-12-31-23:59:59"), "9999-12-31 00:00:00"},
      {-1.5833333333333333, "1899-12-29 14:00:00"},
      // Fractions of a second round to the nearest whole second.
      {At(2010, 8, 12, 10, 24, 10) + 0.6 * kOneSecond, "2010-08-12 10:24:11"},
      {At(2010, 8, 12, 10, 24, 10) + 0.4 * kOneSecond, "2010-08-12 10:24:10"},
  };
  for (const auto& c : cases) {
    const int32_t live = LiveBlocks();
    EXPECT_EQ(Format(c.value), c.text) << c.value;
    EXPECT_EQ(LiveBlocks(), live) << "every piece is released";
  }
}

TEST(FormatClockText, AllocatesItsPiecesAndKeepsOnlyTheResult) {
  RegisterProgramConstants();
  // Six numbers, five paddings with their five work copies of TextToNumber,
  // one join and the copy: the count shows each step made one block.
  const BlockCounts before = GetBlockCounts();
  char* text = FormatClockText(At(2011, 1, 1, 4, 3, 2));
  const BlockCounts after = GetBlockCounts();
  EXPECT_STREQ(text, "2011-01-01 04:03:02");
  EXPECT_EQ(after.allocated - before.allocated, 6u + 5u + 5u + 1u + 1u);
  EXPECT_EQ(after.allocated - after.released, before.allocated - before.released + 1);
  ReleaseBlock(text);
}

TEST(FormatLocalClockText, FormatsTheClockReadNow) {
  RegisterProgramConstants();
  for (int attempt = 0; attempt < 5; ++attempt) {
    const std::string expected = Format(GetLocalClock());
    char* text = FormatLocalClockText();
    const std::string after = Format(GetLocalClock());
    ASSERT_NE(text, nullptr);
    const std::string got = text;
    ReleaseBlock(text);
    if (expected != after) continue;  // a second boundary passed in between
    EXPECT_EQ(got, expected);
    return;
  }
  FAIL() << "the second never held still";
}

}  // namespace
