#include "app/window_controls.h"

#include "app/gbk.h"

const wchar_t kLabelClass[] = L"KestrivoLabel";

namespace {

HINSTANCE Instance() { return GetModuleHandleW(nullptr); }

// The background colour that a control left at its default uses.
HBRUSH DefaultBackground() { return GetSysColorBrush(COLOR_BTNFACE); }

// The label 标签2: a window of the program's own class that paints its text
// itself on the default background.
class Label final : public Control {
 public:
  static Label* Create(const DesignEntry& e, DWORD style, HWND parent, int id, HFONT font) {
    ATOM atom = RegisterOwnClass(kLabelClass, CS_DBLCLKS | CS_HREDRAW | CS_VREDRAW,
                                 LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW)), nullptr);
    if (!atom) return nullptr;
    auto* label = new Label;
    if (!label->CreateOwn(kLabelClass, 0, style, WideText(e.text).get(), e.left, e.top, e.width,
                          e.height, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)))) {
      delete label;
      return nullptr;
    }
    SendMessageW(label->hwnd(), WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    return label;
  }

 private:
  Label() : Control(false) {}
  ~Label() override = default;

  LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp) override {
    switch (msg) {
      case WM_PAINT: return OnPaint();
      case WM_PRINTCLIENT: return OnPrintClient(reinterpret_cast<HDC>(wp));
      case WM_ERASEBKGND: return 1;  // WM_PAINT fills the whole area
      case WM_SETFONT: return OnSetFont(reinterpret_cast<HFONT>(wp), LOWORD(lp) != 0);
      case WM_GETFONT: return reinterpret_cast<LRESULT>(font_);
      case WM_SETTEXT: {
        LRESULT r = Control::HandleMessage(msg, wp, lp);
        InvalidateRect(hwnd(), nullptr, FALSE);
        return r;
      }
      default: return Control::HandleMessage(msg, wp, lp);
    }
  }

  LRESULT OnPaint() {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd(), &ps);
    Paint(dc, ps.rcPaint);
    EndPaint(hwnd(), &ps);
    return 0;
  }

  // WM_PRINTCLIENT: the whole label into a caller's DC.
  LRESULT OnPrintClient(HDC dc) {
    RECT client;
    GetClientRect(hwnd(), &client);
    Paint(dc, client);
    return 0;
  }

  void Paint(HDC dc, const RECT& area) {
    FillRect(dc, &area, DefaultBackground());
    HGDIOBJ old_font = SelectObject(dc, font_ ? font_ : GetStockObject(DEFAULT_GUI_FONT));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(0, 0, 0));
    // The window text is the UTF-16 form of the design text (GBK).
    wchar_t text[256];
    int n = GetWindowTextW(hwnd(), text, static_cast<int>(sizeof text / sizeof text[0]));
    RECT client;
    GetClientRect(hwnd(), &client);
    DrawTextW(dc, text, n, &client, kLabelDrawFormat);
    SelectObject(dc, old_font);
  }

  LRESULT OnSetFont(HFONT font, bool redraw) {
    font_ = font;
    if (redraw) InvalidateRect(hwnd(), nullptr, FALSE);
    return 0;
  }

  HFONT font_ = nullptr;
};

// The edit box 编辑框2: a read-only EDIT that keeps black on white.
class EditBox final : public Control {
 public:
  static EditBox* Create(const DesignEntry& e, DWORD style, HWND parent, int id, HFONT font) {
    auto* box = new EditBox;
    if (!box->CreateSystem(L"EDIT", 0, style, WideText(e.text).get(), e.left, e.top, e.width,
                           e.height, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)))) {
      delete box;
      return nullptr;
    }
    HWND h = box->hwnd();
    // The sunken border goes on after creation, as the frame change that it is.
    SetWindowLongW(h, GWL_EXSTYLE, GetWindowLongW(h, GWL_EXSTYLE) | WS_EX_CLIENTEDGE);
    SetWindowPos(h, nullptr, 0, 0, 0, 0,
                 SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    SendMessageW(h, EM_LIMITTEXT, 0, 0);  // the system maximum
    SendMessageW(h, EM_SETSEL, 0, 0);
    SendMessageW(h, EM_SCROLLCARET, 0, 0);
    box->KeepMinimumHeight(font, e.width, e.height);
    return box;
  }

  bool OnReflected(UINT msg, WPARAM wp, LPARAM, LRESULT* result) override {
    // A read-only box asks with WM_CTLCOLORSTATIC and would be drawn grey.
    if (msg != WM_CTLCOLOREDIT && msg != WM_CTLCOLORSTATIC) return false;
    HDC dc = reinterpret_cast<HDC>(wp);
    SetTextColor(dc, kTextColour);
    SetBkColor(dc, kBackColour);
    *result = reinterpret_cast<LRESULT>(brush_);
    return true;
  }

 private:
  static constexpr COLORREF kTextColour = RGB(0, 0, 0);
  static constexpr COLORREF kBackColour = RGB(255, 255, 255);

  EditBox() : Control(true), brush_(CreateSolidBrush(kBackColour)) {}
  ~EditBox() override { DeleteObject(brush_); }

  // A single-line box lower than one line of text in its font plus its
  // sunken edges is made that high; "吴" stands for the tallest glyphs.
  void KeepMinimumHeight(HFONT font, int width, int height) {
    HDC dc = GetDC(hwnd());
    HGDIOBJ old = SelectObject(dc, font);
    SIZE size{0, 0};
    GetTextExtentPoint32W(dc, L"\x5434", 1, &size);  // 吴
    SelectObject(dc, old);
    ReleaseDC(hwnd(), dc);
    int minimum = size.cy + 2 * GetSystemMetrics(SM_CYEDGE);
    if (height < minimum) {
      SetWindowPos(hwnd(), nullptr, 0, 0, width, minimum,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
  }

  HBRUSH brush_;
};

// The push button 按钮1: its click is the button's event 0.
class PushButton final : public Control {
 public:
  static PushButton* Create(const DesignEntry& e, DWORD style, HWND parent, int id, HFONT font) {
    auto* button = new PushButton;
    if (!button->CreateSystem(L"BUTTON", 0, style, WideText(e.text).get(), e.left, e.top, e.width,
                              e.height, parent,
                              reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)))) {
      delete button;
      return nullptr;
    }
    SendMessageW(button->hwnd(), WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    return button;
  }

  bool OnReflected(UINT msg, WPARAM wp, LPARAM, LRESULT* result) override {
    if (msg != WM_COMMAND || HIWORD(wp) != BN_CLICKED) return false;
    RaiseEvent(ref(), kEventClicked);
    *result = 0;
    return true;
  }

 private:
  PushButton() : Control(true) {}
  ~PushButton() override = default;
};

// The status bar 状态条1: a common-controls bar whose parts come from the
// part table that the design registry keeps for it.
class StatusBar final : public Control {
 public:
  static StatusBar* Create(const DesignEntry& e, ControlRef ref, DWORD style, HWND parent, int id,
                           HFONT font) {
    static bool classes_ready = false;
    if (!classes_ready) {
      INITCOMMONCONTROLSEX icc{sizeof icc, ICC_BAR_CLASSES};
      classes_ready = InitCommonControlsEx(&icc) != FALSE;
    }
    auto* bar = new StatusBar;
    if (!bar->CreateSystem(STATUSCLASSNAMEW, 0, style, L"", e.left, e.top, e.width, e.height,
                           parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)))) {
      delete bar;
      return nullptr;
    }
    HWND h = bar->hwnd();
    SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    SendMessageW(h, CCM_SETBKCOLOR, 0, static_cast<LPARAM>(GetSysColor(COLOR_BTNFACE)));
    bar->SetUpParts(ref);
    return bar;
  }

 private:
  static constexpr int32_t kMaxParts = 256;  // what SB_SETPARTS accepts

  StatusBar() : Control(false) {}
  ~StatusBar() override = default;

  void SetUpParts(ControlRef ref) {
    int32_t count = StatusPartCount(ref);
    const StatusPart* parts = StatusParts(ref);
    if (!parts || count <= 0) return;
    if (count > kMaxParts) count = kMaxParts;

    // Right edges: the running sum of the widths; a part of width -1 reaches
    // the right edge of the bar, and so does every part after it.
    int edges[kMaxParts];
    int right = 0;
    bool to_edge = false;
    for (int32_t i = 0; i < count; ++i) {
      if (!to_edge && parts[i].width == -1) to_edge = true;
      if (!to_edge) right += parts[i].width;
      edges[i] = to_edge ? -1 : right;
    }
    HWND h = hwnd();
    BOOL was_simple = static_cast<BOOL>(SendMessageW(h, SB_ISSIMPLE, 0, 0));
    SendMessageW(h, SB_SIMPLE, FALSE, 0);
    if (!SendMessageW(h, SB_SETPARTS, static_cast<WPARAM>(count), reinterpret_cast<LPARAM>(edges))) {
      SendMessageW(h, SB_SIMPLE, was_simple, 0);
      return;
    }
    for (int32_t i = 0; i < count; ++i) {
      SendMessageW(h, SB_SETTEXTW, static_cast<WPARAM>(i | parts[i].style),
                   reinterpret_cast<LPARAM>(WideText(parts[i].text).get()));
      // An icon index would name an image of the bar's image list; the bars
      // of this program have neither.
      SendMessageW(h, SB_SETTIPTEXTW, static_cast<WPARAM>(i),
                   reinterpret_cast<LPARAM>(WideText(parts[i].tooltip).get()));
    }
  }
};

}  // namespace

bool Control::OnReflected(UINT, WPARAM, LPARAM, LRESULT*) { return false; }

LRESULT Control::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
  if (raises_focus_events_ && (msg == WM_SETFOCUS || msg == WM_KILLFOCUS)) {
    // The control's own processing first (caret, focus rectangle); the
    // event then sees the focus where it has gone.
    HWND self = hwnd();
    ControlRef source = ref();
    LRESULT r = CallDefault(msg, wp, lp);
    if (IsWindow(self)) RaiseEvent(source, msg == WM_SETFOCUS ? kEventGotFocus : kEventLostFocus);
    return r;
  }
  return CallDefault(msg, wp, lp);
}

bool KindTakesFocus(ControlKind kind) {
  return kind == ControlKind::kEditBox || kind == ControlKind::kButton;
}

bool KindIsControl(ControlKind kind) {
  switch (kind) {
    case ControlKind::kLabel:
    case ControlKind::kEditBox:
    case ControlKind::kButton:
    case ControlKind::kStatusBar:
      return true;
    default:
      return false;
  }
}

Control* CreateDesignControl(const DesignEntry& e, ControlRef ref, HWND parent, int child_id,
                             HFONT font) {
  DWORD flags = (e.tab_stop ? WS_TABSTOP : 0) | (e.disabled ? WS_DISABLED : 0);
  Control* control = nullptr;
  switch (e.kind) {
    case ControlKind::kLabel:
      control = Label::Create(e, kLabelStyle | flags, parent, child_id, font);
      break;
    case ControlKind::kEditBox:
      control = EditBox::Create(e, kEditBoxStyle | flags, parent, child_id, font);
      break;
    case ControlKind::kButton:
      control = PushButton::Create(e, kButtonStyle | flags, parent, child_id, font);
      break;
    case ControlKind::kStatusBar:
      control = StatusBar::Create(e, ref, kStatusBarStyle | flags, parent, child_id, font);
      break;
    default:
      break;
  }
  if (control) control->SetDesignRef(ref);
  return control;
}
