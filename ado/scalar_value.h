// A parameter value that is not a byte array, read the way both providers bind it: NULL, a
// boolean, an integer (every integer type, as 64 bits), a real (floats and currency, as a
// double) or text (the string itself, or any other type converted to one).
#pragma once

#include "scoped_variant.h"

struct ScalarValue {
  enum class Kind { kNull, kBoolean, kInteger, kReal, kText };
  Kind kind = Kind::kNull;
  bool boolean = false;
  LONGLONG integer = 0;
  double real = 0;
  BSTR text = nullptr;  // kText: the value's own string, or held's

  ScopedVariant held;  // a copy behind a reference, or the conversion to text
};

// Reads value (by reference or not) into *out. Returns: S_OK; E_OUTOFMEMORY when the
// conversion to text runs out of memory; E_INVALIDARG when the value cannot be read or
// converted.
HRESULT ReadScalarValue(const VARIANT& value, ScalarValue* out);
