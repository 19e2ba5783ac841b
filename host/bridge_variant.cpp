// Values between scripts and automation: VARIANT to JavaScript and back (bridge.h).
#include <cmath>
#include <cstring>

#include "bridge.h"
#include "bridge_internal.h"
#include "com_ptr.h"
#include "scoped_bstr.h"
#include "scoped_safearray.h"
#include "scoped_variant.h"
#include "text.h"

namespace vhost {

using namespace bridge_detail;

namespace {

// Pushes text as a script string; a short one is converted on the stack, not in a block of
// its own.
void push_text(duk_context* ctx, std::u16string_view text) {
  char bytes[768];
  if (text.size() <= sizeof bytes / 3) {
    duk_push_lstring(ctx, bytes, write_cesu8(text, bytes));
    return;
  }
  const std::string cesu8 = to_cesu8(text);
  duk_push_lstring(ctx, cesu8.data(), cesu8.size());
}

// Pushes a value that needs no copy and no check (no reference to follow); false for any other.
bool push_plain(duk_context* ctx, const VARIANT& value) {
  switch (value.vt) {
    case VT_EMPTY:
    case VT_ERROR:
      duk_push_undefined(ctx);
      return true;
    case VT_NULL:
      duk_push_null(ctx);
      return true;
    case VT_BOOL:
      duk_push_boolean(ctx, value.boolVal != VARIANT_FALSE);
      return true;
    // Numbers that a double holds exactly; the wider and decimal ones (I8, UI8, CY, DECIMAL)
    // are converted as the platform converts them, after the copy.
    case VT_I1:
      duk_push_number(ctx, static_cast<signed char>(value.cVal));
      return true;
    case VT_UI1:
      duk_push_number(ctx, value.bVal);
      return true;
    case VT_I2:
      duk_push_number(ctx, value.iVal);
      return true;
    case VT_UI2:
      duk_push_number(ctx, value.uiVal);
      return true;
    case VT_I4:
      duk_push_number(ctx, value.lVal);
      return true;
    case VT_UI4:
      duk_push_number(ctx, value.ulVal);
      return true;
    case VT_INT:
      duk_push_number(ctx, value.intVal);
      return true;
    case VT_UINT:
      duk_push_number(ctx, value.uintVal);
      return true;
    case VT_R4:
      duk_push_number(ctx, value.fltVal);
      return true;
    case VT_R8:
      duk_push_number(ctx, value.dblVal);
      return true;
    case VT_BSTR:
      push_text(ctx, value.bstrVal ? std::u16string_view(value.bstrVal, SysStringLen(value.bstrVal))
                                   : std::u16string_view());
      return true;
    case VT_DISPATCH:
      bridge_push_dispatch(ctx, value.pdispVal);
      return true;
    default:
      return false;
  }
}

}  // namespace

void bridge_push_variant(duk_context* ctx, const VARIANT& in) {
  // Plain values are read where they are; a value by reference, or of a type that needs
  // checking, is copied (and checked) first.
  if (push_plain(ctx, in))
    return;
  ScopedVariant v;
  HRESULT hr = VariantCopyInd(v.Receive(), &in);
  if (FAILED(hr))
    bridge_throw_failure(ctx, hr, nullptr, u"");
  const VARIANT& value = v.Get();
  if (push_plain(ctx, value))  // it was by reference
    return;
  switch (value.vt) {
    case VT_UNKNOWN: {
      ComPtr<IDispatch> d;
      if (value.punkVal)
        value.punkVal->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(d.Receive()));
      if (d)
        bridge_push_dispatch(ctx, d.Get());
      else
        duk_push_null(ctx);
      return;
    }
    case VT_DATE: {
      ScopedVariant text;
      if (SUCCEEDED(text.Set(value)) && SUCCEEDED(text.ChangeType(VT_BSTR))) {
        duk_push_string(ctx, to_cesu8(text.Get().bstrVal ? text.Get().bstrVal : u"").c_str());
        return;
      }
      duk_push_undefined(ctx);
      return;
    }
    default:
      break;
  }
  if (value.vt == (VT_ARRAY | VT_UI1) || value.vt == (VT_ARRAY | VT_I1)) {
    SAFEARRAY* array = value.parray;
    LONG lower = 0, upper = -1;
    if (array) {
      SafeArrayGetLBound(array, 1, &lower);
      SafeArrayGetUBound(array, 1, &upper);
    }
    const size_t n = upper >= lower ? static_cast<size_t>(upper - lower + 1) : 0;
    void* buffer = duk_push_fixed_buffer(ctx, n);
    if (n) {
      const SafeArrayDataScope data(array);
      if (FAILED(data.status()))
        bridge_throw_failure(ctx, data.status(), nullptr, u"");
      std::memcpy(buffer, data.data<void>(), n);
    }
    duk_push_buffer_object(ctx, -1, 0, n, DUK_BUFOBJ_UINT8ARRAY);
    duk_remove(ctx, -2);
    return;
  }
  if (value.vt & VT_ARRAY) {
    SAFEARRAY* array = value.parray;
    duk_push_array(ctx);
    if (!array || SafeArrayGetDim(array) != 1)
      return;
    LONG lower = 0, upper = -1;
    SafeArrayGetLBound(array, 1, &lower);
    SafeArrayGetUBound(array, 1, &upper);
    const VARTYPE base = static_cast<VARTYPE>(value.vt & ~VT_ARRAY);
    for (LONG i = lower; i <= upper; ++i) {
      ScopedVariant element;
      if (base == VT_VARIANT) {
        hr = SafeArrayGetElement(array, &i, element.Receive());
      } else {
        VARIANT raw;
        VariantInit(&raw);
        hr = SafeArrayGetElement(array, &i, &raw.lVal);
        if (SUCCEEDED(hr)) {
          raw.vt = base;
          element.Reset(raw);
        }
      }
      if (FAILED(hr))
        bridge_throw_failure(ctx, hr, nullptr, u"array element");
      bridge_push_variant(ctx, element.Get());
      duk_put_prop_index(ctx, -2, static_cast<duk_uarridx_t>(i - lower));
    }
    return;
  }
  ScopedVariant number;
  if (SUCCEEDED(number.Set(value)) && SUCCEEDED(number.ChangeType(VT_R8))) {
    duk_push_number(ctx, number.Get().dblVal);
    return;
  }
  duk_push_undefined(ctx);
}

void bridge_to_variant(duk_context* ctx, duk_idx_t idx, VARIANT* out) {
  idx = duk_normalize_index(ctx, idx);
  VariantInit(out);
  switch (duk_get_type(ctx, idx)) {
    case DUK_TYPE_UNDEFINED:
      return;
    case DUK_TYPE_NULL:
      out->vt = VT_NULL;
      return;
    case DUK_TYPE_BOOLEAN:
      out->vt = VT_BOOL;
      out->boolVal = duk_get_boolean(ctx, idx) ? VARIANT_TRUE : VARIANT_FALSE;
      return;
    case DUK_TYPE_NUMBER: {
      const double d = duk_get_number(ctx, idx);
      if (std::isfinite(d) && d == std::floor(d) && d >= -2147483648.0 && d <= 2147483647.0 &&
          !(d == 0 && std::signbit(d))) {
        out->vt = VT_I4;
        out->lVal = static_cast<LONG>(d);
      } else {
        out->vt = VT_R8;
        out->dblVal = d;
      }
      return;
    }
    case DUK_TYPE_STRING: {
      duk_size_t len = 0;
      const char* s = duk_get_lstring(ctx, idx, &len);
      const std::u16string text = from_cesu8(std::string_view(s, len));
      out->bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
      if (!out->bstrVal)
        bridge_throw_failure(ctx, E_OUTOFMEMORY, nullptr, u"");
      out->vt = VT_BSTR;
      return;
    }
    default:
      break;
  }
  if (duk_is_buffer_data(ctx, idx)) {
    duk_size_t size = 0;
    const void* data = duk_get_buffer_data(ctx, idx, &size);
    if (size > 0x7FFFFFFF)
      bridge_throw_failure(ctx, DISP_E_OVERFLOW, nullptr, u"");
    ScopedSafeArray array;
    array.Reset(SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(size)));
    if (!array.Get())
      bridge_throw_failure(ctx, E_OUTOFMEMORY, nullptr, u"");
    if (size) {
      const SafeArrayDataScope bytes(array.Get());
      if (FAILED(bytes.status()))
        bridge_throw_failure(ctx, bytes.status(), nullptr, u"");
      std::memcpy(bytes.data<void>(), data, size);
    }
    out->vt = VT_ARRAY | VT_UI1;
    out->parray = array.Release();
    return;
  }
  if (duk_is_array(ctx, idx)) {
    const duk_size_t n = duk_get_length(ctx, idx);
    SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(n));
    if (!array)
      bridge_throw_failure(ctx, E_OUTOFMEMORY, nullptr, u"");
    out->vt = VT_ARRAY | VT_VARIANT;
    out->parray = array;
    for (duk_size_t i = 0; i < n; ++i) {
      duk_get_prop_index(ctx, idx, static_cast<duk_uarridx_t>(i));
      ScopedVariant element;
      bridge_to_variant(ctx, -1, element.Receive());
      duk_pop(ctx);
      LONG index = static_cast<LONG>(i);
      SafeArrayPutElement(array, &index, element.AsInput());
    }
    return;
  }
  if (IDispatch* object = dispatch_at(ctx, idx)) {
    object->AddRef();
    out->vt = VT_DISPATCH;
    out->pdispVal = object;
    return;
  }
  duk_dup(ctx, idx);
  duk_size_t len = 0;
  const char* s = duk_safe_to_lstring(ctx, -1, &len);
  const std::u16string text = from_cesu8(std::string_view(s, len));
  duk_pop(ctx);
  out->bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  if (!out->bstrVal)
    bridge_throw_failure(ctx, E_OUTOFMEMORY, nullptr, u"");
  out->vt = VT_BSTR;
}

}  // namespace vhost
