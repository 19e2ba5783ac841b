// The printf-style formatter behind CKaText::Format: the output-length estimate and a
// count-limited printer with the platform's conversions (l is 32-bit for integers; ll and I64
// are 64-bit; %S, %ls and %lc take UTF-16 text, converted to the ANSI code page).
#pragma once

#include <stdarg.h>
#include <stddef.h>

#include "ka_alloc.h"

// Number of characters the output of fmt is given room for. Walks the arguments in step with
// the printer. 0 for a null or empty fmt. Never above kFormatLimit.
KAMSUTIL_HIDDEN size_t ka_format_estimate(const char* fmt, va_list args);

// Prints fmt into out, at most limit characters, then a zero byte (out holds limit + 1 bytes).
KAMSUTIL_HIDDEN void ka_format_print(char* out, size_t limit, const char* fmt, va_list args);

// Largest estimate: a block must stay within the 32-bit sizes of the text class.
inline constexpr size_t kFormatLimit = 0x7FFFFFFE;
