// The path namespace: the system's narrow Windows-style paths and the kernel's UTF-8 paths.
// Every file service of the platform passes its paths through here, and only here.
#pragma once

#include <string>

#include "windef.h"

#define PLATFORM_HIDDEN __attribute__((visibility("hidden")))

// How map_path treats `*` and `?`.
enum class Wildcards { kRefused, kInLastComponent };

// Translates a narrow path of the ANSI code page into the kernel's form: `\` and `/` separate,
// "\dir" is "/dir", "X:\dir" is dir under the root of drive X, the text becomes UTF-8.
// Returns true; false with the thread's last error set: ERROR_INVALID_PARAMETER (null),
// ERROR_PATH_NOT_FOUND (empty), ERROR_FILENAME_EXCED_RANGE (MAX_PATH bytes or more),
// ERROR_INVALID_NAME (wildcards where refused, or bytes that are no text of the code page).
PLATFORM_HIDDEN bool map_path(LPCSTR path, Wildcards wildcards, std::string* os_path);

// Translates a kernel name or path (UTF-8) into narrow text of the ANSI code page with `/`
// turned into `\`. Characters that the code page lacks become `?`. Returns false only when the
// text is no UTF-8.
PLATFORM_HIDDEN bool unmap_path(const std::string& os_path, std::string* path);
