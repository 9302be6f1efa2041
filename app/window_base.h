// The window framework: a C++ object bound to one HWND. Every window and
// control of a window design (the main window, the label, the edit box, the
// button, the status bar and the client connection control) derives from
// Window. User-interface thread only.
//
// Lifetime: the object is created with `new`, makes its HWND, and deletes
// itself when the HWND is destroyed (WM_NCDESTROY). A design-made object
// first reports itself gone to its design (app/design.h) so that later
// lookups of it fail.
#pragma once

#include <windows.h>

#include "sync/platform.h"

class Window {
 public:
  Window() = default;
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;

  HWND hwnd() const { return hwnd_; }
  ControlRef ref() const { return ref_; }

  // Registers (once) a window class of the program's own that routes its
  // messages to HandleMessage. Returns the class atom, 0 on failure.
  static ATOM RegisterOwnClass(const wchar_t* name, UINT style, HCURSOR cursor, HBRUSH background);

  // Creates the HWND of a class registered with RegisterOwnClass and binds it
  // to this object. False when CreateWindowExW failed (the object is then
  // still owned by the caller).
  bool CreateOwn(const wchar_t* class_name, DWORD ex_style, DWORD style, const wchar_t* title,
                 int x, int y, int width, int height, HWND parent, HMENU id);

  // Creates an HWND of a system class (EDIT, BUTTON, msctls_statusbar32) and
  // subclasses it, so that HandleMessage sees its messages first.
  bool CreateSystem(const wchar_t* class_name, DWORD ex_style, DWORD style, const wchar_t* title,
                    int x, int y, int width, int height, HWND parent, HMENU id);

  // Marks the object as the live object of a design entry.
  void SetDesignRef(ControlRef ref) { ref_ = ref; in_design_ = true; }

  static Window* FromHwnd(HWND hwnd);

 protected:
  virtual ~Window() = default;
  // Default: the subclassed system procedure, or DefWindowProcW.
  virtual LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp);
  LRESULT CallDefault(UINT msg, WPARAM wp, LPARAM lp);
  // Called on WM_NCDESTROY after the design has been told; default deletes.
  virtual void OnFinalDestroy() { delete this; }

 private:
  static LRESULT CALLBACK OwnProc(HWND, UINT, WPARAM, LPARAM);
  static LRESULT CALLBACK SubclassProc(HWND, UINT, WPARAM, LPARAM);
  LRESULT Dispatch(UINT msg, WPARAM wp, LPARAM lp);

  HWND hwnd_ = nullptr;
  WNDPROC system_proc_ = nullptr;  // set for subclassed system controls
  ControlRef ref_{0, 0};
  bool in_design_ = false;
  bool creating_ = false;  // inside CreateOwn's CreateWindowExW
};
