// Turning VARIANT values into libpq's parameter arrays.
#include "pg_parameters.h"

#include <climits>
#include <cstdio>
#include <new>
#include <string_view>

#include "ado_object.h"
#include "faultsim.h"
#include "scoped_variant.h"
#include "utf8_text.h"

namespace {

// Type identifiers of the server's built-in types (its catalog's fixed oids).
constexpr Oid kBoolOid = 16;
constexpr Oid kByteaOid = 17;
constexpr Oid kInt8Oid = 20;
constexpr Oid kInt4Oid = 23;
constexpr Oid kFloat8Oid = 701;

constexpr int kTextFormat = 0;
constexpr int kBinaryFormat = 1;

// What stands for an empty bytea: libpq takes a null value for SQL NULL.
const char kNoBytes[1] = {};

template <class T>
std::unique_ptr<T[]> new_array(size_t n) {
  if (FaultSimStep())
    return nullptr;
  return std::unique_ptr<T[]>(new (std::nothrow) T[n]());
}

const VARIANT& through_references(const VARIANT& given) {
  const VARIANT* value = &given;
  while (value->vt == (VT_BYREF | VT_VARIANT) && value->pvarVal)
    value = value->pvarVal;
  return *value;
}

}  // namespace

HRESULT PgParameters::Bind(const BindValues& values, size_t first, int count, REFCLSID clsid,
                           REFIID iid) {
  if (count == 0)
    return S_OK;
  slots_ = new_array<Slot>(static_cast<size_t>(count));
  types_ = new_array<Oid>(static_cast<size_t>(count));
  values_ = new_array<const char*>(static_cast<size_t>(count));
  lengths_ = new_array<int>(static_cast<size_t>(count));
  formats_ = new_array<int>(static_cast<size_t>(count));
  if (!slots_ || !types_ || !values_ || !lengths_ || !formats_)
    return ReportAdoError(clsid, iid, E_OUTOFMEMORY, u"Out of memory.");
  count_ = count;
  for (int i = 0; i < count; ++i) {
    const HRESULT hr = BindOne(i, through_references(values.At(first + static_cast<size_t>(i))));
    if (hr == E_OUTOFMEMORY)
      return ReportAdoError(clsid, iid, hr, u"Out of memory.");
    if (FAILED(hr))
      return ReportAdoError(clsid, iid, AdoErrorStatus(adErrDataConversion),
                            u"A parameter value cannot be stored in the database.");
  }
  return S_OK;
}

HRESULT PgParameters::BindOne(int index, const VARIANT& given) {
  Slot& slot = slots_[index];
  if (given.vt == (VT_ARRAY | VT_UI1) || given.vt == (VT_BYREF | VT_ARRAY | VT_UI1)) {
    SAFEARRAY* array = (given.vt & VT_BYREF) ? *given.pparray : given.parray;
    if (!array)
      return S_OK;  // NULL
    const ULONGLONG size = ByteArraySize(array);
    if (size > INT_MAX)
      return E_INVALIDARG;
    types_[index] = kByteaOid;
    formats_[index] = kBinaryFormat;
    lengths_[index] = static_cast<int>(size);
    // An empty array is an empty bytea, not NULL.
    values_[index] = kNoBytes;
    if (size == 0)
      return S_OK;
    slot.locked.emplace(array);
    if (FAILED(slot.locked->status())) {
      slot.locked.reset();
      return E_INVALIDARG;
    }
    values_[index] = slot.locked->data<const char>();
    return S_OK;
  }
  ScopedVariant plain;
  const VARIANT* value = &given;
  if (given.vt & VT_BYREF) {
    if (FAILED(VariantCopyInd(plain.Receive(), &given)))
      return E_INVALIDARG;
    value = &plain.Get();
  }
  formats_[index] = kTextFormat;
  switch (value->vt) {
    case VT_EMPTY:
    case VT_NULL:
    case VT_ERROR:  // a missing value
      return S_OK;  // NULL
    case VT_BOOL:
      types_[index] = kBoolOid;
      values_[index] = value->boolVal ? "t" : "f";
      return S_OK;
    case VT_I1:
    case VT_I2:
    case VT_I4:
    case VT_INT:
    case VT_I8:
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
    case VT_UINT: {
      ScopedVariant wide;
      if (FAILED(VariantChangeType(wide.Receive(), value, 0, VT_I8)))
        return E_INVALIDARG;
      const LONGLONG n = wide.Get().llVal;
      // A value of 32 bits binds as integer, which every function taking one accepts.
      types_[index] = n >= INT_MIN && n <= INT_MAX ? kInt4Oid : kInt8Oid;
      std::snprintf(slot.number, sizeof slot.number, "%lld", static_cast<long long>(n));
      values_[index] = slot.number;
      return S_OK;
    }
    case VT_R4:
    case VT_R8:
    case VT_CY: {
      ScopedVariant real;
      if (FAILED(VariantChangeType(real.Receive(), value, 0, VT_R8)))
        return E_INVALIDARG;
      types_[index] = kFloat8Oid;
      std::snprintf(slot.number, sizeof slot.number, "%.17g", real.Get().dblVal);
      values_[index] = slot.number;
      return S_OK;
    }
    default: {
      ScopedVariant text;
      if (value->vt != VT_BSTR) {
        const HRESULT hr = VariantChangeType(text.Receive(), value, 0, VT_BSTR);
        if (FAILED(hr))
          return hr == E_OUTOFMEMORY ? hr : E_INVALIDARG;
        value = &text.Get();
      }
      const HRESULT hr = ToUtf8(
          std::u16string_view(value->bstrVal ? value->bstrVal : u"", SysStringLen(value->bstrVal)),
          &slot.text);
      if (FAILED(hr))
        return hr;
      values_[index] = slot.text.Get<char>();
      return S_OK;
    }
  }
}
