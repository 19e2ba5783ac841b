// The calling thread's last Win32 error code.
#pragma once

#include "windef.h"
#include "winerror.h"

// GetLastError
// Returns the last error code set on the calling thread (0 at thread start).
WINAPI_EXPORT DWORD GetLastError(void);

// SetLastError
// Sets the calling thread's last error code.
WINAPI_EXPORT void SetLastError(DWORD dwErrCode);
