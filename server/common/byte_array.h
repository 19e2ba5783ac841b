// Byte-array variants handed to scripts, the database objects and the response.
#pragma once

#include "scoped_variant.h"

// A new one-dimensional byte array (lower bound 0) of size bytes in *out: a copy of data when
// data is given, zero bytes otherwise. E_OUTOFMEMORY when it cannot be made.
HRESULT MakeByteArray(const char* data, long size, ScopedVariant* out);

// A byte-array variant over bytes it does not own: a one-dimensional array (lower bound 0) whose
// descriptor lives in the view (FADF_AUTO: never freed by the array functions) and whose
// elements are the caller's bytes. It hands bytes to a callee that copies what it keeps, as
// AppendChunk does, without a copy of its own. Valid while the view and the bytes live; it is
// never cleared as an ordinary variant.
class ByteArrayView {
 public:
  ByteArrayView(const char* data, ULONG size);
  ByteArrayView(const ByteArrayView&) = delete;
  ByteArrayView& operator=(const ByteArrayView&) = delete;
  ~ByteArrayView();

  const VARIANT& Get() const { return variant_; }

 private:
  SAFEARRAY array_;
  VARIANT variant_;
};
