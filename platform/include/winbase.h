// File moves and copies, and the process's own fatal exit.
#pragma once

#include "windef.h"

#define MOVEFILE_REPLACE_EXISTING 0x00000001
#define MOVEFILE_COPY_ALLOWED 0x00000002

// MoveFileA
// Renames a file or directory; a file also moves to another file system (copied, then the
// source deleted).
// Params:  lpExistingFileName [I], lpNewFileName [I]
// Returns: TRUE; FALSE with GetLastError ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND,
//          ERROR_ALREADY_EXISTS (the destination exists: it is never replaced),
//          ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION, ERROR_NOT_SAME_DEVICE (a directory
//          to another file system).
// Notes:   unlike the platform, a file that another process holds open can be moved.
WINAPI_EXPORT BOOL MoveFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName);

// MoveFileExA
// As MoveFileA; MOVEFILE_REPLACE_EXISTING replaces an existing destination file.
// Returns: as MoveFileA; ERROR_INVALID_PARAMETER for unknown flags.
// Notes:   moves between file systems always copy for files (MOVEFILE_COPY_ALLOWED implied).
WINAPI_EXPORT BOOL MoveFileExA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, DWORD dwFlags);

// CopyFileA
// Copies a file's bytes, permissions and last write time.
// Params:  lpExistingFileName [I], lpNewFileName [I], bFailIfExists [I] TRUE: an existing
//          destination makes the call fail.
// Returns: TRUE; FALSE with GetLastError ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND,
//          ERROR_FILE_EXISTS (bFailIfExists), ERROR_ACCESS_DENIED (a directory as either end),
//          ERROR_SHARING_VIOLATION (source and destination are the same file), ERROR_DISK_FULL.
// Notes:   a copy that fails part way removes the destination it wrote; a destination that is
//          the source itself is left untouched rather than emptied.
WINAPI_EXPORT BOOL CopyFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, BOOL bFailIfExists);
