// Settings of this platform that Windows keeps elsewhere (in the system's locale settings).
// Not part of the Windows-shaped headers: only the host, tools and tests include this.
#pragma once

#include "windef.h"

// PlatformSetACP
// Sets the ANSI code page of the process (for instance 949 or CP_UTF8).
// Returns: TRUE, or FALSE when the code page cannot be converted (the setting is unchanged).
// Notes:   the PLATFORM_ACP environment variable gives the start value; the default is 949.
WINAPI_EXPORT BOOL PlatformSetACP(UINT CodePage);
