// File facts for components that read a file through the C library's streams (the script
// host's static files) rather than through the platform's file handles. Not part of the
// Windows-shaped headers.
#pragma once

#include <stdio.h>

#include "fileapi.h"

// PlatformGetStreamAttributes
// Returns attributes, times and size of the file an open C stream reads, as
// GetFileAttributesExA gives them for a path: those of the file opened, even when another has
// since taken its name.
// Params:  stream [I], lpFileInformation [O].
// Returns: TRUE; FALSE with GetLastError ERROR_INVALID_PARAMETER (a null argument) or
//          ERROR_INVALID_HANDLE (the stream reads no file).
WINAPI_EXPORT BOOL PlatformGetStreamAttributes(FILE* stream,
                                               WIN32_FILE_ATTRIBUTE_DATA* lpFileInformation);
