// Start-up, the message loop, the end of the program, and the end-request
// window that carries an end (or a RunOnUiThread call) from another thread
// to the user-interface thread.
//
// The application state below is written on the user-interface thread only.
// Worker threads read g_ui_thread, g_end_window and g_exiting (which is
// atomic for them); g_end_routine is also cleared by a fatal error on any
// thread, so it is atomic too. The event suspension count lives with the
// event raising (app/design.cpp).
#include "app/program.h"

#include <float.h>
#include <ole2.h>

#include <atomic>

#include "app/design.h"
#include "app/gbk.h"
#include "app/startup.h"
#include "app/window.h"
#include "app/window_base.h"
#include "values/constants.h"
#include "values/datetime.h"
#include "values/error.h"

namespace {

// "载入窗口模板数据段出错!"
const char kDesignsUnreadable[] =
    "\xD4\xD8\xC8\xEB\xB4\xB0\xBF\xDA\xC4\xA3\xB0\xE5\xCA\xFD\xBE\xDD\xB6\xCE\xB3\xF6\xB4\xED!";
// "载入启动窗口失败"
const char kStartWindowFailed[] = "\xD4\xD8\xC8\xEB\xC6\xF4\xB6\xAF\xB4\xB0\xBF\xDA\xCA\xA7\xB0\xDC";

const wchar_t kEndRequestClass[] = L"KestrivoEndRequest";
// A RunOnUiThread call: wParam = the routine, lParam = its argument.
constexpr UINT kRunOnUiMessage = WM_APP + 998;
// The system timer message, after which idle processing is not worthwhile.
constexpr UINT kSysTimerMessage = 0x0118;
constexpr DWORD kPathCapacity = 260;

DWORD g_ui_thread = 0;
HWND g_end_window = nullptr;
char g_exe_folder[kPathCapacity] = "";
char g_exe_name[kPathCapacity] = "";
bool g_ole_initialised = false;
bool g_loop_entered = false;
std::atomic<bool> g_exiting{false};
std::atomic<EndRoutine> g_end_routine{nullptr};

using UiRoutine = void (*)(void*);

// A RunOnUiThread call made on this thread.
bool RunHere(UiRoutine fn, void* arg) {
  if (g_exiting.load() || !ProgramHasWindows()) return false;
  fn(arg);
  return true;
}

LRESULT CALLBACK EndRequestProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case kEndRequestMessage:
      EndProgram(static_cast<int32_t>(wp));
    case kRunOnUiMessage:
      return RunHere(reinterpret_cast<UiRoutine>(wp), reinterpret_cast<void*>(lp)) ? 1 : 0;
    default:
      return DefWindowProcW(hwnd, msg, wp, lp);
  }
}

HWND CreateEndRequestWindow() {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = EndRequestProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  wc.lpszClassName = kEndRequestClass;
  RegisterClassExW(&wc);  // fails harmlessly when registered already
  return CreateWindowExW(WS_EX_TOOLWINDOW, kEndRequestClass, L"", 0, 0, 0, 0, 0, nullptr,
                         nullptr, instance, nullptr);
}

void SplitExecutablePath() {
  char path[kPathCapacity] = "";
  DWORD n = GetModuleFileNameA(nullptr, path, kPathCapacity);
  if (n >= kPathCapacity) n = kPathCapacity - 1;
  path[n] = '\0';
  // The last backslash. The path is in the ANSI code page, where the trail
  // byte of a two-byte character may be 0x5C: lead bytes take their trail
  // with them.
  int32_t cut = -1;
  for (int32_t i = 0; path[i]; ++i) {
    if (IsDBCSLeadByteEx(CP_ACP, static_cast<BYTE>(path[i])) && path[i + 1]) {
      ++i;
      continue;
    }
    if (path[i] == '\\') cut = i;
  }
  int32_t j = 0;
  for (int32_t i = 0; i < cut; ++i) g_exe_folder[j++] = path[i];
  g_exe_folder[j] = '\0';
  j = 0;
  for (int32_t i = cut + 1; path[i]; ++i) g_exe_name[j++] = path[i];
  g_exe_name[j] = '\0';
}

// Rounding to nearest and every floating-point exception masked, so a
// division by zero gives an infinity instead of a trap.
void ResetFloatingPoint() {
  _fpreset();
  _controlfp(_RC_NEAR | _MCW_EM, _MCW_RC | _MCW_EM);
}

void ShowFatalBox(const char* text, const char* caption, uint32_t style) {
  // No owner: the main window stays enabled while the box is open. A box
  // that cannot be shown does not stop the end.
  MessageBoxW(nullptr, WideText(text).get(), WideText(caption).get(), style);
}

void ClearEndRoutine() { g_end_routine.store(nullptr); }

void EndProgramHook(int32_t exit_code) { EndProgram(exit_code); }

// Idle processing with the counter of the idle phase; true when it wants
// another call. The housekeeping of temporary objects has nothing to do in
// this program but keeps the first two calls; from the counter 2 on each
// window gets its idle event, whose handler (none is bound here) could ask
// for more.
bool IdleProcessing(int32_t counter, DWORD idle_start) {
  if (counter < 2) return true;
  int32_t elapsed = static_cast<int32_t>(GetTickCount() - idle_start);
  bool more = false;
  if (WindowDesign* design = FindDesign(kMainWindowId)) {
    DesignEntry* top = FindEntry(design, 0);
    if (top && top->live && IsWindow(top->live->hwnd())) {
      EventRecord record{design->window_id, top->control_id, kEventIdle, 1, &elapsed, 0, 0};
      more = RaiseEvent(record) && record.has_result && record.result != 0;
    }
  }
  return more;
}

bool IsKeyDown(UINT msg) { return msg == WM_KEYDOWN || msg == WM_SYSKEYDOWN; }

// Whether the next idle phase should start afresh after `msg`: not after a
// paint, the system timer, or a mouse move that repeats the one before it.
bool IdleWorthwhile(const MSG& msg, MSG& last_move) {
  if (msg.message == WM_PAINT || msg.message == kSysTimerMessage) return false;
  if (msg.message == WM_MOUSEMOVE || msg.message == WM_NCMOUSEMOVE) {
    bool same = last_move.message == msg.message && last_move.pt.x == msg.pt.x &&
                last_move.pt.y == msg.pt.y;
    last_move = msg;
    return !same;
  }
  return true;
}

}  // namespace

void StartUpServices() {
  GetProcessHeap();  // the value services allocate from the process heap
  OleInitialize(nullptr);  // a failure is ignored
  g_ole_initialised = true;
  SplitExecutablePath();
  SetCurrentDirectoryA(g_exe_folder);  // a failure is ignored
  g_end_window = CreateEndRequestWindow();
  g_ui_thread = GetCurrentThreadId();
  RegisterProgramConstants();
  SetFatalErrorHooks({SuspendEvents, ShowFatalBox, ClearEndRoutine, EndProgramHook});
  SetLocalClockSetter(nullptr);  // the clock is set through SetLocalTime
}

HWND EndRequestWindow() { return g_end_window; }
const char* ExecutableFolder() { return g_exe_folder; }
const char* ExecutableName() { return g_exe_name; }

int RunProgram(void (*after_designs)()) {
  StartUpServices();
  if (!ReadWindowDesigns()) ReportFatalError(kDesignsUnreadable, 0);
  if (after_designs) after_designs();
  ResetFloatingPoint();
  // The program's global initialisation, end routine and start-up routine
  // are empty: all its work starts from the main window's events.
  RegisterEndRoutine(nullptr);
  if (!LoadWindow(kMainWindowId)) ReportFatalError(kStartWindowFailed, 0);
  int code = RunMessageLoop();
  ShutDown(0);
  return code;
}

void RegisterEndRoutine(EndRoutine routine) { g_end_routine.store(routine); }

int RunMessageLoop() {
  g_loop_entered = true;
  if (!ProgramHasWindows()) return 0;
  MSG last_move{};
  int32_t idle_counter = 0;
  bool idle = true;
  for (;;) {
    MSG msg;
    if (idle) {
      DWORD idle_start = GetTickCount();
      while (!PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
        if (!IdleProcessing(idle_counter++, idle_start)) {
          idle = false;
          break;
        }
      }
    }
    do {
      BOOL got = GetMessageW(&msg, nullptr, 0, 0);
      if (got == 0) return static_cast<int>(msg.wParam);
      if (got == -1) return 0;
      if (!(IsKeyDown(msg.message) && PreTranslateProgramMessage(msg))) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
      }
      if (IdleWorthwhile(msg, last_move)) {
        idle = true;
        idle_counter = 0;
      }
    } while (PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE));
  }
}

void ShutDown(int32_t exit_code) {
  SuspendEvents();  // for good: no handler runs from here on
  if (g_ui_thread != 0 && GetCurrentThreadId() != g_ui_thread) {
    // The clean-up belongs to the user-interface thread. It ends the process
    // while this thread still waits in the send.
    HWND end_window = g_end_window;
    if (end_window && IsWindow(end_window)) {
      SendMessageW(end_window, kEndRequestMessage, static_cast<WPARAM>(exit_code), 0);
    }
    if (!g_exiting.load()) ExitProcess(static_cast<UINT>(exit_code));
    return;
  }
  g_exiting.store(true);
  DestroyProgramWindows();
  ForgetWindowDesigns();
  if (EndRoutine routine = g_end_routine.exchange(nullptr)) routine();
  if (g_end_window && IsWindow(g_end_window)) DestroyWindow(g_end_window);
  g_end_window = nullptr;
  if (g_ole_initialised) {
    OleUninitialize();
    g_ole_initialised = false;
  }
}

void EndProgram(int32_t exit_code) {
  ShutDown(exit_code);
  ExitProcess(static_cast<UINT>(exit_code));
}

bool IsUiThread() { return g_ui_thread != 0 && GetCurrentThreadId() == g_ui_thread; }
DWORD UiThreadId() { return g_ui_thread; }
bool MessageLoopEntered() { return g_loop_entered; }
bool ProgramExiting() { return g_exiting.load(); }

void OnProgramWindowDestroyed() {
  if (g_loop_entered && !ProgramHasWindows()) PostQuitMessage(0);
}

bool ProgramHasWindows() {
  // This program has one window design, the main window's.
  DesignLock lock;
  DesignEntry* top = FindEntry(FindDesign(kMainWindowId), 0);
  return top && top->live && top->live->hwnd() && IsWindow(top->live->hwnd());
}

bool RunOnUiThread(void (*fn)(void* arg), void* arg) {
  if (!fn) return false;
  if (g_ui_thread == 0 || GetCurrentThreadId() == g_ui_thread) return RunHere(fn, arg);
  HWND end_window = g_end_window;
  if (g_exiting.load() || !end_window) return false;
  // Sent: the caller waits until the routine has run there. A window that
  // went away meanwhile makes the send fail, and the routine does not run.
  return SendMessageW(end_window, kRunOnUiMessage, reinterpret_cast<WPARAM>(fn),
                      reinterpret_cast<LPARAM>(arg)) == 1;
}
