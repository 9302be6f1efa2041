#include "app/gbk.h"

#include "values/memory.h"

WideText::WideText(const char* gbk) : text_(inline_) {
  inline_[0] = L'\0';
  if (!gbk || !*gbk) return;
  int n = MultiByteToWideChar(kGbkCodePage, 0, gbk, -1, inline_, kInline);
  if (n == 0 && GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
    // Too long for the inline buffer: ask for the size, then convert into a
    // block. AllocateBlock never returns null (it ends the program instead).
    int need = MultiByteToWideChar(kGbkCodePage, 0, gbk, -1, nullptr, 0);
    if (need > 0) {
      auto* block = static_cast<wchar_t*>(AllocateBlock(static_cast<uint32_t>(need) * sizeof(wchar_t)));
      n = MultiByteToWideChar(kGbkCodePage, 0, gbk, -1, block, need);
      text_ = block;
    }
  }
  if (n <= 0) {
    text_[0] = L'\0';
    return;
  }
  length_ = n - 1;  // n counts the NUL
}

WideText::~WideText() {
  if (text_ != inline_) ReleaseBlock(text_);
}
