// The output limit of KaZlib: the most bytes that any operation produces or accepts to
// compress. The default, 2^31 - 1, is also the most a result size may hold; a process may lower
// it to refuse smaller bombs, and tests lower it to reach the bound with small inputs.
#pragma once

#include "KaZlibApi.h"
#include "windef.h"

// The default and highest output limit: 2^31 - 1 bytes.
#define KAZLIB_MAX_OUTPUT 0x7FFFFFFFu

// KaZlibSetOutputLimit
// Sets the output limit of every CKaZlib operation in the process.
// Params:  limit [I] bytes; 0, or a value above KAZLIB_MAX_OUTPUT, restores the default.
// Returns: the previous limit.
// Notes:   operations already running keep the limit they started with.
KAZLIB_FUNC DWORD KaZlibSetOutputLimit(DWORD limit);
