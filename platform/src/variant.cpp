// VARIANT functions: VariantInit, VariantClear, VariantCopy, VariantCopyInd; and the helpers
// the run time shares to validate and print variant types.
//
// A VARIANT owns what it holds by value (a BSTR, an interface reference, an array); a
// by-reference VARIANT (VT_BYREF) owns nothing.
#include "oleauto.h"

#include <stdio.h>
#include <string.h>

#include "oleaut_private.h"

namespace {

const char* const kTypeNames[] = {"VT_EMPTY", "VT_NULL", "VT_I2",      "VT_I4",      "VT_R4",
                                  "VT_R8",    "VT_CY",   "VT_DATE",    "VT_BSTR",    "VT_DISPATCH",
                                  "VT_ERROR", "VT_BOOL", "VT_VARIANT", "VT_UNKNOWN", "VT_DECIMAL",
                                  "VT_15",    "VT_I1",   "VT_UI1",     "VT_UI2",     "VT_UI4",
                                  "VT_I8",    "VT_UI8",  "VT_INT",     "VT_UINT"};

// Bytes of the value of a plain by-value type.
size_t value_size(VARTYPE vt) {
  switch (vt) {
    case VT_I1:
    case VT_UI1:
      return 1;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL:
      return 2;
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_R4:
    case VT_ERROR:
      return 4;
    case VT_I8:
    case VT_UI8:
    case VT_R8:
    case VT_DATE:
    case VT_CY:
      return 8;
    default:
      return 0;
  }
}

// A copy of b with the same bytes; a null b gives an empty string. Null when memory is short.
BSTR copy_bstr(BSTR b) {
  return SysAllocStringByteLen(reinterpret_cast<LPCSTR>(b), SysStringByteLen(b));
}

bool is_array_type(VARTYPE vt) {
  return (vt & VT_ARRAY) || (vt & VT_TYPEMASK) == VT_SAFEARRAY;
}

// The owned part of a by-value copy: deep copies and references. dest already holds the
// shallow copy of src; on failure dest is left VT_EMPTY.
HRESULT copy_owned(VARIANT* dest, const VARIANT* src) {
  HRESULT hr = S_OK;
  if (is_array_type(src->vt)) {
    hr = SafeArrayCopy(src->parray, &dest->parray);
  } else if (src->vt == VT_BSTR) {
    // As on the platform, a null BSTR is copied as a real empty one.
    dest->bstrVal = copy_bstr(src->bstrVal);
    if (!dest->bstrVal)
      hr = oom_fault();
  } else if (src->vt == VT_DISPATCH || src->vt == VT_UNKNOWN) {
    if (src->punkVal)
      src->punkVal->AddRef();
  }
  if (FAILED(hr))
    dest->vt = VT_EMPTY;
  return hr;
}

// Copies the value a by-reference src points at into dest (empty on entry).
HRESULT copy_dereferenced(VARIANT* dest, const VARIANT* src) {
  VARTYPE vt = src->vt & ~VT_BYREF;
  if (!src->byref)
    return E_INVALIDARG;  // the platform does not check; we refuse
  if (vt == VT_VARIANT) {
    const VARIANT* inner = src->pvarVal;
    // One level only.
    if (inner->vt == (VT_VARIANT | VT_BYREF))
      return E_INVALIDARG;
    return VariantCopyInd(dest, inner);
  }
  VARIANT value;
  VariantInit(&value);
  HRESULT hr = S_OK;
  if (vt & VT_ARRAY) {
    hr = SafeArrayCopy(*src->pparray, &value.parray);
  } else if (vt == VT_BSTR) {
    value.bstrVal = copy_bstr(*src->pbstrVal);
    if (!value.bstrVal)
      hr = oom_fault();
  } else if (vt == VT_DISPATCH || vt == VT_UNKNOWN) {
    value.punkVal = *src->ppunkVal;
    if (value.punkVal)
      value.punkVal->AddRef();
  } else if (vt == VT_DECIMAL) {
    value.decVal = *src->pdecVal;
  } else {
    memcpy(&value.llVal, src->byref, value_size(vt));
  }
  if (FAILED(hr))
    return hr;
  value.vt = vt;
  *dest = value;
  return S_OK;
}

}  // namespace

HRESULT variant_validate_type(VARTYPE vt) {
  VARTYPE extra = vt & VT_EXTRA_TYPE;
  VARTYPE base = vt & VT_TYPEMASK;
  if (extra & (VT_VECTOR | VT_RESERVED))
    return DISP_E_BADVARTYPE;
  // Records are valid on the platform; this one has no record support, so it refuses them.
  if (base >= VT_VOID && base != VT_CLSID)
    return DISP_E_BADVARTYPE;
  if (base == 15)
    return DISP_E_BADVARTYPE;
  if ((extra & (VT_BYREF | VT_ARRAY)) && base <= VT_NULL)
    return DISP_E_BADVARTYPE;
  return S_OK;
}

std::string debug_vt(VARTYPE vt) {
  std::string out;
  VARTYPE base = vt & VT_TYPEMASK;
  if (base < sizeof(kTypeNames) / sizeof(kTypeNames[0])) {
    out = kTypeNames[base];
  } else {
    char buf[16];
    snprintf(buf, sizeof(buf), "VT_0x%x", static_cast<unsigned>(base));
    out = buf;
  }
  if (vt & VT_VECTOR)
    out += "|VT_VECTOR";
  if (vt & VT_ARRAY)
    out += "|VT_ARRAY";
  if (vt & VT_BYREF)
    out += "|VT_BYREF";
  if (vt & VT_RESERVED)
    out += "|VT_RESERVED";
  return out;
}

std::string debug_variant(const VARIANT* v) {
  if (!v)
    return "(null)";
  std::string out = debug_vt(v->vt);
  char buf[64];
  buf[0] = '\0';
  switch (v->vt) {
    case VT_I1:
      snprintf(buf, sizeof(buf), ":%d", v->cVal);
      break;
    case VT_I2:
      snprintf(buf, sizeof(buf), ":%d", v->iVal);
      break;
    case VT_I4:
    case VT_INT:
      snprintf(buf, sizeof(buf), ":%d", v->lVal);
      break;
    case VT_UI1:
      snprintf(buf, sizeof(buf), ":%u", v->bVal);
      break;
    case VT_UI2:
      snprintf(buf, sizeof(buf), ":%u", v->uiVal);
      break;
    case VT_UI4:
    case VT_UINT:
      snprintf(buf, sizeof(buf), ":%u", v->ulVal);
      break;
    case VT_I8:
      snprintf(buf, sizeof(buf), ":%lld", static_cast<long long>(v->llVal));
      break;
    case VT_UI8:
      snprintf(buf, sizeof(buf), ":%llu", static_cast<unsigned long long>(v->ullVal));
      break;
    case VT_R4:
      snprintf(buf, sizeof(buf), ":%g", v->fltVal);
      break;
    case VT_R8:
    case VT_DATE:
      snprintf(buf, sizeof(buf), ":%.17g", v->dblVal);
      break;
    case VT_BOOL:
      snprintf(buf, sizeof(buf), ":%d", v->boolVal);
      break;
    case VT_ERROR:
      snprintf(buf, sizeof(buf), ":0x%08x", static_cast<unsigned>(v->scode));
      break;
    case VT_CY:
      snprintf(buf, sizeof(buf), ":%lld/10000", static_cast<long long>(v->cyVal.int64));
      break;
    case VT_DISPATCH:
    case VT_UNKNOWN:
      snprintf(buf, sizeof(buf), ":%p", static_cast<void*>(v->punkVal));
      break;
    case VT_BSTR: {
      out += ":\"";
      UINT n = SysStringLen(v->bstrVal);
      for (UINT i = 0; i < n && i < 40; ++i) {
        char16_t c = v->bstrVal[i];
        if (c >= 0x20 && c < 0x7F) {
          out += static_cast<char>(c);
        } else {
          snprintf(buf, sizeof(buf), "\\u%04x", static_cast<unsigned>(c));
          out += buf;
        }
      }
      buf[0] = '\0';
      out += n > 40 ? "...\"" : "\"";
      break;
    }
    default:
      break;
  }
  return out + buf;
}

void VariantInit(VARIANTARG* pvarg) {
  if (pvarg)
    memset(pvarg, 0, sizeof(*pvarg));
}

HRESULT VariantClear(VARIANTARG* pvarg) {
  if (!pvarg)
    return E_INVALIDARG;
  // Most variants cleared were never filled.
  if (pvarg->vt == VT_EMPTY)
    return S_OK;
  HRESULT hr = variant_validate_type(pvarg->vt);
  if (FAILED(hr)) {
    OLEAUT_TRACE("invalid type " + debug_vt(pvarg->vt));
    return hr;
  }
  if (!(pvarg->vt & VT_BYREF)) {
    if (is_array_type(pvarg->vt)) {
      // As on the platform, a locked array is reported but the variant is emptied anyway.
      hr = SafeArrayDestroy(pvarg->parray);
    } else if (pvarg->vt == VT_BSTR) {
      SysFreeString(pvarg->bstrVal);
    } else if (pvarg->vt == VT_DISPATCH || pvarg->vt == VT_UNKNOWN) {
      if (pvarg->punkVal)
        pvarg->punkVal->Release();
    }
  }
  pvarg->vt = VT_EMPTY;
  return hr;
}

HRESULT VariantCopy(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc) {
  if (!pvargDest || !pvargSrc)
    return E_INVALIDARG;
  if ((pvargSrc->vt & VT_TYPEMASK) == VT_CLSID || FAILED(variant_validate_type(pvargSrc->vt)))
    return DISP_E_BADVARTYPE;
  if (pvargDest == pvargSrc)
    return S_OK;
  HRESULT hr = VariantClear(pvargDest);
  if (FAILED(hr))
    return hr;
  *pvargDest = *pvargSrc;
  if (pvargSrc->vt & VT_BYREF)
    return S_OK;
  return copy_owned(pvargDest, pvargSrc);
}

HRESULT VariantCopyInd(VARIANT* pvargDest, const VARIANTARG* pvargSrc) {
  if (!pvargDest || !pvargSrc)
    return E_INVALIDARG;
  if (!(pvargSrc->vt & VT_BYREF))
    return VariantCopy(pvargDest, pvargSrc);

  // The platform checks by-reference types more loosely, and answers E_INVALIDARG for them.
  VARTYPE base = pvargSrc->vt & VT_TYPEMASK;
  bool valid = (pvargSrc->vt & VT_ARRAY) || (base > VT_NULL && base != 15 && base < VT_VOID &&
                                             !(pvargSrc->vt & (VT_VECTOR | VT_RESERVED)));
  if (!valid)
    return E_INVALIDARG;

  // Copy first, then free the destination: the source may point at the destination.
  VARIANT value;
  VariantInit(&value);
  HRESULT hr = copy_dereferenced(&value, pvargSrc);
  if (FAILED(hr))
    return hr;
  if (pvargDest != pvargSrc) {
    hr = VariantClear(pvargDest);
    if (FAILED(hr)) {
      VariantClear(&value);
      return hr;
    }
  }
  *pvargDest = value;
  return S_OK;
}
