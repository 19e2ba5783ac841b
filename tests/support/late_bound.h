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

// Puts what excep carries back on the thread as its error information, as the member left it.
inline void RestoreErrorInfo(const EXCEPINFO& excep) {
  ICreateErrorInfo* create = nullptr;
  if (FAILED(CreateErrorInfo(&create)))
    return;
  create->SetSource(excep.bstrSource);
  create->SetDescription(excep.bstrDescription);
  create->SetHelpFile(excep.bstrHelpFile);
  create->SetHelpContext(excep.dwHelpContext);
  IErrorInfo* info = nullptr;
  if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)))) {
    SetErrorInfo(0, info);
    info->Release();
  }
  create->Release();
}

// Invokes member id with an EXCEPINFO, as a script host does. A member's failure comes back as
// the member's own status, and its error information stays readable on the thread
// (TakeErrorDescription). params is left as it is; result may be null.
inline HRESULT InvokeId(IDispatch* object, DISPID id, WORD flags, DISPPARAMS* params,
                        VARIANT* result) {
  EXCEPINFO excep{};
  HRESULT hr = object->Invoke(id, GUID_NULL, 0, flags, params, result, &excep, nullptr);
  if (hr == DISP_E_EXCEPTION) {
    if (excep.pfnDeferredFillIn)
      excep.pfnDeferredFillIn(&excep);
    if (excep.scode)
      hr = excep.scode;
    if (excep.bstrSource || excep.bstrDescription || excep.bstrHelpFile)
      RestoreErrorInfo(excep);
  }
  SysFreeString(excep.bstrSource);
  SysFreeString(excep.bstrDescription);
  SysFreeString(excep.bstrHelpFile);
  return hr;
}

// Calls member name; args are consumed (cleared). result may be null.
inline HRESULT Call(IDispatch* object, const char16_t* name, WORD flags, std::vector<VARIANT> args,
                    VARIANT* result) {
  std::vector<VARIANT> reversed(args.rbegin(), args.rend());
  DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
  if (result)
    VariantInit(result);
  const DISPID id = Id(object, name);
  HRESULT hr =
      id == DISPID_UNKNOWN ? DISP_E_UNKNOWNNAME : InvokeId(object, id, flags, &params, result);
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
