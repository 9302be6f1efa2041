#include "fatal_capture.h"

namespace {

struct EndOfProgram {};

FatalCapture* g_capture = nullptr;

void Suspend() { g_capture->steps += 'S'; }
void ShowBox(const char* text, const char* caption, uint32_t style) {
  g_capture->steps += 'B';
  g_capture->text = text;
  g_capture->caption = caption;
  g_capture->style = style;
}
void ClearEnd() { g_capture->steps += 'C'; }
void End(int32_t exit_code) {
  g_capture->steps += 'E';
  g_capture->exit_code = exit_code;
  g_capture->ended = true;
  throw EndOfProgram{};
}

}  // namespace

FatalCapture CaptureFatal(const std::function<void()>& fn) {
  FatalCapture capture;
  g_capture = &capture;
  SetFatalErrorHooks({Suspend, ShowBox, ClearEnd, End});
  try {
    fn();
  } catch (const EndOfProgram&) {
  }
  ResetFatalErrorHooks();
  g_capture = nullptr;
  return capture;
}
