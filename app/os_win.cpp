// The Windows side of the operating-system seam of the value services: the
// process heap and SetLocalTime. Any thread.
#include <windows.h>

#include "values/os.h"

static_assert(sizeof(LocalTimeFields) == sizeof(SYSTEMTIME), "same layout as SYSTEMTIME");

void* OsHeapAlloc(uint32_t size) { return HeapAlloc(GetProcessHeap(), 0, size); }

void OsHeapFree(void* block) { HeapFree(GetProcessHeap(), 0, block); }

bool OsSetLocalTime(const LocalTimeFields& fields) {
  SYSTEMTIME st;
  st.wYear = fields.wYear;
  st.wMonth = fields.wMonth;
  st.wDayOfWeek = fields.wDayOfWeek;
  st.wDay = fields.wDay;
  st.wHour = fields.wHour;
  st.wMinute = fields.wMinute;
  st.wSecond = fields.wSecond;
  st.wMilliseconds = fields.wMilliseconds;
  // Once: no privilege is adjusted first and a refusal is not retried.
  return SetLocalTime(&st) != 0;
}
