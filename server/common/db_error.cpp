// Reporting a failed call on a database object.
#include "db_error.h"

#include "com_ptr.h"
#include "report_error.h"
#include "scoped_bstr.h"

namespace {

// The description the failing object left for iid in *text; false when it left none.
bool db_description(IUnknown* failing, const IID& iid, CKaText* text) {
  if (!failing)
    return false;
  ComPtr<ISupportErrorInfo> support;
  if (FAILED(failing->QueryInterface(IID_ISupportErrorInfo,
                                     reinterpret_cast<void**>(support.Receive()))) ||
      support->InterfaceSupportsErrorInfo(iid) != S_OK)
    return false;
  ComPtr<IErrorInfo> info;
  if (GetErrorInfo(0, info.Receive()) != S_OK || !info)
    return false;
  ScopedBstr description;
  if (FAILED(info->GetDescription(description.Receive())) || description.Length() == 0)
    return false;
  return SUCCEEDED(BstrToAcp(description.Get(), text));
}

}  // namespace

HRESULT ReportDbError(const CLSID& clsid, IUnknown* failing, const IID& iid) {
  CKaText text;
  const bool has_text = db_description(failing, iid, &text);
  return ReportError(clsid, has_text ? static_cast<const char*>(text) : nullptr, GUID_NULL, 0);
}
