// ParseDateTime on arbitrary text: it either fails with the fixed value or
// gives a date-time whose components, written back as text, parse to the
// same value; and it leaves no block behind.
#include <cstdio>

#include "fuzz_support.h"
#include "values/datetime.h"
#include "values/text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text = AsText(data, size);
  BlockBalance balance;
  {
    char* normalised = NormaliseFullWidth(text.c_str());
    FUZZ_CHECK(static_cast<size_t>(TextLength(normalised)) <= text.size());
    ReleaseBlock(normalised);
  }
  DateTime value = ParseDateTime(text.c_str());
  if (value == kDateTimeMin) return 0;
  // Only midnight of the first and the last day lies inside the range; the
  // other times of those two days lie just outside it.
  FUZZ_CHECK(value > kDateTimeMin - 1.0 && value < kDateTimeMax + 1.0);
  if (value < kDateTimeMin || value > kDateTimeMax) return 0;
  DateFields f;
  FUZZ_CHECK(DateTimeToFields(value, &f));
  char again[64];
  snprintf(again, sizeof again, "%d-%02d-%02d %02d:%02d:%02d", f.year, f.month, f.day, f.hour,
           f.minute, f.second);
  FUZZ_CHECK(ParseDateTime(again) == value);
  return 0;
}
