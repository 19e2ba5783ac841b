// Named shared memory: file mappings backed by the paging file, and views of them. A name is
// one block for every process of the machine (of the same user). Private memory: regions of
// pages reserved and committed at once, whose contents a process can give back while it keeps
// the region.
#pragma once

#include "minwinbase.h"
#include "windef.h"

#define PAGE_READONLY 0x02
#define PAGE_READWRITE 0x04

#define MEM_COMMIT 0x00001000
#define MEM_RESERVE 0x00002000
#define MEM_RELEASE 0x00008000
#define MEM_RESET 0x00080000

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

// VirtualAlloc
// Reserves and commits a region of private pages, or resets pages of one.
// Params:  lpAddress [I] null to make a region; with MEM_RESET, the first page to reset;
//          dwSize [I] bytes, not 0; flAllocationType [I] MEM_RESERVE | MEM_COMMIT (a new region)
//          or MEM_RESET (pages of a region whose contents are no longer needed); flProtect [I]
//          PAGE_READWRITE.
// Returns: the region's page-aligned address (all zero when new); for MEM_RESET, lpAddress.
//          Null with ERROR_INVALID_PARAMETER or ERROR_NOT_ENOUGH_MEMORY.
// Notes:   a new region takes memory only as its pages are touched. Reset pages stay usable and
//          read as zero here (the platform leaves their contents undefined); they take no
//          memory until touched again.
WINAPI_EXPORT LPVOID VirtualAlloc(LPVOID lpAddress, SIZE_T dwSize, DWORD flAllocationType,
                                  DWORD flProtect);

// VirtualFree
// Releases a whole region of VirtualAlloc.
// Params:  lpAddress [I] the region's address; dwSize [I] 0; dwFreeType [I] MEM_RELEASE.
// Returns: TRUE; FALSE with ERROR_INVALID_PARAMETER (another address, size or type).
WINAPI_EXPORT BOOL VirtualFree(LPVOID lpAddress, SIZE_T dwSize, DWORD dwFreeType);
