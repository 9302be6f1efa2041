#include "values/text.h"

#include <cstdlib>
#include <cstring>

#include "values/constants.h"
#include "values/error.h"
#include "values/memory.h"

namespace {

// Run-time error raised for an element index outside the array.
constexpr int32_t kErrorIndexOutOfRange = 1;

bool IsLeadByte(unsigned char byte) { return byte >= 0x80; }

char* NewText(uint32_t length) { return static_cast<char*>(AllocateBlock(length + 1)); }

// The element references of SplitText as they are found. The result array
// is allocated once at the end at its exact size, so the references wait
// here first: in place for a reply-sized split, in blocks of their own
// (doubling) only past kInlineItems. Running out of memory while it grows
// ends the program like every other allocation.
class WorkList {
 public:
  WorkList() = default;
  WorkList(const WorkList&) = delete;
  WorkList& operator=(const WorkList&) = delete;
  ~WorkList() {
    if (items_ != inline_items_) ReleaseBlock(items_);
  }

  void Append(char* item) {
    if (count_ == capacity_) Grow();
    items_[count_++] = item;
  }
  int32_t count() const { return count_; }
  char* const* items() const { return items_; }

 private:
  // A Daytime reply has about ten fields; room for 32 keeps every split the
  // program makes off the heap.
  static constexpr int32_t kInlineItems = 32;

  void Grow() {
    const int32_t capacity = capacity_ * 2;
    auto** items = static_cast<char**>(AllocateBlock(static_cast<uint32_t>(capacity) * sizeof(char*)));
    std::memcpy(items, items_, static_cast<size_t>(count_) * sizeof(char*));
    if (items_ != inline_items_) ReleaseBlock(items_);
    items_ = items;
    capacity_ = capacity;
  }

  char* inline_items_[kInlineItems];
  char** items_ = inline_items_;
  int32_t count_ = 0;
  int32_t capacity_ = kInlineItems;
};

// A fresh text of the n bytes at `bytes`, which hold no NUL (n >= 1).
char* CopyBytes(const char* bytes, int32_t n) {
  char* copy = NewText(static_cast<uint32_t>(n));
  std::memcpy(copy, bytes, static_cast<size_t>(n));
  copy[n] = '\0';
  return copy;
}

TextArray* MakeTextArray(const WorkList& list) {
  const uint32_t count = static_cast<uint32_t>(list.count());
  auto* array = static_cast<TextArray*>(AllocateBlock(sizeof(TextArray) + count * sizeof(char*)));
  array->dimensions = 1;
  array->size = static_cast<int32_t>(count);
  if (count != 0) std::memcpy(TextArrayElements(array), list.items(), count * sizeof(char*));
  return array;
}

constexpr int32_t kNoLimit = -1;

TextArray* Split(const char* text, const char* delimiter, int32_t limit) {
  const int32_t text_length = TextLength(text);
  if (text_length == 0 || limit == 0) return NewTextArray();
  const int32_t delimiter_length = TextLength(delimiter);
  if (delimiter_length == 0) {
    TextArray* array = static_cast<TextArray*>(AllocateBlock(sizeof(TextArray) + sizeof(char*)));
    array->dimensions = 1;
    array->size = 1;
    TextArrayElements(array)[0] = CopyText(text);
    return array;
  }

  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  // The program splits at one byte; compare that byte in place rather than
  // calling memcmp at every position.
  const auto first = static_cast<unsigned char>(delimiter[0]);
  WorkList list;
  int32_t piece = 0;
  int32_t pos = 0;
  bool limit_used_up = false;
  while (text_length - pos >= delimiter_length) {
    if (bytes[pos] == first &&
        (delimiter_length == 1 ||
         std::memcmp(bytes + pos + 1, delimiter + 1, static_cast<size_t>(delimiter_length - 1)) == 0)) {
      // An empty piece is an absent element that keeps its place. The piece
      // lies inside the measured text, so it holds no NUL: the same bytes as
      // CopyTextPrefix, copied in one go.
      list.Append(pos > piece ? CopyBytes(text + piece, pos - piece) : nullptr);
      pos += delimiter_length;
      piece = pos;
      if (limit != kNoLimit && list.count() == limit) {
        limit_used_up = true;
        break;
      }
    } else if (IsLeadByte(bytes[pos])) {
      // A double-byte character: the delimiter is never looked for at its
      // second byte. A lone lead byte at the end stops the scan.
      if (bytes[pos + 1] == 0) break;
      pos += 2;
    } else {
      pos += 1;
    }
  }
  if (!limit_used_up && piece < text_length) list.Append(CopyBytes(text + piece, text_length - piece));
  return MakeTextArray(list);
}

}  // namespace

int32_t TextLength(const char* text) {
  if (text == nullptr) return 0;
  return static_cast<int32_t>(std::strlen(text));
}

char* CopyText(const char* text) {
  const int32_t length = TextLength(text);
  if (length == 0) return nullptr;
  char* copy = NewText(static_cast<uint32_t>(length));
  std::memcpy(copy, text, static_cast<size_t>(length) + 1);
  return copy;
}

// Contract: `text` holds n bytes or ends with a NUL before them; the copy
// stops at that NUL, so it never reads past the end of a shorter text.
char* CopyTextPrefix(const char* text, int32_t n) {
  if (n < 1) return nullptr;
  char* copy = NewText(static_cast<uint32_t>(n));
  int32_t i = 0;
  if (text != nullptr) {
    for (; i < n && text[i] != '\0'; ++i) copy[i] = text[i];
  }
  copy[i] = '\0';
  return copy;
}

char* ConcatText(std::initializer_list<const char*> parts) {
  // Measure first: one allocation per call, whatever the number of parts.
  // The lengths of the first parts are kept for the copy (the clock text
  // joins eleven); any further part is measured again.
  constexpr size_t kKeptLengths = 16;
  uint32_t lengths[kKeptLengths];
  uint32_t total = 0;
  size_t index = 0;
  for (const char* part : parts) {
    const auto length = static_cast<uint32_t>(TextLength(part));
    if (index < kKeptLengths) lengths[index] = length;
    ++index;
    total += length;
  }
  char* joined = NewText(total);
  char* out = joined;
  index = 0;
  for (const char* part : parts) {
    const size_t length = index < kKeptLengths ? lengths[index] : static_cast<size_t>(TextLength(part));
    ++index;
    if (length != 0) std::memcpy(out, part, length);
    out += length;
  }
  *out = '\0';
  return joined;
}

ByteBuffer* MakeByteBuffer(const void* bytes, int32_t n) {
  if (n <= 0) return nullptr;
  auto* buffer = static_cast<ByteBuffer*>(AllocateBlock(sizeof(ByteBuffer) + static_cast<uint32_t>(n)));
  buffer->marker = 1;
  buffer->length = n;
  std::memcpy(buffer + 1, bytes, static_cast<size_t>(n));
  return buffer;
}

char* BytesToText(const ByteBuffer* buffer) {
  if (buffer == nullptr) buffer = &kEmptyByteBuffer;
  const unsigned char* data = ByteBufferData(buffer);
  int32_t length = 0;
  while (length < buffer->length && data[length] != 0) ++length;
  return CopyTextPrefix(reinterpret_cast<const char*>(data), length);
}

int32_t FormatDecimal(int32_t value, char* out) {
  char digits[10];
  int32_t n = 0;
  // Unsigned magnitude: -2147483648 has no positive int32 counterpart.
  uint32_t magnitude = value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
  do {
    digits[n++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  int32_t length = 0;
  if (value < 0) out[length++] = '-';
  while (n > 0) out[length++] = digits[--n];
  out[length] = '\0';
  return length;
}

char* NumberToText(int32_t value) {
  char decimal[12];
  const int32_t length = FormatDecimal(value, decimal);
  char* text = NewText(static_cast<uint32_t>(length));
  std::memcpy(text, decimal, static_cast<size_t>(length) + 1);
  return text;
}

char* NormaliseFullWidth(const char* text) {
  // Every character maps to no more bytes than it had, so a work copy of
  // the source's length is always large enough: one allocation, no growth.
  const auto* in = reinterpret_cast<const unsigned char*>(text != nullptr ? text : "");
  char* copy = NewText(static_cast<uint32_t>(TextLength(text)));
  char* out = copy;
  while (*in != 0) {
    const unsigned char first = in[0];
    if (!IsLeadByte(first)) {
      *out++ = static_cast<char>(first);
      in += 1;
      continue;
    }
    const unsigned char second = in[1];
    if (second == 0) break;  // a lone lead byte at the end is dropped
    in += 2;
    if (first == 0xA1 && second == 0xA1) {
      *out++ = ' ';  // ideographic space
    } else if (first == 0xA1 && second == 0xAB) {
      *out++ = '~';
    } else if (first == 0xA1 && (second == 0xEE || second == 0xEF)) {
      *out++ = '*';  // white and black star
    } else if (first == 0xA3 && second >= 0xA1 && second <= 0xFE) {
      *out++ = static_cast<char>(second - 0x80);  // full-width forms of 0x21 to 0x7E
    } else {
      *out++ = static_cast<char>(first);
      *out++ = static_cast<char>(second);
    }
  }
  *out = '\0';
  return copy;
}

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsNumberSpace(char c) { return c == ' ' || (c >= 0x09 && c <= 0x0D); }

// Finds the longest prefix of `s` of the form [sign] digits [. digits]
// [(e|E|d|D) [sign] digits], with at least one digit in the mantissa and in
// a present exponent. Returns its length (0 when there is none) and writes
// where the exponent letter stands, or -1.
size_t ScanNumber(const char* s, ptrdiff_t* exponent_at) {
  *exponent_at = -1;
  size_t i = 0;
  if (s[i] == '+' || s[i] == '-') ++i;
  size_t mantissa_digits = 0;
  while (IsDigit(s[i])) ++i, ++mantissa_digits;
  if (s[i] == '.') {
    ++i;
    while (IsDigit(s[i])) ++i, ++mantissa_digits;
  }
  if (mantissa_digits == 0) return 0;
  const size_t mantissa_end = i;
  if (s[i] == 'e' || s[i] == 'E' || s[i] == 'd' || s[i] == 'D') {
    size_t j = i + 1;
    if (s[j] == '+' || s[j] == '-') ++j;
    if (IsDigit(s[j])) {
      while (IsDigit(s[j])) ++j;
      *exponent_at = static_cast<ptrdiff_t>(i);
      return j;
    }
  }
  return mantissa_end;
}

// Clinger's fast path: a decimal w × 10^e with w < 2^53 and |e| <= 22 is
// one multiplication or division of two doubles that hold their values
// exactly, and IEEE arithmetic rounds that single operation correctly. So
// the result is the correctly rounded value, bit for bit what strtod gives.
// On i686 the operation must run in SSE2: the x87 unit at the extended
// precision the runtime leaves it in would round twice.
#if defined(__GNUC__) && defined(__i386__)
__attribute__((target("sse2,fpmath=sse")))
#endif
bool ConvertExactly(const char* s, size_t length, ptrdiff_t exponent_at, double* out) {
  static constexpr double kPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                            1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                            1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
  constexpr uint64_t kExactLimit = uint64_t{1} << 53;
  constexpr int kMaxDigits = 19;  // fits uint64_t without overflow
  const size_t mantissa_end = exponent_at >= 0 ? static_cast<size_t>(exponent_at) : length;
  size_t i = 0;
  const bool negative = s[0] == '-';
  if (s[0] == '+' || s[0] == '-') ++i;
  uint64_t w = 0;
  int digits = 0;  // counted from the first nonzero digit
  int exponent = 0;
  bool fraction = false;
  for (; i < mantissa_end; ++i) {
    if (s[i] == '.') {
      fraction = true;
      continue;
    }
    const unsigned digit = static_cast<unsigned>(s[i] - '0');
    if (w != 0 || digit != 0) {
      if (++digits > kMaxDigits) return false;
      w = w * 10 + digit;
    }
    if (fraction) --exponent;
  }
  if (exponent_at >= 0) {
    size_t j = static_cast<size_t>(exponent_at) + 1;
    const bool exponent_negative = s[j] == '-';
    if (s[j] == '+' || s[j] == '-') ++j;
    int written = 0;
    for (; j < length; ++j) {
      written = written * 10 + (s[j] - '0');
      if (written > 1000) return false;  // far outside the fast range; strtod saturates it
    }
    exponent += exponent_negative ? -written : written;
  }
  double value;
  if (w == 0) {
    value = 0.0;  // zero whatever the exponent
  } else if (w <= kExactLimit && exponent >= -22 && exponent <= 22) {
    const auto mantissa = static_cast<double>(static_cast<int64_t>(w));
    value = exponent < 0 ? mantissa / kPowersOfTen[-exponent] : mantissa * kPowersOfTen[exponent];
  } else {
    return false;
  }
  *out = negative ? -value : value;
  return true;
}

}  // namespace

double TextToNumber(const char* text) {
  char* work = NormaliseFullWidth(text != nullptr ? text : kTextEmpty);
  char* start = work;
  while (IsNumberSpace(*start)) ++start;
  ptrdiff_t exponent_at = 0;
  const size_t length = ScanNumber(start, &exponent_at);
  double value = 0.0;
  if (length != 0 && !ConvertExactly(start, length, exponent_at, &value)) {
    // Too many digits or too large a power of ten for one exact operation.
    // The work copy is ours: cut it behind the prefix and spell the exponent
    // as strtod reads it, so the runtime only ever sees a plain decimal
    // number and rounds it (glibc and the mingw-w64 runtime both round
    // correctly; the tests check hard cases on both).
    start[length] = '\0';
    if (exponent_at >= 0) start[exponent_at] = 'e';
    value = std::strtod(start, nullptr);
  }
  ReleaseBlock(work);
  return value;
}

TextArray* SplitText(const char* text) { return Split(text, kTextComma, kNoLimit); }

TextArray* SplitText(const char* text, const char* delimiter) { return Split(text, delimiter, kNoLimit); }

TextArray* SplitText(const char* text, const char* delimiter, int32_t limit) {
  return Split(text, delimiter, limit < 0 ? 0 : limit);
}

TextArray* NewTextArray() {
  auto* array = static_cast<TextArray*>(AllocateBlock(sizeof(TextArray)));
  array->dimensions = 1;
  array->size = 0;
  return array;
}

int32_t ArrayElementCount(const TextArray* array) {
  if (array == nullptr || array->dimensions <= 0) return 0;
  const int32_t* sizes = &array->size;
  int64_t count = 1;
  for (int32_t i = 0; i < array->dimensions && count != 0; ++i) {
    count *= sizes[i];
    if (count < 0 || count > INT32_MAX) return 0;  // not an array this program made
  }
  return static_cast<int32_t>(count);
}

char* TextArrayElement(TextArray* array, int32_t index) {
  // An index below 1 is as far outside the array as one past its end.
  if (index < 1 || index > ArrayElementCount(array)) RaiseRuntimeError(kErrorIndexOutOfRange);
  return TextArrayElements(array)[index - 1];
}

void ReleaseTextArray(TextArray* array) {
  if (array == nullptr) return;
  const int32_t count = ArrayElementCount(array);
  char** elements = TextArrayElements(array);
  for (int32_t i = 0; i < count; ++i) ReleaseBlock(elements[i]);
  ReleaseBlock(array);
}
