// The main window and its controls, built from the window design.
// User-interface thread only.
#pragma once

#include <windows.h>

#include <cstdint>

// Builds the window of the design `window_id` with its controls and shows
// it; false when there is no such design or a window could not be created.
bool LoadWindow(uint32_t window_id);

// The keyboard pre-processing of the program's windows: offered every
// message before it is translated and dispatched; true when it took it.
bool PreTranslateProgramMessage(MSG& msg);

// Destroys every window of the program with its controls (shutdown).
void DestroyProgramWindows();
