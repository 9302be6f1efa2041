// The client connection control 客户1: a TCP client whose received bytes
// arrive as socket notifications on the user-interface thread.
#pragma once

#include <windows.h>

#include "sync/platform.h"

class Window;

// Creates the control as a hidden child window of `parent` with the child
// id `child_id`; the window building calls it and makes the result the
// entry's live object. Null when the window could not be created.
Window* CreateClientControl(ControlRef ref, HWND parent, int child_id, const RECT& rect);
