// Texts, byte buffers and text arrays: the values that carry words and data
// through the program.
//
// A text is a NUL-terminated block of GBK (code page 936) bytes, or null;
// null and empty are equivalent wherever a text is read. Every text, buffer
// and array returned here is a fresh block (values/memory.h) owned by the
// caller, who releases a text or buffer with ReleaseBlock and an array with
// ReleaseTextArray. Arguments are only read. Any thread may call these.
#pragma once

#include <cstdint>
#include <initializer_list>

// Counted bytes in one block: marker 1, length n, then n bytes.
struct ByteBuffer {
  int32_t marker;
  int32_t length;
  // `length` data bytes follow the head.
};
inline const unsigned char* ByteBufferData(const ByteBuffer* b) {
  return reinterpret_cast<const unsigned char*>(b + 1);
}

// One block: dimension count d, d dimension sizes, then the element
// references. Every array made here has d = 1, so the head is 8 bytes.
struct TextArray {
  int32_t dimensions;
  int32_t size;  // of the first dimension
  // element references follow the head.
};
inline char** TextArrayElements(TextArray* a) { return reinterpret_cast<char**>(a + 1); }

// The constant head {1, 0}: the empty ByteBuffer and the empty TextArray.
// A reference into the one registered object of fixed data (values/constants.h),
// so that ReleaseBlock ignores it; take its address where a buffer is read.
extern const ByteBuffer& kEmptyByteBuffer;

int32_t TextLength(const char* text);
char* CopyText(const char* text);                  // null for null or empty
char* CopyTextPrefix(const char* text, int32_t n);  // null when n < 1
char* ConcatText(std::initializer_list<const char*> parts);  // never null

ByteBuffer* MakeByteBuffer(const void* bytes, int32_t n);  // null when n is 0
char* BytesToText(const ByteBuffer* buffer);               // null when empty
char* NumberToText(int32_t value);
// Writes `value` as "%d" does into `out` (at least 12 bytes), NUL-terminated;
// returns the length. Allocates nothing, so the fatal path can use it.
int32_t FormatDecimal(int32_t value, char* out);
char* NormaliseFullWidth(const char* text);  // text present; always a block
double TextToNumber(const char* text);

TextArray* SplitText(const char* text);  // at ","
TextArray* SplitText(const char* text, const char* delimiter);
TextArray* SplitText(const char* text, const char* delimiter, int32_t limit);

TextArray* NewTextArray();
int32_t ArrayElementCount(const TextArray* array);
// Element i counted from 1, still owned by the array; an index past the end
// raises run-time error 1.
char* TextArrayElement(TextArray* array, int32_t index);
void ReleaseTextArray(TextArray* array);
