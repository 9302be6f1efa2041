// The controls that the window building makes from a design entry: the
// self-painting label, the read-only edit box, the push button and the
// status bar. (The client connection control is net/client.h.)
// User-interface thread only.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <cstdint>

#include "app/design.h"
#include "app/window_base.h"

// A design-made control. Its parent hands it back what it sent up
// (WM_COMMAND, WM_NOTIFY, WM_CTLCOLOR*), so that each control answers its
// own notifications instead of the main window knowing every kind.
class Control : public Window {
 public:
  // True, with the answer in *result, when the control handled the message.
  virtual bool OnReflected(UINT msg, WPARAM wp, LPARAM lp, LRESULT* result);

 protected:
  explicit Control(bool raises_focus_events) : raises_focus_events_(raises_focus_events) {}
  // Raises the got / lost focus events of the focusable kinds.
  LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp) override;

 private:
  bool raises_focus_events_;
};

// True for the kinds that can take the keyboard focus (the edit box and the
// button); the label, the status bar and the client connection control
// cannot.
bool KindTakesFocus(ControlKind kind);
// True for the kinds that CreateDesignControl makes (and that are therefore
// Control objects).
bool KindIsControl(ControlKind kind);

// Makes the control of `entry` as a hidden child of `parent` with the child
// id `child_id`, its kind's styles plus WS_TABSTOP / WS_DISABLED from the
// design flags, the design rectangle, the design text and `font`.
// Null when the window could not be created.
Control* CreateDesignControl(const DesignEntry& entry, ControlRef ref, HWND parent, int child_id,
                             HFONT font);

// The window styles of each kind, before the design flags are added.
constexpr DWORD kLabelStyle = WS_CHILD | WS_CLIPSIBLINGS;
constexpr DWORD kEditBoxStyle = WS_CHILD | WS_CLIPSIBLINGS | ES_LEFT | ES_AUTOHSCROLL | ES_READONLY;
constexpr DWORD kButtonStyle =
    WS_CHILD | WS_CLIPSIBLINGS | BS_PUSHBUTTON | BS_CENTER | BS_VCENTER | BS_MULTILINE;
constexpr DWORD kStatusBarStyle = WS_CHILD | CCS_BOTTOM | SBT_TOOLTIPS;

// The label's DrawText format: one line, left-aligned, centred vertically;
// an "&" underlines the next character.
constexpr UINT kLabelDrawFormat = DT_LEFT | DT_NOCLIP | DT_SINGLELINE | DT_VCENTER;  // 0x124
// The class of the label; left to this program.
extern const wchar_t kLabelClass[];
