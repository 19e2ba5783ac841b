// Byte-array variants (see byte_array.h).
#include "byte_array.h"

#include <assert.h>
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

ByteArrayView::ByteArrayView(const char* data, ULONG size) {
  memset(&array_, 0, sizeof array_);
  array_.cDims = 1;
  array_.fFeatures = FADF_AUTO | FADF_FIXEDSIZE;
  array_.cbElements = 1;
  array_.pvData = const_cast<char*>(data);
  array_.rgsabound[0].cElements = size;
  array_.rgsabound[0].lLbound = 0;
  VariantInit(&variant_);
  variant_.vt = VT_ARRAY | VT_UI1;
  variant_.parray = &array_;
}

ByteArrayView::~ByteArrayView() {
  // A callee that kept the array locked would now read freed memory.
  assert(array_.cLocks == 0);
}
