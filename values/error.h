// Fatal run-time errors: the message box that tells the user, and the end of
// the program with exit code -1. Any thread may raise one.
//
// What the box, the event suspension and the end of the program are is owned
// by the window layer, which installs its hooks at start-up; until then (and
// in the native build) the defaults print the text to stderr and end the
// process. Tests install hooks that record the box and unwind.
#pragma once

#include <cstdint>

// The style of the box: MB_OK | MB_ICONERROR.
constexpr uint32_t kFatalBoxStyle = 0x10;
extern const char kFatalBoxCaption[];  // "错误"

struct FatalErrorHooks {
  void (*suspend_events)();  // raise the event suspension count for good
  void (*show_box)(const char* text, const char* caption, uint32_t style);
  void (*clear_end_routine)();
  void (*end_program)(int32_t exit_code);  // must not return
};
// Copies the hooks; a null member keeps its default.
void SetFatalErrorHooks(const FatalErrorHooks& hooks);
void ResetFatalErrorHooks();

// The message of run-time error `code` (1 to 11), or null outside the table.
const char* RuntimeErrorText(int32_t code);

// Composes the text of the box into `out` (heading, code line when code != 0,
// message line when the message is not empty), NUL-terminated and cut to fit
// `capacity`. It allocates nothing: the allocation failure reports through it.
// Returns the length written.
int32_t ComposeFatalErrorText(const char* message, int32_t code, char* out, int32_t capacity);

[[noreturn]] void RaiseRuntimeError(int32_t code);
[[noreturn]] void ReportFatalError(const char* message, int32_t code);
