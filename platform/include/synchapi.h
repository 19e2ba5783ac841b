// Waiting: Sleep.
#pragma once

#include "windef.h"

// Sleep
// Suspends the calling thread for at least dwMilliseconds; 0 gives up the rest of the time slice.
WINAPI_EXPORT void Sleep(DWORD dwMilliseconds);
