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
