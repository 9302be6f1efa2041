// The registry of window designs, the control lookup, the event raising and
// the status bar part tables.
//
// Who touches what:
// - g_designs / g_design_count: written on the user-interface thread
//   (install, forget) under the design lock; read without the lock on that
//   thread, and under the lock on every other thread.
// - DesignEntry::live: set and cleared on the user-interface thread under
//   the lock; a worker reads it under the lock and takes only the HWND out.
// - the part tables: written by any thread under the lock.
// - g_suspension: atomic, any thread.
// - g_current_source: user-interface thread only (handlers run there).
#include "app/design.h"

#include <atomic>

#include "app/controls.h"

#include "app/window_base.h"
#include "values/error.h"
#include "values/memory.h"
#include "values/text.h"

const char kTextNoSuchControl[] =
    "\xD6\xB8\xB6\xA8\xB4\xB0\xBF\xDA\xBB\xF2\xB4\xB0\xBF\xDA\xD7\xE9\xBC\xFE\xB2\xBB\xB4\xE6\xD4"
    "\xDA\xBB\xF2\xC9\xD0\xCE\xB4\xD4\xD8\xC8\xEB";

namespace {

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

const char kEmptyText[] = "";

// Initialised before WinMain (and before any test) runs; never deleted,
// because a late worker may still take it while the process ends.
struct Lock {
  CRITICAL_SECTION cs;
  Lock() { InitializeCriticalSection(&cs); }
};
Lock g_lock;

WindowDesign* g_designs = nullptr;
int32_t g_design_count = 0;

std::atomic<int32_t> g_suspension{0};
ControlRef g_current_source{0, 0};

// The part design of a status bar of this program: one sunken part up to
// the right edge, no icon, empty text and tooltip.
const StatusPart kStatusPartDesign[] = {{-1, 0, -1, kEmptyText, kEmptyText}};
constexpr int32_t kStatusPartDesignCount =
    static_cast<int32_t>(sizeof kStatusPartDesign / sizeof kStatusPartDesign[0]);

// The run-time part table of one status bar entry. A part text is either
// the design's constant or a block this table owns.
constexpr int32_t kMaxStatusBars = 4;
constexpr int32_t kMaxParts = 4;
static_assert(kStatusPartDesignCount <= kMaxParts, "part design too large");
struct PartTable {
  uint32_t window_id;
  uint32_t control_id;
  int32_t count;  // 0: slot unused
  StatusPart parts[kMaxParts];
};
PartTable g_part_tables[kMaxStatusBars];

bool OwnsText(const char* text) { return text != kEmptyText; }

// Back to the design; the lock is held.
void ResetPartTable(PartTable& table) {
  for (int32_t i = 0; i < table.count; ++i) {
    if (OwnsText(table.parts[i].text)) ReleaseBlock(table.parts[i].text);
  }
  table.count = kStatusPartDesignCount;
  for (int32_t i = 0; i < kStatusPartDesignCount; ++i) table.parts[i] = kStatusPartDesign[i];
}

void ClearPartTables() {
  for (PartTable& t : g_part_tables) {
    ResetPartTable(t);
    t = PartTable{};
  }
}

PartTable* FindPartTable(ControlRef bar) {
  for (PartTable& t : g_part_tables) {
    if (t.count && t.window_id == bar.window_id && t.control_id == bar.control_id) return &t;
  }
  return nullptr;
}

// One table per status bar entry of the installed designs; the lock is held.
void MakePartTables() {
  int32_t used = 0;
  for (int32_t d = 0; d < g_design_count; ++d) {
    WindowDesign& design = g_designs[d];
    for (int32_t i = 0; i < design.entry_count; ++i) {
      if (design.entries[i].kind != ControlKind::kStatusBar || used == kMaxStatusBars) continue;
      PartTable& t = g_part_tables[used++];
      t.window_id = design.window_id;
      t.control_id = design.entries[i].control_id;
      ResetPartTable(t);
    }
  }
}

// The kinds whose windows notice events and raise them. The label and the
// status bar of this program raise none.
bool KindRaisesEvents(ControlKind kind) {
  switch (kind) {
    case ControlKind::kMainWindow:
    case ControlKind::kButton:
    case ControlKind::kClient:
    case ControlKind::kEditBox:
      return true;
    default:
      return false;
  }
}

DesignEntry* FindEntryOf(ControlRef ref) {
  WindowDesign* design = FindDesign(ref.window_id);
  return design ? FindEntry(design, ref.control_id) : nullptr;
}

}  // namespace

void LockDesigns() { EnterCriticalSection(&g_lock.cs); }
void UnlockDesigns() { LeaveCriticalSection(&g_lock.cs); }

void InstallWindowDesigns(WindowDesign* designs, int32_t count) {
  DesignLock lock;
  ClearPartTables();
  g_designs = designs;
  g_design_count = designs ? count : 0;
  MakePartTables();
}

void ForgetWindowDesigns() { InstallWindowDesigns(nullptr, 0); }

WindowDesign* FindDesign(uint32_t window_id) {
  for (int32_t i = 0; i < g_design_count; ++i) {
    if (g_designs[i].window_id == window_id) return &g_designs[i];
  }
  return nullptr;
}

DesignEntry* FindEntry(WindowDesign* design, uint32_t control_id) {
  if (!design || design->entry_count < 1) return nullptr;
  if (control_id == 0) return &design->entries[0];
  for (int32_t i = 0; i < design->entry_count; ++i) {
    if (design->entries[i].control_id == control_id) return &design->entries[i];
  }
  return nullptr;
}

Window* FindLiveControl(ControlRef control) {
  DesignLock lock;
  DesignEntry* entry = FindEntryOf(control);
  if (!entry || !entry->live) return nullptr;
  HWND hwnd = entry->live->hwnd();
  return hwnd && IsWindow(hwnd) ? entry->live : nullptr;
}

Window* FindControl(ControlRef control) {
  // The lock is released before the fatal path: ending the program destroys
  // the windows on the user-interface thread, which takes the lock.
  Window* object = FindLiveControl(control);
  if (!object) ReportFatalError(kTextNoSuchControl, 0);
  return object;
}

void SetLiveControl(ControlRef control, Window* object) {
  DesignLock lock;
  if (DesignEntry* entry = FindEntryOf(control)) entry->live = object;
}

void ReportControlGone(ControlRef control, Window* object) {
  DesignLock lock;
  DesignEntry* entry = FindEntryOf(control);
  if (!entry || entry->live != object) return;
  entry->live = nullptr;
  // A bar made again starts from its design; a late write to this one finds
  // no live control and leaves the table alone.
  if (entry->kind == ControlKind::kStatusBar) {
    if (PartTable* t = FindPartTable(control)) ResetPartTable(*t);
  }
}

bool RaiseEvent(EventRecord& record) {
  if (g_suspension.load(std::memory_order_acquire) > 0) return false;
  WindowDesign* design = FindDesign(record.window_id);
  if (!design) ReportFatalError(kNoEventWindow, 0);
  DesignEntry* entry = FindEntry(design, record.control_id);
  if (!entry) ReportFatalError(kNoEventControl, 0);
  if (!KindRaisesEvents(entry->kind)) ReportFatalError(kInvalidEventControl, 0);

  EventHandler handler = nullptr;
  for (int32_t i = 0; i < entry->event_count; ++i) {
    if (entry->events[i].event == record.event) {
      handler = entry->events[i].handler;
      break;
    }
  }
  if (!handler) return false;

  // An event raised from inside a handler (the focus events that
  // SetControlFocus causes) is its own source while it runs; the outer
  // source comes back afterwards, and none once the outermost returns.
  ControlRef outer = g_current_source;
  g_current_source = ControlRef{record.window_id, record.control_id};
  handler();  // the handlers of this program take no arguments and report no result
  g_current_source = outer;
  return true;
}

bool RaiseEvent(ControlRef source, int32_t event) {
  EventRecord record{source.window_id, source.control_id, event, 0, nullptr, 0, 0};
  return RaiseEvent(record);
}

void SuspendEvents() { g_suspension.fetch_add(1, std::memory_order_acq_rel); }
void ResumeEvents() { g_suspension.fetch_sub(1, std::memory_order_acq_rel); }
int32_t EventSuspensionCount() { return g_suspension.load(std::memory_order_acquire); }
ControlRef CurrentEventSource() { return g_current_source; }

int32_t StatusPartCount(ControlRef bar) {
  DesignLock lock;
  PartTable* t = FindPartTable(bar);
  return t ? t->count : 0;
}

bool WriteStatusPart(ControlRef bar, int32_t part, char* copy, HWND* hwnd, int32_t* style) {
  const char* old = nullptr;
  {
    DesignLock lock;
    DesignEntry* entry = FindEntryOf(bar);
    PartTable* t = FindPartTable(bar);
    HWND h = entry && entry->live ? entry->live->hwnd() : nullptr;
    if (!t || !h || !IsWindow(h) || part < 0 || part >= t->count) return false;
    old = t->parts[part].text;
    t->parts[part].text = copy ? copy : kEmptyText;
    *hwnd = h;
    *style = t->parts[part].style;
  }
  if (OwnsText(old)) ReleaseBlock(old);
  return true;
}

StatusPart* StatusParts(ControlRef bar) {
  DesignLock lock;
  PartTable* t = FindPartTable(bar);
  return t ? t->parts : nullptr;
}
