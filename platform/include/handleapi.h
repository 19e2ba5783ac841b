// Kernel object handles: CloseHandle for files and file mappings.
#pragma once

#include "windef.h"

// CloseHandle
// Closes a handle of CreateFileA, CreateFileMappingA or OpenFileMappingA.
// Returns: TRUE; FALSE with ERROR_INVALID_HANDLE for null or INVALID_HANDLE_VALUE.
// Notes:   a mapping's views stay valid after its handle is closed, as on the platform.
WINAPI_EXPORT BOOL CloseHandle(HANDLE hObject);
