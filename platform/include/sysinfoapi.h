// Clocks: milliseconds since system start and the local calendar time.
#pragma once

#include "minwinbase.h"
#include "windef.h"

// GetTickCount
// Returns the milliseconds since the system started, wrapping every 49.7 days.
WINAPI_EXPORT DWORD GetTickCount(void);

// GetLocalTime
// Writes the current local date and time (the time zone of the process's TZ setting).
// Params:  lpSystemTime [O]; null is a harmless no-op.
WINAPI_EXPORT void GetLocalTime(LPSYSTEMTIME lpSystemTime);
