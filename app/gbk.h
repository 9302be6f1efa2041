// GBK (code page 936) texts at the window boundary. Every text inside the
// program stays GBK; a window API call that takes a text uses its W form
// with the text converted here, so Chinese shows right on a Windows whose
// ANSI code page is not 936. Any thread.
#pragma once

#include <windows.h>

#include <cstdint>

constexpr UINT kGbkCodePage = 936;

// The UTF-16 form of a GBK text for the length of one call:
//   SetWindowTextW(hwnd, WideText(text).get());
// Short texts live in the object itself; a longer one in a program block.
// Null converts to the empty text.
class WideText {
 public:
  explicit WideText(const char* gbk);
  ~WideText();
  WideText(const WideText&) = delete;
  WideText& operator=(const WideText&) = delete;

  const wchar_t* get() const { return text_; }
  int32_t length() const { return length_; }  // in UTF-16 units, without the NUL

 private:
  static constexpr int32_t kInline = 128;
  wchar_t inline_[kInline];
  wchar_t* text_;
  int32_t length_ = 0;
};
