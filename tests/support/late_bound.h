// Late-bound calls for tests, the way a script makes them: members by name, arguments in
// natural order (reversed for Invoke), the put value as the named argument.
#pragma once

#include <string>
#include <vector>

#include "oleauto.h"

namespace late_bound {

inline VARIANT I4(LONG n) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_I4;
  v.lVal = n;
  return v;
}

inline VARIANT Str(const char16_t* s) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString(s);
  return v;
}

inline VARIANT Unknown(IUnknown* p) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_UNKNOWN;
  v.punkVal = p;
  if (p)
    p->AddRef();
  return v;
}

inline DISPID Id(IDispatch* object, const char16_t* name) {
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  DISPID id = DISPID_UNKNOWN;
  object->GetIDsOfNames(GUID_NULL, names, 1, 0, &id);
  return id;
}

// Calls member name; args are consumed (cleared). result may be null.
inline HRESULT Call(IDispatch* object, const char16_t* name, WORD flags, std::vector<VARIANT> args,
                    VARIANT* result) {
  std::vector<VARIANT> reversed(args.rbegin(), args.rend());
  DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
  if (result)
    VariantInit(result);
  const DISPID id = Id(object, name);
  HRESULT hr = id == DISPID_UNKNOWN
                   ? DISP_E_UNKNOWNNAME
                   : object->Invoke(id, GUID_NULL, 0, flags, &params, result, nullptr, nullptr);
  for (VARIANT& v : reversed)
    VariantClear(&v);
  return hr;
}

// A property read with arguments, as the script's obj.Prop(args).
inline HRESULT Get(IDispatch* object, const char16_t* name, std::vector<VARIANT> args,
                   VARIANT* result) {
  return Call(object, name, DISPATCH_METHOD | DISPATCH_PROPERTYGET, std::move(args), result);
}

// The thread's error description (empty when there is none), taking it off the thread.
inline std::u16string TakeErrorDescription() {
  IErrorInfo* info = nullptr;
  if (GetErrorInfo(0, &info) != S_OK || !info)
    return u"";
  BSTR text = nullptr;
  info->GetDescription(&text);
  std::u16string out = text ? std::u16string(text, SysStringLen(text)) : u"";
  SysFreeString(text);
  info->Release();
  return out;
}

}  // namespace late_bound
