#include "sync/clock_text.h"

#include "values/constants.h"
#include "values/memory.h"
#include "values/text.h"

namespace {

// TextToNumber(text) - 10 below this means a one-digit component.
constexpr double kBelowTen = -0.0000001;

// Puts a "0" in front of a component below 10, judged on its number, not on
// the length of its text.
void PadComponent(char** text) {
  if (TextToNumber(*text) - 10 < kBelowTen) {
    char* padded = ConcatText({kTextZero, *text});
    ReleaseBlock(*text);
    *text = padded;
  }
}

}  // namespace

char* FormatClockText(DateTime value) {
  // The six components as GetDateTimePart gives them (the clamped value
  // broken down), from one breakdown instead of six: the clamp leaves a
  // value that DateTimeToFields always accepts.
  DateFields fields{};
  DateTimeToFields(ClampDateTime(value), &fields);
  const int32_t year = fields.year;
  const int32_t month = fields.month;
  const int32_t day = fields.day;
  const int32_t hour = fields.hour;
  const int32_t minute = fields.minute;
  const int32_t second = fields.second;

  char* year_text = NumberToText(year);
  char* month_text = NumberToText(month);
  char* day_text = NumberToText(day);
  char* hour_text = NumberToText(hour);
  char* minute_text = NumberToText(minute);
  char* second_text = NumberToText(second);

  PadComponent(&month_text);
  PadComponent(&day_text);
  PadComponent(&hour_text);
  PadComponent(&minute_text);
  PadComponent(&second_text);

  char* joined = ConcatText({year_text, kTextDash, month_text, kTextDash, day_text, kTextSpace, hour_text,
                             kTextColon, minute_text, kTextColon, second_text});
  char* result = CopyText(joined);

  ReleaseBlock(year_text);
  ReleaseBlock(month_text);
  ReleaseBlock(day_text);
  ReleaseBlock(hour_text);
  ReleaseBlock(minute_text);
  ReleaseBlock(second_text);
  ReleaseBlock(joined);
  return result;
}

char* FormatLocalClockText() { return FormatClockText(GetLocalClock()); }
