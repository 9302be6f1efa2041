// TextToNumber and BytesToText on arbitrary bytes, and the round trip of
// NumberToText for the integer the input spells.
#include <cmath>

#include "fuzz_support.h"
#include "values/text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  BlockBalance balance;
  std::string text = AsText(data, size);
  (void)TextToNumber(text.c_str());

  ByteBuffer* buffer = MakeByteBuffer(data, static_cast<int32_t>(size));
  FUZZ_CHECK((buffer == nullptr) == (size == 0));
  char* t = BytesToText(buffer);
  FUZZ_CHECK(std::string(t ? t : "") == text);
  FUZZ_CHECK((t == nullptr) == text.empty());
  ReleaseBlock(t);
  ReleaseBlock(buffer);

  if (size >= 4) {
    int32_t v;
    std::memcpy(&v, data, 4);
    char* digits = NumberToText(v);
    FUZZ_CHECK(TextToNumber(digits) == static_cast<double>(v));
    ReleaseBlock(digits);
  }
  return 0;
}
