// Settings of this platform that Windows keeps elsewhere (in the system's locale settings).
// Not part of the Windows-shaped headers: only the host, tools and tests include this.
#pragma once

#include "windef.h"

// PlatformSetACP
// Sets the ANSI code page of the process (for instance 949 or CP_UTF8).
// Returns: TRUE, or FALSE when the code page cannot be converted (the setting is unchanged).
// Notes:   the PLATFORM_ACP environment variable gives the start value; the default is 949.
WINAPI_EXPORT BOOL PlatformSetACP(UINT CodePage);

// PlatformSetDriveRoot
// Sets the directory that drive letter Drive ('A' to 'Z', either case) stands for: "X:\dir"
// names dir under it. A null or empty root restores the default "/".
// Returns: TRUE; FALSE for a letter out of range or a root that is not absolute ('/' first) or
//          is too long.
// Notes:   the PLATFORM_DRIVE_ROOTS environment variable gives the start values, as
//          "C=/srv/c;D=/mnt/data"; every drive not named there is "/". Roots are UTF-8.
WINAPI_EXPORT BOOL PlatformSetDriveRoot(CHAR Drive, LPCSTR lpRoot);

// PlatformSetRegistryPath
// Sets the file that holds the registry of this process (a UTF-8 Linux path); null or "" goes
// back to the PLATFORM_REGISTRY environment variable, or, when it is unset or empty, to
// $XDG_DATA_HOME/vantrel/registry.reg (~/.local/share/vantrel/registry.reg without it).
// Returns: TRUE, or FALSE when memory ran out (the setting is unchanged).
// Notes:   the file is read again at the next registry call; open key handles stay valid and
//          refer to the same paths in the new file. Missing parent folders are created at the
//          first write.
WINAPI_EXPORT BOOL PlatformSetRegistryPath(const char* path);

// PlatformSetRegistryRecheck
// Sets how long the registry of this process trusts its copy of the file before it looks at the
// file again for another process's changes; 0 looks on every call. Changes this process makes
// are seen at once whatever the setting.
// Notes:   the PLATFORM_REGISTRY_RECHECK_MS environment variable gives the start value (0 to
//          60000); the default is 250.
WINAPI_EXPORT void PlatformSetRegistryRecheck(DWORD milliseconds);

// PlatformRaiseHandleLimit
// Raises the number of handles (files and sockets) the process may hold at once to the most
// the system allows it.
// Returns: the limit now in force.
// Notes:   a server that keeps many client connections open calls it once at its start.
WINAPI_EXPORT DWORD PlatformRaiseHandleLimit(void);
