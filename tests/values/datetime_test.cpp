#include "values/datetime.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <limits>
#include <string>

#include "values/memory.h"

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();

// "Y-MM-DD HH:MM:SS" of the fields of x, or "fails".
std::string Show(DateTime x) {
  DateFields f;
  if (!DateTimeToFields(x, &f)) return "fails";
  char s[64];
  std::snprintf(s, sizeof s, "%d-%02d-%02d %02d:%02d:%02d", f.year, f.month, f.day, f.hour, f.minute, f.second);
  return s;
}

// Components as every reader takes them: from the clamped value.
std::string ShowClamped(DateTime x) { return Show(ClampDateTime(x)); }

DateTime At(int32_t y, int32_t mo, int32_t d, int32_t h = 0, int32_t mi = 0, int32_t s = 0) {
  DateTime x = 0;
  EXPECT_TRUE(DateTimeFromFields(y, mo, d, h, mi, s, &x)) << y << "-" << mo << "-" << d;
  return x;
}

uint64_t Bits(double d) {
  uint64_t b;
  std::memcpy(&b, &d, sizeof b);
  return b;
}

int32_t LiveBlocks() {
  const BlockCounts c = GetBlockCounts();
  return static_cast<int32_t>(c.allocated - c.released);
}

// --- the calendar, exhaustively ----------------------------------------------

bool Leap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }
int MonthDays(int y, int m) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && Leap(y) ? 29 : days[m - 1];
}

TEST(DateTimeCalendar, EveryDayFrom100To9999RoundTrips) {
  static const int before_month[] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
  int64_t previous = 0;
  int weekday = 0;
  int64_t days = 0;
  int failures = 0;
  for (int y = 100; y <= 9999 && failures < 10; ++y) {
    int day_of_year = 0;
    for (int m = 1; m <= 12; ++m) {
      for (int d = 1; d <= MonthDays(y, m) && failures < 10; ++d) {
        ++day_of_year;
        // The day number by the plain count of days.
        int64_t n = 365LL * y + y / 4 - y / 100 + y / 400 + before_month[m - 1] + d - 693959;
        if (Leap(y) && m <= 2) --n;
        // A time of day that walks through the whole day as the days go by;
        // on the first and the last day only midnight lies inside the range.
        const bool end_of_range = (y == 100 && m == 1 && d == 1) || (y == 9999 && m == 12 && d == 31);
        const int s_of_day = end_of_range ? 0 : static_cast<int>((days * 7919) % 86400);
        const int h = s_of_day / 3600, mi = s_of_day / 60 % 60, s = s_of_day % 60;
        DateTime x;
        bool ok = DateTimeFromFields(y, m, d, h, mi, s, &x);
        DateFields f{};
        ok = ok && DateTimeToFields(x, &f);
        const int64_t day_number = static_cast<int64_t>(std::trunc(x));
        const bool next = days == 0 || day_number == previous + 1;
        const bool week = days == 0 || f.day_of_week == weekday % 7 + 1;
        if (!ok || day_number != n || !next || !week || f.year != y || f.month != m || f.day != d ||
            f.hour != h || f.minute != mi || f.second != s || f.day_of_year != day_of_year) {
          ADD_FAILURE() << y << "-" << m << "-" << d << " " << h << ":" << mi << ":" << s << " gave "
                        << x << " = " << Show(x) << " weekday " << f.day_of_week << " yday " << f.day_of_year;
          ++failures;
        }
        if (day_number == 0) {
          EXPECT_EQ(f.day_of_week, 7) << "1899-12-30 was a Saturday";
        }
        previous = day_number;
        weekday = f.day_of_week;
        ++days;
      }
    }
  }
  EXPECT_EQ(days, static_cast<int64_t>(kDateTimeMax - kDateTimeMin) + 1);
  EXPECT_EQ(At(100, 1, 1), kDateTimeMin);
  EXPECT_EQ(At(9999, 12, 31), kDateTimeMax);
}

TEST(DateTimeCalendar, FromFieldsRefusesWhatIsNoDate) {
  const struct {
    int32_t y, mo, d, h, mi, s;
  } refused[] = {
      {10000, 1, 1, 0, 0, 0}, {2010, 0, 1, 0, 0, 0}, {2010, 13, 1, 0, 0, 0}, {2010, 1, 0, 0, 0, 0},
      {2010, 1, 32, 0, 0, 0}, {2010, 2, 29, 0, 0, 0}, {1900, 2, 29, 0, 0, 0}, {2010, 4, 31, 0, 0, 0},
      {2010, 1, 1, 24, 0, 0}, {2010, 1, 1, 0, 60, 0}, {2010, 1, 1, 0, 0, 60}, {2010, 1, 1, -1, 0, 0},
  };
  for (const auto& r : refused) {
    DateTime x = 123.0;
    EXPECT_FALSE(DateTimeFromFields(r.y, r.mo, r.d, r.h, r.mi, r.s, &x)) << r.y << "-" << r.mo << "-" << r.d;
  }
  EXPECT_EQ(At(2000, 2, 29), 36585.0);
  EXPECT_EQ(At(1899, 12, 29, 6), -1.25);  // negative days count the time forward
  EXPECT_EQ(At(1900, 1, 1, 18), 2.75);
}

TEST(DateTimeFields, NegativeDaysAndTheDayAroundZero) {
  const struct {
    DateTime x;
    const char* shown;
  } cases[] = {
      {0.0, "1899-12-30 00:00:00"},  {2.75, "1900-01-01 18:00:00"}, {-1.25, "1899-12-29 06:00:00"},
      {-0.25, "1899-12-30 06:00:00"}, {0.25, "1899-12-30 06:00:00"}, {-1.75, "1899-12-29 18:00:00"},
      {-1.0, "1899-12-29 00:00:00"},  {-2.5, "1899-12-28 12:00:00"},
      {kDateTimeMin, "100-01-01 00:00:00"}, {kDateTimeMax, "9999-12-31 00:00:00"},
      {kDateTimeMin - 0.5, "fails"}, {kDateTimeMax + 0.5, "fails"}, {kNaN, "fails"},
      {std::numeric_limits<double>::infinity(), "fails"},
  };
  for (const auto& c : cases) EXPECT_EQ(Show(c.x), c.shown) << c.x;
}

TEST(DateTimeFields, TimeOfDayRoundsToTheNearestSecond) {
  const double s = 1.0 / 86400;
  const DateTime day = At(2010, 8, 12);       // positive days
  const DateTime neg = At(1800, 1, 1);        // negative days: the time counts forward from midnight
  const struct {
    DateTime x;
    const char* shown;
  } cases[] = {
      {day + (10 * 3600 + 0.4) * s, "2010-08-12 10:00:00"},
      {day + (10 * 3600 + 0.6) * s, "2010-08-12 10:00:01"},
      {day + (10 * 3600 + 59.6) * s, "2010-08-12 10:01:00"},
      {day + (86399 + 0.4) * s, "2010-08-12 23:59:59"},
      {day + (86399 + 0.6) * s, "2010-08-13 00:00:00"},  // reaches midnight: the next day
      {neg - (3600 + 0.4) * s, "1800-01-01 01:00:00"},
      {neg - (3600 + 0.6) * s, "1800-01-01 01:00:01"},
      // Rounding up to midnight moves the day number away from zero, which
      // on a negative day is the day before on the calendar.
      {neg - (86399 + 0.6) * s, "1799-12-31 00:00:00"},
      {-(86399 + 0.6) * s, "1899-12-29 00:00:00"},  // -0.99999.. is day 0 before rounding
  };
  for (const auto& c : cases) EXPECT_EQ(Show(c.x), c.shown) << c.x;
  // Half a second after midnight of day 1 already is the next second.
  EXPECT_EQ(Show(1.0 + kHalfSecond + 1e-12), "1899-12-31 00:00:01");
}

TEST(DateTimeClamp, ValuesAndFields) {
  EXPECT_EQ(ClampDateTime(kNaN), kDateTimeMax);
  EXPECT_EQ(ClampDateTime(kDateTimeMax + 0.5), kDateTimeMax);
  EXPECT_EQ(ClampDateTime(-std::numeric_limits<double>::infinity()), kDateTimeMin);
  EXPECT_EQ(ClampDateTime(kDateTimeMin - 1e-9), kDateTimeMin);
  EXPECT_EQ(ClampDateTime(1234.5), 1234.5);

  const struct {
    int32_t in[6];
    int32_t out[6];
  } cases[] = {
      {{99, 0, 0, -1, -1, -1}, {100, 1, 1, 0, 0, 0}},
      {{10000, 13, 32, 24, 60, 60}, {9999, 12, 31, 23, 59, 59}},
      {{2010, 2, 31, 1, 2, 3}, {2010, 2, 28, 1, 2, 3}},
      {{2012, 2, 30, 0, 0, 0}, {2012, 2, 29, 0, 0, 0}},
      {{2010, 4, 31, 0, 0, 0}, {2010, 4, 30, 0, 0, 0}},
      {{-5, 2, 29, 0, 0, 0}, {100, 2, 28, 0, 0, 0}},  // leap judged on the pulled year
      {{2000, 14, 30, 0, 0, 0}, {2000, 12, 30, 0, 0, 0}},
  };
  for (const auto& c : cases) {
    int32_t v[6];
    std::memcpy(v, c.in, sizeof v);
    ClampDateFields(&v[0], &v[1], &v[2], &v[3], &v[4], &v[5]);
    EXPECT_EQ(std::memcmp(v, c.out, sizeof v), 0) << c.in[0] << "-" << c.in[1] << "-" << c.in[2];
  }
}

// --- parsing ----------------------------------------------------------------------

TEST(ParseDateTime, AcceptedTexts) {
  const struct {
    const char* text;
    const char* shown;
  } cases[] = {
      {"2010-08-12-02:24:10", "2010-08-12 02:24:10"},
      {"2010-08-12 02:24:10", "2010-08-12 02:24:10"},
      {"2010/08/12.02.24.10", "2010-08-12 02:24:10"},
      {"20100812022410", "2010-08-12 02:24:10"},
      // 2010年8月12日2时24分10秒
      {"2010\xC4\xEA" "8\xD4\xC2" "12\xC8\xD5" "2\xCA\xB1" "24\xB7\xD6" "10\xC3\xEB", "2010-08-12 02:24:10"},
      {"2010-08-12 02:24:10\xC3\xEB", "2010-08-12 02:24:10"},
      {"2010-08-12-02:24:10\xC3\xEB" "anything at all", "2010-08-12 02:24:10"},
      // ２０１０－０８－１２　０２：２４：１０ in full-width forms with an ideographic space
      {"\xA3\xB2\xA3\xB0\xA3\xB1\xA3\xB0\xA3\xAD\xA3\xB0\xA3\xB8\xA3\xAD\xA3\xB1\xA3\xB2\xA1\xA1"
       "\xA3\xB0\xA3\xB2\xA3\xBA\xA3\xB2\xA3\xB4\xA3\xBA\xA3\xB1\xA3\xB0",
       "2010-08-12 02:24:10"},
      {"2010-08-12", "2010-08-12 00:00:00"},
      {"20100812", "2010-08-12 00:00:00"},
      {"2010\xC4\xEA" "8\xD4\xC2" "12\xC8\xD5", "2010-08-12 00:00:00"},
      {"2010-08-12-", "2010-08-12 00:00:00"},
      {"2010-08-12 ", "2010-08-12 00:00:00"},
      {"2010-08-12-02", "2010-08-12 02:00:00"},
      {"2010-08-12-02:24", "2010-08-12 02:24:00"},
      {"2010-08-12-02:24:", "2010-08-12 02:24:00"},
      {"2010-8-12 2:4:1", "2010-08-12 02:04:01"},
      {"999-01-01", "999-01-01 00:00:00"},
      {"2012-02-29", "2012-02-29 00:00:00"},
      {"2000-02-29", "2000-02-29 00:00:00"},
      {"1899-12-30", "1899-12-30 00:00:00"},
      {"1899-12-29-06:00:00", "1899-12-29 06:00:00"},
      {"9999-12-31", "9999-12-31 00:00:00"},
      {"2023-12-11-14:05:09", "2023-12-11 14:05:09"},
      {"2010:08:12", "2010-08-12 00:00:00"},
      {"2010-08-12\xC3\xEB", "2010-08-12 00:00:00"},  // "秒" right after the day
      {"2010-08-12 02:24:10\xC3", "2010-08-12 02:24:10"},  // a lone lead byte at the end is dropped
  };
  for (const auto& c : cases) {
    const int32_t live = LiveBlocks();
    const DateTime x = ParseDateTime(c.text);
    EXPECT_EQ(Show(x), c.shown) << c.text;
    EXPECT_NE(x, kDateTimeMin) << c.text;
    EXPECT_EQ(LiveBlocks(), live) << "the work copy is released";
  }
  EXPECT_EQ(ParseDateTime("1899-12-30"), 0.0);
  EXPECT_EQ(ParseDateTime("1899-12-29-06:00:00"), -1.25);
  EXPECT_EQ(ParseDateTime("2010-08-12 02:24:10"), At(2010, 8, 12, 2, 24, 10));
}

TEST(ParseDateTime, RefusedTextsGiveTheFailureValue) {
  const char* const refused[] = {
      "10-08-12-02:24:10",   "2010-02-29",           "1900-02-29",          "2010-08-12-24:00:00",
      "2010-08-12T02:24:10", " 2010-08-12",          "2010-08-12 02:24:10 ", "2010-08-12  02:24:10",
      "2010 08 12",          "2010-08-12-02:24:10:", "2010-08-12-2:24:100", "20-",
      "",                    "2010-13-01",           "2010-00-10",          "2010-08-00",
      "2010-08-32",          "2010-08-12-02:60",     "2010-08-12-02:24:60", "99-01-01",
      "abc",                 "2010-08-12x",          "2010-08-12 02:24:10x", "2010-08-12 02:24:10\xC3\xEC",
      "2010--08-12",         "\xA1\xA1" "2010-08-12", "2010-08-12\xC4\xEA",  "-2010-08-12",
  };
  for (const char* text : refused) {
    const int32_t live = LiveBlocks();
    EXPECT_EQ(Bits(ParseDateTime(text)), Bits(kDateTimeMin)) << "\"" << text << "\"";
    EXPECT_EQ(LiveBlocks(), live);
  }
  EXPECT_EQ(ParseDateTime(static_cast<const char*>(nullptr)), kDateTimeMin);
  // A valid text of the lowest day cannot be told from a failure.
  EXPECT_EQ(ParseDateTime("100-01-01"), kDateTimeMin);
  EXPECT_EQ(ParseDateTime("0100-01-01"), kDateTimeMin);
}

TEST(ParseDateTime, LastSecondOfTheRangeLiesAboveIt) {
  const DateTime x = ParseDateTime("9999-12-31-23:59:59");
  EXPECT_GT(x, kDateTimeMax);
  EXPECT_EQ(ShowClamped(x), "9999-12-31 00:00:00");
  EXPECT_EQ(ShowClamped(AddToDateTime(kDateTimeMax, kPartHour, 8)), "9999-12-31 00:00:00");
}

TEST(ParseDateTime, ADateTimeArgumentIsReturnedBitForBit) {
  for (double v : {kNaN, -0.0, 1e300, kDateTimeMin - 1, 12.5}) EXPECT_EQ(Bits(ParseDateTime(v)), Bits(v));
}

// --- arithmetic ---------------------------------------------------------------------

TEST(AddToDateTime, CalendarPartsKeepTheDayWhereTheyCan) {
  const struct {
    DateTime from;
    int32_t part, amount;
    const char* shown;
  } cases[] = {
      {At(2010, 1, 31), kPartMonth, 1, "2010-02-28 00:00:00"},
      {At(2012, 1, 31), kPartMonth, 1, "2012-02-29 00:00:00"},
      {At(2012, 2, 29), kPartYear, 1, "2013-02-28 00:00:00"},
      {At(2012, 2, 29), kPartYear, 4, "2016-02-29 00:00:00"},
      {At(2010, 11, 15), kPartQuarter, 1, "2011-02-15 00:00:00"},
      {At(2010, 3, 15), kPartMonth, -3, "2009-12-15 00:00:00"},
      {At(2010, 8, 12), kPartMonth, -8, "2009-12-12 00:00:00"},
      {At(2010, 8, 12), kPartMonth, -20, "2008-12-12 00:00:00"},
      {At(2010, 8, 12), kPartMonth, 29, "2013-01-12 00:00:00"},
      {At(2010, 12, 12), kPartMonth, 12, "2011-12-12 00:00:00"},
      {At(2010, 1, 12), kPartMonth, -12, "2009-01-12 00:00:00"},
      {At(2010, 3, 31), kPartQuarter, -1, "2009-12-31 00:00:00"},
      {At(9999, 6, 15), kPartYear, 1, "9999-06-15 00:00:00"},
      {At(100, 6, 15), kPartYear, -1, "100-06-15 00:00:00"},
      {At(9999, 6, 15), kPartMonth, 12, "9999-06-15 00:00:00"},
      {At(2010, 8, 12, 2, 24, 10), kPartYear, 1, "2011-08-12 02:24:10"},
      {At(2010, 8, 12, 2, 24, 10), 0, 1, "2011-08-12 02:24:10"},      // part 0 adds years
      {At(2010, 8, 12, 2, 24, 10), -7, 1, "2011-08-12 02:24:10"},
      {At(2010, 8, 12, 2, 24, 10), kPartYear, 2147483647, "9999-08-12 02:24:10"},
      {At(2010, 8, 12, 2, 24, 10), kPartYear, -2147483647 - 1, "100-08-12 02:24:10"},
      // The month moves by the amount modulo 12, the year stops at the end.
      {At(2010, 8, 12, 2, 24, 10), kPartQuarter, 2147483647, "9999-05-12 02:24:10"},
      {At(2010, 8, 12, 2, 24, 10), kPartMonth, -2147483647 - 1, "100-12-12 02:24:10"},
      {At(1899, 12, 29, 6), kPartMonth, 1, "1900-01-29 06:00:00"},  // negative day, time carried
      {kDateTimeMin - 0.3, kPartMonth, 1, "100-02-01 00:00:00"},      // clamped first
      {kNaN, kPartYear, -1, "9998-12-31 00:00:00"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Show(AddToDateTime(c.from, c.part, c.amount)), c.shown)
        << Show(c.from) << " part " << c.part << " amount " << c.amount;
  }
}

TEST(AddToDateTime, TimePartsWorkOnTheLine) {
  const DateTime t = At(2010, 8, 12, 2, 24, 10);
  const struct {
    DateTime from;
    int32_t part, amount;
    const char* shown;
  } cases[] = {
      {t, kPartHour, 8, "2010-08-12 10:24:10"},
      {ParseDateTime("2010-12-31-20:30:00"), kPartHour, 8, "2011-01-01 04:30:00"},
      {t, kPartHour, -8, "2010-08-11 18:24:10"},
      {t, kPartMinute, -30, "2010-08-12 01:54:10"},
      {At(2010, 8, 12, 23, 59, 59), kPartSecond, 1, "2010-08-13 00:00:00"},
      {At(2010, 12, 31), kPartWeek, 1, "2011-01-07 00:00:00"},
      {At(2010, 12, 31), kPartDay, -365, "2009-12-31 00:00:00"},
      {t, kPartDayOfWeek, 5, "2010-08-12 02:24:15"},  // 9 and 10 add seconds
      {t, kPartDayOfYear, 5, "2010-08-12 02:24:15"},
      {t, 99, -10, "2010-08-12 02:24:00"},
      {At(1899, 12, 30), kPartHour, -30, "1899-12-28 18:00:00"},
      {At(1899, 12, 29, 18), kPartHour, 30, "1899-12-31 00:00:00"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Show(AddToDateTime(c.from, c.part, c.amount)), c.shown)
        << Show(c.from) << " part " << c.part << " amount " << c.amount;
  }
  // The negative-day encoding, bit for bit.
  EXPECT_EQ(AddToDateTime(-1.25, kPartHour, 8), -1.5833333333333333);
  EXPECT_EQ(AddToDateTime(0.0, kPartHour, -6), -1.75);
  EXPECT_EQ(AddToDateTime(-0.25, kPartHour, 6), 0.5);
  EXPECT_EQ(AddToDateTime(0.25, kPartHour, -12), -1.75);
  EXPECT_EQ(AddToDateTime(-1.75, kPartHour, 12), 0.25);
  EXPECT_EQ(AddToDateTime(10.0, kPartDay, -2147483647 - 1), 2 * std::floor(10.0 - 2147483648.0) - (10.0 - 2147483648.0));
  // Day arithmetic does not stop at the ends; readers clamp.
  const DateTime above = AddToDateTime(kDateTimeMax, kPartDay, 1);
  EXPECT_GT(above, kDateTimeMax);
  EXPECT_EQ(ShowClamped(above), "9999-12-31 00:00:00");
  const DateTime below = AddToDateTime(kDateTimeMin, kPartDay, -1);
  EXPECT_LT(below, kDateTimeMin);
  EXPECT_EQ(ShowClamped(below), "100-01-01 00:00:00");
  // The failure value plus 8 hours lies below the range.
  const DateTime failed = AddToDateTime(ParseDateTime("no date"), kPartHour, 8);
  EXPECT_EQ(failed, kDateTimeMin - 8 * kOneHour);
  EXPECT_EQ(ShowClamped(failed), "100-01-01 00:00:00");
}

TEST(AddToDateTime, AmountZeroReturnsTheValueBitForBit) {
  for (double v : {kNaN, -0.0, kDateTimeMax + 100, kDateTimeMin - 100, 40402.1}) {
    for (int32_t part = -1; part <= 11; ++part) EXPECT_EQ(Bits(AddToDateTime(v, part, 0)), Bits(v)) << part;
  }
}

// --- components ---------------------------------------------------------------------

TEST(GetDateTimePart, EveryPartOfADay) {
  const DateTime t = At(2010, 8, 12);
  const int32_t expected[] = {2010, 3, 8, 32, 12, 0, 0, 0, 5, 224};
  for (int32_t part = 1; part <= 10; ++part) EXPECT_EQ(GetDateTimePart(t, part), expected[part - 1]) << part;
  EXPECT_EQ(GetDateTimePart(t, 0), 2010);     // below 1 acts as 1
  EXPECT_EQ(GetDateTimePart(t, -100), 2010);
  EXPECT_EQ(GetDateTimePart(t, 11), 224);     // above 10 acts as 10
  EXPECT_EQ(GetDateTimePart(At(2010, 12, 31), kPartWeek), 53);
  EXPECT_EQ(GetDateTimePart(At(2012, 12, 31), kPartWeek), 53);
  EXPECT_EQ(GetDateTimePart(At(2012, 12, 31), kPartDayOfYear), 366);
  EXPECT_EQ(GetDateTimePart(At(2010, 1, 7), kPartWeek), 1);
  EXPECT_EQ(GetDateTimePart(At(2010, 1, 8), kPartWeek), 2);
  EXPECT_EQ(GetDateTimePart(At(2010, 10, 1), kPartQuarter), 4);
  EXPECT_EQ(GetDateTimePart(At(2010, 8, 12, 23, 59, 59), kPartSecond), 59);
  EXPECT_EQ(GetDateTimePart(At(2010, 8, 8), kPartDayOfWeek), 1);  // a Sunday
  EXPECT_EQ(GetDateTimePart(kNaN, kPartYear), 9999);
  EXPECT_EQ(GetDateTimePart(kNaN, kPartDay), 31);
  EXPECT_EQ(GetDateTimePart(kDateTimeMin - 8 * kOneHour, kPartHour), 0);
  EXPECT_EQ(GetDateTimePart(kDateTimeMin - 8 * kOneHour, kPartYear), 100);
}

// --- the clock ------------------------------------------------------------------------

LocalTimeFields g_passed;
int g_calls = 0;
bool g_answer = true;
bool FakeSetter(const LocalTimeFields& f) {
  g_passed = f;
  ++g_calls;
  return g_answer;
}

TEST(SetLocalClock, HandsTheFieldsToTheSetterOnce) {
  SetLocalClockSetter(FakeSetter);
  const struct {
    DateTime value;
    bool answer;
    LocalTimeFields fields;
  } cases[] = {
      {ParseDateTime("2010-08-12-10:24:10"), true, {2010, 8, 4, 12, 10, 24, 10, 0}},
      {ParseDateTime("2010-08-12-10:24:10"), false, {2010, 8, 4, 12, 10, 24, 10, 0}},
      {AddToDateTime(kDateTimeMin, kPartHour, 8) - 1, false, {100, 1, 5, 1, 0, 0, 0, 0}},  // clamped
      {kNaN, true, {9999, 12, 5, 31, 0, 0, 0, 0}},
      {At(2010, 8, 8, 23, 59, 59) + 0.6 * kOneSecond, true, {2010, 8, 1, 9, 0, 0, 0, 0}},
  };
  for (const auto& c : cases) {
    g_calls = 0;
    g_answer = c.answer;
    EXPECT_EQ(SetLocalClock(c.value), c.answer);
    EXPECT_EQ(g_calls, 1);
    EXPECT_EQ(std::memcmp(&g_passed, &c.fields, sizeof g_passed), 0)
        << g_passed.wYear << "-" << g_passed.wMonth << "-" << g_passed.wDay << " dow " << g_passed.wDayOfWeek << " "
        << g_passed.wHour << ":" << g_passed.wMinute << ":" << g_passed.wSecond;
  }
  SetLocalClockSetter(nullptr);
}

#ifndef _WIN32
TEST(SetLocalClock, TheNativeBuildNeverSetsTheClock) {
  SetLocalClockSetter(nullptr);
  EXPECT_FALSE(SetLocalClock(GetLocalClock()));
}
#endif

TEST(GetLocalClock, ReadsTheLocalTimeInWholeSeconds) {
  for (int attempt = 0; attempt < 5; ++attempt) {
    const std::time_t before = std::time(nullptr);
    const DateTime now = GetLocalClock();
    if (std::time(nullptr) != before) continue;  // a second boundary passed
    std::tm local = *std::localtime(&before);
    EXPECT_EQ(now, At(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                      local.tm_sec > 59 ? 59 : local.tm_sec));
    return;
  }
  FAIL() << "the second never held still";
}

}  // namespace
