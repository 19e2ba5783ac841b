// Error information of the module's objects: the description reaches the caller through the
// thread's error object, as every automation client reads it.
#include <string>

#include "ado_object.h"
#include "scoped_bstr.h"
#include "winnls.h"

HRESULT ReportAdoError(REFCLSID clsid, REFIID iid, HRESULT hr, const char16_t* description) {
  AtlSetErrorInfo(clsid, description, 0, nullptr, iid, hr, nullptr);
  return hr;
}

HRESULT ReportAdoErrorUtf8(REFCLSID clsid, REFIID iid, HRESULT hr, const char* description) {
  const int length =
      description ? static_cast<int>(std::char_traits<char>::length(description)) : 0;
  if (length == 0)
    return ReportAdoError(clsid, iid, hr, u"");
  const int units = MultiByteToWideChar(CP_UTF8, 0, description, length, nullptr, 0);
  ScopedBstr text;
  if (units <= 0 || !text.AllocateLen(nullptr, static_cast<UINT>(units)))
    return ReportAdoError(clsid, iid, hr, u"");
  MultiByteToWideChar(CP_UTF8, 0, description, length, text.Get(), units);
  return ReportAdoError(clsid, iid, hr, text.Get());
}
