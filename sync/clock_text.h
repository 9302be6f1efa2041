// The date-time as the user sees it, in the status bar and the edit box:
// year-MM-DD HH:MM:SS, the year without leading zeros. Any thread; the
// program calls it on the user-interface thread.
#pragma once

#include "values/datetime.h"

// A fresh text (release it with ReleaseBlock) of the value's components,
// taken from the value pulled into the supported range.
char* FormatClockText(DateTime value);

// The same for the local clock as GetLocalClock reads it now.
char* FormatLocalClockText();
