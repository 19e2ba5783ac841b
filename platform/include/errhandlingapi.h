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

// FatalAppExitA
// Reports a fatal condition of the application and ends the process at once: no exit handlers
// and no static destructors run.
// Params:  uAction [I] ignored (must be 0); lpMessageText [I] written to the standard error
//          stream with a line end; null writes nothing.
// Notes:   the process exits with status 127, the status of a program whose shared libraries
//          cannot be loaded, so a library that refuses its load during start-up is reported the
//          same way as a missing one.
WINAPI_EXPORT void FatalAppExitA(UINT uAction, LPCSTR lpMessageText);
