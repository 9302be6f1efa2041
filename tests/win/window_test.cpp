// The main window built by LoadWindow from the program's own design, with
// stand-in handlers in place of the clock logic (no network): its frame and
// place, the controls as the user sees them, the docking of the status bar,
// the focus rule, the keyboard rules and the close path.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "app/design.h"
#include "app/program.h"
#include "app/window.h"
#include "app/window_base.h"
#include "app/window_controls.h"
#include "support/win_support.h"

namespace {

// What the stand-in handlers saw: the source's control id, the event, and
// whether the main window was visible then.
struct Raised {
  uint32_t control_id;
  int32_t event;
  bool window_visible;
};
std::vector<Raised> g_raised;

HWND MainHwnd() {
  Window* w = FindLiveControl(kMainWindowRef);
  return w ? w->hwnd() : nullptr;
}

template <int32_t Event>
void Record() {
  HWND main = MainHwnd();
  g_raised.push_back({CurrentEventSource().control_id, Event, main && IsWindowVisible(main)});
}

// The created handler of the program gives the focus to the window itself.
void OnCreatedStandIn() {
  Record<kEventCreated>();
  SetControlFocus(kMainWindowRef);
}

const EventBinding kMainEvents[] = {
    {kEventCreated, OnCreatedStandIn},       {kEventMayClose, Record<kEventMayClose>},
    {kEventDestroying, Record<kEventDestroying>}, {kEventMoved, Record<kEventMoved>},
    {kEventSized, Record<kEventSized>},       {kEventGotFocus, Record<kEventGotFocus>},
};
const EventBinding kButtonEvents[] = {{kEventClicked, Record<kEventClicked>},
                                      {kEventGotFocus, Record<kEventGotFocus>}};
const EventBinding kEditEvents[] = {{kEventGotFocus, Record<kEventGotFocus>}};

int Count(uint32_t control_id, int32_t event) {
  int n = 0;
  for (const Raised& r : g_raised) n += r.control_id == control_id && r.event == event;
  return n;
}

void CALLBACK QuitWith99(HWND, UINT, UINT_PTR, DWORD) { PostQuitMessage(99); }

HWND ControlHwnd(ControlRef ref) {
  Window* w = FindLiveControl(ref);
  return w ? w->hwnd() : nullptr;
}

std::wstring ClassOf(HWND h) {
  wchar_t name[64] = {};
  GetClassNameW(h, name, 64);
  return name;
}

RECT ClientRectIn(HWND child, HWND parent) {
  RECT r;
  GetWindowRect(child, &r);
  MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

// The program's design, copied, with the stand-in handlers bound.
class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(ReadWindowDesigns());
    WindowDesign* program = FindDesign(kMainWindowId);
    ASSERT_NE(program, nullptr);
    entries_.assign(program->entries, program->entries + program->entry_count);
    for (DesignEntry& e : entries_) {
      e.live = nullptr;
      e.events = nullptr;
      e.event_count = 0;
      if (e.control_id == kMainWindowRef.control_id) Bind(e, kMainEvents);
      if (e.control_id == kResyncButtonRef.control_id) Bind(e, kButtonEvents);
      if (e.control_id == kEditBoxRef.control_id) Bind(e, kEditEvents);
    }
    design_ = WindowDesign{kMainWindowId, entries_.data(), static_cast<int32_t>(entries_.size())};
    InstallWindowDesigns(&design_, 1);
    g_raised.clear();
  }

  void TearDown() override {
    DestroyProgramWindows();
    PumpFor(20);
    ForgetWindowDesigns();
    BYTE keys[256] = {};
    SetKeyboardState(keys);
  }

  template <int N>
  static void Bind(DesignEntry& e, const EventBinding (&events)[N]) {
    e.events = events;
    e.event_count = N;
  }

  HWND Load() {
    EXPECT_TRUE(LoadWindow(kMainWindowId));
    HWND h = MainHwnd();
    EXPECT_NE(h, nullptr);
    PumpFor(50);
    return h;
  }

  // One key press as the message loop meets it: offered to the
  // pre-processing first, dispatched when that does not take it.
  // Returns whether the pre-processing took the key-down.
  static bool Press(UINT vk, bool shift = false) {
    BYTE keys[256] = {};
    if (shift) keys[VK_SHIFT] = keys[VK_LSHIFT] = 0x80;
    SetKeyboardState(keys);
    HWND target = GetFocus();
    MSG down{target, WM_KEYDOWN, vk, 1, 0, {0, 0}};
    bool taken = PreTranslateProgramMessage(down);
    if (!taken) {
      TranslateMessage(&down);
      DispatchMessageW(&down);
    }
    MSG up{target, WM_KEYUP, vk, static_cast<LPARAM>(0xC0000001u), 0, {0, 0}};
    if (!PreTranslateProgramMessage(up)) {
      TranslateMessage(&up);
      DispatchMessageW(&up);
    }
    PumpFor(10);
    BYTE none[256] = {};
    SetKeyboardState(none);
    return taken;
  }

  std::vector<DesignEntry> entries_;
  WindowDesign design_{};
};

TEST_F(MainWindowTest, WindowIsCentredFixedAndCaptioned) {
  HWND h = Load();
  RECT r;
  GetWindowRect(h, &r);
  EXPECT_EQ(r.right - r.left, 271);
  EXPECT_EQ(r.bottom - r.top, 86);
  EXPECT_EQ(r.left, (GetSystemMetrics(SM_CXSCREEN) - 271) / 2);
  EXPECT_EQ(r.top, (GetSystemMetrics(SM_CYSCREEN) - 86) / 2);
  EXPECT_EQ(WindowTextGbk(h), "Kestrivo V1.0");

  LONG style = GetWindowLongW(h, GWL_STYLE);
  EXPECT_EQ(style & (WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN), WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN);
  EXPECT_EQ(style & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_CHILD | WS_POPUP), 0);
  // The system adds WS_EX_WINDOWEDGE to a captioned frame; nothing else.
  EXPECT_EQ(GetWindowLongW(h, GWL_EXSTYLE) & ~WS_EX_WINDOWEDGE, 0);
  EXPECT_TRUE(IsWindowVisible(h));
  EXPECT_FALSE(IsIconic(h));
  EXPECT_FALSE(IsZoomed(h));
  EXPECT_EQ(GetWindow(h, GW_OWNER), nullptr);
  EXPECT_EQ(GetAncestor(h, GA_PARENT), GetDesktopWindow());

  EXPECT_EQ(static_cast<UINT>(GetClassLongW(h, GCL_STYLE)), CS_DBLCLKS | CS_HREDRAW | CS_VREDRAW);
  EXPECT_EQ(GetClassLongPtrW(h, GCLP_HBRBACKGROUND), 0);
  EXPECT_EQ(reinterpret_cast<HGDIOBJ>(SendMessageW(h, WM_GETFONT, 0, 0)), GetStockObject(DEFAULT_GUI_FONT));

  // The system menu keeps Move: the window can be moved.
  HMENU menu = GetSystemMenu(h, FALSE);
  ASSERT_NE(menu, nullptr);
  EXPECT_FALSE(GetMenuState(menu, SC_MOVE, MF_BYCOMMAND) & (MF_GRAYED | MF_DISABLED));
}

TEST_F(MainWindowTest, ControlsHaveTheirKindsStylesIdsAndPlaces) {
  HWND h = Load();
  struct Expected {
    ControlRef ref;
    int child_id;
    const wchar_t* cls;
    DWORD style;  // without WS_VISIBLE
    bool visible;
    RECT place;   // left, top, right, bottom in client coordinates; {0} when docked
    const char* text;
  };
  const Expected table[] = {
      {kLabelRef, 100, kLabelClass, WS_CHILD | WS_CLIPSIBLINGS, true, {8, 8, 64, 32},
       "\xCD\xF8\xC2\xE7\xCA\xB1\xBC\xE4:"},  // 网络时间:
      {kEditBoxRef, 110, L"Edit",
       WS_CHILD | WS_CLIPSIBLINGS | WS_TABSTOP | ES_LEFT | ES_AUTOHSCROLL | ES_READONLY, true,
       {64, 8, 184, 28}, ""},
      {kClientRef, 120, nullptr, 0, false, {24, 16, 50, 42}, nullptr},
      {kStatusBarRef, 130, STATUSCLASSNAMEW, WS_CHILD | CCS_BOTTOM | SBT_TOOLTIPS, true, {0, 0, 0, 0},
       nullptr},
      {kResyncButtonRef, 140, L"Button",
       WS_CHILD | WS_CLIPSIBLINGS | WS_TABSTOP | BS_PUSHBUTTON | BS_CENTER | BS_VCENTER | BS_MULTILINE,
       true, {192, 8, 256, 28}, "\xD6\xD8\xD0\xC2\xD0\xA3\xCA\xB1"},  // 重新校时
  };
  for (const Expected& x : table) {
    SCOPED_TRACE(x.child_id);
    HWND c = ControlHwnd(x.ref);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(GetParent(c), h);
    EXPECT_EQ(GetDlgCtrlID(c), x.child_id);
    EXPECT_EQ(IsWindowVisible(c) != FALSE, x.visible);
    EXPECT_TRUE(IsWindowEnabled(c));
    if (x.cls) {
      EXPECT_EQ(_wcsicmp(ClassOf(c).c_str(), x.cls), 0) << ClassOf(c).c_str();
      EXPECT_EQ(static_cast<DWORD>(GetWindowLongW(c, GWL_STYLE)) & ~WS_VISIBLE, x.style);
      EXPECT_EQ(reinterpret_cast<HGDIOBJ>(SendMessageW(c, WM_GETFONT, 0, 0)),
                GetStockObject(DEFAULT_GUI_FONT));
    }
    if (x.text) EXPECT_EQ(WindowTextGbk(c), x.text);
    if (x.place.right) {
      RECT r = ClientRectIn(c, h);
      EXPECT_EQ(r.left, x.place.left);
      EXPECT_EQ(r.top, x.place.top);
      EXPECT_EQ(r.right, x.place.right);
      if (x.ref.control_id != kEditBoxRef.control_id) EXPECT_EQ(r.bottom, x.place.bottom);
    }
  }
  EXPECT_EQ(GetWindowLongW(ControlHwnd(kEditBoxRef), GWL_EXSTYLE) & WS_EX_CLIENTEDGE,
            WS_EX_CLIENTEDGE);
  EXPECT_EQ(GetWindowLongW(ControlHwnd(kResyncButtonRef), GWL_EXSTYLE) & WS_EX_CLIENTEDGE, 0);
  EXPECT_EQ(GetWindowLongW(ControlHwnd(kLabelRef), GWL_EXSTYLE), 0);
}

TEST_F(MainWindowTest, ControlsAreStackedInDesignOrder) {
  HWND h = Load();
  const ControlRef order[] = {kResyncButtonRef, kStatusBarRef, kClientRef, kEditBoxRef, kLabelRef};
  HWND c = GetWindow(h, GW_CHILD);
  for (const ControlRef& ref : order) {
    EXPECT_EQ(c, ControlHwnd(ref)) << std::hex << ref.control_id;
    c = c ? GetWindow(c, GW_HWNDNEXT) : nullptr;
  }
  EXPECT_EQ(c, nullptr);
}

TEST_F(MainWindowTest, EditBoxIsReadOnlyBlackOnWhiteAndAtLeastOneLineHigh) {
  HWND h = Load();
  HWND edit = ControlHwnd(kEditBoxRef);
  ASSERT_NE(edit, nullptr);

  // The height rule: 20 pixels unless the text of "吴" and the edges need more.
  HDC dc = GetDC(edit);
  HGDIOBJ old = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
  SIZE size;
  GetTextExtentPoint32W(dc, L"\x5434", 1, &size);
  SelectObject(dc, old);
  ReleaseDC(edit, dc);
  RECT r = ClientRectIn(edit, h);
  EXPECT_EQ(r.bottom - r.top, std::max<LONG>(20, size.cy + 2 * GetSystemMetrics(SM_CYEDGE)));

  // Typing changes nothing; the limit is the system maximum.
  SendMessageW(edit, WM_CHAR, 'x', 1);
  EXPECT_EQ(GetWindowTextLengthW(edit), 0);
  EXPECT_GT(static_cast<DWORD>(SendMessageW(edit, EM_GETLIMITTEXT, 0, 0)), 0x7FFFu);

  // A read-only box asks for its colours with WM_CTLCOLORSTATIC.
  for (UINT msg : {WM_CTLCOLORSTATIC, WM_CTLCOLOREDIT}) {
    HDC mem = CreateCompatibleDC(nullptr);
    SetTextColor(mem, RGB(1, 2, 3));
    SetBkColor(mem, RGB(4, 5, 6));
    auto brush = reinterpret_cast<HBRUSH>(
        SendMessageW(h, msg, reinterpret_cast<WPARAM>(mem), reinterpret_cast<LPARAM>(edit)));
    LOGBRUSH lb{};
    ASSERT_EQ(GetObjectW(brush, sizeof lb, &lb), static_cast<int>(sizeof lb)) << msg;
    EXPECT_EQ(lb.lbStyle, static_cast<UINT>(BS_SOLID));
    EXPECT_EQ(lb.lbColor, RGB(255, 255, 255));
    EXPECT_EQ(GetTextColor(mem), RGB(0, 0, 0));
    EXPECT_EQ(GetBkColor(mem), RGB(255, 255, 255));
    DeleteDC(mem);
  }
}

TEST_F(MainWindowTest, LabelPaintsBlackTextCentredOnTheDefaultBackground) {
  Load();
  HWND label = ControlHwnd(kLabelRef);
  ASSERT_NE(label, nullptr);
  RECT rc;
  GetClientRect(label, &rc);
  ASSERT_EQ(rc.right, 56);
  ASSERT_EQ(rc.bottom, 24);

  HDC screen = GetDC(nullptr);
  HDC mem = CreateCompatibleDC(screen);
  BITMAPINFO bi{};
  bi.bmiHeader = {sizeof(BITMAPINFOHEADER), rc.right, -rc.bottom, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  HBITMAP bmp = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  ReleaseDC(nullptr, screen);
  HGDIOBJ old = SelectObject(mem, bmp);
  SendMessageW(label, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(mem), PRF_CLIENT | PRF_ERASEBKGND);
  GdiFlush();

  auto pixel = [&](int x, int y) {
    DWORD v = static_cast<const DWORD*>(bits)[y * rc.right + x];
    return RGB((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF);
  };
  COLORREF face = GetSysColor(COLOR_BTNFACE);
  EXPECT_EQ(pixel(0, 0), face);
  EXPECT_EQ(pixel(rc.right - 1, rc.bottom - 1), face);
  // Ink: the darkest pixels; their rows lie around the middle and they
  // start near the left edge (a glyph's own side bearing aside).
  int ink = 0, black = 0, min_x = rc.right, row_sum = 0;
  for (int y = 0; y < rc.bottom; ++y) {
    for (int x = 0; x < rc.right; ++x) {
      COLORREF p = pixel(x, y);
      if (p == face) continue;
      if (GetRValue(p) < 0x60 && GetGValue(p) < 0x60 && GetBValue(p) < 0x60) {
        ++ink;
        row_sum += y;
        min_x = std::min(min_x, x);
        black += p == RGB(0, 0, 0);
      }
    }
  }
  ASSERT_GT(ink, 20);
  EXPECT_GT(black, 0);
  EXPECT_LE(min_x, 5);
  double mean_row = static_cast<double>(row_sum) / ink;
  EXPECT_NEAR(mean_row, (rc.bottom - 1) / 2.0, 3.0);

  SelectObject(mem, old);
  DeleteObject(bmp);
  DeleteDC(mem);
}

TEST_F(MainWindowTest, StatusBarDocksAtTheBottomWithOnePartAndNoGrip) {
  HWND h = Load();
  HWND bar = ControlHwnd(kStatusBarRef);
  ASSERT_NE(bar, nullptr);
  auto expect_docked = [&] {
    RECT client, r = ClientRectIn(bar, h);
    GetClientRect(h, &client);
    EXPECT_EQ(r.left, 0);
    EXPECT_EQ(r.right, client.right);
    EXPECT_EQ(r.bottom, client.bottom);
    EXPECT_GT(r.bottom - r.top, 10);
    // Over no other control.
    for (ControlRef ref : {kResyncButtonRef, kEditBoxRef, kLabelRef}) {
      RECT other = ClientRectIn(ControlHwnd(ref), h), overlap;
      EXPECT_FALSE(IntersectRect(&overlap, &other, &r)) << std::hex << ref.control_id;
    }
  };
  expect_docked();
  EXPECT_EQ(GetWindowLongW(bar, GWL_STYLE) & SBARS_SIZEGRIP, 0);
  EXPECT_FALSE(SendMessageW(bar, SB_ISSIMPLE, 0, 0));
  int edges[4] = {};
  ASSERT_EQ(SendMessageW(bar, SB_GETPARTS, 4, reinterpret_cast<LPARAM>(edges)), 1);
  EXPECT_EQ(edges[0], -1);
  LRESULT len = SendMessageW(bar, SB_GETTEXTLENGTHW, 0, 0);
  EXPECT_EQ(LOWORD(len), 0);
  EXPECT_EQ(HIWORD(len), 0);  // sunken: neither SBT_NOBORDERS nor SBT_POPOUT
  EXPECT_EQ(static_cast<COLORREF>(SendMessageW(bar, SB_SETBKCOLOR, 0, CLR_DEFAULT)),
            GetSysColor(COLOR_BTNFACE));

  // Texts reach the one part; the bar follows every change of size.
  SetStatusText(kStatusBarRef, 0, "\xD0\xA3\xCA\xB1\xB4\xED\xCE\xF3");  // 校时错误
  EXPECT_EQ(StatusTextGbk(bar, 0), "\xD0\xA3\xCA\xB1\xB4\xED\xCE\xF3");
  SetWindowPos(h, nullptr, 0, 0, 400, 150, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  expect_docked();
  SetWindowPos(h, nullptr, 0, 0, 271, 86, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  expect_docked();
}

TEST_F(MainWindowTest, BuildRaisesCreatedWhileHiddenThenMovedAndSizedAndKeepsFocusOnTheWindow) {
  HWND h = Load();
  ASSERT_GE(g_raised.size(), 3u);
  // Nothing is raised while the window is built: created comes first.
  EXPECT_EQ(g_raised[0].event, kEventCreated);
  EXPECT_EQ(g_raised[0].control_id, kMainWindowRef.control_id);
  EXPECT_FALSE(g_raised[0].window_visible);
  // The focus the created handler gave (the window itself, no control)
  // raises the window's got-focus event while still hidden.
  size_t i = 1;
  while (i < g_raised.size() && g_raised[i].event == kEventGotFocus) ++i;
  ASSERT_LT(i + 1, g_raised.size());
  EXPECT_EQ(g_raised[i].event, kEventMoved);
  EXPECT_EQ(g_raised[i + 1].event, kEventSized);
  EXPECT_FALSE(g_raised[i + 1].window_visible);
  EXPECT_EQ(Count(kMainWindowRef.control_id, kEventCreated), 1);

  EXPECT_EQ(GetFocus(), h);
  EXPECT_EQ(Count(kEditBoxRef.control_id, kEventGotFocus), 0);
  EXPECT_EQ(Count(kResyncButtonRef.control_id, kEventGotFocus), 0);
  EXPECT_EQ(EventSuspensionCount(), 0);

  // A second LoadWindow finds the window and makes no other.
  EXPECT_TRUE(LoadWindow(kMainWindowId));
  EXPECT_EQ(MainHwnd(), h);
  EXPECT_EQ(Count(kMainWindowRef.control_id, kEventCreated), 1);
  EXPECT_FALSE(LoadWindow(0x52010002));
}

TEST_F(MainWindowTest, TabCyclesEditAndButtonOnlyFromAControl) {
  HWND h = Load();
  HWND edit = ControlHwnd(kEditBoxRef);
  HWND button = ControlHwnd(kResyncButtonRef);
  ASSERT_EQ(GetFocus(), h);
  EXPECT_TRUE(Press(VK_TAB));
  EXPECT_EQ(GetFocus(), h);
  EXPECT_TRUE(Press(VK_TAB, true));
  EXPECT_EQ(GetFocus(), h);

  SetFocus(edit);
  const struct {
    bool shift;
    HWND expected;
  } steps[] = {{false, button}, {false, edit}, {false, button}, {true, edit}, {true, button}, {true, edit}};
  for (const auto& s : steps) {
    EXPECT_TRUE(Press(VK_TAB, s.shift));
    EXPECT_EQ(GetFocus(), s.expected) << (s.shift ? "Shift+Tab" : "Tab");
  }
  EXPECT_EQ(Count(kResyncButtonRef.control_id, kEventGotFocus), 3);
}

TEST_F(MainWindowTest, EnterEscapeAndF1DoNothingSpaceClicksTheButton) {
  HWND h = Load();
  HWND button = ControlHwnd(kResyncButtonRef);
  for (HWND focus : {h, ControlHwnd(kEditBoxRef), button}) {
    SetFocus(focus);
    for (UINT vk : {VK_RETURN, VK_ESCAPE, VK_F1}) {
      EXPECT_TRUE(Press(vk)) << vk;
      EXPECT_TRUE(IsWindow(h));
      EXPECT_EQ(GetFocus(), focus) << vk;
    }
  }
  EXPECT_EQ(Count(kResyncButtonRef.control_id, kEventClicked), 0);
  EXPECT_EQ(Count(kMainWindowRef.control_id, kEventMayClose), 0);

  SetFocus(button);
  EXPECT_FALSE(Press(VK_SPACE));
  EXPECT_EQ(Count(kResyncButtonRef.control_id, kEventClicked), 1);
  SendMessageW(button, BM_CLICK, 0, 0);
  EXPECT_EQ(Count(kResyncButtonRef.control_id, kEventClicked), 2);

  // Keys with no rule go on as usual: Alt+F4 and Alt with a letter no text marks.
  MSG alt_f4{button, WM_SYSKEYDOWN, VK_F4, static_cast<LPARAM>(1 | (1 << 29)), 0, {0, 0}};
  EXPECT_FALSE(PreTranslateProgramMessage(alt_f4));
  MSG alt_k{button, WM_SYSKEYDOWN, 'K', static_cast<LPARAM>(1 | (1 << 29)), 0, {0, 0}};
  EXPECT_FALSE(PreTranslateProgramMessage(alt_k));
  MSG char_msg{button, WM_CHAR, 'a', 1, 0, {0, 0}};
  EXPECT_FALSE(PreTranslateProgramMessage(char_msg));
}

// The window's own texts hold no "&"; with texts that do, Alt and the
// marked character click the button or move the focus past the label.
TEST_F(MainWindowTest, AltWithAMarkedCharacterActivatesItsControl) {
  for (DesignEntry& e : entries_) {
    if (e.control_id == kResyncButtonRef.control_id) e.text = "&Resync";
    if (e.control_id == kLabelRef.control_id) e.text = "&Net 2:";
  }
  HWND h = Load();
  auto alt = [](UINT vk) {
    MSG m{GetFocus(), WM_SYSKEYDOWN, vk, static_cast<LPARAM>(1 | (1 << 29)), 0, {0, 0}};
    return PreTranslateProgramMessage(m);
  };
  ASSERT_EQ(GetFocus(), h);
  EXPECT_TRUE(alt('R'));
  EXPECT_EQ(GetFocus(), ControlHwnd(kResyncButtonRef));
  EXPECT_EQ(Count(kResyncButtonRef.control_id, kEventClicked), 1);
  EXPECT_TRUE(alt('N'));
  EXPECT_EQ(GetFocus(), ControlHwnd(kEditBoxRef));
  EXPECT_FALSE(alt('E'));  // "&Resync" marks R only
  EXPECT_FALSE(alt('2'));
  EXPECT_EQ(Count(kResyncButtonRef.control_id, kEventClicked), 1);
}

TEST_F(MainWindowTest, FocusOnTheVisibleWindowGoesToTheRememberedControlElseTheEditBox) {
  HWND h = Load();
  HWND edit = ControlHwnd(kEditBoxRef);
  HWND button = ControlHwnd(kResyncButtonRef);
  // As after start-up the window itself has the focus.
  ASSERT_EQ(GetFocus(), h);
  TestWindow* other = TestWindow::TopLevel(L"other");
  ASSERT_NE(other, nullptr);
  ShowWindow(other->hwnd(), SW_SHOW);
  auto switch_away_and_back = [&] {
    SetActiveWindow(other->hwnd());
    PumpFor(20);
    ASSERT_EQ(GetActiveWindow(), other->hwnd());
    SetActiveWindow(h);
    PumpFor(20);
    ASSERT_EQ(GetActiveWindow(), h);
  };

  // Coming back gives it to the first control of the tab order, the edit box.
  switch_away_and_back();
  EXPECT_EQ(GetFocus(), edit);

  // The control that had the focus gets it back.
  SetFocus(button);
  switch_away_and_back();
  EXPECT_EQ(GetFocus(), button);
  switch_away_and_back();
  EXPECT_EQ(GetFocus(), button);

  // Focusing the visible window itself passes the focus on as well.
  SetFocus(h);
  EXPECT_EQ(GetFocus(), edit);
  DestroyWindow(other->hwnd());
}

TEST_F(MainWindowTest, ClosingDestroysEverythingSetsTheDesignBackAndEndsTheLoop) {
  HWND h = Load();
  HWND controls[] = {ControlHwnd(kResyncButtonRef), ControlHwnd(kStatusBarRef),
                     ControlHwnd(kClientRef), ControlHwnd(kEditBoxRef), ControlHwnd(kLabelRef)};
  // A watchdog ends the loop with 99 should the close not end it.
  UINT_PTR watchdog = SetTimer(nullptr, 0, 10000, QuitWith99);
  PostMessageW(h, WM_CLOSE, 0, 0);
  EXPECT_EQ(RunMessageLoop(), 0);
  KillTimer(nullptr, watchdog);

  EXPECT_FALSE(IsWindow(h));
  for (HWND c : controls) EXPECT_FALSE(IsWindow(c));
  for (const DesignEntry& e : entries_) EXPECT_EQ(e.live, nullptr) << std::hex << e.control_id;
  EXPECT_FALSE(ProgramHasWindows());
  EXPECT_EQ(Count(kMainWindowRef.control_id, kEventMayClose), 1);
  EXPECT_EQ(Count(kMainWindowRef.control_id, kEventDestroying), 1);
  ASSERT_GE(g_raised.size(), 2u);
  EXPECT_EQ(g_raised[g_raised.size() - 2].event, kEventMayClose);
  EXPECT_EQ(g_raised.back().event, kEventDestroying);

  // The design is back as before the build: the window can be built again.
  g_raised.clear();
  HWND again = Load();
  EXPECT_NE(again, nullptr);
  EXPECT_EQ(Count(kMainWindowRef.control_id, kEventCreated), 1);
}

TEST_F(MainWindowTest, SystemMenuCloseAndEndSessionQueryCloseTheWindow) {
  const struct {
    UINT msg;
    WPARAM wp;
    LRESULT answer;
  } closes[] = {{WM_SYSCOMMAND, SC_CLOSE, 0}, {WM_QUERYENDSESSION, 0, TRUE}};
  for (const auto& c : closes) {
    SCOPED_TRACE(c.msg);
    g_raised.clear();
    HWND h = Load();
    EXPECT_EQ(SendMessageW(h, c.msg, c.wp, 0), c.answer);
    EXPECT_FALSE(IsWindow(h));
    EXPECT_EQ(FindLiveControl(kMainWindowRef), nullptr);
    EXPECT_EQ(FindLiveControl(kEditBoxRef), nullptr);
    EXPECT_EQ(Count(kMainWindowRef.control_id, kEventMayClose), 1);
    EXPECT_EQ(Count(kMainWindowRef.control_id, kEventDestroying), 1);
  }
}

}  // namespace
