#include <windows.h>

#include "sync/platform.h"
#include "values/memory.h"

namespace {

// What the new thread is to run. The program's routines use the default
// calling convention, not the WINAPI one CreateThread calls, so the thread
// enters through ThreadEntry, which calls the routine and ends with its
// result; nothing else is done on the thread.
struct ThreadStart {
  ThreadRoutine routine;
  uint32_t parameter;
};

DWORD WINAPI ThreadEntry(LPVOID arg) {
  ThreadStart start = *static_cast<ThreadStart*>(arg);
  ReleaseBlock(arg);
  return start.routine(start.parameter);
}

}  // namespace

bool StartThread(ThreadRoutine routine, uint32_t parameter, uintptr_t* thread_handle) {
  auto* start = static_cast<ThreadStart*>(AllocateBlock(sizeof(ThreadStart)));
  start->routine = routine;
  start->parameter = parameter;
  // Default security, the executable's default stack, running at once; the
  // thread id is not wanted.
  DWORD id = 0;
  HANDLE thread = CreateThread(nullptr, 0, ThreadEntry, start, 0, &id);
  if (thread == nullptr) ReleaseBlock(start);  // the routine never runs
  if (thread_handle != nullptr) {
    *thread_handle = reinterpret_cast<uintptr_t>(thread);
  } else if (thread != nullptr) {
    CloseHandle(thread);  // the thread runs on, untracked
  }
  return thread != nullptr;
}
