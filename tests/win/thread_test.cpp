// StartThread on real threads. CreateThread and CloseHandle are observed
// through the executable's imports, to see the values passed and that the
// handle is closed before StartThread returns.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>

#include "sync/platform.h"
#include "support/net_support.h"
#include "support/win_support.h"

using nettest::ImportPatch;

namespace {

using CreateThreadFn = HANDLE(WINAPI*)(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE,
                                       LPVOID, DWORD, LPDWORD);
using CloseHandleFn = BOOL(WINAPI*)(HANDLE);
CreateThreadFn g_create = nullptr;
CloseHandleFn g_close = nullptr;

// What the calls made on the observing thread looked like.
DWORD g_observed_thread = 0;
bool g_fail_create = false;
int g_creates = 0;
LPSECURITY_ATTRIBUTES g_security = reinterpret_cast<LPSECURITY_ATTRIBUTES>(1);
SIZE_T g_stack = 1;
DWORD g_flags = 1;
HANDLE g_created = nullptr;
int g_closes_of_created = 0;

HANDLE WINAPI ObservedCreateThread(LPSECURITY_ATTRIBUTES security, SIZE_T stack,
                                   LPTHREAD_START_ROUTINE start, LPVOID arg, DWORD flags,
                                   LPDWORD id) {
  if (GetCurrentThreadId() != g_observed_thread) return g_create(security, stack, start, arg, flags, id);
  ++g_creates;
  g_security = security;
  g_stack = stack;
  g_flags = flags;
  if (g_fail_create) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  g_created = g_create(security, stack, start, arg, flags, id);
  return g_created;
}

BOOL WINAPI ObservedCloseHandle(HANDLE h) {
  if (GetCurrentThreadId() == g_observed_thread && h != nullptr && h == g_created) {
    ++g_closes_of_created;
  }
  return g_close(h);
}

// Sends the window a question; the exit code says whether it was answered.
DWORD WINAPI AskWindow(LPVOID window) {
  DWORD_PTR r = 0;
  return SendMessageTimeoutW(static_cast<HWND>(window), WM_NULL, 0, 0, SMTO_NORMAL, 2000, &r) ? 1
                                                                                             : 0;
}

class StartThreadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_create = reinterpret_cast<CreateThreadFn>(create_.original());
    g_close = reinterpret_cast<CloseHandleFn>(close_.original());
    g_observed_thread = GetCurrentThreadId();
    g_fail_create = false;
    g_creates = 0;
    g_created = nullptr;
    g_closes_of_created = 0;
    g_ran = 0;
    g_parameter = 0xFFFFFFFF;
    g_gate = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  }
  void TearDown() override {
    SetEvent(g_gate);
    CloseHandle(g_gate);
    g_observed_thread = 0;
  }

  static std::atomic<int> g_ran;
  static std::atomic<uint32_t> g_parameter;
  static HANDLE g_gate;

  static uint32_t Record(uint32_t parameter) {
    g_parameter = parameter;
    ++g_ran;
    return parameter * 3 + 1;
  }
  static uint32_t WaitForGate(uint32_t parameter) {
    WaitForSingleObject(g_gate, 10000);
    return Record(parameter);
  }

  ImportPatch create_{"kernel32.dll", "CreateThread", reinterpret_cast<void*>(ObservedCreateThread)};
  ImportPatch close_{"kernel32.dll", "CloseHandle", reinterpret_cast<void*>(ObservedCloseHandle)};
};
std::atomic<int> StartThreadTest::g_ran{0};
std::atomic<uint32_t> StartThreadTest::g_parameter{0};
HANDLE StartThreadTest::g_gate = nullptr;

// With the routine alone: parameter 0, default security and stack, running
// at once, and the handle closed before StartThread returns.
TEST_F(StartThreadTest, TheRoutineAloneGetsZeroAndTheHandleIsClosed) {
  ASSERT_TRUE(StartThread(Record));
  EXPECT_EQ(g_creates, 1);
  EXPECT_EQ(g_security, nullptr);
  EXPECT_EQ(g_stack, 0u);
  EXPECT_EQ(g_flags, 0u);
  EXPECT_NE(g_created, nullptr);
  EXPECT_EQ(g_closes_of_created, 1);
  ASSERT_TRUE(PumpUntil([] { return g_ran.load() == 1; }));
  EXPECT_EQ(g_parameter.load(), 0u);
}

// With a handle variable the caller owns the handle: it can wait on it and
// read the routine's result as the exit code.
TEST_F(StartThreadTest, AHandleVariableReceivesAWaitableHandleWithTheExitCode) {
  for (uint32_t parameter : {0u, 7u, 0x7FFFFFFFu}) {
    SCOPED_TRACE(parameter);
    g_closes_of_created = 0;
    uintptr_t handle = 0;
    ASSERT_TRUE(StartThread(Record, parameter, &handle));
    ASSERT_NE(handle, 0u);
    EXPECT_EQ(g_closes_of_created, 0);
    HANDLE h = reinterpret_cast<HANDLE>(handle);
    ASSERT_EQ(WaitForSingleObject(h, 5000), WAIT_OBJECT_0);
    DWORD code = 0;
    ASSERT_TRUE(GetExitCodeThread(h, &code));
    EXPECT_EQ(code, static_cast<DWORD>(parameter * 3 + 1));
    EXPECT_EQ(g_parameter.load(), parameter);
    CloseHandle(h);
  }
}

// StartThread does not wait for the routine; the calling window thread goes
// on handling its messages meanwhile.
TEST_F(StartThreadTest, ItReturnsAtOnceWhileTheRoutineRunsOn) {
  TestWindow* window = TestWindow::TopLevel(L"thread test");
  ASSERT_NE(window, nullptr);
  uintptr_t handle = 0;
  ASSERT_TRUE(StartThread(WaitForGate, 5, &handle));
  EXPECT_EQ(g_ran.load(), 0);
  // A message sent from another thread is answered while the routine still
  // waits.
  HWND hwnd = window->hwnd();
  HANDLE sender = CreateThread(nullptr, 0, AskWindow, hwnd, 0, nullptr);
  EXPECT_TRUE(PumpUntil([&] { return WaitForSingleObject(sender, 0) == WAIT_OBJECT_0; }));
  DWORD sent = 0;
  GetExitCodeThread(sender, &sent);
  CloseHandle(sender);
  EXPECT_EQ(sent, 1u);
  EXPECT_EQ(g_ran.load(), 0);
  SetEvent(g_gate);
  HANDLE h = reinterpret_cast<HANDLE>(handle);
  EXPECT_EQ(WaitForSingleObject(h, 5000), WAIT_OBJECT_0);
  CloseHandle(h);
  EXPECT_EQ(g_ran.load(), 1);
  DestroyWindow(hwnd);
}

TEST_F(StartThreadTest, AFailedCreationIsFalseAndRunsNothing) {
  g_fail_create = true;
  EXPECT_FALSE(StartThread(Record));
  uintptr_t handle = 123;
  EXPECT_FALSE(StartThread(Record, 9, &handle));
  EXPECT_EQ(handle, 0u);
  EXPECT_EQ(g_creates, 2);
  Sleep(50);
  EXPECT_EQ(g_ran.load(), 0);
}

}  // namespace
