// ReadScalarValue: the value classes the providers bind.
#include "scalar_value.h"

HRESULT ReadScalarValue(const VARIANT& given, ScalarValue* out) {
  const VARIANT* value = &given;
  if (given.vt & VT_BYREF) {
    if (FAILED(VariantCopyInd(out->held.Receive(), &given)))
      return E_INVALIDARG;
    value = &out->held.Get();
  }
  switch (value->vt) {
    case VT_EMPTY:
    case VT_NULL:
    case VT_ERROR:  // a missing value
      out->kind = ScalarValue::Kind::kNull;
      return S_OK;
    case VT_BOOL:
      out->kind = ScalarValue::Kind::kBoolean;
      out->boolean = value->boolVal != VARIANT_FALSE;
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
      out->kind = ScalarValue::Kind::kInteger;
      out->integer = wide.Get().llVal;
      return S_OK;
    }
    case VT_R4:
    case VT_R8:
    case VT_CY: {
      ScopedVariant real;
      if (FAILED(VariantChangeType(real.Receive(), value, 0, VT_R8)))
        return E_INVALIDARG;
      out->kind = ScalarValue::Kind::kReal;
      out->real = real.Get().dblVal;
      return S_OK;
    }
    case VT_BSTR:
      out->kind = ScalarValue::Kind::kText;
      out->text = value->bstrVal;
      return S_OK;
    default: {
      ScopedVariant text;
      const HRESULT hr = VariantChangeType(text.Receive(), value, 0, VT_BSTR);
      if (FAILED(hr))
        return hr == E_OUTOFMEMORY ? hr : E_INVALIDARG;
      out->held.Swap(text);
      out->kind = ScalarValue::Kind::kText;
      out->text = out->held.Get().bstrVal;
      return S_OK;
    }
  }
}
