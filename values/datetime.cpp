#include "values/datetime.h"

#include <atomic>
#include <cmath>
#include <ctime>

#include "values/memory.h"
#include "values/text.h"

// Every operation on a date-time is one IEEE double operation, rounded to
// double. The 32-bit x87 unit would keep intermediates in 80 bits (the
// runtime's start-up leaves it at extended precision) and round some sums
// twice, so on i686 this file does its floating point in SSE2, which every
// processor that runs the supported Windows versions has.
#if defined(__GNUC__) && defined(__i386__)
#pragma GCC target("sse2", "fpmath=sse")
#endif

namespace {

// Day 0 of the date-time value, 1899-12-30, counted from 1970-01-01.
constexpr int64_t kEpochOffset = -25569;

bool IsLeapYear(int64_t y) { return y % 4 == 0 && (y % 100 != 0 || y % 400 == 0); }

int32_t DaysInMonth(int64_t y, int32_t m) {
  static constexpr int32_t kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeapYear(y) ? 29 : kDays[m - 1];
}

// Preconditions: m in [1, 12], d in [1, last day of month m of year y], and
//   y in the proleptic Gregorian calendar (any year the int64 math holds;
//   the value layer passes [-2^31, 9999]).
// Returns: the days from 1970-01-01 to y-m-d, negative before it. For y >= 0
//   this is the count of 365 y + y/4 - y/100 + y/400 + the days before the
//   month + d - 693959 (less 1 in January and February of a leap year),
//   shifted by 25569; below year 0 it stays proleptic where that count,
//   with its truncating divisions, would not.
int64_t DaysFromCivil(int64_t y, int32_t m, int32_t d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<uint32_t>(y - era * 400);                       // [0, 399]
  const uint32_t mp = static_cast<uint32_t>(m + (m > 2 ? -3 : 9));             // [0, 11]
  const uint32_t doy = (153 * mp + 2) / 5 + static_cast<uint32_t>(d) - 1;     // [0, 365]
  const uint32_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;                  // [0, 146096]
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

struct CivilDate {
  int64_t year;
  int32_t month;  // [1, 12]
  int32_t day;    // [1, 31]
};

// Preconditions: z is a day count from 1970-01-01 (the value layer passes
//   [-657434, 2958466] shifted by -25569).
// Returns: the proleptic Gregorian date of that day; DaysFromCivil inverts it.
CivilDate CivilFromDays(int64_t z) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<uint32_t>(z - era * 146097);                    // [0, 146096]
  const uint32_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;  // [0, 399]
  const uint32_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);                // [0, 365]
  const uint32_t mp = (5 * doy + 2) / 153;                                     // [0, 11]
  const auto d = static_cast<int32_t>(doy - (153 * mp + 2) / 5 + 1);          // [1, 31]
  const auto m = static_cast<int32_t>(mp < 10 ? mp + 3 : mp - 9);             // [1, 12]
  return {static_cast<int64_t>(yoe) + era * 400 + (m <= 2), m, d};
}

int32_t Clamp(int32_t v, int32_t lo, int32_t hi) { return v < lo ? lo : (v > hi ? hi : v); }

int32_t Saturate(int64_t v) {
  return v < INT32_MIN ? INT32_MIN : (v > INT32_MAX ? INT32_MAX : static_cast<int32_t>(v));
}

std::atomic<LocalClockSetter> g_clock_setter{nullptr};

// --- ParseDateTime's reading of fields ------------------------------------

struct Separators {
  const char* bytes;     // one-byte separators
  unsigned char unit_1;  // the GBK unit character after the field
  unsigned char unit_2;
};

// "年", "月", "日", "时", "分" after year, month, day, hour, minute.
constexpr Separators kFieldSeparators[5] = {
    {"-/.:", 0xC4, 0xEA}, {"-/.:", 0xD4, 0xC2}, {"-/.: ", 0xC8, 0xD5},
    {"-/.:", 0xCA, 0xB1}, {"-/.:", 0xB7, 0xD6},
};
constexpr int32_t kFieldWidths[6] = {4, 2, 2, 2, 2, 2};
constexpr unsigned char kSecondUnit1 = 0xC3;  // "秒"
constexpr unsigned char kSecondUnit2 = 0xEB;

int32_t ReadField(const unsigned char** p, int32_t width) {
  int32_t value = 0;
  for (int32_t i = 0; i < width && **p >= '0' && **p <= '9'; ++i, ++*p) value = value * 10 + (**p - '0');
  return value;
}

void SkipSeparator(const unsigned char** p, const Separators& sep) {
  const unsigned char c = **p;
  if (c == 0) return;
  for (const char* s = sep.bytes; *s; ++s) {
    if (c == static_cast<unsigned char>(*s)) {
      ++*p;
      return;
    }
  }
  if (c == sep.unit_1 && (*p)[1] == sep.unit_2) *p += 2;
}

}  // namespace

bool DateTimeFromFields(int32_t year, int32_t month, int32_t day, int32_t hour, int32_t minute,
                        int32_t second, DateTime* out) {
  if (year > 9999 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month)) return false;
  // A negative time of day is no time of day: refused like an hour of 24.
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59) return false;
  const auto n = static_cast<double>(DaysFromCivil(year, month, day) - kEpochOffset);
  const double f = static_cast<double>(hour * 3600 + minute * 60 + second) * kOneSecond;
  *out = n >= 0 ? n + f : n - f;
  return true;
}

bool DateTimeToFields(DateTime x, DateFields* out) {
  if (!(x >= kDateTimeMin && x <= kDateTimeMax)) return false;  // NaN fails here too
  // Half a second away from zero: the time of day rounds to whole seconds,
  // a half up, and a rounding that reaches midnight moves the day.
  const double xr = x > 0 ? x + kHalfSecond : x - kHalfSecond;
  const auto day = static_cast<int64_t>(std::trunc(xr));  // [-657434, 2958465]
  const CivilDate date = CivilFromDays(day + kEpochOffset);
  const double magnitude = std::fabs(xr);
  const auto s = static_cast<int32_t>((magnitude - std::floor(magnitude)) * 86400.0);  // [0, 86399]
  out->year = static_cast<int32_t>(date.year);
  out->month = date.month;
  out->day = date.day;
  out->hour = s / 3600;
  out->minute = s / 60 % 60;
  out->second = s % 60;
  // Day 0 was a Saturday (7); 1 = Sunday.
  out->day_of_week = static_cast<int32_t>(((day % 7 + 7) % 7 + 6) % 7) + 1;
  out->day_of_year = static_cast<int32_t>(day + kEpochOffset - DaysFromCivil(date.year, 1, 1)) + 1;
  return true;
}

DateTime ClampDateTime(DateTime x) {
  if (std::isnan(x) || x > kDateTimeMax) return kDateTimeMax;
  if (x < kDateTimeMin) return kDateTimeMin;
  return x;
}

void ClampDateFields(int32_t* year, int32_t* month, int32_t* day, int32_t* hour, int32_t* minute,
                     int32_t* second) {
  *year = Clamp(*year, 100, 9999);
  *month = Clamp(*month, 1, 12);
  *day = Clamp(*day, 1, 31);
  *hour = Clamp(*hour, 0, 23);
  *minute = Clamp(*minute, 0, 59);
  *second = Clamp(*second, 0, 59);
  const int32_t last = DaysInMonth(*year, *month);
  if (*day > last) *day = last;
}

DateTime ParseDateTime(DateTime value) { return value; }

DateTime ParseDateTime(const char* text) {
  if (text == nullptr) return kDateTimeMin;
  char* work = NormaliseFullWidth(text);
  const auto* p = reinterpret_cast<const unsigned char*>(work);
  bool ok = *p != 0;
  int32_t f[6] = {};
  if (ok) {
    for (int32_t i = 0; i < 6; ++i) {
      f[i] = ReadField(&p, kFieldWidths[i]);
      if (i < 5) SkipSeparator(&p, kFieldSeparators[i]);
    }
    // After the second the text ends, or goes on with "秒" and anything.
    ok = *p == 0 || (p[0] == kSecondUnit1 && p[1] == kSecondUnit2);
  }
  ReleaseBlock(work);
  if (!ok) return kDateTimeMin;
  int32_t c[6] = {f[0], f[1], f[2], f[3], f[4], f[5]};
  ClampDateFields(&c[0], &c[1], &c[2], &c[3], &c[4], &c[5]);
  for (int32_t i = 0; i < 6; ++i) {
    if (c[i] != f[i]) return kDateTimeMin;
  }
  DateTime value = kDateTimeMin;
  DateTimeFromFields(f[0], f[1], f[2], f[3], f[4], f[5], &value);  // in range: cannot fail
  return value;
}

DateTime AddToDateTime(DateTime value, int32_t part, int32_t amount) {
  if (part < kPartYear) part = kPartYear;
  if (part > kPartSecond) part = kPartSecond;
  if (amount == 0) return value;
  const DateTime c = ClampDateTime(value);
  DateFields t;
  DateTimeToFields(c, &t);  // clamped: cannot fail

  if (part == kPartYear || part == kPartQuarter || part == kPartMonth) {
    // In 64 bits, then saturated: ClampDateFields pulls the year into
    // 100..9999 anyway, so an amount beyond any calendar stops at its end.
    int64_t year = t.year;
    if (part == kPartYear) {
      year += amount;
    } else {
      // Adding 12 while below 1 and taking 12 while above 12, in one step.
      const int64_t step = part == kPartQuarter ? 3 : 1;
      const int64_t months = static_cast<int64_t>(t.month) - 1 + static_cast<int64_t>(amount) * step;
      const int64_t carry = (months >= 0 ? months : months - 11) / 12;
      year += carry;
      t.month = static_cast<int32_t>(months - carry * 12) + 1;
    }
    t.year = Saturate(year);
    ClampDateFields(&t.year, &t.month, &t.day, &t.hour, &t.minute, &t.second);
    DateTime result = c;
    DateTimeFromFields(t.year, t.month, t.day, t.hour, t.minute, t.second, &result);
    return result;
  }

  const double units = std::fabs(static_cast<double>(amount));  // exact, INT32_MIN too
  double days = 0, hours = 0, minutes = 0, seconds = 0;
  switch (part) {
    case kPartWeek: days = units * 7; break;
    case kPartDay: days = units; break;
    case kPartHour: hours = units; break;
    case kPartMinute: minutes = units; break;
    default: seconds = units; break;
  }
  const double span = ((seconds * kOneSecond + minutes * kOneMinute) + hours * kOneHour) + days;
  // Negative days count their fraction forward from midnight; on the line
  // the fraction runs backward, so -1.25 is -0.75 there and back.
  const double linear = c >= 0 ? c : 2 * std::ceil(c) - c;
  const double sum = amount > 0 ? linear + span : linear - span;
  return sum >= 0 ? sum : 2 * std::floor(sum) - sum;
}

int32_t GetDateTimePart(DateTime value, int32_t part) {
  DateFields t;
  DateTimeToFields(ClampDateTime(value), &t);  // clamped: cannot fail
  switch (part < kPartYear ? kPartYear : (part > kPartDayOfYear ? kPartDayOfYear : part)) {
    case kPartYear: return t.year;
    case kPartQuarter: return (t.month - 1) / 3 + 1;
    case kPartMonth: return t.month;
    case kPartWeek: return (t.day_of_year - 1) / 7 + 1;
    case kPartDay: return t.day;
    case kPartHour: return t.hour;
    case kPartMinute: return t.minute;
    case kPartSecond: return t.second;
    case kPartDayOfWeek: return t.day_of_week;
    default: return t.day_of_year;
  }
}

DateTime GetLocalClock() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  // When the platform cannot give a local time for now (a clock before 1970
  // or beyond its calendar), the lower end of the range stands in: it is the
  // value every reader already knows as "no date".
#ifdef _WIN32
  const std::tm* converted = now == static_cast<std::time_t>(-1) ? nullptr : std::localtime(&now);
  if (converted == nullptr) return kDateTimeMin;
  local = *converted;  // the runtime's buffer is per thread; copied at once
#else
  if (now == static_cast<std::time_t>(-1) || localtime_r(&now, &local) == nullptr) return kDateTimeMin;
#endif
  const int64_t year = static_cast<int64_t>(local.tm_year) + 1900;
  if (year > 9999) return kDateTimeMax;
  // A leap second (tm_sec 60) is shown as the second before it.
  const int32_t second = local.tm_sec > 59 ? 59 : local.tm_sec;
  DateTime value = kDateTimeMin;
  DateTimeFromFields(static_cast<int32_t>(year), local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                     second, &value);
  return value;
}

bool SetLocalClock(DateTime value) {
  DateFields t;
  DateTimeToFields(ClampDateTime(value), &t);  // clamped: cannot fail
  LocalTimeFields fields;
  fields.wYear = static_cast<uint16_t>(t.year);
  fields.wMonth = static_cast<uint16_t>(t.month);
  fields.wDayOfWeek = static_cast<uint16_t>(t.day_of_week - 1);
  fields.wDay = static_cast<uint16_t>(t.day);
  fields.wHour = static_cast<uint16_t>(t.hour);
  fields.wMinute = static_cast<uint16_t>(t.minute);
  fields.wSecond = static_cast<uint16_t>(t.second);
  fields.wMilliseconds = 0;
  LocalClockSetter setter = g_clock_setter.load(std::memory_order_acquire);
  return (setter != nullptr ? setter : OsSetLocalTime)(fields);
}

void SetLocalClockSetter(LocalClockSetter setter) { g_clock_setter.store(setter, std::memory_order_release); }
