#include "win_support.h"

#include <commctrl.h>

#include "values/error.h"

namespace {

const wchar_t kTestClass[] = L"KestrivoTestWindow";

int g_suspend_calls = 0;
int g_box_calls = 0;
std::string g_box_text;
std::string g_box_caption;
uint32_t g_box_style = 0;

void RecordSuspend() { ++g_suspend_calls; }
void RecordBox(const char* text, const char* caption, uint32_t style) {
  ++g_box_calls;
  g_box_text = text ? text : "";
  g_box_caption = caption ? caption : "";
  g_box_style = style;
}
void KeepEndRoutine() {}
void ThrowInsteadOfEnding(int32_t exit_code) {
  throw FatalErrorThrown{g_box_text, g_box_caption, g_box_style, exit_code};
}

}  // namespace

TestWindow* TestWindow::TopLevel(const wchar_t* title) {
  Window::RegisterOwnClass(kTestClass, CS_DBLCLKS, LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW)), nullptr);
  auto* w = new TestWindow;
  if (!w->CreateOwn(kTestClass, 0, WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, title, 10, 10, 300, 120,
                    nullptr, nullptr)) {
    ADD_FAILURE() << "cannot create a top-level window";
    return nullptr;
  }
  return w;
}

TestWindow* TestWindow::Child(const wchar_t* system_class, DWORD style, HWND parent, int child_id,
                              const wchar_t* text) {
  static bool common_controls = [] {
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
    return InitCommonControlsEx(&icc) != FALSE;
  }();
  (void)common_controls;
  auto* w = new TestWindow;
  if (!w->CreateSystem(system_class, 0, WS_CHILD | WS_VISIBLE | style, text, 0, 0, 80, 20, parent,
                       reinterpret_cast<HMENU>(static_cast<INT_PTR>(child_id)))) {
    ADD_FAILURE() << "cannot create a child window";
    return nullptr;
  }
  return w;
}

int TestWindow::commands(WORD code) const {
  int n = 0;
  for (int i = 0; i < command_count_ && i < 32; ++i) n += command_codes_[i] == code;
  return n;
}

LRESULT TestWindow::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_COMMAND && command_count_ < 32) command_codes_[command_count_++] = HIWORD(wp);
  return CallDefault(msg, wp, lp);
}

bool PumpUntil(const std::function<bool()>& done, DWORD timeout_ms) {
  DWORD start = GetTickCount();
  for (;;) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    if (done()) return true;
    if (GetTickCount() - start >= timeout_ms) return false;
    // Wakes for posted and for sent messages alike.
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
}

void PumpFor(DWORD ms) {
  PumpUntil([] { return false; }, ms);
}

std::string ToGbk(const wchar_t* wide) {
  if (!wide || !*wide) return {};
  int n = WideCharToMultiByte(936, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(936, 0, wide, -1, &out[0], n, nullptr, nullptr);
  out.resize(static_cast<size_t>(n - 1));
  return out;
}

std::wstring FromGbk(const char* gbk) {
  if (!gbk || !*gbk) return {};
  int n = MultiByteToWideChar(936, 0, gbk, -1, nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(936, 0, gbk, -1, &out[0], n);
  out.resize(static_cast<size_t>(n - 1));
  return out;
}

std::string WindowTextGbk(HWND hwnd) {
  wchar_t buf[1024] = {};
  GetWindowTextW(hwnd, buf, 1024);
  return ToGbk(buf);
}

std::string StatusTextGbk(HWND bar, int part) {
  LRESULT len = SendMessageW(bar, SB_GETTEXTLENGTHW, static_cast<WPARAM>(part), 0);
  std::wstring buf(static_cast<size_t>(LOWORD(len)) + 1, L'\0');
  SendMessageW(bar, SB_GETTEXTW, static_cast<WPARAM>(part), reinterpret_cast<LPARAM>(&buf[0]));
  return ToGbk(buf.c_str());
}

void FatalHookTest::SetUp() {
  g_suspend_calls = 0;
  g_box_calls = 0;
  g_box_text.clear();
  g_box_caption.clear();
  SetFatalErrorHooks({RecordSuspend, RecordBox, KeepEndRoutine, ThrowInsteadOfEnding});
}

void FatalHookTest::TearDown() { ResetFatalErrorHooks(); }

int FatalHookTest::suspend_calls() { return g_suspend_calls; }
int FatalHookTest::box_calls() { return g_box_calls; }
