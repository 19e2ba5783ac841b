// KaFileUpload::ViewParam: a plain listing of the fields and files received, written into the
// page for its author.
#include "scoped_variant.h"
#include "upload.h"

namespace {

// One Write of text; E_OUTOFMEMORY when it cannot be converted. Write's own status is not
// examined: the listing is a diagnostic.
HRESULT write(IResponse* response, const char* text) {
  VARIANT v;
  VariantInit(&v);
  const HRESULT hr = AcpToBstr(text ? text : "", &v.bstrVal);
  if (FAILED(hr))
    return hr;
  v.vt = VT_BSTR;
  ScopedVariant value;
  value.Reset(v);
  response->Write(value.Get());
  return S_OK;
}

HRESULT write_line(IResponse* response, const char* name, const char* value) {
  for (const char* text : {"<b>", name, "</b> = ", value, "<br>\r\n"}) {
    const HRESULT hr = write(response, text);
    if (FAILED(hr))
      return hr;
  }
  return S_OK;
}

}  // namespace

HRESULT KaFileUpload::ViewParam() {
  if (Parts->Items.empty() && Parts->Attachments.empty())
    return S_OK;
  if (!Response)
    return E_UNEXPECTED;
  for (FormPart* record : Parts->Items) {
    const HRESULT hr = write_line(Response.Get(), record->Name, record->Data);
    if (FAILED(hr))
      return hr;
  }
  if (!Parts->Attachments.empty()) {
    const HRESULT hr =
        write(Response.Get(), "<br><br>\r\n@ Attach Files =======================<br>\r\n");
    if (FAILED(hr))
      return hr;
  }
  for (FormPart* record : Parts->Attachments) {
    const HRESULT hr = write_line(Response.Get(), record->Name, record->FileName);
    if (FAILED(hr))
      return hr;
  }
  return S_OK;
}
