// Byte-array variants (see byte_array.h).
#include "byte_array.h"

#include <string.h>

#include "oleauto.h"

HRESULT MakeByteArray(const char* data, long size, ScopedVariant* out) {
  SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(size));
  if (!array)
    return E_OUTOFMEMORY;
  if (data && size > 0) {
    void* bytes = nullptr;
    const HRESULT hr = SafeArrayAccessData(array, &bytes);
    if (FAILED(hr)) {
      SafeArrayDestroy(array);
      return hr;
    }
    memcpy(bytes, data, static_cast<size_t>(size));
    SafeArrayUnaccessData(array);
  }
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_ARRAY | VT_UI1;
  v.parray = array;
  out->Reset(v);
  return S_OK;
}
