// kestrivo_fatal_test: the program itself (RunProgram, the real window, the
// real fatal-error path) with the button bound to a handler that fails, so
// that the end after a fatal error can be watched from outside.
//
//   kestrivo_fatal_test.exe ui|worker JOURNAL
//
// ui:     a click on 重新校时 reads element 3 of a one-field array: run-time
//         error 1 on the user-interface thread.
// worker: a click starts a worker thread that reports a fatal error of its
//         own (code 0): the box is on the worker, the shutdown is handed to
//         the user-interface thread.
//
// The main window's created event has no handler here: no synchronisation
// starts. JOURNAL receives one line per thing worth seeing, written at once
// (the process ends through ExitProcess): the user-interface thread, each
// run of the failing handler, and every window destroyed, with the thread
// that destroyed it, which is how the runner sees that the shutdown ran.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "app/design.h"
#include "app/program.h"
#include "sync/platform.h"
#include "values/error.h"
#include "values/text.h"

namespace {

HANDLE g_journal = INVALID_HANDLE_VALUE;
bool g_worker_mode = false;

void Journal(const char* line) {
  char buf[600];
  int n = snprintf(buf, sizeof buf, "%s thread=%lu\n", line, GetCurrentThreadId());
  DWORD written = 0;
  if (n > 0) WriteFile(g_journal, buf, static_cast<DWORD>(n), &written, nullptr);
}

// "工作线程出错"
const char kWorkerMessage[] = "\xB9\xA4\xD7\xF7\xCF\xDF\xB3\xCC\xB3\xF6\xB4\xED";

uint32_t FailOnWorker(uint32_t) {
  Journal("worker");
  ReportFatalError(kWorkerMessage, 0);
}

void OnFatalClick() {
  Journal(g_worker_mode ? "handler worker" : "handler ui");
  if (g_worker_mode) {
    StartThread(FailOnWorker);
    return;
  }
  // One field: element 3 is out of range, run-time error 1.
  TextArray* fields = SplitText("55420", " ");
  TextArrayElement(fields, 3);
  Journal("handler returned from the fatal error");
  ReleaseTextArray(fields);
}

const EventBinding kFatalButtonEvents[] = {{kEventClicked, OnFatalClick}};

// Sees every window of the user-interface thread being destroyed.
LRESULT CALLBACK WatchDestroy(int code, WPARAM wp, LPARAM lp) {
  if (code == HCBT_DESTROYWND) {
    HWND hwnd = reinterpret_cast<HWND>(wp);
    char cls[128] = "", caption[128] = "", line[400];
    GetClassNameA(hwnd, cls, sizeof cls);
    GetWindowTextA(hwnd, caption, sizeof caption);
    snprintf(line, sizeof line, "destroy top=%d class=%s caption=%s",
             GetParent(hwnd) == nullptr ? 1 : 0, cls, caption);
    Journal(line);
  }
  return CallNextHookEx(nullptr, code, wp, lp);
}

void BindFailingHandler() {
  WindowDesign* design = FindDesign(kMainWindowId);
  DesignEntry* window = FindEntry(design, 0);
  DesignEntry* button = FindEntry(design, kResyncButtonRef.control_id);
  if (!window || !button) {
    Journal("design not found");
    ExitProcess(3);
  }
  window->events = nullptr;
  window->event_count = 0;
  button->events = kFatalButtonEvents;
  button->event_count = 1;
  SetWindowsHookExW(WH_CBT, WatchDestroy, nullptr, GetCurrentThreadId());
  Journal("ui");
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR command_line, int) {
  char mode[16] = "";
  const char* path = strchr(command_line, ' ');
  if (path) {
    size_t n = static_cast<size_t>(path - command_line);
    if (n < sizeof mode) memcpy(mode, command_line, n);
    ++path;
  }
  if (!path || (strcmp(mode, "ui") != 0 && strcmp(mode, "worker") != 0)) return 2;
  g_worker_mode = strcmp(mode, "worker") == 0;
  g_journal = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
  if (g_journal == INVALID_HANDLE_VALUE) return 2;
  int code = RunProgram(BindFailingHandler);
  Journal("normal end");
  return code;
}
