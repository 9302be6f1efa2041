// What the clock synchronisation logic needs from the window and network
// layer, and nothing more. The Windows layer (app/, net/) implements these;
// the native tests and the fuzzers link fakes, so the logic in sync/ builds
// and runs without <windows.h>.
#pragma once

#include <cstdint>

#include "values/text.h"

// A control reference: the window id and the control id of the window design.
struct ControlRef {
  uint32_t window_id;
  uint32_t control_id;
};

constexpr uint32_t kMainWindowId = 0x52010001;
constexpr ControlRef kMainWindowRef{kMainWindowId, 0x06010000};
constexpr ControlRef kResyncButtonRef{kMainWindowId, 0x16010035};  // 按钮1
constexpr ControlRef kStatusBarRef{kMainWindowId, 0x1601000B};     // 状态条1
constexpr ControlRef kClientRef{kMainWindowId, 0x16010007};        // 客户1
constexpr ControlRef kEditBoxRef{kMainWindowId, 0x16010006};       // 编辑框2
constexpr ControlRef kLabelRef{kMainWindowId, 0x16010004};         // 标签2

// Status bar part `part` of the control; any thread. Returns the bar's answer.
int32_t SetStatusText(ControlRef control, int32_t part, const char* text);
// Content text of an edit box; user-interface thread.
void SetControlText(ControlRef control, const char* text);
// Keyboard focus to the control, or to the window for its own control id.
void SetControlFocus(ControlRef control);

// Connects the client control; blocks the calling thread. When `connection`
// is given it receives the serial number of the connection this call made
// (serials grow by one per attempt, starting at 1; 0 when no socket was made).
bool ConnectClient(ControlRef control, const char* host, int32_t port,
                   uint32_t* connection = nullptr);
// A fresh copy of the bytes of the data-arrival event being raised, or null.
ByteBuffer* GetReceivedData(ControlRef control);
// The serial of the connection whose event is being raised (data arrival or
// connection closed); 0 outside those events.
uint32_t GetEventConnection(ControlRef control);
// Inside the connection-closed event: 0 when the server closed in order,
// else the network error of the close (a reset or an abort).
int32_t GetEventCloseError(ControlRef control);

// Runs `routine(parameter)` on a new thread; the handle is closed unless
// `thread_handle` is given, which then receives it and owns it.
using ThreadRoutine = uint32_t (*)(uint32_t parameter);
bool StartThread(ThreadRoutine routine, uint32_t parameter = 0, uintptr_t* thread_handle = nullptr);

// Runs `fn(arg)` on the user-interface thread and returns when it has run
// (a sent message). Called from the user-interface thread it runs at once.
// When the main window is gone it does not run `fn` and returns false.
bool RunOnUiThread(void (*fn)(void* arg), void* arg);
