// The pieces of the control operations (SetStatusText, SetControlText) that
// the design registry keeps for them: the status bar part texts and the edit
// box content texts live with the designs, not in the control objects, so a
// late write from a worker never touches a freed control.
#pragma once

#include <windows.h>

#include <cstdint>

#include "sync/platform.h"

// Replaces the text of part `part` of the bar by `copy` (a block, or null for
// the empty text), which the table then owns. Takes the design lock. Returns
// false, and keeps nothing, when the bar is not live or `part` is outside
// its table; otherwise gives the bar's HWND and the part's drawing style.
bool WriteStatusPart(ControlRef bar, int32_t part, char* copy, HWND* hwnd, int32_t* style);

// The last text SetControlText wrote to the edit box, or null.
// User-interface thread.
const char* ControlContentText(ControlRef control);
