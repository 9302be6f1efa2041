#include "values/text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "fatal_capture.h"
#include "values/constants.h"
#include "values/memory.h"

namespace {

// Blocks alive now: allocated minus released.
int32_t LiveBlocks() {
  const BlockCounts c = GetBlockCounts();
  return static_cast<int32_t>(c.allocated - c.released);
}

// Every test must give back every block it was handed.
class TextTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterProgramConstants();
    live_ = LiveBlocks();
  }
  void TearDown() override { EXPECT_EQ(LiveBlocks(), live_) << "a block was left behind"; }

 private:
  int32_t live_ = 0;
};

std::string Show(const char* t) { return t == nullptr ? "<absent>" : "\"" + std::string(t) + "\""; }

// The elements of an array, nullptr for an absent one.
std::vector<std::string> Elements(TextArray* a) {
  std::vector<std::string> out;
  for (int32_t i = 1; i <= ArrayElementCount(a); ++i) out.push_back(Show(TextArrayElement(a, i)));
  return out;
}

// --- copying and joining ------------------------------------------------------

TEST_F(TextTest, LengthAndCopiesTreatAbsentAsEmpty) {
  EXPECT_EQ(TextLength(nullptr), 0);
  EXPECT_EQ(TextLength(""), 0);
  EXPECT_EQ(TextLength("\xC4\xEA" "ab"), 4);
  EXPECT_EQ(CopyText(nullptr), nullptr);
  EXPECT_EQ(CopyText(""), nullptr);
  EXPECT_EQ(CopyTextPrefix("abc", 0), nullptr);
  EXPECT_EQ(CopyTextPrefix("abc", -5), nullptr);

  const char source[] = "\xB4\xED\xCE\xF3 x";
  char* copy = CopyText(source);
  ASSERT_NE(copy, nullptr);
  EXPECT_NE(copy, source);
  EXPECT_STREQ(copy, source);
  ReleaseBlock(copy);

  char* prefix = CopyTextPrefix("abcdef", 3);
  EXPECT_STREQ(prefix, "abc");
  ReleaseBlock(prefix);
  // Stops at the NUL of a shorter text instead of reading past it.
  char* short_prefix = CopyTextPrefix("ab", 10);
  EXPECT_STREQ(short_prefix, "ab");
  ReleaseBlock(short_prefix);
}

TEST_F(TextTest, ConcatJoinsInOrderWithOneAllocation) {
  struct Case {
    std::vector<const char*> parts;
    const char* joined;
  };
  const Case cases[] = {
      {{"20", nullptr}, "20"},
      {{nullptr, nullptr}, ""},
      {{"", ""}, ""},
      {{"a"}, "a"},
      {{"2010", "-", "08", "-", "12", " ", "10", ":", "24", ":", "10"}, "2010-08-12 10:24:10"},
      {{"\xC4\xEA", nullptr, "", "\xD4\xC2"}, "\xC4\xEA\xD4\xC2"},
  };
  for (const Case& c : cases) {
    // initializer_list from a vector: the same call the program makes.
    const BlockCounts before = GetBlockCounts();
    char* joined = nullptr;
    switch (c.parts.size()) {
      case 1: joined = ConcatText({c.parts[0]}); break;
      case 2: joined = ConcatText({c.parts[0], c.parts[1]}); break;
      case 4: joined = ConcatText({c.parts[0], c.parts[1], c.parts[2], c.parts[3]}); break;
      case 11:
        joined = ConcatText({c.parts[0], c.parts[1], c.parts[2], c.parts[3], c.parts[4], c.parts[5],
                             c.parts[6], c.parts[7], c.parts[8], c.parts[9], c.parts[10]});
        break;
      default: FAIL();
    }
    EXPECT_EQ(GetBlockCounts().allocated - before.allocated, 1u) << c.joined;
    ASSERT_NE(joined, nullptr) << "never absent";
    EXPECT_STREQ(joined, c.joined);
    ReleaseBlock(joined);
  }
}

// --- byte buffers -------------------------------------------------------------

TEST_F(TextTest, MakeByteBufferCopiesCountedBytes) {
  const unsigned char bytes[] = {0x41, 0x00, 0xFF};
  ByteBuffer* b = MakeByteBuffer(bytes, 3);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->marker, 1);
  EXPECT_EQ(b->length, 3);
  EXPECT_EQ(std::memcmp(ByteBufferData(b), bytes, 3), 0);
  ReleaseBlock(b);
  EXPECT_EQ(MakeByteBuffer(bytes, 0), nullptr);
}

TEST_F(TextTest, BytesToTextEndsAtTheFirstZeroByte) {
  struct Case {
    std::vector<unsigned char> bytes;
    const char* text;  // nullptr: absent
  };
  const Case cases[] = {
      {{0x41, 0x42, 0x00, 0x43}, "AB"},
      {{0x00, 0x41}, nullptr},
      {{0x41, 0x42, 0x43}, "ABC"},
      {{0xC4, 0xEA}, "\xC4\xEA"},
      {{0x0A, 0x36, 0x30}, "\n60"},
  };
  for (const Case& c : cases) {
    ByteBuffer* b = MakeByteBuffer(c.bytes.data(), static_cast<int32_t>(c.bytes.size()));
    char* text = BytesToText(b);
    EXPECT_EQ(Show(text), Show(c.text));
    ReleaseBlock(text);
    ReleaseBlock(b);
  }
  EXPECT_EQ(BytesToText(&kEmptyByteBuffer), nullptr);
  EXPECT_EQ(BytesToText(nullptr), nullptr);
}

// --- numbers --------------------------------------------------------------------

TEST_F(TextTest, NumberToTextWritesPlainDecimal) {
  const struct {
    int32_t value;
    const char* text;
  } cases[] = {
      {0, "0"},   {-1, "-1"},   {8, "8"},   {2010, "2010"}, {10, "10"}, {-10, "-10"},
      {9, "9"},   {100, "100"}, {2147483647, "2147483647"}, {-2147483647 - 1, "-2147483648"},
  };
  for (const auto& c : cases) {
    char* text = NumberToText(c.value);
    EXPECT_STREQ(text, c.text);
    ReleaseBlock(text);
  }
}

TEST_F(TextTest, NormaliseFullWidthMapsItsTable) {
  const struct {
    const char* in;
    const char* out;
  } cases[] = {
      {"", ""},
      {"a b", "a b"},
      {"\xA3\xB0\xA3\xB9", "09"},              // full-width digits
      {"\xA3\xAD\xA3\xAE\xA3\xBA", "-.:"},     // hyphen-minus, full stop, colon
      {"\xA3\xA1\xA3\xFE", "!~"},              // ends of the full-width block
      {"\xA1\xA1", " "},                       // ideographic space
      {"\xA1\xAB\xA1\xEE\xA1\xEF", "~**"},     // tilde, white and black star
      {"\xA3\xA0\xA3\xFF", "\xA3\xA0\xA3\xFF"},  // just outside the block: kept
      {"\xC4\xEA\xA1\xA2", "\xC4\xEA\xA1\xA2"},  // other pairs kept
      {"ab\xA3", "ab"},                        // lone lead byte at the end dropped
      {"\xA3" "a", "\xA3" "a"},                // a pair is a pair, whatever its second byte
  };
  for (const auto& c : cases) {
    char* out = NormaliseFullWidth(c.in);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(std::string(out), std::string(c.out)) << Show(c.in);
    ReleaseBlock(out);
  }
}

uint64_t Bits(double d) {
  uint64_t b;
  std::memcpy(&b, &d, sizeof b);
  return b;
}

TEST_F(TextTest, TextToNumberReadsTheLongestDecimalPrefix) {
  const struct {
    const char* text;
    double value;
  } cases[] = {
      {nullptr, 0.0},
      {"", 0.0},
      {"12", 12.0},
      {"12abc", 12.0},
      {" 7", 7.0},
      {"\t\n\v\f\r 7", 7.0},
      {"08", 8.0},
      {"\xA3\xB1\xA3\xB2", 12.0},      // full-width one, two
      {"\xA1\xA1\xA3\xAD\xA3\xB3", -3.0},  // ideographic space, full-width minus, three
      {"-1", -1.0},
      {"+2", 2.0},
      {"-0", -0.0},
      {"1.5", 1.5},
      {".5", 0.5},
      {"5.", 5.0},
      {"-.25x", -0.25},
      {"1e3", 1000.0},
      {"1E+3", 1000.0},
      {"2d2", 200.0},
      {"2D-2", 0.02},
      {"1.5e", 1.5},           // exponent without digits: not part of the prefix
      {"1e+", 1.0},
      {"1e-x", 1.0},
      {"3x1e2", 3.0},
      {"1.2.3", 1.2},
      {"abc", 0.0},
      {".", 0.0},
      {"-", 0.0},
      {"+.e5", 0.0},
      {"e5", 0.0},
      {"0x10", 0.0},           // no hexadecimal
      {"inf", 0.0},            // no words
      {"nan", 0.0},
      {"1 2", 1.0},
      {"\x80" "5", 0.0},
      // Rounding: the correctly rounded double, on every runtime.
      {"0.1", 0.1},
      {"2.2250738585072011e-308", 2.2250738585072011e-308},
      {"2.2250738585072012e-308", 2.2250738585072012e-308},
      {"1.7976931348623157e308", 1.7976931348623157e308},
      {"4.9e-324", 4.9e-324},
      {"2.4703282292062328e-324", 4.9406564584124654e-324},  // just above half the least
      {"2.4703282292062327e-324", 0.0},                      // just below half
      {"9007199254740993", 9007199254740992.0},              // tie: to even
      {"9007199254740995", 9007199254740996.0},
      {"9007199254740993.0000000001", 9007199254740994.0},
      {"1.00000000000000011102230246251565404236316680908203125", 1.0},  // exact tie
      {"1.00000000000000011102230246251565404236316680908203126", 0x1.0000000000001p0},
      {"1.00000000000000011102230246251565404236316680908203124", 1.0},
      {"7.038531e-26", 7.038531e-26},
      {"8.533e+68", 8.533e+68},
      {"4.1006e-184", 4.1006e-184},
      {"9.998e+307", 9.998e+307},
      {"9.9538452227e-280", 9.9538452227e-280},
      {"6.47660115e-260", 6.47660115e-260},
      {"7.4e+47", 7.4e+47},
      {"5.92e+48", 5.92e+48},
      {"7.35e+66", 7.35e+66},
      {"8.32116e+55", 8.32116e+55},
      {"123456789012345678901234567890", 123456789012345678901234567890.0},
      {"0.000000000000000000000000000000000000000000001e45", 1.0},
      {"1D308", 1e308},
  };
  for (const auto& c : cases) {
    const double got = TextToNumber(c.text);
    EXPECT_EQ(Bits(got), Bits(c.value)) << Show(c.text) << " gave " << got;
  }
  EXPECT_TRUE(std::isinf(TextToNumber("1e309")));
  EXPECT_EQ(TextToNumber("1e-400"), 0.0);
}

TEST_F(TextTest, TextToNumberGivesBackEveryFormattedInteger) {
  for (int32_t v : {0, 1, 9, 10, 59, 99, 100, 2010, 9999, -1, -9, 2147483647, -2147483647 - 1}) {
    char* text = NumberToText(v);
    EXPECT_EQ(TextToNumber(text), static_cast<double>(v)) << text;
    ReleaseBlock(text);
  }
}

// --- splitting -------------------------------------------------------------------

struct SplitCase {
  const char* text;
  const char* delimiter;  // the one-argument form when kDefault
  int32_t limit;          // no limit when kNone
  std::vector<const char*> elements;
};
const char kDefault[] = "default";
constexpr int32_t kNone = -12345;

TEST_F(TextTest, SplitTextCases) {
  const SplitCase cases[] = {
      {"a b c", " ", kNone, {"a", "b", "c"}},
      {"a  b", " ", kNone, {"a", nullptr, "b"}},
      {" a", " ", kNone, {nullptr, "a"}},
      {"a ", " ", kNone, {"a"}},
      {" ", " ", kNone, {nullptr}},
      {"  ", " ", kNone, {nullptr, nullptr}},
      {"", " ", kNone, {}},
      {nullptr, " ", kNone, {}},
      {"a,b", kDefault, kNone, {"a", "b"}},
      {"a,b", "", kNone, {"a,b"}},
      {"a,b", nullptr, kNone, {"a,b"}},
      {"a b c", " ", 2, {"a", "b"}},
      {"a b c", " ", 1, {"a"}},
      {"a b c", " ", 0, {}},
      {"a b c", " ", -1, {}},
      {"a b c", " ", 3, {"a", "b", "c"}},
      {"a b c", " ", 5, {"a", "b", "c"}},
      {"abc", " ", 1, {"abc"}},
      {"ab", "abc", kNone, {"ab"}},
      {"a, b, c", ", ", kNone, {"a", "b", "c"}},
      {"a,,b", ",,", kNone, {"a", "b"}},
      {"a,,,b", ",,", kNone, {"a", ",b"}},
      // GBK: the second byte 0x40 of 0x81 0x40 is not a delimiter.
      {"\x81\x40", "\x40", kNone, {"\x81\x40"}},
      {"a@\x81\x40@b", "@", kNone, {"a", "\x81\x40", "b"}},
      {"\xC4\xEA \xD4\xC2", " ", kNone, {"\xC4\xEA", "\xD4\xC2"}},
      {"\xC4\x20\xD4", " ", kNone, {"\xC4\x20\xD4"}},  // 0xC4 0x20 is one character
      {"a b\xC4", " ", kNone, {"a", "b\xC4"}},         // a lone lead byte at the end is kept
      {"a \xC4", " ", kNone, {"a", "\xC4"}},
      {"\xB4\xED\xCE\xF3", "\xCE\xF3", kNone, {"\xB4\xED"}},  // a double-byte delimiter
      {"\xB4\xCE\xF3", "\xCE\xF3", kNone, {"\xB4\xCE\xF3"}},  // not at a character start
      // A Daytime reply.
      {"\n60289 23-12-11 14:05:09 00 0 0 563.9 UTC(NIST) * \n", " ", kNone,
       {"\n60289", "23-12-11", "14:05:09", "00", "0", "0", "563.9", "UTC(NIST)", "*", "\n"}},
  };
  for (const SplitCase& c : cases) {
    const BlockCounts before = GetBlockCounts();
    TextArray* a = c.delimiter == kDefault ? SplitText(c.text)
                   : c.limit == kNone      ? SplitText(c.text, c.delimiter)
                                           : SplitText(c.text, c.delimiter, c.limit);
    ASSERT_NE(a, nullptr) << "never absent";
    EXPECT_EQ(a->dimensions, 1);
    EXPECT_EQ(a->size, static_cast<int32_t>(c.elements.size()));
    std::vector<std::string> expected;
    int32_t present = 0;
    for (const char* e : c.elements) {
      expected.push_back(Show(e));
      present += e != nullptr;
    }
    EXPECT_EQ(Elements(a), expected) << Show(c.text) << " at " << Show(c.delimiter) << " limit " << c.limit;
    // What is left alive is exactly the array and its present elements.
    EXPECT_EQ(LiveBlocks() - static_cast<int32_t>(before.allocated - before.released), present + 1)
        << Show(c.text);
    ReleaseTextArray(a);
  }
}

TEST_F(TextTest, SplitTextOfManyPiecesGrowsItsListAndStaysExact) {
  std::string text;
  for (int i = 0; i < 1000; ++i) text += std::to_string(i) + ",";
  TextArray* a = SplitText(text.c_str());
  ASSERT_EQ(ArrayElementCount(a), 1000);
  for (int32_t i = 1; i <= 1000; ++i) ASSERT_STREQ(TextArrayElement(a, i), std::to_string(i - 1).c_str());
  ReleaseTextArray(a);
}

// --- arrays and release -------------------------------------------------------------

TEST_F(TextTest, ArrayElementCountOfOddArrays) {
  EXPECT_EQ(ArrayElementCount(nullptr), 0);
  EXPECT_EQ(ArrayElementCount(EmptyTextArray()), 0);
  const TextArray no_dimensions{0, 7};
  EXPECT_EQ(ArrayElementCount(&no_dimensions), 0);
  TextArray* fresh = NewTextArray();
  EXPECT_EQ(fresh->dimensions, 1);
  EXPECT_EQ(fresh->size, 0);
  ReleaseTextArray(fresh);
}

TEST_F(TextTest, TextArrayElementInsideTheArray) {
  TextArray* a = SplitText("a ", " ");  // one element
  TextArray* b = SplitText("a  ", " ");  // a, absent
  ASSERT_EQ(ArrayElementCount(b), 2);
  EXPECT_STREQ(TextArrayElement(b, 1), "a");
  EXPECT_EQ(TextArrayElement(b, 2), nullptr);
  EXPECT_STREQ(TextArrayElement(a, 1), "a");
  ReleaseTextArray(a);
  ReleaseTextArray(b);
}

TEST_F(TextTest, TextArrayElementOutsideIsRuntimeErrorOne) {
  TextArray* a = SplitText("a b", " ");
  const std::string box =
      "\xD4\xCB\xD0\xD0\xCA\xB1\xB3\xF6\xB4\xED!\r\n\r\n"
      "\xB4\xED\xCE\xF3\xB4\xFA\xC2\xEB\xA3\xBA" "1\r\n\r\n"
      "\xB4\xED\xCE\xF3\xD0\xC5\xCF\xA2\xA3\xBA"
      "\xCA\xFD\xD7\xE9\xB3\xC9\xD4\xB1\xD2\xFD\xD3\xC3\xCF\xC2\xB1\xEA\xB3\xAC\xB3\xF6\xB6\xA8\xD2\xE5\xB7\xB6\xCE\xA7"
      "\r\n";
  for (int32_t index : {3, 4, 0, -1, -2147483647 - 1}) {
    const FatalCapture f = CaptureFatal([&] { TextArrayElement(a, index); });
    EXPECT_TRUE(f.ended) << index;
    EXPECT_EQ(f.text, box) << index;
    EXPECT_EQ(f.exit_code, -1);
  }
  const FatalCapture absent = CaptureFatal([] { TextArrayElement(nullptr, 1); });
  EXPECT_EQ(absent.text, box);
  ReleaseTextArray(a);
}

TEST_F(TextTest, ReleaseTextArrayReleasesOnlyPresentElements) {
  TextArray* a = SplitText(" a  b ", " ");  // absent, a, absent, b
  ASSERT_EQ(ArrayElementCount(a), 4);
  const BlockCounts before = GetBlockCounts();
  ReleaseTextArray(a);
  EXPECT_EQ(GetBlockCounts().released - before.released, 3u);  // a, b, the array
  ReleaseTextArray(nullptr);
}

TEST_F(TextTest, ConstantsAreNeverReleased) {
  const BlockCounts before = GetBlockCounts();
  // Under ASan a free of any of these would fail the run.
  for (const char* t : {kTextSpace, kTextTwenty, kTextDash, kTextZero, kTextColon, kTextComma, kTextEmpty}) {
    ReleaseBlock(t);
  }
  ReleaseBlock(&kEmptyByteBuffer);
  ReleaseBlock(EmptyTextArray());
  ReleaseTextArray(const_cast<TextArray*>(EmptyTextArray()));
  ReleaseBlock(nullptr);
  EXPECT_EQ(GetBlockCounts().released, before.released);
  EXPECT_STREQ(kTextSpace, " ");
  EXPECT_STREQ(kTextTwenty, "20");
  EXPECT_STREQ(kTextDash, "-");
  EXPECT_STREQ(kTextZero, "0");
  EXPECT_STREQ(kTextColon, ":");
  EXPECT_STREQ(kTextComma, ",");
  EXPECT_STREQ(kTextEmpty, "");
  EXPECT_EQ(kEmptyByteBuffer.marker, 1);
  EXPECT_EQ(kEmptyByteBuffer.length, 0);
  // The empty array and the empty buffer are one constant.
  EXPECT_EQ(static_cast<const void*>(EmptyTextArray()), static_cast<const void*>(&kEmptyByteBuffer));
}

TEST_F(TextTest, AConstantCopiedIsAFreshBlock) {
  char* copy = CopyText(kTextTwenty);
  ASSERT_NE(copy, kTextTwenty);
  const BlockCounts before = GetBlockCounts();
  ReleaseBlock(copy);
  EXPECT_EQ(GetBlockCounts().released - before.released, 1u);
}

}  // namespace
