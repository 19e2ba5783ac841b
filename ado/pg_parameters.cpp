// Turning VARIANT values into libpq's parameter arrays.
#include "pg_parameters.h"

#include <climits>
#include <cstdio>
#include <new>
#include <string_view>

#include "ado_object.h"
#include "faultsim.h"
#include "scalar_value.h"
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
  ScalarValue scalar;
  const HRESULT read = ReadScalarValue(given, &scalar);
  if (FAILED(read))
    return read;
  formats_[index] = kTextFormat;
  switch (scalar.kind) {
    case ScalarValue::Kind::kNull:
      return S_OK;  // NULL
    case ScalarValue::Kind::kBoolean:
      types_[index] = kBoolOid;
      values_[index] = scalar.boolean ? "t" : "f";
      return S_OK;
    case ScalarValue::Kind::kInteger: {
      const LONGLONG n = scalar.integer;
      // A value of 32 bits binds as integer, which every function taking one accepts.
      types_[index] = n >= INT_MIN && n <= INT_MAX ? kInt4Oid : kInt8Oid;
      std::snprintf(slot.number, sizeof slot.number, "%lld", static_cast<long long>(n));
      values_[index] = slot.number;
      return S_OK;
    }
    case ScalarValue::Kind::kReal:
      types_[index] = kFloat8Oid;
      std::snprintf(slot.number, sizeof slot.number, "%.17g", scalar.real);
      values_[index] = slot.number;
      return S_OK;
    case ScalarValue::Kind::kText:
      break;
  }
  const HRESULT hr = ToUtf8(
      std::u16string_view(scalar.text ? scalar.text : u"", SysStringLen(scalar.text)), &slot.text);
  if (FAILED(hr))
    return hr;
  values_[index] = slot.text.Get<char>();
  return S_OK;
}
