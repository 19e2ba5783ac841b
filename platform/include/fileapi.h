// File services: attributes, wildcard enumeration, delete, create and remove directory, file
// handles, the temporary directory. Paths are narrow text in the ANSI code page; `\` and `/`
// separate, `\dir` is rooted, `X:\dir` lies under the root configured for drive X
// (platform_config.h). Paths of MAX_PATH bytes or more fail with ERROR_FILENAME_EXCED_RANGE.
#pragma once

#include "minwinbase.h"
#include "windef.h"

#define INVALID_FILE_ATTRIBUTES ((DWORD)-1)
#define INVALID_FILE_SIZE ((DWORD)0xFFFFFFFF)

#define FILE_ATTRIBUTE_READONLY 0x00000001
#define FILE_ATTRIBUTE_HIDDEN 0x00000002
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010
#define FILE_ATTRIBUTE_ARCHIVE 0x00000020
#define FILE_ATTRIBUTE_NORMAL 0x00000080
#define FILE_ATTRIBUTE_REPARSE_POINT 0x00000400

#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_APPEND_DATA 0x00000004u

#define FILE_SHARE_READ 0x00000001
#define FILE_SHARE_WRITE 0x00000002
#define FILE_SHARE_DELETE 0x00000004

#define CREATE_NEW 1
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3
#define OPEN_ALWAYS 4
#define TRUNCATE_EXISTING 5

typedef struct _WIN32_FIND_DATAA {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD dwReserved0;
  DWORD dwReserved1;
  CHAR cFileName[MAX_PATH];
  CHAR cAlternateFileName[14];
} WIN32_FIND_DATAA, *PWIN32_FIND_DATAA, *LPWIN32_FIND_DATAA;

typedef enum _GET_FILEEX_INFO_LEVELS {
  GetFileExInfoStandard,
  GetFileExMaxInfoLevel
} GET_FILEEX_INFO_LEVELS;

typedef struct _WIN32_FILE_ATTRIBUTE_DATA {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
} WIN32_FILE_ATTRIBUTE_DATA, *LPWIN32_FILE_ATTRIBUTE_DATA;

// GetFileAttributesA
// Returns the attributes of a file or directory.
// Params:  lpFileName [I]
// Returns: FILE_ATTRIBUTE_* flags (FILE_ATTRIBUTE_NORMAL alone for a plain writable file).
//          INVALID_FILE_ATTRIBUTES with GetLastError ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND,
//          ERROR_INVALID_NAME (wildcards), ERROR_FILENAME_EXCED_RANGE or ERROR_ACCESS_DENIED.
WINAPI_EXPORT DWORD GetFileAttributesA(LPCSTR lpFileName);

// GetFileAttributesExA
// Returns attributes, times and size of a file or directory.
// Params:  lpFileName [I], fInfoLevelId [I] GetFileExInfoStandard,
//          lpFileInformation [O] a WIN32_FILE_ATTRIBUTE_DATA.
// Returns: TRUE; FALSE with GetLastError as GetFileAttributesA, or ERROR_INVALID_PARAMETER.
WINAPI_EXPORT BOOL GetFileAttributesExA(LPCSTR lpFileName, GET_FILEEX_INFO_LEVELS fInfoLevelId,
                                        LPVOID lpFileInformation);

// FindFirstFileA
// Starts an enumeration of the entries of a directory whose names match a pattern.
// Params:  lpFileName [I] directory and pattern ("dir\*.txt"); `*` matches any run, `?` one
//          character, a trailing ".*" also matches names without a point, so "*.*" matches
//          every entry, "." and ".." included. Matching ignores ASCII case, as on the platform.
//          lpFindFileData [O] the first match.
// Returns: a find handle for FindNextFileA and FindClose; INVALID_HANDLE_VALUE with GetLastError
//          ERROR_FILE_NOT_FOUND (no match), ERROR_PATH_NOT_FOUND (no such directory),
//          ERROR_FILENAME_EXCED_RANGE, ERROR_INVALID_PARAMETER (null argument).
// Notes:   a symbolic link is listed as itself, with FILE_ATTRIBUTE_REPARSE_POINT alone, so a
//          walk down a tree never follows it out of the tree. A name that the ANSI code page cannot
//          hold is given with `?` in its place, as the platform does; names of MAX_PATH bytes or
//          more are skipped.
WINAPI_EXPORT HANDLE FindFirstFileA(LPCSTR lpFileName, LPWIN32_FIND_DATAA lpFindFileData);

// FindNextFileA
// Gives the next match of an enumeration.
// Params:  hFindFile [I], lpFindFileData [O]
// Returns: TRUE; FALSE with GetLastError ERROR_NO_MORE_FILES at the end, ERROR_INVALID_HANDLE.
WINAPI_EXPORT BOOL FindNextFileA(HANDLE hFindFile, LPWIN32_FIND_DATAA lpFindFileData);

// FindClose
// Ends an enumeration and releases its handle.
// Returns: TRUE; FALSE with ERROR_INVALID_HANDLE for a null or invalid handle.
WINAPI_EXPORT BOOL FindClose(HANDLE hFindFile);

// DeleteFileA
// Deletes a file.
// Returns: TRUE; FALSE with GetLastError ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND,
//          ERROR_ACCESS_DENIED (a directory, or the directory refuses), ERROR_SHARING_VIOLATION.
// Notes:   unlike the platform, a file that another process holds open can be deleted.
WINAPI_EXPORT BOOL DeleteFileA(LPCSTR lpFileName);

// CreateDirectoryA
// Creates one directory; its parent must exist.
// Params:  lpPathName [I], lpSecurityAttributes [I] ignored (may be null).
// Returns: TRUE; FALSE with GetLastError ERROR_ALREADY_EXISTS, ERROR_PATH_NOT_FOUND,
//          ERROR_ACCESS_DENIED.
WINAPI_EXPORT BOOL CreateDirectoryA(LPCSTR lpPathName, LPSECURITY_ATTRIBUTES lpSecurityAttributes);

// RemoveDirectoryA
// Removes an empty directory.
// Returns: TRUE; FALSE with GetLastError ERROR_DIR_NOT_EMPTY, ERROR_FILE_NOT_FOUND,
//          ERROR_PATH_NOT_FOUND, ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION.
WINAPI_EXPORT BOOL RemoveDirectoryA(LPCSTR lpPathName);

// CreateFileA
// Opens or creates a file.
// Params:  lpFileName [I]; dwDesiredAccess [I] GENERIC_READ, GENERIC_WRITE, FILE_APPEND_DATA
//          (every write goes to the end); dwShareMode [I] ignored; lpSecurityAttributes [I]
//          ignored; dwCreationDisposition [I] CREATE_NEW, CREATE_ALWAYS, OPEN_EXISTING,
//          OPEN_ALWAYS, TRUNCATE_EXISTING; dwFlagsAndAttributes [I] ignored; hTemplateFile [I]
//          must be null.
// Returns: a file handle for ReadFile, WriteFile, GetFileSize and CloseHandle. With
//          CREATE_ALWAYS or OPEN_ALWAYS, GetLastError is ERROR_ALREADY_EXISTS when the file
//          existed and 0 otherwise. INVALID_HANDLE_VALUE with GetLastError ERROR_FILE_EXISTS
//          (CREATE_NEW), ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND, ERROR_ACCESS_DENIED
//          (also for a directory), ERROR_INVALID_PARAMETER.
// Notes:   sharing modes are not enforced: other processes may open, rename or delete the file.
WINAPI_EXPORT HANDLE CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                                 LPSECURITY_ATTRIBUTES lpSecurityAttributes,
                                 DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes,
                                 HANDLE hTemplateFile);

// ReadFile
// Reads up to nNumberOfBytesToRead bytes at the file position.
// Params:  hFile [I], lpBuffer [O], nNumberOfBytesToRead [I], lpNumberOfBytesRead [O] required,
//          lpOverlapped [I] must be null.
// Returns: TRUE (0 bytes read at the end of the file); FALSE with ERROR_INVALID_HANDLE,
//          ERROR_ACCESS_DENIED, ERROR_READ_FAULT.
WINAPI_EXPORT BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
                            LPDWORD lpNumberOfBytesRead, LPOVERLAPPED lpOverlapped);

// WriteFile
// Writes nNumberOfBytesToWrite bytes at the file position (at the end with FILE_APPEND_DATA).
// Params:  hFile [I], lpBuffer [I], nNumberOfBytesToWrite [I], lpNumberOfBytesWritten [O]
//          required, lpOverlapped [I] must be null.
// Returns: TRUE when every byte was written; FALSE with ERROR_DISK_FULL, ERROR_ACCESS_DENIED,
//          ERROR_INVALID_HANDLE, ERROR_WRITE_FAULT (*lpNumberOfBytesWritten holds what went).
WINAPI_EXPORT BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                             LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped);

// GetFileSize
// Returns the low 32 bits of the size of an open file, the high ones in *lpFileSizeHigh.
// Returns: the low part; INVALID_FILE_SIZE with GetLastError ERROR_INVALID_HANDLE on failure
//          (GetLastError is NO_ERROR when a size really has that low part).
WINAPI_EXPORT DWORD GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh);

// GetTempPathA
// Writes the temporary directory, with a trailing backslash, in the system's path form.
// Params:  nBufferLength [I] size of lpBuffer in bytes, lpBuffer [O].
// Returns: the length written (terminator excluded); when the buffer is too small, the size
//          needed (terminator included) and nothing is written; 0 on failure.
// Notes:   TMPDIR when it is set to an absolute path, /tmp otherwise: "/tmp" is given as "\tmp\".
WINAPI_EXPORT DWORD GetTempPathA(DWORD nBufferLength, LPSTR lpBuffer);
