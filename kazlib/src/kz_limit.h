// The output limit as the library's operations read it (set through KaZlibSetOutputLimit).
#pragma once

#include <stddef.h>

#include "kz_alloc.h"

// The most bytes an operation may produce, or accept to compress, right now.
KAZLIB_HIDDEN size_t kz_output_limit();
