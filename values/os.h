// The narrow seam between the portable value services and the operating
// system: the process heap and the setting of the local clock. Windows
// implements it in app/os_win.cpp; the native build in values/os_posix.cpp,
// which never touches the machine's clock.
#pragma once

#include <cstdint>

// Same field order and widths as the Windows SYSTEMTIME.
struct LocalTimeFields {
  uint16_t wYear;
  uint16_t wMonth;
  uint16_t wDayOfWeek;  // 0 = Sunday
  uint16_t wDay;
  uint16_t wHour;
  uint16_t wMinute;
  uint16_t wSecond;
  uint16_t wMilliseconds;
};

void* OsHeapAlloc(uint32_t size);  // null when the heap refuses
void OsHeapFree(void* block);

// Sets the local clock once; true when the system accepted the time.
bool OsSetLocalTime(const LocalTimeFields& fields);
