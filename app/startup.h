// The first half of the program's start-up, apart from RunProgram so that
// the Windows tests can bring the process-wide state up the way the program
// does (heap, OLE, current folder, end-request window, user-interface
// thread, constants, floating point, fatal-error hooks) without loading the
// main window. User-interface thread (the thread that calls it becomes it).
#pragma once

#include <windows.h>

// Start-up before the window designs are read. Call once per process.
void StartUpServices();

// The hidden window that takes end requests (and RunOnUiThread calls) from
// other threads; null before start-up, when it could not be made, and once
// the shutdown has destroyed it.
HWND EndRequestWindow();

// The folder and file name of the executable, as start-up split them.
const char* ExecutableFolder();
const char* ExecutableName();
