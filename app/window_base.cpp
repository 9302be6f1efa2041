#include "app/window_base.h"

#include "app/design.h"

namespace {
const wchar_t kObjectProp[] = L"KestrivoWindow";
}

ATOM Window::RegisterOwnClass(const wchar_t* name, UINT style, HCURSOR cursor, HBRUSH background) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  HINSTANCE instance = GetModuleHandleW(nullptr);
  if (GetClassInfoExW(instance, name, &wc)) return static_cast<ATOM>(1);
  wc = WNDCLASSEXW{};
  wc.cbSize = sizeof wc;
  wc.style = style;
  wc.lpfnWndProc = OwnProc;
  wc.hInstance = instance;
  wc.hCursor = cursor;
  wc.hbrBackground = background;
  wc.lpszClassName = name;
  return RegisterClassExW(&wc);
}

Window* Window::FromHwnd(HWND hwnd) {
  return static_cast<Window*>(GetPropW(hwnd, kObjectProp));
}

bool Window::CreateOwn(const wchar_t* class_name, DWORD ex_style, DWORD style, const wchar_t* title,
                       int x, int y, int width, int height, HWND parent, HMENU id) {
  // The object is bound in OwnProc at WM_NCCREATE, so that WM_CREATE and
  // the messages sent during creation already reach HandleMessage.
  // A creation that fails after WM_NCCREATE still ends in WM_NCDESTROY;
  // the object must not delete itself then, because the caller owns it.
  creating_ = true;
  HWND h = CreateWindowExW(ex_style, class_name, title, style, x, y, width, height, parent, id,
                           GetModuleHandleW(nullptr), this);
  creating_ = false;
  return h != nullptr;
}

bool Window::CreateSystem(const wchar_t* class_name, DWORD ex_style, DWORD style,
                          const wchar_t* title, int x, int y, int width, int height, HWND parent,
                          HMENU id) {
  HWND h = CreateWindowExW(ex_style, class_name, title, style, x, y, width, height, parent, id,
                           GetModuleHandleW(nullptr), nullptr);
  if (!h) return false;
  hwnd_ = h;
  SetPropW(h, kObjectProp, this);
  system_proc_ = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(SubclassProc)));
  return true;
}

LRESULT CALLBACK Window::OwnProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  Window* self = FromHwnd(hwnd);
  if (!self && msg == WM_NCCREATE) {
    auto* cs = reinterpret_cast<CREATESTRUCTW*>(lp);
    self = static_cast<Window*>(cs->lpCreateParams);
    if (self) {
      self->hwnd_ = hwnd;
      SetPropW(hwnd, kObjectProp, self);
    }
  }
  if (!self) return DefWindowProcW(hwnd, msg, wp, lp);
  return self->Dispatch(msg, wp, lp);
}

LRESULT CALLBACK Window::SubclassProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  Window* self = FromHwnd(hwnd);
  if (!self) return DefWindowProcW(hwnd, msg, wp, lp);
  return self->Dispatch(msg, wp, lp);
}

LRESULT Window::Dispatch(UINT msg, WPARAM wp, LPARAM lp) {
  if (msg != WM_NCDESTROY) return HandleMessage(msg, wp, lp);
  LRESULT r = HandleMessage(msg, wp, lp);
  // Hereafter the HWND is gone: unbind, tell the design, and let the object go.
  RemovePropW(hwnd_, kObjectProp);
  if (system_proc_) {
    SetWindowLongPtrW(hwnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(system_proc_));
  }
  if (in_design_) ReportControlGone(ref_, this);
  hwnd_ = nullptr;
  if (!creating_) OnFinalDestroy();
  return r;
}

LRESULT Window::CallDefault(UINT msg, WPARAM wp, LPARAM lp) {
  if (system_proc_) return CallWindowProcW(system_proc_, hwnd_, msg, wp, lp);
  return DefWindowProcW(hwnd_, msg, wp, lp);
}

LRESULT Window::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) { return CallDefault(msg, wp, lp); }
