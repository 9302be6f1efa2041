// The window designs, the control lookup, the event raising and the control
// operations, on real EDIT, BUTTON and status bar windows bound to a design
// installed by the test.
#include <windows.h>

#include <commctrl.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>

#include "app/controls.h"
#include "app/design.h"
#include "app/gbk.h"
#include "support/win_support.h"

namespace {

// "指定窗口或窗口组件不存在或尚未载入"
const char kNoSuchControl[] =
    "\xD6\xB8\xB6\xA8\xB4\xB0\xBF\xDA\xBB\xF2\xB4\xB0\xBF\xDA\xD7\xE9\xBC\xFE\xB2\xBB\xB4\xE6\xD4"
    "\xDA\xBB\xF2\xC9\xD0\xCE\xB4\xD4\xD8\xC8\xEB";
// "未找到引发事件的窗口"
const char kNoEventWindow[] =
    "\xCE\xB4\xD5\xD2\xB5\xBD\xD2\xFD\xB7\xA2\xCA\xC2\xBC\xFE\xB5\xC4\xB4\xB0\xBF\xDA";
// "未找到引发事件的窗口组件"
const char kNoEventControl[] =
    "\xCE\xB4\xD5\xD2\xB5\xBD\xD2\xFD\xB7\xA2\xCA\xC2\xBC\xFE\xB5\xC4\xB4\xB0\xBF\xDA\xD7\xE9\xBC"
    "\xFE";
// "引发事件的窗口组件无效"
const char kInvalidEventControl[] =
    "\xD2\xFD\xB7\xA2\xCA\xC2\xBC\xFE\xB5\xC4\xB4\xB0\xBF\xDA\xD7\xE9\xBC\xFE\xCE\xDE\xD0\xA7";
// "未载入欲访问窗口组件所在的窗口"
const char kWindowNotLoaded[] =
    "\xCE\xB4\xD4\xD8\xC8\xEB\xD3\xFB\xB7\xC3\xCE\xCA\xB4\xB0\xBF\xDA\xD7\xE9\xBC\xFE\xCB\xF9\xD4"
    "\xDA\xB5\xC4\xB4\xB0\xBF\xDA";
// "指定窗口尚未载入"
const char kControlNotLoaded[] = "\xD6\xB8\xB6\xA8\xB4\xB0\xBF\xDA\xC9\xD0\xCE\xB4\xD4\xD8\xC8\xEB";
// "校时完毕"
const char kDone[] = "\xD0\xA3\xCA\xB1\xCD\xEA\xB1\xCF";

constexpr uint32_t kOtherWindowId = 0x52010099;
constexpr ControlRef kMissingWindowRef{kOtherWindowId, 0x06010000};
constexpr ControlRef kMissingControlRef{kMainWindowId, 0x16010099};

// What the handlers saw.
int g_created_runs = 0;
int g_click_runs = 0;
int g_changed_runs = 0;
ControlRef g_source_in_handler{0, 0};
ControlRef g_source_after_nested{0, 0};

void CountCreated() {
  ++g_created_runs;
  g_source_in_handler = CurrentEventSource();
}
void CountClick() {
  ++g_click_runs;
  g_source_in_handler = CurrentEventSource();
}
void CountContentChanged() { ++g_changed_runs; }
// Raises the button's click from inside the window's handler, as a focus
// change inside OnMainWindowCreated does.
void RaiseNested() {
  RaiseEvent(kResyncButtonRef, kEventClicked);
  g_source_after_nested = CurrentEventSource();
}

const EventBinding kWindowEvents[] = {{kEventCreated, CountCreated}, {kEventMoved, RaiseNested}};
const EventBinding kButtonEvents[] = {{kEventClicked, CountClick}};
const EventBinding kClientEvents[] = {{kEventDataArrival, CountClick}};  // no pair for closed (1)
const EventBinding kEditEvents[] = {{0, CountContentChanged}};
// Bound, but the kind raises no events.
const EventBinding kBarEvents[] = {{0, CountClick}};

// The program's ids and kinds, with the test's handlers.
DesignEntry g_entries[6];
WindowDesign g_design;

void InstallTestDesign() {
  const DesignEntry entries[6] = {
      {kMainWindowRef.control_id, ControlKind::kMainWindow, "", 50, 50, 271, 86, -1, true, false,
       false, 0, kWindowEvents, 2, "Kestrivo V1.0", nullptr},
      {kResyncButtonRef.control_id, ControlKind::kButton, "b", 192, 8, 64, 20, -1, true, false,
       true, 0, kButtonEvents, 1, "", nullptr},
      {kStatusBarRef.control_id, ControlKind::kStatusBar, "s", 0, 120, 201, 20, -1, true, false,
       false, 0, kBarEvents, 1, nullptr, nullptr},
      {kClientRef.control_id, ControlKind::kClient, "c", 24, 16, 26, 26, -1, false, false, false, 0,
       kClientEvents, 1, nullptr, nullptr},
      {kEditBoxRef.control_id, ControlKind::kEditBox, "e", 64, 8, 120, 20, -1, true, false, true, 0,
       kEditEvents, 1, "", nullptr},
      {kLabelRef.control_id, ControlKind::kLabel, "l", 8, 8, 56, 24, -1, true, false, false, 0,
       nullptr, 0, "", nullptr},
  };
  for (int i = 0; i < 6; ++i) g_entries[i] = entries[i];
  g_design = WindowDesign{kMainWindowId, g_entries, 6};
  InstallWindowDesigns(&g_design, 1);
}

// Builds the window and its controls as real windows and makes them the
// entries' live objects; the client connection entry stays without one.
class DesignTest : public FatalHookTest {
 protected:
  void SetUp() override {
    FatalHookTest::SetUp();
    g_created_runs = g_click_runs = g_changed_runs = 0;
    g_source_in_handler = g_source_after_nested = ControlRef{0, 0};
    InstallTestDesign();
    main_ = TestWindow::TopLevel(L"design test");
    ASSERT_NE(main_, nullptr);
    HWND parent = main_->hwnd();
    button_ = TestWindow::Child(L"BUTTON", BS_PUSHBUTTON | WS_TABSTOP, parent, 140, L"b");
    bar_ = TestWindow::Child(STATUSCLASSNAMEW, CCS_BOTTOM | SBT_TOOLTIPS, parent, 130);
    edit_ = TestWindow::Child(L"EDIT", ES_LEFT | ES_AUTOHSCROLL | ES_READONLY | WS_TABSTOP, parent,
                              110);
    ASSERT_TRUE(button_ && bar_ && edit_);
    int edges[1] = {-1};
    SendMessageW(bar_->hwnd(), SB_SIMPLE, FALSE, 0);
    SendMessageW(bar_->hwnd(), SB_SETPARTS, 1, reinterpret_cast<LPARAM>(edges));
    Bind(kMainWindowRef, main_);
    Bind(kResyncButtonRef, button_);
    Bind(kStatusBarRef, bar_);
    Bind(kEditBoxRef, edit_);
    main_hwnd_ = main_->hwnd();
    bar_hwnd_ = bar_->hwnd();
    edit_hwnd_ = edit_->hwnd();
  }

  void TearDown() override {
    if (IsWindow(main_hwnd_)) DestroyWindow(main_hwnd_);
    PumpFor(0);
    ForgetWindowDesigns();
    while (EventSuspensionCount() > 0) ResumeEvents();
    FatalHookTest::TearDown();
  }

  static void Bind(ControlRef ref, TestWindow* w) {
    w->SetDesignRef(ref);
    SetLiveControl(ref, w);
  }

  std::string PartText(int part) {
    DesignLock lock;
    StatusPart* parts = StatusParts(kStatusBarRef);
    return parts && part < StatusPartCount(kStatusBarRef) ? parts[part].text : "<none>";
  }

  TestWindow* main_ = nullptr;
  TestWindow* button_ = nullptr;
  TestWindow* bar_ = nullptr;
  TestWindow* edit_ = nullptr;
  HWND main_hwnd_ = nullptr;
  HWND bar_hwnd_ = nullptr;
  HWND edit_hwnd_ = nullptr;
};

// --- lookup ---------------------------------------------------------------

TEST_F(DesignTest, FindControlGivesTheLiveObjectOfEachEntry) {
  EXPECT_EQ(FindControl(kMainWindowRef), main_);
  EXPECT_EQ(FindControl(ControlRef{kMainWindowId, 0}), main_);  // 0 names entry 0
  EXPECT_EQ(FindControl(kResyncButtonRef), button_);
  EXPECT_EQ(FindControl(kStatusBarRef), bar_);
  EXPECT_EQ(FindControl(kEditBoxRef), edit_);
  EXPECT_EQ(FindEntry(FindDesign(kMainWindowId), 0), &g_entries[0]);
  EXPECT_EQ(FindEntry(FindDesign(kMainWindowId), kLabelRef.control_id), &g_entries[5]);
  EXPECT_EQ(box_calls(), 0);
}

TEST_F(DesignTest, FindControlOfAMissingOrDeadControlIsFatal) {
  DestroyWindow(edit_hwnd_);  // the control reports itself gone
  const ControlRef cases[] = {kMissingWindowRef, kMissingControlRef, kClientRef /* never live */,
                              kEditBoxRef /* destroyed */};
  for (ControlRef ref : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << ref.window_id << "/" << ref.control_id);
    EXPECT_EQ(FindLiveControl(ref), nullptr);
    EXPECT_FATAL(FindControl(ref), kNoSuchControl);
  }
  EXPECT_EQ(suspend_calls(), 4);  // each fatal error suspends the events first
  EXPECT_EQ(FindControl(kResyncButtonRef), button_);
}

TEST_F(DesignTest, DestroyedWindowTakesItsControlsOutOfTheDesign) {
  DestroyWindow(main_hwnd_);
  for (const DesignEntry& e : g_entries) EXPECT_EQ(e.live, nullptr);
  EXPECT_FATAL(FindControl(kMainWindowRef), kNoSuchControl);
}

TEST_F(DesignTest, ControlGoneForAnotherObjectKeepsTheLiveOne) {
  // A stale report (an object that is no longer the entry's) clears nothing.
  ReportControlGone(kResyncButtonRef, edit_);
  EXPECT_EQ(FindLiveControl(kResyncButtonRef), button_);
}

// --- events ---------------------------------------------------------------

TEST_F(DesignTest, RaiseEventRunsTheBoundHandlerWithItsSource) {
  EventRecord record{kMainWindowId, kMainWindowRef.control_id, kEventCreated, 0, nullptr, 0, 0};
  EXPECT_TRUE(RaiseEvent(record));
  EXPECT_EQ(g_created_runs, 1);
  EXPECT_EQ(g_source_in_handler.window_id, kMainWindowId);
  EXPECT_EQ(g_source_in_handler.control_id, kMainWindowRef.control_id);
  EXPECT_EQ(CurrentEventSource().window_id, 0u);  // cleared after the handler
  EXPECT_EQ(record.has_result, 0);

  EXPECT_TRUE(RaiseEvent(kResyncButtonRef, kEventClicked));
  EXPECT_EQ(g_click_runs, 1);
  EXPECT_EQ(g_source_in_handler.control_id, kResyncButtonRef.control_id);
  EXPECT_TRUE(RaiseEvent(ControlRef{kMainWindowId, 0}, kEventCreated));  // 0: the window
  EXPECT_EQ(g_created_runs, 2);
}

TEST_F(DesignTest, NestedEventGivesTheOuterSourceBack) {
  EXPECT_TRUE(RaiseEvent(kMainWindowRef, kEventMoved));
  EXPECT_EQ(g_click_runs, 1);
  EXPECT_EQ(g_source_in_handler.control_id, kResyncButtonRef.control_id);
  EXPECT_EQ(g_source_after_nested.control_id, kMainWindowRef.control_id);
  EXPECT_EQ(CurrentEventSource().window_id, 0u);
}

TEST_F(DesignTest, UnboundEventIsNoError) {
  EXPECT_FALSE(RaiseEvent(kClientRef, kEventClosed));
  EXPECT_FALSE(RaiseEvent(kMainWindowRef, kEventMayClose));
  EXPECT_FALSE(RaiseEvent(kMainWindowRef, kEventGotFocus));
  EXPECT_EQ(g_click_runs + g_created_runs, 0);
  EXPECT_EQ(box_calls(), 0);
}

TEST_F(DesignTest, NoHandlerRunsWhileSuspended) {
  SuspendEvents();
  SuspendEvents();
  EXPECT_FALSE(RaiseEvent(kResyncButtonRef, kEventClicked));
  ResumeEvents();
  EXPECT_FALSE(RaiseEvent(kResyncButtonRef, kEventClicked));  // still above zero
  // Even the faults of a raise are not noticed while suspended.
  EXPECT_FALSE(RaiseEvent(kMissingWindowRef, kEventClicked));
  ResumeEvents();
  EXPECT_EQ(g_click_runs, 0);
  EXPECT_TRUE(RaiseEvent(kResyncButtonRef, kEventClicked));
  EXPECT_EQ(g_click_runs, 1);
}

TEST_F(DesignTest, RaiseEventFaultsAreFatal) {
  struct Case {
    ControlRef source;
    const char* message;
  } const cases[] = {
      {kMissingWindowRef, kNoEventWindow},
      {kMissingControlRef, kNoEventControl},
      {kStatusBarRef, kInvalidEventControl},  // bound, but a bar raises no events
      {kLabelRef, kInvalidEventControl},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.source.control_id);
    EXPECT_FATAL(RaiseEvent(c.source, 0), c.message);
  }
  EXPECT_EQ(g_click_runs, 0);
}

TEST(EventSuspension, ConcurrentRaisesAndLoweringsLoseNothing) {
  ASSERT_EQ(EventSuspensionCount(), 0);
  constexpr int kRounds = 200000;
  auto churn = [] {
    for (int i = 0; i < kRounds; ++i) {
      SuspendEvents();
      ResumeEvents();
    }
  };
  std::thread a(churn), b(churn);
  // Raised for good on a worker: the next raise here must see it.
  std::thread c([] { SuspendEvents(); });
  a.join();
  b.join();
  c.join();
  EXPECT_EQ(EventSuspensionCount(), 1);
  ResumeEvents();
}

// --- SetStatusText ---------------------------------------------------------

TEST_F(DesignTest, StatusTextGoesToTheBarAndThePartTable) {
  EXPECT_NE(SetStatusText(kStatusBarRef, 0, kDone), 0);
  EXPECT_EQ(StatusTextGbk(bar_hwnd_, 0), kDone);
  EXPECT_EQ(PartText(0), kDone);
  wchar_t wide[16] = {};
  SendMessageW(bar_hwnd_, SB_GETTEXTW, 0, reinterpret_cast<LPARAM>(wide));
  EXPECT_STREQ(wide, L"\x6821\x65F6\x5B8C\x6BD5");  // 校时完毕, whatever the ANSI code page

  SetStatusText(kStatusBarRef, 0, nullptr);  // absent: the empty text
  EXPECT_EQ(StatusTextGbk(bar_hwnd_, 0), "");
  EXPECT_EQ(PartText(0), "");
}

TEST_F(DesignTest, StatusPartOutsideTheTableChangesNothing) {
  SetStatusText(kStatusBarRef, 0, "kept");
  for (int part : {1, -1, 7}) {
    EXPECT_EQ(SetStatusText(kStatusBarRef, part, "other"), 0);
  }
  EXPECT_EQ(StatusTextGbk(bar_hwnd_, 0), "kept");
  EXPECT_EQ(PartText(0), "kept");
  EXPECT_EQ(StatusPartCount(kStatusBarRef), 1);
  EXPECT_EQ(box_calls(), 0);
}

TEST_F(DesignTest, StatusTextOfAMissingBarIsFatal) {
  EXPECT_FATAL(SetStatusText(kMissingControlRef, 0, "x"), kNoSuchControl);
  EXPECT_FATAL(SetStatusText(kMissingWindowRef, 0, "x"), kNoSuchControl);
}

TEST_F(DesignTest, StatusTextFromAWorkerReturnsOnlyOnceShown) {
  std::atomic<bool> returned{false};
  std::string seen_by_worker;
  std::thread worker([&] {
    SetStatusText(kStatusBarRef, 0, kDone);
    // A sent read: had the write been posted, this would be handled first.
    wchar_t wide[32] = {};
    SendMessageW(bar_hwnd_, SB_GETTEXTW, 0, reinterpret_cast<LPARAM>(wide));
    seen_by_worker = ToGbk(wide);
    returned = true;
  });
  // Not pumping: the worker must wait for this thread.
  Sleep(300);
  EXPECT_FALSE(returned.load());
  EXPECT_TRUE(PumpUntil([&] { return returned.load(); }));
  worker.join();
  EXPECT_EQ(seen_by_worker, kDone);
  EXPECT_EQ(StatusTextGbk(bar_hwnd_, 0), kDone);
}

TEST_F(DesignTest, ConcurrentStatusWritesLeaveWholeTexts) {
  const std::string a(300, 'a');
  const std::string b(40, 'b');
  std::atomic<int> running{2};
  auto writer = [&](const std::string& text) {
    for (int i = 0; i < 300; ++i) SetStatusText(kStatusBarRef, 0, text.c_str());
    --running;
  };
  std::thread ta(writer, std::cref(a)), tb(writer, std::cref(b));
  int torn = 0;
  int looks = 0;
  EXPECT_TRUE(PumpUntil(
      [&] {
        std::string table = PartText(0);
        std::string shown = StatusTextGbk(bar_hwnd_, 0);
        ++looks;
        for (const std::string* s : {&table, &shown}) {
          if (!s->empty() && *s != a && *s != b) ++torn;
        }
        return running.load() == 0;
      },
      20000));
  ta.join();
  tb.join();
  EXPECT_EQ(torn, 0) << "after " << looks << " looks";
  std::string final_table = PartText(0);
  EXPECT_TRUE(final_table == a || final_table == b);
  std::string final_shown = StatusTextGbk(bar_hwnd_, 0);
  EXPECT_TRUE(final_shown == a || final_shown == b);
}

TEST_F(DesignTest, LateStatusWriteAfterTheWindowIsGoneDoesNothing) {
  SetStatusText(kStatusBarRef, 0, "before");
  DestroyWindow(main_hwnd_);
  EXPECT_EQ(PartText(0), "");  // a bar made again starts from its design
  int32_t result = -1;
  std::thread worker([&] { result = SetStatusText(kStatusBarRef, 0, "late"); });
  worker.join();  // returns without this thread pumping: nothing was sent
  EXPECT_EQ(result, 0);
  EXPECT_EQ(SetStatusText(kStatusBarRef, 0, "late"), 0);
  EXPECT_EQ(PartText(0), "");
  EXPECT_EQ(box_calls(), 0);
}

// --- SetControlText and SetControlFocus --------------------------------------

TEST_F(DesignTest, ControlTextSetsTheBoxKeepsACopyAndRaisesContentChanged) {
  std::string text = std::string("2024-05-01 ") + kDone;
  SetControlText(kEditBoxRef, text.c_str());
  EXPECT_EQ(WindowTextGbk(edit_hwnd_), text);
  ASSERT_NE(ControlContentText(kEditBoxRef), nullptr);
  EXPECT_EQ(std::string(ControlContentText(kEditBoxRef)), text);
  EXPECT_NE(ControlContentText(kEditBoxRef), text.c_str());  // a copy
  EXPECT_EQ(g_changed_runs, 1);
  EXPECT_EQ(main_->commands(EN_CHANGE), 1);  // the box told its parent too

  SetControlText(kEditBoxRef, nullptr);
  EXPECT_EQ(WindowTextGbk(edit_hwnd_), "");
  EXPECT_EQ(ControlContentText(kEditBoxRef), nullptr);
  EXPECT_EQ(g_changed_runs, 2);
}

TEST_F(DesignTest, ControlTextFaultsAreFatal) {
  EXPECT_FATAL(SetControlText(kMissingWindowRef, "x"), kWindowNotLoaded);
  EXPECT_FATAL(SetControlText(kClientRef, "x"), kControlNotLoaded);  // never live
  EXPECT_FATAL(SetControlText(kMissingControlRef, "x"), kControlNotLoaded);
  DestroyWindow(edit_hwnd_);
  EXPECT_FATAL(SetControlText(kEditBoxRef, "x"), kControlNotLoaded);
  EXPECT_EQ(g_changed_runs, 0);
}

TEST_F(DesignTest, ControlFocusGoesToTheControlOrToTheWindowItself) {
  ShowWindow(main_hwnd_, SW_SHOW);
  SetForegroundWindow(main_hwnd_);
  PumpFor(50);
  SetControlFocus(kEditBoxRef);
  EXPECT_EQ(GetFocus(), edit_hwnd_);
  SetControlFocus(kMainWindowRef);
  EXPECT_EQ(GetFocus(), main_hwnd_);
  SetControlFocus(kResyncButtonRef);
  EXPECT_EQ(GetFocus(), button_->hwnd());
  DestroyWindow(edit_hwnd_);
  EXPECT_FATAL(SetControlFocus(kEditBoxRef), kNoSuchControl);
}

// --- GBK at the window boundary ----------------------------------------------

TEST(WideText, ConvertsShortAndLongTexts) {
  EXPECT_STREQ(WideText(nullptr).get(), L"");
  EXPECT_STREQ(WideText("").get(), L"");
  EXPECT_STREQ(WideText(kDone).get(), L"\x6821\x65F6\x5B8C\x6BD5");
  EXPECT_EQ(WideText(kDone).length(), 4);
  // Past the inline buffer: a block, whole and terminated.
  std::string long_text;
  for (int i = 0; i < 200; ++i) long_text += kDone;
  WideText wide(long_text.c_str());
  ASSERT_EQ(wide.length(), 800);
  EXPECT_EQ(std::wstring(wide.get()).size(), 800u);
  EXPECT_EQ(wide.get()[799], L'\x6BD5');
}

}  // namespace
