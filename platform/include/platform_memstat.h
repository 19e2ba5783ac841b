// Task memory statistics for tests: how many blocks of the task allocator (CoTaskMemAlloc, and
// so every BSTR, SAFEARRAY and error object) are alive. Not part of the Windows-shaped headers.
#pragma once

#include "windef.h"

// PlatformTaskMemBlocks
// Returns the number of task-memory blocks allocated and not yet freed in the process.
WINAPI_EXPORT LONG PlatformTaskMemBlocks(void);
