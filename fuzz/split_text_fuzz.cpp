// SplitText with a delimiter and a limit taken from the input: the elements,
// joined again with the delimiter, are a prefix of the text, no element
// holds the delimiter at a character start, and releasing the array gives
// every block back.
#include "fuzz_support.h"
#include "values/text.h"

namespace {

bool HoldsDelimiterAtCharacterStart(const char* e, const std::string& delim) {
  for (const char* p = e; *p;) {
    if (!delim.empty() && std::strncmp(p, delim.c_str(), delim.size()) == 0) return true;
    p += (static_cast<unsigned char>(*p) >= 0x80 && p[1]) ? 2 : 1;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  size_t delim_len = data[0] % 4;
  int32_t limit = static_cast<int8_t>(data[1]);
  if (size < 2 + delim_len) return 0;
  std::string delim(reinterpret_cast<const char*>(data + 2), delim_len);
  delim = delim.substr(0, delim.find('\0'));
  std::string text = AsText(data + 2 + delim_len, size - 2 - delim_len);

  BlockBalance balance;
  TextArray* a = (limit == -128) ? SplitText(text.c_str(), delim.c_str())
                                 : SplitText(text.c_str(), delim.c_str(), limit);
  FUZZ_CHECK(a != nullptr && a->dimensions == 1);
  int32_t n = ArrayElementCount(a);
  if (limit != -128) FUZZ_CHECK(n <= (limit < 0 ? 0 : limit));
  std::string joined;
  for (int32_t i = 1; i <= n; ++i) {
    const char* e = TextArrayElement(a, i);
    if (e) {
      FUZZ_CHECK(*e != '\0');
      FUZZ_CHECK(!HoldsDelimiterAtCharacterStart(e, delim));
    }
    if (i > 1) joined += delim;
    joined += e ? e : "";
  }
  FUZZ_CHECK(text.compare(0, joined.size(), joined) == 0);
  ReleaseTextArray(a);
  return 0;
}
