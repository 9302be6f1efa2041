// The operations that the clock logic performs on controls.
//
// SetStatusText may run on a worker thread: it copies the text and takes
// the design lock only to swap the part text and take the bar's HWND, and
// sends the bar message after letting the lock go. Holding the lock across
// the send would deadlock with a user-interface thread that destroys the
// bar (ReportControlGone takes the lock) while the worker waits for it.
#include "app/controls.h"

#include <commctrl.h>

#include "app/design.h"
#include "app/gbk.h"
#include "app/window_base.h"
#include "values/error.h"
#include "values/memory.h"
#include "values/text.h"

namespace {

// "未载入欲访问窗口组件所在的窗口"
const char kWindowNotLoaded[] =
    "\xCE\xB4\xD4\xD8\xC8\xEB\xD3\xFB\xB7\xC3\xCE\xCA\xB4\xB0\xBF\xDA\xD7\xE9\xBC\xFE\xCB\xF9\xD4"
    "\xDA\xB5\xC4\xB4\xB0\xBF\xDA";
// "指定窗口尚未载入"
const char kControlNotLoaded[] = "\xD6\xB8\xB6\xA8\xB4\xB0\xBF\xDA\xC9\xD0\xCE\xB4\xD4\xD8\xC8\xEB";

// The edit box's content-changed event; no handler is bound to it here.
constexpr int32_t kEventContentChanged = 0;

// The content texts of the edit boxes (property 8). User-interface thread.
struct ContentText {
  uint32_t window_id;
  uint32_t control_id;
  char* text;  // a block, or null for the empty text
};
constexpr int32_t kMaxContentTexts = 4;
ContentText g_content[kMaxContentTexts];

ContentText* ContentSlot(ControlRef control, bool make) {
  ContentText* free_slot = nullptr;
  for (ContentText& c : g_content) {
    if (c.window_id == control.window_id && c.control_id == control.control_id) return &c;
    if (!free_slot && c.window_id == 0 && c.control_id == 0) free_slot = &c;
  }
  if (!make || !free_slot) return nullptr;
  free_slot->window_id = control.window_id;
  free_slot->control_id = control.control_id;
  return free_slot;
}

bool EntryExists(ControlRef control) {
  DesignLock lock;
  return FindEntry(FindDesign(control.window_id), control.control_id) != nullptr;
}

}  // namespace

int32_t SetStatusText(ControlRef control, int32_t part, const char* text) {
  // A reference that names no entry is a fault of the program. An entry
  // whose bar is gone is not: a worker still connecting when the main
  // window closes writes its text into nothing.
  if (!EntryExists(control)) ReportFatalError(kTextNoSuchControl, 0);
  if (part < 0) return 0;

  // Converted before the lock, from the caller's text: the copy in the table
  // may be replaced and released by another writer as soon as the lock goes.
  WideText wide(text);
  char* copy = CopyText(text);
  HWND bar = nullptr;
  int32_t style = 0;
  if (!WriteStatusPart(control, part, copy, &bar, &style)) {
    ReleaseBlock(copy);
    return 0;
  }
  // Sent, not posted: a worker waits here until the user-interface thread
  // has shown the text. If the bar has been destroyed meanwhile the send
  // fails and returns 0.
  return static_cast<int32_t>(SendMessageW(bar, SB_SETTEXTW,
                                           static_cast<WPARAM>(part | style),
                                           reinterpret_cast<LPARAM>(wide.get())));
}

void SetControlText(ControlRef control, const char* text) {
  WindowDesign* design = FindDesign(control.window_id);
  if (!design) ReportFatalError(kWindowNotLoaded, 0);
  DesignEntry* entry = FindEntry(design, control.control_id);
  Window* object = entry ? entry->live : nullptr;
  if (!object || !object->hwnd() || !IsWindow(object->hwnd())) {
    ReportFatalError(kControlNotLoaded, 0);
  }

  char* copy = CopyText(text);  // null for an absent or empty text
  if (ContentText* slot = ContentSlot(control, true)) {
    ReleaseBlock(slot->text);
    slot->text = copy;
  } else {
    ReleaseBlock(copy);
  }
  SetWindowTextW(object->hwnd(), WideText(text).get());
  RaiseEvent(control, kEventContentChanged);
}

void SetControlFocus(ControlRef control) { SetFocus(FindControl(control)->hwnd()); }

const char* ControlContentText(ControlRef control) {
  ContentText* slot = ContentSlot(control, false);
  return slot ? slot->text : nullptr;
}
