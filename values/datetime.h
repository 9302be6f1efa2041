// Date-time values: an OLE Automation date, days from 1899-12-30 with the
// time of day as the fraction. Parsing, calendar arithmetic, components and
// the local clock. No operation raises an error; none keeps state, so any
// thread may call them (the program calls them on the user-interface thread).
#pragma once

#include <cstdint>

#include "values/os.h"

using DateTime = double;

enum DateTimePart : int32_t {
  kPartYear = 1,
  kPartQuarter = 2,
  kPartMonth = 3,
  kPartWeek = 4,
  kPartDay = 5,
  kPartHour = 6,
  kPartMinute = 7,
  kPartSecond = 8,
  kPartDayOfWeek = 9,
  kPartDayOfYear = 10,
};

constexpr DateTime kDateTimeMin = -657434.0;   // 100-01-01 00:00:00, parse failure
constexpr DateTime kDateTimeMax = 2958465.0;   // 9999-12-31 00:00:00
constexpr double kHalfSecond = 5.787037037037037e-06;
constexpr double kOneSecond = 1.1574074074074073e-05;
constexpr double kOneMinute = 0.0006944444444444445;
constexpr double kOneHour = 0.041666666666666664;

struct DateFields {
  int32_t year, month, day, hour, minute, second;
  int32_t day_of_week;  // 1 = Sunday .. 7 = Saturday
  int32_t day_of_year;  // 1 .. 366
};

bool DateTimeFromFields(int32_t year, int32_t month, int32_t day, int32_t hour,
                        int32_t minute, int32_t second, DateTime* out);
bool DateTimeToFields(DateTime x, DateFields* out);
DateTime ClampDateTime(DateTime x);
void ClampDateFields(int32_t* year, int32_t* month, int32_t* day, int32_t* hour,
                     int32_t* minute, int32_t* second);

DateTime ParseDateTime(const char* text);
DateTime ParseDateTime(DateTime value);  // returned unchanged
DateTime AddToDateTime(DateTime value, int32_t part, int32_t amount);
int32_t GetDateTimePart(DateTime value, int32_t part);
DateTime GetLocalClock();
bool SetLocalClock(DateTime value);

// The function SetLocalClock hands its fields to; by default OsSetLocalTime.
// Tests install a fake so that no test ever sets a real clock.
using LocalClockSetter = bool (*)(const LocalTimeFields& fields);
void SetLocalClockSetter(LocalClockSetter setter);  // null restores the default
