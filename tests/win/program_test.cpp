// Start-up, the message loop, the Quit rule, ShutDown and EndProgram.
//
// What ends the process or changes the process-wide state for good runs in
// a death-test child (a fresh copy of this exe), so each case starts from a
// clean process and the exit code is the one the program gives. The main
// window is the real one, built by LoadWindow from the program's design with
// the handlers swapped for the test's, so no test connects anywhere.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "app/design.h"
#include "app/program.h"
#include "app/startup.h"
#include "app/window.h"
#include "app/window_base.h"
#include "support/win_support.h"
#include "sync/handlers.h"
#include "values/error.h"

namespace {

// In a child: report a failed check on stderr and end with 1.
#define CHILD_CHECK(cond)                                         \
  do {                                                            \
    if (!(cond)) {                                                \
      std::fprintf(stderr, "check failed: %s (line %d)\n", #cond, \
                   __LINE__);                                     \
      std::fflush(stderr);                                        \
      std::_Exit(1);                                              \
    }                                                             \
  } while (0)

std::atomic<int> g_created_runs{0};
std::atomic<int> g_end_routine_runs{0};
std::atomic<DWORD> g_end_routine_thread{0};

void CountCreated() { ++g_created_runs; }
void CountEndRoutine() {
  ++g_end_routine_runs;
  g_end_routine_thread = GetCurrentThreadId();
}

const EventBinding kTestWindowEvents[] = {{kEventCreated, CountCreated}};

// The program's design with the test's handlers: the created event counts,
// nothing else is bound.
void ReadTestDesigns() {
  CHILD_CHECK(ReadWindowDesigns());
  WindowDesign* design = FindDesign(kMainWindowId);
  CHILD_CHECK(design != nullptr);
  for (int32_t i = 0; i < design->entry_count; ++i) {
    design->entries[i].events = nullptr;
    design->entries[i].event_count = 0;
  }
  design->entries[0].events = kTestWindowEvents;
  design->entries[0].event_count = 1;
}

HWND MainHwnd() {
  Window* w = FindLiveControl(kMainWindowRef);
  return w ? w->hwnd() : nullptr;
}

// Start-up as the program does it, then the main window.
void StartWithMainWindow() {
  StartUpServices();
  ReadTestDesigns();
  CHILD_CHECK(LoadWindow(kMainWindowId));
  CHILD_CHECK(MainHwnd() != nullptr);
}

// --- the program's design -----------------------------------------------------

TEST(ProgramDesign, HoldsTheMainWindowAndItsControlsInDesignOrder) {
  ASSERT_TRUE(ReadWindowDesigns());
  WindowDesign* design = FindDesign(kMainWindowId);
  ASSERT_NE(design, nullptr);
  ASSERT_EQ(design->entry_count, 6);
  struct Row {
    uint32_t id;
    ControlKind kind;
    const char* name;
    int32_t left, top, width, height;
    bool visible, tab_stop;
    const char* text;
  } const rows[] = {
      {0x06010000, ControlKind::kMainWindow, "", 50, 50, 271, 86, true, false, "Kestrivo V1.0"},
      {0x16010035, ControlKind::kButton, "\xB0\xB4\xC5\xA5" "1", 192, 8, 64, 20, true, true,
       "\xD6\xD8\xD0\xC2\xD0\xA3\xCA\xB1"},  // 按钮1 "重新校时"
      {0x1601000B, ControlKind::kStatusBar, "\xD7\xB4\xCC\xAC\xCC\xF5" "1", 0, 120, 201, 20, true,
       false, nullptr},  // 状态条1
      {0x16010007, ControlKind::kClient, "\xBF\xCD\xBB\xA7" "1", 24, 16, 26, 26, false, false,
       nullptr},  // 客户1
      {0x16010006, ControlKind::kEditBox, "\xB1\xE0\xBC\xAD\xBF\xF2" "2", 64, 8, 120, 20, true,
       true, ""},  // 编辑框2
      {0x16010004, ControlKind::kLabel, "\xB1\xEA\xC7\xA9" "2", 8, 8, 56, 24, true, false,
       "\xCD\xF8\xC2\xE7\xCA\xB1\xBC\xE4:"},  // 标签2 "网络时间:"
  };
  for (int i = 0; i < 6; ++i) {
    const DesignEntry& e = design->entries[i];
    const Row& r = rows[i];
    SCOPED_TRACE(i);
    EXPECT_EQ(e.control_id, r.id);
    EXPECT_EQ(e.kind, r.kind);
    EXPECT_STREQ(e.name, r.name);
    EXPECT_EQ(e.left, r.left);
    EXPECT_EQ(e.top, r.top);
    EXPECT_EQ(e.width, r.width);
    EXPECT_EQ(e.height, r.height);
    EXPECT_EQ(e.parent, -1);
    EXPECT_EQ(e.visible, r.visible);
    EXPECT_FALSE(e.disabled);
    EXPECT_EQ(e.tab_stop, r.tab_stop);
    EXPECT_EQ(e.tab_order, 0);
    if (r.text) {
      EXPECT_STREQ(e.text, r.text);
    } else {
      EXPECT_TRUE(e.text == nullptr || *e.text == '\0');
    }
    EXPECT_EQ(e.live, nullptr);
  }
  auto bound = [&](int entry, int32_t event) -> EventHandler {
    const DesignEntry& e = design->entries[entry];
    for (int32_t i = 0; i < e.event_count; ++i) {
      if (e.events[i].event == event) return e.events[i].handler;
    }
    return nullptr;
  };
  EXPECT_EQ(bound(0, kEventCreated), &OnMainWindowCreated);
  EXPECT_EQ(bound(1, kEventClicked), &OnResyncClicked);
  EXPECT_EQ(bound(3, kEventDataArrival), &OnClientDataArrived);
  EXPECT_EQ(bound(3, kEventClosed), &OnClientConnectionClosed);
  int total = 0;
  for (int i = 0; i < 6; ++i) total += design->entries[i].event_count;
  EXPECT_EQ(total, 4);

  ASSERT_EQ(StatusPartCount(kStatusBarRef), 1);
  const StatusPart& part = StatusParts(kStatusBarRef)[0];
  EXPECT_EQ(part.width, -1);
  EXPECT_EQ(part.style, 0);
  EXPECT_EQ(part.icon, -1);
  EXPECT_STREQ(part.text, "");
  EXPECT_STREQ(part.tooltip, "");
  ForgetWindowDesigns();
  EXPECT_EQ(FindDesign(kMainWindowId), nullptr);
}

// --- start-up -------------------------------------------------------------------

TEST(ProgramDeathTest, StartUpMakesTheExecutableFolderCurrentAndTheEndRequestWindow) {
  EXPECT_EXIT(
      {
        CHILD_CHECK(SetCurrentDirectoryA("C:\\"));
        StartUpServices();
        char exe[MAX_PATH] = "";
        GetModuleFileNameA(nullptr, exe, MAX_PATH);
        std::string path = exe;
        std::string folder = path.substr(0, path.rfind('\\'));
        char cwd[MAX_PATH] = "";
        GetCurrentDirectoryA(MAX_PATH, cwd);
        CHILD_CHECK(_stricmp(cwd, folder.c_str()) == 0);
        CHILD_CHECK(folder == ExecutableFolder());
        CHILD_CHECK(std::string(ExecutableName()) == "win_program_test.exe");
        HWND end = EndRequestWindow();
        CHILD_CHECK(end != nullptr && IsWindow(end));
        CHILD_CHECK(!IsWindowVisible(end));
        CHILD_CHECK(GetWindowLongW(end, GWL_EXSTYLE) & WS_EX_TOOLWINDOW);
        CHILD_CHECK(GetParent(end) == nullptr);
        CHILD_CHECK(GetWindowThreadProcessId(end, nullptr) == GetCurrentThreadId());
        CHILD_CHECK(UiThreadId() == GetCurrentThreadId() && IsUiThread());
        bool worker_is_ui = true;
        std::thread([&] { worker_is_ui = IsUiThread(); }).join();
        CHILD_CHECK(!worker_is_ui);
        // Floating point after the reset of the program: no trap on 1/0.
        volatile double zero = 0.0;
        CHILD_CHECK(1.0 / zero > 1e308);
        std::_Exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}

// --- the message loop and the Quit rule ------------------------------------------

TEST(ProgramDeathTest, ClosingTheMainWindowEndsTheLoopWithZero) {
  EXPECT_EXIT(
      {
        StartWithMainWindow();
        CHILD_CHECK(g_created_runs == 1);
        CHILD_CHECK(!MessageLoopEntered());
        PostMessageW(MainHwnd(), WM_CLOSE, 0, 0);
        int code = RunMessageLoop();
        CHILD_CHECK(MessageLoopEntered());
        CHILD_CHECK(code == 0);
        CHILD_CHECK(!ProgramHasWindows());
        CHILD_CHECK(FindLiveControl(kStatusBarRef) == nullptr);
        std::_Exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST(ProgramDeathTest, NoQuitBeforeTheLoopIsEntered) {
  EXPECT_EXIT(
      {
        StartWithMainWindow();
        DestroyWindow(MainHwnd());
        MSG msg;
        bool quit = false;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) quit = quit || msg.message == WM_QUIT;
        CHILD_CHECK(!quit);
        // With no window left the loop returns at once.
        CHILD_CHECK(RunMessageLoop() == 0);
        std::_Exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST(ProgramDeathTest, LoopReturnsTheCodeOfTheQuitMessage) {
  EXPECT_EXIT(
      {
        StartWithMainWindow();
        PostQuitMessage(7);
        CHILD_CHECK(RunMessageLoop() == 7);
        CHILD_CHECK(ProgramHasWindows());  // a quit alone destroys nothing
        std::_Exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}

// --- ShutDown and EndProgram -------------------------------------------------------

TEST(ProgramDeathTest, ShutDownOnTheUiThreadReleasesWhatStartUpMade) {
  EXPECT_EXIT(
      {
        StartWithMainWindow();
        RegisterEndRoutine(CountEndRoutine);
        ShutDown(0);
        CHILD_CHECK(ProgramExiting());
        CHILD_CHECK(!ProgramHasWindows());
        CHILD_CHECK(FindDesign(kMainWindowId) == nullptr);
        CHILD_CHECK(EndRequestWindow() == nullptr);
        CHILD_CHECK(g_end_routine_runs == 1);
        CHILD_CHECK(EventSuspensionCount() > 0);
        // Again: the end routine was forgotten after its one call.
        ShutDown(0);
        CHILD_CHECK(g_end_routine_runs == 1);
        // A worker asking for the end now finds the shutdown under way and
        // returns instead of ending the process.
        bool ran = true;
        std::thread([&] {
          ran = RunOnUiThread([](void*) {}, nullptr);
          ShutDown(3);
        }).join();
        CHILD_CHECK(!ran);
        std::_Exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST(ProgramDeathTest, EndProgramFromAWorkerCleansUpOnTheUiThread) {
  EXPECT_EXIT(
      {
        StartWithMainWindow();
        RegisterEndRoutine([] {
          std::fprintf(stderr, "end routine on the ui thread: %d, windows left: %d\n",
                       GetCurrentThreadId() == UiThreadId(), ProgramHasWindows());
          std::fflush(stderr);
        });
        std::thread([] { EndProgram(5); }).detach();
        RunMessageLoop();
        std::_Exit(99);  // the loop must not return
      },
      ::testing::ExitedWithCode(5), "end routine on the ui thread: 1, windows left: 0");
}

TEST(ProgramDeathTest, FatalErrorOnAWorkerEndsWithMinusOneWithoutTheEndRoutine) {
  EXPECT_EXIT(
      {
        StartWithMainWindow();
        // The program's hooks, but the box goes to stderr instead of the screen.
        SetFatalErrorHooks({SuspendEvents,
                            [](const char* text, const char*, uint32_t style) {
                              // One line: the text itself spans several.
                              std::fprintf(stderr, "box style %u, message %s\n",
                                           static_cast<unsigned>(style),
                                           std::strstr(text, "boom") ? "boom" : "missing");
                              std::fflush(stderr);
                            },
                            [] { RegisterEndRoutine(nullptr); }, EndProgram});
        RegisterEndRoutine([] { std::_Exit(42); });  // must not run after a fatal error
        std::thread([] { ReportFatalError("boom", 0); }).detach();
        RunMessageLoop();
        std::_Exit(99);
      },
      ::testing::ExitedWithCode(-1), "box style 16, message boom");
}

TEST(ProgramDeathTest, EndProgramOnTheUiThreadEndsWithItsCode) {
  EXPECT_EXIT(
      {
        StartWithMainWindow();
        RegisterEndRoutine(
            [] { std::fprintf(stderr, "windows at the end routine: %d\n", ProgramHasWindows()); });
        EndProgram(-1);
      },
      ::testing::ExitedWithCode(-1), "windows at the end routine: 0");
}

// --- RunOnUiThread ---------------------------------------------------------------------

TEST(ProgramDeathTest, RunOnUiThreadRunsThereWhileTheWindowLives) {
  EXPECT_EXIT(
      {
        StartWithMainWindow();
        static DWORD ran_on = 0;
        auto record = [](void*) { ran_on = GetCurrentThreadId(); };
        // Here: at once.
        CHILD_CHECK(RunOnUiThread(record, nullptr));
        CHILD_CHECK(ran_on == GetCurrentThreadId());
        ran_on = 0;
        // From a worker: on this thread, and the worker waits for it.
        std::atomic<int> result{-1};
        std::thread worker([&] {
          bool r = RunOnUiThread(record, nullptr);
          result = r && ran_on == UiThreadId() ? 1 : 0;
        });
        CHILD_CHECK(PumpUntil([&] { return result.load() >= 0; }));
        worker.join();
        CHILD_CHECK(result == 1);
        // Once the window is gone: not run, false, on either thread.
        DestroyWindow(MainHwnd());
        ran_on = 0;
        CHILD_CHECK(!RunOnUiThread(record, nullptr));
        result = -1;
        std::thread late([&] { result = RunOnUiThread(record, nullptr) ? 1 : 0; });
        CHILD_CHECK(PumpUntil([&] { return result.load() >= 0; }));
        late.join();
        CHILD_CHECK(result == 0 && ran_on == 0);
        std::_Exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
