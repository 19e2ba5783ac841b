// Named shared memory: file mappings backed by the paging file, and views of them. A name is
// one block for every process of the machine (of the same user).
#pragma once

#include "minwinbase.h"
#include "windef.h"

#define PAGE_READONLY 0x02
#define PAGE_READWRITE 0x04

#define FILE_MAP_WRITE 0x0002
#define FILE_MAP_READ 0x0004
#define FILE_MAP_ALL_ACCESS 0x000F001F

// CreateFileMappingA
// Creates a named block of shared memory, or opens it when it already exists.
// Params:  hFile [I] INVALID_HANDLE_VALUE only (paging-file backed); lpFileMappingAttributes [I]
//          ignored; flProtect [I] PAGE_READWRITE or PAGE_READONLY; dwMaximumSizeHigh [I] 0;
//          dwMaximumSizeLow [I] size, not 0; lpName [I] required, no `/`.
// Returns: a mapping handle. GetLastError is ERROR_ALREADY_EXISTS when the block existed and 0
//          when this call created it: a created block is all zero. Null with
//          ERROR_INVALID_PARAMETER, ERROR_ACCESS_DENIED, ERROR_NOT_ENOUGH_MEMORY.
// Notes:   a block lives while any handle or view of it is open in any process; the next
//          creation after that starts again from zero, as on the platform; the last holder
//          removes the object from /dev/shm. An existing block keeps its own size.
WINAPI_EXPORT HANDLE CreateFileMappingA(HANDLE hFile, LPSECURITY_ATTRIBUTES lpFileMappingAttributes,
                                        DWORD flProtect, DWORD dwMaximumSizeHigh,
                                        DWORD dwMaximumSizeLow, LPCSTR lpName);

// OpenFileMappingA
// Opens an existing named block.
// Params:  dwDesiredAccess [I] FILE_MAP_*; bInheritHandle [I] ignored; lpName [I]
// Returns: a mapping handle; null with ERROR_FILE_NOT_FOUND when no live block has that name.
WINAPI_EXPORT HANDLE OpenFileMappingA(DWORD dwDesiredAccess, BOOL bInheritHandle, LPCSTR lpName);

// MapViewOfFile
// Maps a block into the process.
// Params:  hFileMappingObject [I]; dwDesiredAccess [I] FILE_MAP_*; dwFileOffsetHigh,
//          dwFileOffsetLow [I] 0; dwNumberOfBytesToMap [I] 0 for the whole block.
// Returns: the address of the view; null with ERROR_INVALID_HANDLE, ERROR_INVALID_PARAMETER,
//          ERROR_ACCESS_DENIED, ERROR_NOT_ENOUGH_MEMORY.
WINAPI_EXPORT LPVOID MapViewOfFile(HANDLE hFileMappingObject, DWORD dwDesiredAccess,
                                   DWORD dwFileOffsetHigh, DWORD dwFileOffsetLow,
                                   SIZE_T dwNumberOfBytesToMap);

// UnmapViewOfFile
// Unmaps a view of MapViewOfFile.
// Returns: TRUE; FALSE with ERROR_INVALID_ADDRESS for an address that is no view.
WINAPI_EXPORT BOOL UnmapViewOfFile(LPCVOID lpBaseAddress);
