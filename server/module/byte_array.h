// Byte-array variants handed to scripts, the database objects and the response.
#pragma once

#include "scoped_variant.h"

// A new one-dimensional byte array (lower bound 0) of size bytes in *out: a copy of data when
// data is given, zero bytes otherwise. E_OUTOFMEMORY when it cannot be made.
HRESULT MakeByteArray(const char* data, long size, ScopedVariant* out);
