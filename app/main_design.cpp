// The design of the program's one window, the main window 0x52010001, as
// data: its entries in design order with their rectangles, flags, texts and
// event bindings. The window building (app/window.cpp) makes the window and
// its controls from it. Kept apart from the design registry so that a test
// that installs designs of its own does not link the program's handlers.
#include "app/design.h"
#include "sync/handlers.h"

namespace {

const EventBinding kMainWindowEvents[] = {{kEventCreated, OnMainWindowCreated}};
const EventBinding kResyncButtonEvents[] = {{kEventClicked, OnResyncClicked}};
// The connection-closed handler finishes a reply that the server ends by
// closing the connection.
const EventBinding kClientEvents[] = {{kEventDataArrival, OnClientDataArrived},
                                      {kEventClosed, OnClientConnectionClosed}};

template <int32_t N>
constexpr int32_t Count(const EventBinding (&)[N]) {
  return N;
}

const char kCaption[] = "Kestrivo V1.0";
const char kButtonName[] = "\xB0\xB4\xC5\xA5" "1";                // 按钮1
const char kStatusBarName[] = "\xD7\xB4\xCC\xAC\xCC\xF5" "1";     // 状态条1
const char kClientName[] = "\xBF\xCD\xBB\xA7" "1";                // 客户1
const char kEditBoxName[] = "\xB1\xE0\xBC\xAD\xBF\xF2" "2";       // 编辑框2
const char kLabelName[] = "\xB1\xEA\xC7\xA9" "2";                 // 标签2
const char kButtonText[] = "\xD6\xD8\xD0\xC2\xD0\xA3\xCA\xB1";    // 重新校时
const char kLabelText[] = "\xCD\xF8\xC2\xE7\xCA\xB1\xBC\xE4:";    // 网络时间:

// Rectangles are left, top, width, height: the window's outer size, the
// controls' in client coordinates. The window's left and top and the status
// bar's rectangle are design values that the building does not use (the
// window is centred, the bar docks at the bottom).
DesignEntry g_main_entries[] = {
    // control id, kind, name, left, top, width, height, parent, visible, disabled, tab stop,
    // tab-order value, events, text, live object
    {0x06010000, ControlKind::kMainWindow, "", 50, 50, 271, 86, -1, true, false, false, 0,
     kMainWindowEvents, Count(kMainWindowEvents), kCaption, nullptr},
    {0x16010035, ControlKind::kButton, kButtonName, 192, 8, 64, 20, -1, true, false, true, 0,
     kResyncButtonEvents, Count(kResyncButtonEvents), kButtonText, nullptr},
    {0x1601000B, ControlKind::kStatusBar, kStatusBarName, 0, 120, 201, 20, -1, true, false, false,
     0, nullptr, 0, nullptr, nullptr},
    {0x16010007, ControlKind::kClient, kClientName, 24, 16, 26, 26, -1, false, false, false, 0,
     kClientEvents, Count(kClientEvents), nullptr, nullptr},
    {0x16010006, ControlKind::kEditBox, kEditBoxName, 64, 8, 120, 20, -1, true, false, true, 0,
     nullptr, 0, "", nullptr},
    {0x16010004, ControlKind::kLabel, kLabelName, 8, 8, 56, 24, -1, true, false, false, 0, nullptr,
     0, kLabelText, nullptr},
};

WindowDesign g_program_designs[] = {
    {kMainWindowId, g_main_entries,
     static_cast<int32_t>(sizeof g_main_entries / sizeof g_main_entries[0])},
};

}  // namespace

bool ReadWindowDesigns() {
  // The design is compiled in, so reading cannot fail short of a broken
  // build; the check keeps the start-up's fatal path meaningful.
  if (g_program_designs[0].entry_count < 1 ||
      g_main_entries[0].kind != ControlKind::kMainWindow) {
    return false;
  }
  for (DesignEntry& e : g_main_entries) e.live = nullptr;
  InstallWindowDesigns(g_program_designs, 1);
  return true;
}
