// What every provider shares.
#include "database.h"

#include <cstring>

#include "oleauto.h"
#include "scoped_safearray.h"

ULONGLONG ByteArraySize(SAFEARRAY* array) {
  ULONGLONG total = 1;
  for (UINT d = 1; d <= SafeArrayGetDim(array); ++d) {
    LONG lower = 0;
    LONG upper = -1;
    SafeArrayGetLBound(array, d, &lower);
    SafeArrayGetUBound(array, d, &upper);
    total *= upper >= lower ? static_cast<ULONGLONG>(upper - lower + 1) : 0;
  }
  return SafeArrayGetDim(array) ? total : 0;
}

HRESULT NewByteArray(const void* data, ULONG count, SAFEARRAY** out) {
  *out = nullptr;
  ScopedSafeArray array;
  array.Reset(SafeArrayCreateVector(VT_UI1, 0, count));
  if (!array.Get())
    return E_OUTOFMEMORY;
  if (count) {
    const SafeArrayDataScope bytes(array.Get());
    if (FAILED(bytes.status()))
      return bytes.status();
    std::memcpy(bytes.data(), data, count);
  }
  *out = array.Release();
  return S_OK;
}
