#include "values/error.h"

#include "values/text.h"

#include <cstdio>
#include <cstdlib>

const char kFatalBoxCaption[] = "\xB4\xED\xCE\xF3";  // "错误"

namespace {

// The texts of the box.
constexpr char kHeading[] = "\xD4\xCB\xD0\xD0\xCA\xB1\xB3\xF6\xB4\xED!\r\n\r\n";  // "运行时出错!"
constexpr char kCodeLabel[] = "\xB4\xED\xCE\xF3\xB4\xFA\xC2\xEB\xA3\xBA";       // "错误代码："
constexpr char kCodeEnd[] = "\r\n\r\n";
constexpr char kMessageLabel[] = "\xB4\xED\xCE\xF3\xD0\xC5\xCF\xA2\xA3\xBA";    // "错误信息："
constexpr char kMessageEnd[] = "\r\n";

// Messages of the run-time error codes, indexed by code - 1. Only code 1 is
// raised by this program; the others name the classic run-time errors.
const char* const kRuntimeErrorTexts[] = {
    // 1 "数组成员引用下标超出定义范围"
    ("\xCA\xFD\xD7\xE9\xB3\xC9\xD4\xB1\xD2\xFD\xD3\xC3\xCF\xC2\xB1\xEA\xB3\xAC\xB3\xF6\xB6\xA8\xD2\xE5"
     "\xB7\xB6\xCE\xA7"),
    "\xCE\xDE\xD0\xA7\xB5\xC4\xB9\xFD\xB3\xCC\xB5\xF7\xD3\xC3\xBB\xF2\xB2\xCE\xCA\xFD",  // 2 "无效的过程调用或参数"
    "\xD2\xE7\xB3\xF6",                                                  // 3 "溢出"
    "\xC4\xDA\xB4\xE6\xB2\xBB\xD7\xE3",                                  // 4 "内存不足"
    "\xB3\xFD\xCA\xFD\xCE\xAA\xC1\xE3",                                  // 5 "除数为零"
    "\xC0\xE0\xD0\xCD\xB2\xBB\xC6\xA5\xC5\xE4",                          // 6 "类型不匹配"
    "\xD7\xD6\xB7\xFB\xB4\xAE\xCC\xAB\xB3\xA4",                          // 7 "字符串太长"
    "\xCE\xC4\xBC\xFE\xCE\xB4\xD5\xD2\xB5\xBD",                          // 8 "文件未找到"
    "\xB6\xD4\xCF\xF3\xB1\xE4\xC1\xBF\xCE\xB4\xC9\xE8\xD6\xC3",          // 9 "对象变量未设置"
    "\xCA\xFD\xD6\xB5\xB3\xAC\xB3\xF6\xB7\xB6\xCE\xA7",                  // 10 "数值超出范围"
    "\xCE\xDE\xD0\xA7\xB5\xC4\xC8\xD5\xC6\xDA\xCA\xB1\xBC\xE4",          // 11 "无效的日期时间"
};
constexpr int32_t kRuntimeErrorCount = sizeof kRuntimeErrorTexts / sizeof kRuntimeErrorTexts[0];

void DefaultSuspendEvents() {}
void DefaultShowBox(const char* text, const char*, uint32_t) {
  std::fputs(text, stderr);
  std::fflush(stderr);
}
void DefaultClearEndRoutine() {}
void DefaultEndProgram(int32_t exit_code) { std::_Exit(exit_code); }

constexpr FatalErrorHooks kDefaultHooks = {DefaultSuspendEvents, DefaultShowBox,
                                           DefaultClearEndRoutine, DefaultEndProgram};
// Installed by the window layer at start-up (before a second thread) and by
// tests; read by whichever thread reports.
FatalErrorHooks g_hooks = kDefaultHooks;

// Appends `text` to out[*length] while whole characters fit before the NUL
// slot, so that a cut never leaves the lead byte of a double-byte character.
// Once a piece has been cut, *full stays set and nothing more is appended.
void Append(const char* text, char* out, int32_t capacity, int32_t* length, bool* full) {
  for (const auto* p = reinterpret_cast<const unsigned char*>(text); *p != 0 && !*full;) {
    const int32_t width = (*p >= 0x80 && p[1] != 0) ? 2 : 1;
    if (*length + width > capacity - 1) {
      *full = true;
      return;
    }
    for (int32_t i = 0; i < width; ++i) out[(*length)++] = static_cast<char>(*p++);
  }
}

}  // namespace

void SetFatalErrorHooks(const FatalErrorHooks& hooks) {
  g_hooks.suspend_events = hooks.suspend_events ? hooks.suspend_events : kDefaultHooks.suspend_events;
  g_hooks.show_box = hooks.show_box ? hooks.show_box : kDefaultHooks.show_box;
  g_hooks.clear_end_routine =
      hooks.clear_end_routine ? hooks.clear_end_routine : kDefaultHooks.clear_end_routine;
  g_hooks.end_program = hooks.end_program ? hooks.end_program : kDefaultHooks.end_program;
}

void ResetFatalErrorHooks() { g_hooks = kDefaultHooks; }

const char* RuntimeErrorText(int32_t code) {
  if (code < 1 || code > kRuntimeErrorCount) return nullptr;
  return kRuntimeErrorTexts[code - 1];
}

int32_t ComposeFatalErrorText(const char* message, int32_t code, char* out, int32_t capacity) {
  if (out == nullptr || capacity < 1) return 0;
  int32_t length = 0;
  bool full = false;
  Append(kHeading, out, capacity, &length, &full);
  if (code != 0) {
    char number[12];
    FormatDecimal(code, number);
    Append(kCodeLabel, out, capacity, &length, &full);
    Append(number, out, capacity, &length, &full);
    Append(kCodeEnd, out, capacity, &length, &full);
  }
  if (message != nullptr && message[0] != '\0') {
    Append(kMessageLabel, out, capacity, &length, &full);
    Append(message, out, capacity, &length, &full);
    Append(kMessageEnd, out, capacity, &length, &full);
  }
  out[length] = '\0';
  return length;
}

void RaiseRuntimeError(int32_t code) { ReportFatalError(RuntimeErrorText(code), code); }

void ReportFatalError(const char* message, int32_t code) {
  // From here on no event handler runs again, also while the box is open.
  g_hooks.suspend_events();
  // On the stack: the allocation failure reports through here.
  char text[1024];
  ComposeFatalErrorText(message, code, text, static_cast<int32_t>(sizeof text));
  // A box that cannot be shown does not stop the end; its result is ignored.
  g_hooks.show_box(text, kFatalBoxCaption, kFatalBoxStyle);
  g_hooks.clear_end_routine();
  g_hooks.end_program(-1);
  std::abort();  // an end_program that returns is a fault of its installer
}
