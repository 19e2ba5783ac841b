// The calling process.
#pragma once

#include "windef.h"

// GetCurrentProcessId
// Returns the identifier of the calling process.
WINAPI_EXPORT DWORD GetCurrentProcessId(void);
