// Conversions between automation text (UTF-16) and the UTF-8 that libpq speaks, into task
// memory.
#pragma once

#include <string_view>

#include "task_memory.h"
#include "winerror.h"

// text as zero-terminated UTF-8 in *out; *bytes (when given) receives its length without the
// terminator. E_OUTOFMEMORY when memory runs out; E_INVALIDARG when text holds a zero character
// or a lone surrogate, which a libpq text cannot carry.
HRESULT ToUtf8(std::u16string_view text, TaskMemory* out, size_t* bytes = nullptr);

// length bytes of UTF-8 as zero-terminated UTF-16 in *out, *units its length. Bytes that are no
// UTF-8 become U+FFFD. False when memory runs out.
bool FromUtf8(const char* text, size_t length, TaskMemory* out, size_t* units);
