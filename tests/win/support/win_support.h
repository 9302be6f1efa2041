// Helpers shared by the Windows tests: real windows bound to the window
// framework, a message pump with a time limit, GBK/UTF-16 texts, and a
// fatal-error fixture that turns the program's fatal path into a C++
// exception so that no test leaves a message box open or ends the process.
//
// A fatal error is caught only when it is raised by a direct call of the
// test, never from inside a window procedure (an exception must not unwind
// through user32).
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>

#include "app/window_base.h"

// A framework window for tests: a hidden top-level window of a test class,
// or a subclassed system control (EDIT, BUTTON, msctls_statusbar32). It
// deletes itself when its HWND is destroyed, like every design-made object.
class TestWindow : public Window {
 public:
  static TestWindow* TopLevel(const wchar_t* title = L"test");
  static TestWindow* Child(const wchar_t* system_class, DWORD style, HWND parent, int child_id,
                           const wchar_t* text = L"");
  // Counts of notifications the window has received (WM_COMMAND codes).
  int commands(WORD code) const;

 protected:
  LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp) override;

 private:
  WORD command_codes_[32] = {};
  int command_count_ = 0;
};

// Dispatches the messages of this thread until `done` holds or `timeout_ms`
// has passed; returns whether `done` held.
bool PumpUntil(const std::function<bool()>& done, DWORD timeout_ms = 5000);
void PumpFor(DWORD ms);

std::string ToGbk(const wchar_t* wide);
std::wstring FromGbk(const char* gbk);
std::string WindowTextGbk(HWND hwnd);
std::string StatusTextGbk(HWND bar, int part);

// Thrown by the end_program hook of FatalHookTest.
struct FatalErrorThrown {
  std::string text;     // the composed text of the box
  std::string caption;
  uint32_t style;
  int32_t exit_code;
};

// Installs fatal-error hooks that record the box and throw FatalErrorThrown
// instead of ending the process; the event suspension is counted, not
// applied, so one test's fatal error does not silence the next test.
class FatalHookTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  static int suspend_calls();
  static int box_calls();
};

// Runs `statement` and expects the fatal error whose box holds the line
// "错误信息：" + `message` (GBK), ending the program with -1.
#define EXPECT_FATAL(statement, message)                                          \
  do {                                                                            \
    try {                                                                         \
      statement;                                                                  \
      ADD_FAILURE() << "no fatal error from " #statement;                         \
    } catch (const FatalErrorThrown& fatal_) {                                    \
      EXPECT_NE(fatal_.text.find(std::string("\xB4\xED\xCE\xF3\xD0\xC5\xCF\xA2") + \
                                 "\xA3\xBA" + (message)),                         \
                std::string::npos)                                                \
          << "box text: " << fatal_.text;                                         \
      EXPECT_EQ(fatal_.exit_code, -1);                                            \
    }                                                                             \
  } while (0)
