// Program start-up, the message loop and the end of the program.
//
// Threads: start-up, the loop and ShutDown's clean-up run on the
// user-interface thread (the thread that entered the process). EndProgram
// and ShutDown may be called on any thread: elsewhere they hand the end to
// the user-interface thread through the end-request window (message 0x83E7)
// and never return.
#pragma once

#include <windows.h>

#include <cstdint>

constexpr UINT kEndRequestMessage = WM_APP + 999;  // 0x83E7; wParam = exit code

// The whole program: start-up, LoadWindow of the main window, the loop,
// ShutDown(0); returns the process exit code. `after_designs`, when given,
// runs once the window designs have been read and before the main window is
// built: a test program binds handlers of its own there.
int RunProgram(void (*after_designs)() = nullptr);

using EndRoutine = void (*)();
void RegisterEndRoutine(EndRoutine routine);

int RunMessageLoop();  // returns the wParam of WM_QUIT, or 0
void ShutDown(int32_t exit_code);
[[noreturn]] void EndProgram(int32_t exit_code);

bool IsUiThread();
DWORD UiThreadId();
bool MessageLoopEntered();
bool ProgramExiting();  // ShutDown has begun on the user-interface thread

// The window building tells the program when one of its top-level windows
// is destroyed, for the Quit rule (no window left and the loop entered:
// PostQuitMessage(0)).
void OnProgramWindowDestroyed();
// True while some window of the program exists.
bool ProgramHasWindows();
