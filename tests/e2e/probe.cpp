// kestrivo_probe: looks at a running Kestrivo from another process, the way
// a user would see it, and writes what it finds as one JSON object a line.
//
//   kestrivo_probe.exe OUTFILE COMMAND [ARGS...] [COMMAND [ARGS...]]...
//
// The results go to OUTFILE, not to stdout: started inside a Wine virtual
// desktop (through explorer) a console program's stdout is lost. Texts are
// read with the W messages (WM_GETTEXT is marshalled across processes and
// converted to UTF-16 by the receiving window) and written as UTF-8, so
// the readback does not depend on the probe's own ANSI code page.
//
// A text argument may be given as "x:" followed by the hex digits of its
// UTF-8 bytes; the runner does that for every non-ASCII text so that no
// code page touches the command line.
//
// Commands (ID is a child-window id; 0 names the main window):
//   caption TEXT           window caption to look for (default "Kestrivo V1.0")
//   find MS                wait up to MS for the main window
//   dump                   the main window and every child
//   focus                  which window has the keyboard focus
//   text ID                the text of one window
//   wait ID MODE TEXT MS   poll until the text matches (MODE eq, prefix, ne,
//                          notprefix); reports the last text either way
//   watch ID MODE TEXT MS  every change of the text until it matches or MS
//                          passed (MODE none: watch the whole time)
//   click ID               BM_CLICK on a button
//   close                  post WM_CLOSE to the main window
//   gone MS                wait until the main window no longer exists
//   ping MS                SendMessageTimeout(WM_NULL): does the UI thread answer?
//   msgbox MS              wait for a message box captioned "错误" and read it
//   msgbox-ok              press OK on that box
//   sleep MS
//   acp                    the probe's code pages and the screen size
//
// Exit code: 0 when every command succeeded, 1 when a wait, ping or
// lookup failed, 2 on a usage error.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

HANDLE g_out = INVALID_HANDLE_VALUE;
std::wstring g_caption = L"Kestrivo V1.0";
const wchar_t kErrorCaption[] = L"\x9519\x8BEF";  // 错误
HWND g_main = nullptr;
HWND g_box = nullptr;
bool g_failed = false;

std::string Utf8(const std::wstring& w) {
  if (w.empty()) return std::string();
  int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0,
                              nullptr, nullptr);
  std::string s(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), &s[0], n, nullptr,
                      nullptr);
  return s;
}

std::wstring FromUtf8(const std::string& s) {
  if (s.empty()) return std::wstring();
  int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  std::wstring w(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), &w[0], n);
  return w;
}

// "x:e6a0a1" -> the UTF-8 bytes e6 a0 a1 as UTF-16; anything else as given.
std::wstring TextArg(const std::wstring& arg) {
  if (arg.size() < 2 || arg[0] != L'x' || arg[1] != L':') return arg;
  std::string bytes;
  for (size_t i = 2; i + 1 < arg.size(); i += 2) {
    wchar_t hex[3] = {arg[i], arg[i + 1], 0};
    bytes.push_back(static_cast<char>(wcstoul(hex, nullptr, 16)));
  }
  return FromUtf8(bytes);
}

// One output line: {"key":value,...}.
class Line {
 public:
  explicit Line(const char* kind) { Str("kind", kind); }
  ~Line() {
    text_ += "}\n";
    DWORD written = 0;
    WriteFile(g_out, text_.data(), static_cast<DWORD>(text_.size()), &written, nullptr);
  }
  Line& Str(const char* key, const std::string& utf8) {
    Key(key);
    text_ += '"';
    for (unsigned char c : utf8) {
      switch (c) {
        case '"': text_ += "\\\""; break;
        case '\\': text_ += "\\\\"; break;
        case '\n': text_ += "\\n"; break;
        case '\r': text_ += "\\r"; break;
        case '\t': text_ += "\\t"; break;
        default:
          if (c < 0x20) {
            char buf[8];
            snprintf(buf, sizeof buf, "\\u%04x", c);
            text_ += buf;
          } else {
            text_ += static_cast<char>(c);
          }
      }
    }
    text_ += '"';
    return *this;
  }
  Line& Str(const char* key, const std::wstring& w) { return Str(key, Utf8(w)); }
  Line& Str(const char* key, const char* s) { return Str(key, std::string(s)); }
  Line& Num(const char* key, long long v) {
    Key(key);
    text_ += std::to_string(v);
    return *this;
  }
  Line& Bool(const char* key, bool v) {
    Key(key);
    text_ += v ? "true" : "false";
    return *this;
  }
  Line& Rect(const char* key, const RECT& r) {
    Key(key);
    char buf[96];
    snprintf(buf, sizeof buf, "[%ld,%ld,%ld,%ld]", r.left, r.top, r.right, r.bottom);
    text_ += buf;
    return *this;
  }
  Line& Raw(const char* key, const std::string& json) {
    Key(key);
    text_ += json;
    return *this;
  }

 private:
  void Key(const char* key) {
    text_ += first_ ? "{\"" : ",\"";
    first_ = false;
    text_ += key;
    text_ += "\":";
  }
  std::string text_;
  bool first_ = true;
};

// The text of another process's window, through the marshalled WM_GETTEXT.
// A status bar answers with the text of its part 0. `ok` is false when the
// window did not answer within a second.
std::wstring WindowText(HWND hwnd, bool* ok = nullptr) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, 1000, &length)) {
    if (ok) *ok = false;
    return std::wstring();
  }
  std::vector<wchar_t> buf(length + 64);
  DWORD_PTR copied = 0;
  if (!SendMessageTimeoutW(hwnd, WM_GETTEXT, buf.size(), reinterpret_cast<LPARAM>(buf.data()),
                           SMTO_NORMAL, 1000, &copied)) {
    if (ok) *ok = false;
    return std::wstring();
  }
  if (ok) *ok = true;
  return std::wstring(buf.data(), copied < buf.size() ? copied : buf.size() - 1);
}

std::wstring ClassOf(HWND hwnd) {
  wchar_t buf[256] = {0};
  GetClassNameW(hwnd, buf, 256);
  return buf;
}

HWND Child(int id) { return id == 0 ? g_main : GetDlgItem(g_main, id); }

struct CountCtx {
  const std::wstring* caption;
  int count;
};

BOOL CALLBACK CountTopLevel(HWND hwnd, LPARAM lp) {
  auto* ctx = reinterpret_cast<CountCtx*>(lp);
  wchar_t buf[256] = {0};
  GetWindowTextW(hwnd, buf, 256);
  if (*ctx->caption == buf) ++ctx->count;
  return TRUE;
}

bool Find(DWORD timeout_ms) {
  DWORD start = GetTickCount();
  for (;;) {
    g_main = FindWindowW(nullptr, g_caption.c_str());
    if (g_main) break;
    if (GetTickCount() - start >= timeout_ms) {
      Line("find").Bool("ok", false).Str("caption", g_caption).Num("ms", GetTickCount() - start);
      return false;
    }
    Sleep(20);
  }
  CountCtx ctx{&g_caption, 0};
  EnumWindows(CountTopLevel, reinterpret_cast<LPARAM>(&ctx));
  DWORD pid = 0;
  DWORD tid = GetWindowThreadProcessId(g_main, &pid);
  Line("find")
      .Bool("ok", true)
      .Str("caption", g_caption)
      .Num("ms", GetTickCount() - start)
      .Num("count", ctx.count)
      .Num("pid", pid)
      .Num("tid", tid);
  return true;
}

// Rectangle of `hwnd` in the client coordinates of its parent.
RECT InParent(HWND hwnd) {
  RECT r;
  GetWindowRect(hwnd, &r);
  MapWindowPoints(HWND_DESKTOP, GetParent(hwnd), reinterpret_cast<POINT*>(&r), 2);
  return r;
}

void Dump() {
  RECT wr, cr;
  GetWindowRect(g_main, &wr);
  GetClientRect(g_main, &cr);
  POINT origin = {0, 0};
  ClientToScreen(g_main, &origin);
  DWORD pid = 0;
  GetWindowThreadProcessId(g_main, &pid);
  Line("window")
      .Str("class", ClassOf(g_main))
      .Str("caption", WindowText(g_main))
      .Rect("rect", wr)
      .Rect("client", cr)
      .Num("client_x", origin.x)
      .Num("client_y", origin.y)
      .Num("style", static_cast<long long>(static_cast<DWORD>(GetWindowLongW(g_main, GWL_STYLE))))
      .Num("exstyle",
           static_cast<long long>(static_cast<DWORD>(GetWindowLongW(g_main, GWL_EXSTYLE))))
      .Num("class_style", static_cast<long long>(GetClassLongW(g_main, GCL_STYLE)))
      .Num("class_brush", static_cast<long long>(GetClassLongPtrW(g_main, GCLP_HBRBACKGROUND)))
      .Bool("visible", IsWindowVisible(g_main) != FALSE)
      .Bool("enabled", IsWindowEnabled(g_main) != FALSE)
      .Bool("iconic", IsIconic(g_main) != FALSE)
      .Bool("zoomed", IsZoomed(g_main) != FALSE)
      .Bool("unicode", IsWindowUnicode(g_main) != FALSE)
      .Num("owner", reinterpret_cast<long long>(GetWindow(g_main, GW_OWNER)))
      .Num("pid", pid)
      .Num("screen_w", GetSystemMetrics(SM_CXSCREEN))
      .Num("screen_h", GetSystemMetrics(SM_CYSCREEN));
  // Children in z-order, topmost first.
  int z = 0;
  for (HWND c = GetWindow(g_main, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT), ++z) {
    RECT sr;
    GetWindowRect(c, &sr);
    bool ok = true;
    std::wstring text = WindowText(c, &ok);
    Line("child")
        .Num("id", GetDlgCtrlID(c))
        .Num("z", z)
        .Str("class", ClassOf(c))
        .Rect("rect", InParent(c))
        .Rect("screen", sr)
        .Num("style", static_cast<long long>(static_cast<DWORD>(GetWindowLongW(c, GWL_STYLE))))
        .Num("exstyle", static_cast<long long>(static_cast<DWORD>(GetWindowLongW(c, GWL_EXSTYLE))))
        .Bool("visible", IsWindowVisible(c) != FALSE)
        .Bool("enabled", IsWindowEnabled(c) != FALSE)
        .Bool("unicode", IsWindowUnicode(c) != FALSE)
        .Bool("answered", ok)
        .Str("text", text);
  }
}

void Focus() {
  DWORD tid = GetWindowThreadProcessId(g_main, nullptr);
  GUITHREADINFO gti;
  memset(&gti, 0, sizeof gti);
  gti.cbSize = sizeof gti;
  bool ok = GetGUIThreadInfo(tid, &gti) != FALSE;
  HWND f = gti.hwndFocus;
  long long id = -1;
  if (f == g_main) {
    id = 0;
  } else if (f && GetParent(f) == g_main) {
    id = GetDlgCtrlID(f);
  }
  Line("focus")
      .Bool("ok", ok)
      .Bool("has_focus", f != nullptr)
      .Num("id", id)  // 0: the main window, -1: none or not ours
      .Str("class", f ? ClassOf(f) : std::wstring())
      .Bool("active_is_main", gti.hwndActive == g_main)
      .Bool("foreground_is_main", GetForegroundWindow() == g_main)
      .Bool("caret", gti.hwndCaret != nullptr);
}

bool Matches(const std::wstring& text, const std::wstring& mode, const std::wstring& want) {
  if (mode == L"eq") return text == want;
  if (mode == L"ne") return text != want;
  if (mode == L"prefix") return text.compare(0, want.size(), want) == 0;
  if (mode == L"notprefix") return text.compare(0, want.size(), want) != 0;
  return false;  // "none"
}

bool Wait(int id, const std::wstring& mode, const std::wstring& want, DWORD timeout_ms) {
  HWND w = Child(id);
  DWORD start = GetTickCount();
  std::wstring text;
  bool met = false;
  while (w) {
    text = WindowText(w);
    if (Matches(text, mode, want)) {
      met = true;
      break;
    }
    if (GetTickCount() - start >= timeout_ms) break;
    Sleep(2);
  }
  Line("wait")
      .Num("id", id)
      .Str("mode", mode)
      .Str("want", want)
      .Bool("ok", met)
      .Bool("exists", w != nullptr)
      .Num("ms", GetTickCount() - start)
      .Str("text", text);
  return met;
}

// Polls as fast as the other process answers, so that a text that is shown
// for a few milliseconds only is still seen.
bool Watch(int id, const std::wstring& mode, const std::wstring& want, DWORD timeout_ms) {
  HWND w = Child(id);
  LARGE_INTEGER freq, start, now;
  QueryPerformanceFrequency(&freq);
  QueryPerformanceCounter(&start);
  std::wstring last;
  bool first = true, met = false;
  long long polls = 0;
  std::string seen = "[";
  while (w && IsWindow(w)) {
    bool ok = true;
    std::wstring text = WindowText(w, &ok);
    ++polls;
    QueryPerformanceCounter(&now);
    long long us = (now.QuadPart - start.QuadPart) * 1000000 / freq.QuadPart;
    if (ok && (first || text != last)) {
      Line("change").Num("id", id).Num("us", us).Str("text", text);
      if (!first) seen += ",";
      std::string q;
      for (char c : Utf8(text)) {
        if (c == '"' || c == '\\') q += '\\';
        q += c;
      }
      seen += "\"" + q + "\"";
      last = text;
      first = false;
    }
    if (mode != L"none" && Matches(text, mode, want)) {
      met = true;
      break;
    }
    if (us >= static_cast<long long>(timeout_ms) * 1000) break;
  }
  seen += "]";
  bool ok = mode == L"none" ? (w != nullptr) : met;
  Line("watch")
      .Num("id", id)
      .Str("mode", mode)
      .Str("want", want)
      .Bool("ok", ok)
      .Num("polls", polls)
      .Raw("seen", seen)
      .Str("text", last);
  return ok;
}

bool Click(int id) {
  HWND b = Child(id);
  DWORD_PTR r = 0;
  bool ok = b && SendMessageTimeoutW(b, BM_CLICK, 0, 0, SMTO_NORMAL, 5000, &r);
  Line("click").Num("id", id).Bool("ok", ok);
  return ok;
}

bool Ping(DWORD timeout_ms) {
  LARGE_INTEGER freq, a, b;
  QueryPerformanceFrequency(&freq);
  QueryPerformanceCounter(&a);
  DWORD_PTR r = 0;
  bool ok = SendMessageTimeoutW(g_main, WM_NULL, 0, 0, SMTO_NORMAL, timeout_ms, &r) != 0;
  QueryPerformanceCounter(&b);
  Line("ping").Bool("ok", ok).Num("us", (b.QuadPart - a.QuadPart) * 1000000 / freq.QuadPart);
  return ok;
}

bool Gone(DWORD timeout_ms) {
  DWORD start = GetTickCount();
  while (g_main && IsWindow(g_main) && GetTickCount() - start < timeout_ms) Sleep(10);
  bool gone = !g_main || !IsWindow(g_main);
  Line("gone").Bool("ok", gone).Num("ms", GetTickCount() - start);
  return gone;
}

BOOL CALLBACK ListBoxChild(HWND c, LPARAM) {
  Line("box_child")
      .Num("id", GetDlgCtrlID(c))
      .Str("class", ClassOf(c))
      .Bool("visible", IsWindowVisible(c) != FALSE)
      .Str("text", WindowText(c));
  return TRUE;
}

bool MsgBox(DWORD timeout_ms) {
  DWORD start = GetTickCount();
  g_box = nullptr;
  while (!(g_box = FindWindowW(L"#32770", kErrorCaption)) && GetTickCount() - start < timeout_ms)
    Sleep(20);
  if (!g_box) {
    Line("msgbox").Bool("ok", false).Num("ms", GetTickCount() - start);
    return false;
  }
  DWORD pid = 0;
  GetWindowThreadProcessId(g_box, &pid);
  // The message text is the static control 0xFFFF of the box.
  HWND text = GetDlgItem(g_box, 0xFFFF);
  Line("msgbox")
      .Bool("ok", true)
      .Num("ms", GetTickCount() - start)
      .Num("pid", pid)
      .Str("caption", WindowText(g_box))
      .Str("text", text ? WindowText(text) : std::wstring())
      .Bool("owner_none", GetWindow(g_box, GW_OWNER) == nullptr);
  EnumChildWindows(g_box, ListBoxChild, 0);
  return true;
}

bool MsgBoxOk() {
  bool ok = g_box && IsWindow(g_box);
  if (ok) {
    HWND b = GetDlgItem(g_box, IDOK);
    if (b) {
      PostMessageW(b, BM_CLICK, 0, 0);
    } else {
      PostMessageW(g_box, WM_COMMAND, IDOK, 0);
    }
  }
  Line("msgbox_ok").Bool("ok", ok);
  return ok;
}

void Acp() {
  Line("acp")
      .Num("acp", GetACP())
      .Num("oemcp", GetOEMCP())
      .Num("screen_w", GetSystemMetrics(SM_CXSCREEN))
      .Num("screen_h", GetSystemMetrics(SM_CYSCREEN));
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: kestrivo_probe OUTFILE COMMAND [ARGS...]...\n");
    return 2;
  }
  g_out = CreateFileW(argv[1], GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                      FILE_ATTRIBUTE_NORMAL, nullptr);
  if (g_out == INVALID_HANDLE_VALUE) {
    fprintf(stderr, "kestrivo_probe: cannot write %ls\n", argv[1]);
    return 2;
  }
  int i = 2;
  auto arg = [&](const char* what) -> std::wstring {
    if (i >= argc) {
      Line("error").Str("usage", std::string("missing ") + what);
      CloseHandle(g_out);
      exit(2);
    }
    return argv[i++];
  };
  auto num = [&](const char* what) { return static_cast<DWORD>(wcstoul(arg(what).c_str(), nullptr, 10)); };
  auto need_main = [&]() {
    if (g_main && IsWindow(g_main)) return true;
    Line("error").Str("message", "no main window (find first)");
    g_failed = true;
    return false;
  };
  while (i < argc) {
    std::wstring cmd = argv[i++];
    if (cmd == L"caption") {
      g_caption = TextArg(arg("caption"));
    } else if (cmd == L"find") {
      if (!Find(num("ms"))) {
        g_failed = true;
        break;  // nothing else can be looked at
      }
    } else if (cmd == L"dump") {
      if (need_main()) Dump();
    } else if (cmd == L"focus") {
      if (need_main()) Focus();
    } else if (cmd == L"text") {
      int id = static_cast<int>(num("id"));
      if (need_main()) {
        HWND w = Child(id);
        bool ok = w != nullptr;
        std::wstring t = w ? WindowText(w, &ok) : std::wstring();
        Line("text").Num("id", id).Bool("ok", ok).Str("text", t);
        if (!ok) g_failed = true;
      }
    } else if (cmd == L"wait" || cmd == L"watch") {
      int id = static_cast<int>(num("id"));
      std::wstring mode = arg("mode");
      std::wstring want = TextArg(arg("text"));
      DWORD ms = num("ms");
      if (need_main()) {
        bool ok = cmd == L"wait" ? Wait(id, mode, want, ms) : Watch(id, mode, want, ms);
        if (!ok) g_failed = true;
      }
    } else if (cmd == L"click") {
      int id = static_cast<int>(num("id"));
      if (need_main() && !Click(id)) g_failed = true;
    } else if (cmd == L"close") {
      if (need_main()) {
        bool ok = PostMessageW(g_main, WM_CLOSE, 0, 0) != FALSE;
        Line("close").Bool("ok", ok);
        if (!ok) g_failed = true;
      }
    } else if (cmd == L"gone") {
      if (!Gone(num("ms"))) g_failed = true;
    } else if (cmd == L"ping") {
      DWORD ms = num("ms");
      if (need_main() && !Ping(ms)) g_failed = true;
    } else if (cmd == L"msgbox") {
      if (!MsgBox(num("ms"))) g_failed = true;
    } else if (cmd == L"msgbox-ok") {
      if (!MsgBoxOk()) g_failed = true;
    } else if (cmd == L"sleep") {
      Sleep(num("ms"));
    } else if (cmd == L"acp") {
      Acp();
    } else {
      Line("error").Str("unknown_command", cmd);
      CloseHandle(g_out);
      return 2;
    }
  }
  Line("done").Bool("ok", !g_failed);
  CloseHandle(g_out);
  return g_failed ? 1 : 0;
}
