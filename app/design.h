// Window designs, control lookup and event raising: where the logic and the
// controls meet.
//
// Threads: the designs are read at start-up on the user-interface thread and
// do not change while a window exists; live objects are set and cleared on
// the user-interface thread under the design lock, so a worker thread that
// looks a control up under that lock sees a whole pointer or none. The event
// suspension count is atomic: any thread may raise it.
#pragma once

#include <windows.h>

#include <cstdint>

#include "sync/platform.h"

class Window;

// The kinds of entry a design holds.
enum class ControlKind : int32_t { kMainWindow, kButton, kStatusBar, kClient, kEditBox, kLabel };

// Event numbers.
constexpr int32_t kEventCreated = 0;      // main window
constexpr int32_t kEventMayClose = 1;
constexpr int32_t kEventDestroying = 2;
constexpr int32_t kEventMoved = 3;
constexpr int32_t kEventSized = 4;
constexpr int32_t kEventActivated = 5;
constexpr int32_t kEventDeactivated = 6;
constexpr int32_t kEventIdle = 7;
constexpr int32_t kEventFirstActivated = 8;
constexpr int32_t kEventShown = 10;
constexpr int32_t kEventHidden = 11;
constexpr int32_t kEventGotFocus = -7;
constexpr int32_t kEventLostFocus = -8;
constexpr int32_t kEventClicked = 0;      // 按钮1
constexpr int32_t kEventDataArrival = 0;  // 客户1
constexpr int32_t kEventClosed = 1;       // 客户1

using EventHandler = void (*)();

struct EventBinding {
  int32_t event;
  EventHandler handler;
};

struct EventRecord {
  uint32_t window_id;
  uint32_t control_id;
  int32_t event;
  int32_t argument_count;
  const int32_t* arguments;
  int32_t has_result;
  int32_t result;
};

// One status bar part.
struct StatusPart {
  int32_t width;   // -1: up to the right edge
  int32_t style;   // 0 sunken, 0x100 no border, 0x200 raised
  int32_t icon;    // -1: none
  const char* text;
  const char* tooltip;
};

struct DesignEntry {
  uint32_t control_id;
  ControlKind kind;
  const char* name;  // GBK; empty for the window itself
  int32_t left, top, width, height;
  int32_t parent;  // entry index, -1: the main window
  bool visible;
  bool disabled;
  bool tab_stop;
  int32_t tab_order;
  const EventBinding* events;
  int32_t event_count;
  const char* text;  // caption or initial text, GBK; null for none
  Window* live;      // the object the entry has made, or null
};

struct WindowDesign {
  uint32_t window_id;
  DesignEntry* entries;
  int32_t entry_count;
};

// Reads the program's window designs into the application state (the main
// window's design, with its event bindings). False when they cannot be read.
bool ReadWindowDesigns();
void ForgetWindowDesigns();
// Tests use designs of their own in place of the program's.
void InstallWindowDesigns(WindowDesign* designs, int32_t count);
WindowDesign* FindDesign(uint32_t window_id);
DesignEntry* FindEntry(WindowDesign* design, uint32_t control_id);  // 0: entry 0

// The design lock: held while a live object is set, cleared or read by a
// thread other than the user-interface thread.
void LockDesigns();
void UnlockDesigns();
struct DesignLock {
  DesignLock() { LockDesigns(); }
  ~DesignLock() { UnlockDesigns(); }
  DesignLock(const DesignLock&) = delete;
  DesignLock& operator=(const DesignLock&) = delete;
};

// "指定窗口或窗口组件不存在或尚未载入": the message of a failed lookup.
extern const char kTextNoSuchControl[];

// The live object of the entry, or the fatal error "指定窗口或窗口组件不存在
// 或尚未载入". Any thread.
Window* FindControl(ControlRef control);
// The same without the fatal error: null when the control is not live.
// Callers on other threads hold the design lock while they use the result.
Window* FindLiveControl(ControlRef control);

// Set by the window building; cleared by a design-made Window on WM_NCDESTROY.
void SetLiveControl(ControlRef control, Window* object);
void ReportControlGone(ControlRef control, Window* object);

// Event raising.
bool RaiseEvent(EventRecord& record);
bool RaiseEvent(ControlRef source, int32_t event);  // no arguments
void SuspendEvents();  // +1
void ResumeEvents();   // -1
int32_t EventSuspensionCount();
ControlRef CurrentEventSource();

// The status bar's part table (kept here, not in the bar object, so that a
// late write from a worker never touches a freed control).
int32_t StatusPartCount(ControlRef bar);
StatusPart* StatusParts(ControlRef bar);
