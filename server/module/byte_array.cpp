// Byte-array variants (see byte_array.h).
#include "byte_array.h"

#include <string.h>

#include "oleauto.h"
#include "scoped_safearray.h"

HRESULT MakeByteArray(const char* data, long size, ScopedVariant* out) {
  ScopedSafeArray array;
  array.Reset(SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(size)));
  if (!array.Get())
    return E_OUTOFMEMORY;
  if (data && size > 0) {
    const SafeArrayDataScope bytes(array.Get());
    if (FAILED(bytes.status()))
      return bytes.status();
    memcpy(bytes.data(), data, static_cast<size_t>(size));
  }
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_ARRAY | VT_UI1;
  v.parray = array.Release();
  out->Reset(v);
  return S_OK;
}
