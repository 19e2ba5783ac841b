// The path namespace for components that hand a path to a library which opens the file itself
// (the database module and SQLite): the kernel's form of a Windows-style path. Not part of the
// Windows-shaped headers.
#pragma once

#include "windef.h"

// PlatformMapPath
// Translates a narrow Windows-style path of the ANSI code page into the kernel's UTF-8 path, as
// every file service of the platform does ("\dir\f" is "/dir/f", "X:\f" is f under the root of
// drive X, relative paths stay relative).
// Params:  lpPath [I] the path; lpBuffer [O] receives the kernel path and a terminator;
//          nSize [I] the size of lpBuffer in bytes (0 asks only for the size needed).
// Returns: the length written, without the terminator; when lpBuffer is too small, the size
//          needed with the terminator (nothing written); 0 on failure, with GetLastError:
//          ERROR_INVALID_PARAMETER (null path, or null buffer with a nonzero size),
//          ERROR_PATH_NOT_FOUND (empty), ERROR_FILENAME_EXCED_RANGE (MAX_PATH bytes or more),
//          ERROR_INVALID_NAME (wildcards, or bytes that are no text of the code page).
WINAPI_EXPORT DWORD PlatformMapPath(LPCSTR lpPath, LPSTR lpBuffer, DWORD nSize);
