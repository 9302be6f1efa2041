// The main window: building it from its design (LoadWindow), its focus rule,
// its keyboard pre-processing, the docking of its status bar, and its
// closing. User-interface thread only.
#include "app/window.h"

#include "app/design.h"
#include "app/gbk.h"
#include "app/program.h"
#include "app/window_base.h"
#include "app/window_controls.h"
#include "net/client.h"

namespace {

const wchar_t kMainWindowClass[] = L"KestrivoMainWindow";
const wchar_t kIconName[] = L"DEFAULT_ICON";

// Fixed single frame with a close button only; WS_CAPTION without
// WS_MINIMIZEBOX / WS_MAXIMIZEBOX / WS_THICKFRAME.
constexpr DWORD kMainWindowStyle = WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;

// Child-window ids: the first control made gets 100, each next one 10 more.
constexpr int kFirstChildId = 100;
constexpr int kChildIdStep = 10;

// The window options of this program's window: Enter does not move the
// focus (and Escape does not close, F1 opens no help).
constexpr bool kEnterMovesFocus = false;

// The most controls that the tab-order scan looks at.
constexpr int32_t kMaxTabOrder = 64;

// An icon loaded for a window, destroyed with its owner.
class IconHandle {
 public:
  IconHandle() = default;
  IconHandle(const IconHandle&) = delete;
  IconHandle& operator=(const IconHandle&) = delete;
  ~IconHandle() { Reset(nullptr); }
  void Reset(HICON icon) {
    if (icon_) DestroyIcon(icon_);
    icon_ = icon;
  }
  HICON get() const { return icon_; }

 private:
  HICON icon_ = nullptr;
};

class MainWindow;
MainWindow* g_first_window = nullptr;  // the built windows, newest first

class MainWindow final : public Window {
 public:
  // Steps 4 to 8 of the build, with the events suspended by the caller.
  // Null when the window or a control could not be created; whatever was
  // made is destroyed again.
  static MainWindow* Build(WindowDesign* design);
  // Steps 10 to 12: the created, moved and sized events, showing, focus.
  void Open();

  static MainWindow* FromTopLevel(HWND hwnd) {
    for (MainWindow* w = g_first_window; w; w = w->next_) {
      if (w->hwnd() == hwnd) return w;
    }
    return nullptr;
  }
  MainWindow* next() const { return next_; }

  // The keyboard pre-processing; true when the key goes no further.
  bool PreTranslate(const MSG& msg);

 protected:
  LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp) override;
  void OnFinalDestroy() override;

 private:
  explicit MainWindow(WindowDesign* design) : design_(design) {
    next_ = g_first_window;
    g_first_window = this;
  }
  ~MainWindow() override;

  DesignEntry* entries() const { return design_->entries; }
  int32_t entry_count() const { return design_->entry_count; }
  ControlRef RefOf(const DesignEntry& e) const { return ControlRef{design_->window_id, e.control_id}; }
  HWND HwndOf(const DesignEntry& e) const { return e.live ? e.live->hwnd() : nullptr; }
  DesignEntry* EntryOfHwnd(HWND hwnd) const;
  Control* ControlOfHwnd(HWND hwnd) const;

  bool CreateControls(HFONT font);
  void ArrangeControls();
  void LayOutDockingBars();

  // Raises an event of the window itself; false when the window is gone
  // afterwards (a handler destroyed it, and this object with it).
  bool Raise(int32_t event);
  bool MayClose();

  LRESULT OnSetFocus();
  LRESULT OnActivate(WPARAM wp, LPARAM lp);
  LRESULT OnReflect(UINT msg, WPARAM wp, LPARAM lp, HWND child);
  LRESULT OnEraseBackground(HDC dc);

  // The controls that Tab visits, in order.
  int32_t TabOrder(HWND* order) const;
  void MoveFocus(bool forward);
  bool OnEnter();
  bool ActivateMnemonic(wchar_t key);

  WindowDesign* design_;
  MainWindow* next_ = nullptr;
  IconHandle big_icon_;
  IconHandle small_icon_;
  HFONT font_ = nullptr;
  HWND remembered_focus_ = nullptr;  // the control focused at the last deactivation
  bool keep_focus_ = false;          // while the build shows the window
  bool built_ = false;               // LoadWindow has finished
  bool activated_before_ = false;
};

MainWindow::~MainWindow() {
  for (MainWindow** link = &g_first_window; *link; link = &(*link)->next_) {
    if (*link == this) {
      *link = next_;
      break;
    }
  }
}

MainWindow* MainWindow::Build(WindowDesign* design) {
  // Registered on the first build; later builds find the class.
  ATOM atom = RegisterOwnClass(kMainWindowClass, CS_DBLCLKS | CS_HREDRAW | CS_VREDRAW,
                               LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW)), nullptr);
  if (!atom) return nullptr;
  const DesignEntry& top = design->entries[0];

  // Centred on the primary screen; the design's left and top are not used.
  int width = top.width;
  int height = top.height;
  int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
  int y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
  DWORD style = kMainWindowStyle | (top.disabled ? WS_DISABLED : 0);

  auto* main = new MainWindow(design);
  if (!main->CreateOwn(kMainWindowClass, 0, style, WideText(top.text).get(), x, y, width, height,
                       nullptr, nullptr)) {
    delete main;
    return nullptr;
  }
  HWND h = main->hwnd();
  main->SetDesignRef(main->RefOf(top));
  SetLiveControl(main->RefOf(top), main);

  RECT outer;
  GetWindowRect(h, &outer);
  if (outer.right - outer.left != width || outer.bottom - outer.top != height) {
    SetWindowPos(h, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }

  // Without the resource (a test executable) the window keeps the class icon.
  HINSTANCE instance = GetModuleHandleW(nullptr);
  main->big_icon_.Reset(static_cast<HICON>(LoadImageW(instance, kIconName, IMAGE_ICON, 32, 32, 0)));
  main->small_icon_.Reset(static_cast<HICON>(LoadImageW(instance, kIconName, IMAGE_ICON, 16, 16, 0)));
  if (main->big_icon_.get()) {
    SendMessageW(h, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(main->big_icon_.get()));
  }
  if (main->small_icon_.get()) {
    SendMessageW(h, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(main->small_icon_.get()));
  }
  HFONT font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);

  if (!main->CreateControls(font)) {
    DestroyWindow(h);  // with the controls made so far; the object goes too
    return nullptr;
  }
  main->ArrangeControls();
  main->LayOutDockingBars();
  for (int32_t i = 1; i < main->entry_count(); ++i) {
    const DesignEntry& e = main->entries()[i];
    if (e.visible && e.kind != ControlKind::kClient) ShowWindow(main->HwndOf(e), SW_SHOWNA);
  }
  return main;
}

bool MainWindow::CreateControls(HFONT font) {
  // From the last entry to the first; the client connection control is
  // invisible at run time whatever its design says.
  int child_id = kFirstChildId;
  for (int32_t i = entry_count() - 1; i >= 1; --i, child_id += kChildIdStep) {
    DesignEntry& e = entries()[i];
    ControlRef ref = RefOf(e);
    Window* object = nullptr;
    if (e.kind == ControlKind::kClient) {
      RECT rect{e.left, e.top, e.left + e.width, e.top + e.height};
      object = CreateClientControl(ref, hwnd(), child_id, rect);
      if (object) object->SetDesignRef(ref);
    } else if (KindIsControl(e.kind)) {
      object = CreateDesignControl(e, ref, hwnd(), child_id, font);
    }
    if (!object) return false;
    SetLiveControl(ref, object);
  }
  return true;
}

void MainWindow::ArrangeControls() {
  // Each control under its parent entry's window (none means this window),
  // then the siblings stacked in design order, the first entry on top.
  for (int32_t i = 1; i < entry_count(); ++i) {
    const DesignEntry& e = entries()[i];
    if (e.parent <= 0 || e.parent >= entry_count()) continue;
    HWND parent = HwndOf(entries()[e.parent]);
    if (!parent) continue;
    SetParent(HwndOf(e), parent);
    SetWindowPos(HwndOf(e), nullptr, e.left, e.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  HWND above = HWND_TOP;
  for (int32_t i = 1; i < entry_count(); ++i) {
    HWND h = HwndOf(entries()[i]);
    SetWindowPos(h, above, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    above = h;
  }
}

void MainWindow::LayOutDockingBars() {
  RECT client;
  GetClientRect(hwnd(), &client);
  // The bar fits itself first: full client width at the bottom, as high as
  // its font needs.
  for (int32_t i = 1; i < entry_count(); ++i) {
    const DesignEntry& e = entries()[i];
    if (e.kind != ControlKind::kStatusBar || !e.live) continue;
    SendMessageW(HwndOf(e), WM_SIZE, SIZE_RESTORED, MAKELPARAM(client.right, client.bottom));
  }
  // Then the bottom bars stack upwards from the bottom, in reverse design
  // order. (This program has no bars docked at the top.)
  int bottom = client.bottom;
  for (int32_t i = entry_count() - 1; i >= 1; --i) {
    const DesignEntry& e = entries()[i];
    if (e.kind != ControlKind::kStatusBar || !e.live) continue;
    HWND bar = HwndOf(e);
    if (GetParent(bar) != hwnd()) continue;
    RECT r;
    GetWindowRect(bar, &r);
    MapWindowPoints(nullptr, hwnd(), reinterpret_cast<POINT*>(&r), 2);
    int h = r.bottom - r.top;
    if (r.left != 0 || r.top != bottom - h || r.right != client.right) {
      SetWindowPos(bar, nullptr, 0, bottom - h, client.right, h,
                   SWP_NOZORDER | SWP_NOACTIVATE);
    }
    bottom -= h;
  }
}

void MainWindow::Open() {
  HWND h = hwnd();
  if (!Raise(kEventCreated) || !Raise(kEventMoved) || !Raise(kEventSized)) return;
  if (entries()[0].visible) {
    // The created handler may have put the focus somewhere of this window
    // (at start-up: on the window itself); showing and activating the
    // window must leave it there.
    HWND noted = GetFocus();
    bool ours = noted && (noted == h || IsChild(h, noted));
    keep_focus_ = ours;
    ShowWindow(h, SW_SHOW);
    if (!IsWindow(h)) return;
    if (ours && GetFocus() != noted && IsWindow(noted)) SetFocus(noted);
    keep_focus_ = false;
    // A window that became active while hidden (the created handler focused
    // it) may come up with the caption of an inactive one: showing does not
    // activate it again. Draw the frame as what it is.
    if (GetActiveWindow() == h) SendMessageW(h, WM_NCACTIVATE, TRUE, 0);
    HWND focus = GetFocus();
    if (focus == h) {
      if (!Raise(kEventGotFocus)) return;
    } else if (DesignEntry* e = EntryOfHwnd(focus)) {
      if (KindTakesFocus(e->kind)) RaiseEvent(RefOf(*e), kEventGotFocus);
      if (!IsWindow(h)) return;
    }
  }
  built_ = true;
}

bool MainWindow::Raise(int32_t event) {
  HWND h = hwnd();
  RaiseEvent(RefOf(entries()[0]), event);
  return IsWindow(h) && Window::FromHwnd(h) == this;
}

DesignEntry* MainWindow::EntryOfHwnd(HWND hwnd) const {
  if (!hwnd) return nullptr;
  for (int32_t i = 1; i < entry_count(); ++i) {
    if (HwndOf(entries()[i]) == hwnd) return &entries()[i];
  }
  return nullptr;
}

Control* MainWindow::ControlOfHwnd(HWND hwnd) const {
  DesignEntry* e = EntryOfHwnd(hwnd);
  return e && KindIsControl(e->kind) ? static_cast<Control*>(e->live) : nullptr;
}

LRESULT MainWindow::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_ERASEBKGND: return OnEraseBackground(reinterpret_cast<HDC>(wp));
    case WM_SETFONT:
      font_ = reinterpret_cast<HFONT>(wp);
      return 0;
    case WM_GETFONT: return reinterpret_cast<LRESULT>(font_);
    case WM_SIZE:
      LayOutDockingBars();
      if (built_) Raise(kEventSized);
      return 0;
    case WM_MOVE:
      if (built_) Raise(kEventMoved);
      return 0;
    case WM_SETFOCUS: return OnSetFocus();
    case WM_KILLFOCUS:
      Raise(kEventLostFocus);
      return 0;
    case WM_ACTIVATE: return OnActivate(wp, lp);
    case WM_SHOWWINDOW:
      if (!Raise(wp ? kEventShown : kEventHidden)) return 0;
      return CallDefault(msg, wp, lp);
    case WM_CLOSE:
      if (MayClose()) DestroyWindow(hwnd());
      return 0;
    case WM_QUERYENDSESSION:
      if (!MayClose()) return FALSE;
      DestroyWindow(hwnd());
      return TRUE;
    case WM_DESTROY:
      // DestroyWindow takes a menu of the window along; this one has none.
      Raise(kEventDestroying);
      return 0;
    case WM_COMMAND:
      if (lp) return OnReflect(msg, wp, lp, reinterpret_cast<HWND>(lp));
      return CallDefault(msg, wp, lp);
    case WM_NOTIFY:
      return OnReflect(msg, wp, lp, reinterpret_cast<NMHDR*>(lp)->hwndFrom);
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
      return OnReflect(msg, wp, lp, reinterpret_cast<HWND>(lp));
    default: return CallDefault(msg, wp, lp);
  }
}

LRESULT MainWindow::OnEraseBackground(HDC dc) {
  RECT client;
  GetClientRect(hwnd(), &client);
  FillRect(dc, &client, GetSysColorBrush(COLOR_BTNFACE));
  return 1;
}

LRESULT MainWindow::OnReflect(UINT msg, WPARAM wp, LPARAM lp, HWND child) {
  if (Control* control = ControlOfHwnd(child)) {
    LRESULT result = 0;
    if (control->OnReflected(msg, wp, lp, &result)) return result;
  }
  return CallDefault(msg, wp, lp);
}

// The focus rule: the window hands the focus on to the control that had it
// when the window was last deactivated, else to the first control of the
// tab order; with none (the window is hidden) it keeps the focus itself.
LRESULT MainWindow::OnSetFocus() {
  if (keep_focus_) return 0;  // the build's own showing of the window
  if (!Raise(kEventGotFocus)) return 0;
  HWND remembered = remembered_focus_;
  remembered_focus_ = nullptr;
  if (remembered && IsWindow(remembered) && IsChild(hwnd(), remembered)) {
    SetFocus(remembered);
    return 0;
  }
  HWND order[kMaxTabOrder];
  if (TabOrder(order) > 0) SetFocus(order[0]);
  return 0;
}

LRESULT MainWindow::OnActivate(WPARAM wp, LPARAM lp) {
  if (LOWORD(wp) == WA_INACTIVE) {
    // Still the focus of the moment: the system takes it away afterwards.
    HWND focus = GetFocus();
    if (focus && IsChild(hwnd(), focus)) remembered_focus_ = focus;
    if (!Raise(kEventDeactivated)) return 0;
  } else {
    if (!Raise(kEventActivated)) return 0;
    if (!activated_before_) {
      activated_before_ = true;
      if (!Raise(kEventFirstActivated)) return 0;
    }
  }
  // The default gives the focus to the window on activation, which leads
  // to the focus rule.
  return CallDefault(WM_ACTIVATE, wp, lp);
}

int32_t MainWindow::TabOrder(HWND* order) const {
  // The scan runs from the last entry to the first; a stable insertion by
  // tab-order value keeps that order among equal values.
  int32_t values[kMaxTabOrder];
  int32_t n = 0;
  for (int32_t i = entry_count() - 1; i >= 1 && n < kMaxTabOrder; --i) {
    const DesignEntry& e = entries()[i];
    HWND h = HwndOf(e);
    if (!h || !KindTakesFocus(e.kind) || !e.tab_stop) continue;
    if (!IsWindowVisible(h) || !IsWindowEnabled(h)) continue;
    int32_t j = n++;
    for (; j > 0 && values[j - 1] > e.tab_order; --j) {
      values[j] = values[j - 1];
      order[j] = order[j - 1];
    }
    values[j] = e.tab_order;
    order[j] = h;
  }
  return n;
}

void MainWindow::MoveFocus(bool forward) {
  HWND focus = GetFocus();
  if (!focus || focus == hwnd() || !IsChild(hwnd(), focus)) return;
  HWND order[kMaxTabOrder];
  int32_t n = TabOrder(order);
  if (n == 0) return;
  int32_t at = -1;
  for (int32_t i = 0; i < n; ++i) {
    if (order[i] == focus) at = i;
  }
  int32_t next;
  if (at < 0) {
    next = forward ? 0 : n - 1;  // from a control outside the tab order
  } else {
    next = forward ? (at + 1) % n : (at + n - 1) % n;
  }
  SetFocus(order[next]);
}

bool IsDefaultButton(HWND h) {
  return (GetWindowLongW(h, GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON;
}

bool MainWindow::OnEnter() {
  HWND focus = GetFocus();
  if (DesignEntry* e = EntryOfHwnd(focus)) {
    LONG style = GetWindowLongW(focus, GWL_STYLE);
    if (e->kind == ControlKind::kEditBox && (style & ES_MULTILINE) && !(style & ES_READONLY)) {
      return false;  // the box takes Enter for a new line
    }
    if (e->kind == ControlKind::kButton && IsDefaultButton(focus)) {
      RaiseEvent(RefOf(*e), kEventClicked);
      return true;
    }
  }
  if (kEnterMovesFocus) {
    MoveFocus(true);
    return true;
  }
  for (int32_t i = 1; i < entry_count(); ++i) {
    const DesignEntry& e = entries()[i];
    HWND h = HwndOf(e);
    if (h && e.kind == ControlKind::kButton && IsDefaultButton(h) && IsWindowVisible(h) &&
        IsWindowEnabled(h)) {
      RaiseEvent(RefOf(e), kEventClicked);
      break;
    }
  }
  return true;
}

// True when `text` holds "&" followed by `key` (an upper-case letter or a
// digit); "&&" is a literal ampersand.
bool HasMnemonic(const wchar_t* text, wchar_t key) {
  for (const wchar_t* p = text; *p; ++p) {
    if (*p != L'&') continue;
    ++p;
    if (!*p) break;
    if (*p == L'&') continue;
    wchar_t c = *p;
    if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
    if (c == key) return true;
  }
  return false;
}

bool MainWindow::ActivateMnemonic(wchar_t key) {
  for (int32_t i = 1; i < entry_count(); ++i) {
    const DesignEntry& e = entries()[i];
    HWND h = HwndOf(e);
    if (!h || e.kind == ControlKind::kClient || !IsWindowVisible(h) || !IsWindowEnabled(h)) continue;
    wchar_t text[256];
    GetWindowTextW(h, text, static_cast<int>(sizeof text / sizeof text[0]));
    if (!HasMnemonic(text, key)) continue;
    if (e.kind == ControlKind::kButton) {
      SetFocus(h);
      RaiseEvent(RefOf(e), kEventClicked);
    } else if (KindTakesFocus(e.kind)) {
      SetFocus(h);
    } else {
      // A label hands the focus to the next control of the creation order
      // (the entries before it) that can take it.
      for (int32_t j = i - 1; j >= 1; --j) {
        HWND next = HwndOf(entries()[j]);
        if (next && KindTakesFocus(entries()[j].kind) && IsWindowVisible(next) &&
            IsWindowEnabled(next)) {
          SetFocus(next);
          break;
        }
      }
    }
    return true;
  }
  return false;
}

bool MainWindow::PreTranslate(const MSG& msg) {
  if (msg.message != WM_KEYDOWN && msg.message != WM_SYSKEYDOWN) return false;
  bool ctrl = GetKeyState(VK_CONTROL) < 0;
  bool shift = GetKeyState(VK_SHIFT) < 0;
  bool alt = msg.message == WM_SYSKEYDOWN ? (msg.lParam & (1 << 29)) != 0 : GetKeyState(VK_MENU) < 0;
  UINT key = static_cast<UINT>(msg.wParam);

  if (key == VK_TAB && !ctrl && !alt) {
    MoveFocus(!shift);
    return true;
  }
  if (!ctrl && !shift && !alt) {
    if (key == VK_RETURN) return OnEnter();
    // Escape does not close this window and F1 opens no help.
    if (key == VK_ESCAPE || key == VK_F1) return true;
  }
  if (alt && !ctrl && !shift) {
    wchar_t c = 0;
    if ((key >= 'A' && key <= 'Z') || (key >= '0' && key <= '9')) c = static_cast<wchar_t>(key);
    if (key >= VK_NUMPAD0 && key <= VK_NUMPAD9) c = static_cast<wchar_t>(L'0' + key - VK_NUMPAD0);
    if (c && ActivateMnemonic(c)) return true;
  }
  return false;
}

bool MainWindow::MayClose() {
  HWND h = hwnd();
  const DesignEntry& top = entries()[0];
  EventRecord record{design_->window_id, top.control_id, kEventMayClose, 0, nullptr, 0, 0};
  bool ran = RaiseEvent(record);
  if (!IsWindow(h)) return false;  // a handler closed it already
  return !(ran && record.has_result && record.result == 0);
}

void MainWindow::OnFinalDestroy() {
  // The controls reported themselves gone as their windows went, and this
  // window's entry was cleared just before; what is left live (a control
  // that failed to report) is cleared too, so the design is as before the
  // build and the window could be built again.
  for (int32_t i = 0; i < entry_count(); ++i) {
    if (entries()[i].live) SetLiveControl(RefOf(entries()[i]), nullptr);
  }
  delete this;
  OnProgramWindowDestroyed();
}

}  // namespace

bool LoadWindow(uint32_t window_id) {
  WindowDesign* design = FindDesign(window_id);
  if (!design || design->entry_count < 1) return false;
  const DesignEntry& top = design->entries[0];
  if (top.live && IsWindow(top.live->hwnd())) {
    HWND h = top.live->hwnd();
    if (IsIconic(h)) {
      ShowWindow(h, SW_RESTORE);
    } else {
      SetActiveWindow(h);
    }
    return true;
  }
  SuspendEvents();  // no handler runs while the window is built
  MainWindow* main = MainWindow::Build(design);
  ResumeEvents();
  if (!main) return false;
  main->Open();
  return true;
}

bool PreTranslateProgramMessage(MSG& msg) {
  // Offered to the window the message is for and then to each parent up to
  // the top-level window; only the main windows pre-process keys.
  for (HWND h = msg.hwnd; h; h = GetAncestor(h, GA_PARENT)) {
    if (MainWindow* main = MainWindow::FromTopLevel(h)) return main->PreTranslate(msg);
    if (!(GetWindowLongW(h, GWL_STYLE) & WS_CHILD)) break;
  }
  return false;
}

void DestroyProgramWindows() {
  while (MainWindow* w = g_first_window) {
    DestroyWindow(w->hwnd());
    if (g_first_window == w) break;  // could not be destroyed (another thread's?)
  }
}
