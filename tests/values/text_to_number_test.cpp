// TextToNumber converts plain digit runs itself and hands only the rest to
// the runtime's strtod: the two must agree bit for bit on every input, in
// particular at the edges of the exact range (2^53, 10^22, 19 digits).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "values/constants.h"
#include "values/text.h"

namespace {

uint64_t Bits(double d) {
  uint64_t b;
  std::memcpy(&b, &d, sizeof b);
  return b;
}

void ExpectAsStrtod(const std::string& text) {
  const double want = std::strtod(text.c_str(), nullptr);
  const double got = TextToNumber(text.c_str());
  EXPECT_EQ(Bits(got), Bits(want)) << text << " gave " << got << ", strtod " << want;
}

TEST(TextToNumberExact, EdgesOfTheExactRangeAgreeWithStrtod) {
  RegisterProgramConstants();
  const char* cases[] = {
      "9007199254740992",      // 2^53: the last mantissa taken as it is
      "9007199254740991",
      "9007199254740993",      // 2^53 + 1: not exact, left to strtod
      "-9007199254740993",
      "9007199254740992e22", "9007199254740992e-22", "9007199254740992e23", "9007199254740992e-23",
      "1e22", "1e23", "1e-22", "1e-23", "123e22", "123e-22",
      "9999999999999999999",   // 19 digits
      "99999999999999999999",  // 20 digits
      "1234567890123456789e-5", "0.1234567890123456789", "0.12345678901234567890",
      "0000000000000000000000000123", "0.0000000000000000000001", "0.00000000000000000000001",
      "100000000000000000000000", "1000000000000000000000.5",
      "0e999999", "-0e-999999", "0.000", "-0.0e5", "5e0", "5e-0", "5e+00000000000000000022",
      "1e1000", "1e-1000", "3.14159265358979323846", "2.718281828459045", "0.3", "0.7e-1",
      "4503599627370497.5", "4503599627370496.5", "89255e-22", "8.9255e-18",
  };
  for (const char* c : cases) ExpectAsStrtod(c);
}

TEST(TextToNumberExact, RandomDecimalsAgreeWithStrtod) {
  // Mantissas of 1 to 20 digits with a decimal point anywhere and exponents
  // around the fast range: most take the exact path, some fall back.
  std::mt19937_64 random(20261211);
  for (int i = 0; i < 200000; ++i) {
    const int digits = 1 + static_cast<int>(random() % 20);
    std::string text = random() % 4 == 0 ? "-" : "";
    const int point = static_cast<int>(random() % (digits + 1));
    for (int d = 0; d < digits; ++d) {
      if (d == point && d != 0) text += '.';
      text += static_cast<char>('0' + random() % 10);
    }
    if (random() % 2 == 0) text += "e" + std::to_string(static_cast<int>(random() % 61) - 30);
    ExpectAsStrtod(text);
    if (HasFailure()) return;
  }
}

TEST(TextToNumberExact, ExponentLettersDAreReadAsE) {
  RegisterProgramConstants();
  EXPECT_EQ(Bits(TextToNumber("125d-2")), Bits(1.25));
  EXPECT_EQ(Bits(TextToNumber("3D21")), Bits(3e21));
  EXPECT_EQ(Bits(TextToNumber("7d400")), Bits(HUGE_VAL));
}

}  // namespace
