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
// is allocated once at the end at its exact size, so this list grows by
// doubling in its own blocks; running out of memory while it grows ends the
// program like every other allocation.
class WorkList {
 public:
  WorkList() = default;
  WorkList(const WorkList&) = delete;
  WorkList& operator=(const WorkList&) = delete;
  ~WorkList() { ReleaseBlock(items_); }

  void Append(char* item) {
    if (count_ == capacity_) Grow();
    items_[count_++] = item;
  }
  int32_t count() const { return count_; }
  char* const* items() const { return items_; }

 private:
  void Grow() {
    const int32_t capacity = capacity_ == 0 ? 16 : capacity_ * 2;
    auto** items = static_cast<char**>(AllocateBlock(static_cast<uint32_t>(capacity) * sizeof(char*)));
    if (count_ != 0) std::memcpy(items, items_, static_cast<size_t>(count_) * sizeof(char*));
    ReleaseBlock(items_);
    items_ = items;
    capacity_ = capacity;
  }

  char** items_ = nullptr;
  int32_t count_ = 0;
  int32_t capacity_ = 0;
};

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
  WorkList list;
  int32_t piece = 0;
  int32_t pos = 0;
  bool limit_used_up = false;
  while (text_length - pos >= delimiter_length) {
    if (std::memcmp(bytes + pos, delimiter, static_cast<size_t>(delimiter_length)) == 0) {
      // An empty piece is an absent element that keeps its place.
      list.Append(pos > piece ? CopyTextPrefix(text + piece, pos - piece) : nullptr);
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
  if (!limit_used_up && piece < text_length) list.Append(CopyText(text + piece));
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
  uint32_t total = 0;
  for (const char* part : parts) total += static_cast<uint32_t>(TextLength(part));
  char* joined = NewText(total);
  char* out = joined;
  for (const char* part : parts) {
    const size_t length = static_cast<size_t>(TextLength(part));
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

char* NumberToText(int32_t value) {
  char digits[10];
  int32_t n = 0;
  // Unsigned magnitude: -2147483648 has no positive int32 counterpart.
  uint32_t magnitude = value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
  do {
    digits[n++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  const int32_t sign = value < 0 ? 1 : 0;
  char* text = NewText(static_cast<uint32_t>(n + sign));
  char* out = text;
  if (sign) *out++ = '-';
  while (n > 0) *out++ = digits[--n];
  *out = '\0';
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

}  // namespace

double TextToNumber(const char* text) {
  char* work = NormaliseFullWidth(text != nullptr ? text : kTextEmpty);
  char* start = work;
  while (IsNumberSpace(*start)) ++start;
  ptrdiff_t exponent_at = 0;
  const size_t length = ScanNumber(start, &exponent_at);
  double value = 0.0;
  if (length != 0) {
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
