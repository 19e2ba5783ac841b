// Translation of the kernel's error numbers into the platform's error codes, shared by the
// operating-system units of the platform.
#pragma once

#include "windef.h"

#define PLATFORM_HIDDEN __attribute__((visibility("hidden")))

// What a failed call was working on: some error numbers name different codes for each.
enum class ErrorContext { kFile, kDirectory };

// The error code for the kernel's error number err:
//   EACCES, EPERM, EROFS, EISDIR     ERROR_ACCESS_DENIED
//   EBUSY, ETXTBSY                   ERROR_SHARING_VIOLATION (the platform's in-use class)
//   ENOENT                           ERROR_FILE_NOT_FOUND (kFile), ERROR_PATH_NOT_FOUND
//   (kDirectory) ENOTDIR                          ERROR_PATH_NOT_FOUND ENOTEMPTY
//   ERROR_DIR_NOT_EMPTY EEXIST                           ERROR_ALREADY_EXISTS (kFile),
//   ERROR_DIR_NOT_EMPTY
//                                    (kDirectory: rmdir may report a full directory so)
// and the obvious codes for the rest.
PLATFORM_HIDDEN DWORD win32_error_from_errno(int err, ErrorContext context);
