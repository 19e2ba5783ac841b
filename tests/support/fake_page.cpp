// The fake page of the tests.
#include "fake_page.h"

#include <cstring>

namespace fake_page {

HRESULT Variables::get_Item(VARIANT Var, VARIANT* pVariantReturn) {
  VariantInit(pVariantReturn);
  if (Var.vt != VT_BSTR || std::u16string(Var.bstrVal) != u"CONTENT_TYPE" || !has_content_type)
    return E_FAIL;
  pVariantReturn->vt = VT_BSTR;
  pVariantReturn->bstrVal =
      SysAllocStringLen(content_type.data(), static_cast<UINT>(content_type.size()));
  return pVariantReturn->bstrVal ? S_OK : E_OUTOFMEMORY;
}

Request::Request() : variables(new Variables()) {
  variables->AddRef();
}
Request::~Request() {
  variables->Release();
}

HRESULT Request::get_ServerVariables(IRequestDictionary** ppDictReturn) {
  variables->AddRef();
  *ppDictReturn = variables;
  return S_OK;
}

HRESULT Request::get_TotalBytes(LONG* pcbTotal) {
  if (FAILED(fail_total_bytes))
    return fail_total_bytes;
  *pcbTotal = static_cast<LONG>(body.size());
  return S_OK;
}

HRESULT Request::BinaryRead(VARIANT* pvarCountToRead, VARIANT* pvarReturn) {
  ++binary_reads;
  VariantInit(pvarReturn);
  if (binary_read_gives_no_array)
    return S_OK;
  const LONG wanted = pvarCountToRead->vt == VT_I4 ? pvarCountToRead->lVal : 0;
  const ULONG count =
      static_cast<ULONG>(wanted < static_cast<LONG>(body.size()) ? wanted : body.size());
  SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, count);
  if (!array)
    return E_OUTOFMEMORY;
  void* data = nullptr;
  SafeArrayAccessData(array, &data);
  if (count)
    std::memcpy(data, body.data(), count);
  SafeArrayUnaccessData(array);
  pvarCountToRead->lVal = static_cast<LONG>(count);
  pvarReturn->vt = VT_ARRAY | VT_UI1;
  pvarReturn->parray = array;
  return S_OK;
}

Context::Context() : request(new Request()) {
  request->AddRef();
}
Context::~Context() {
  request->Release();
}

HRESULT Context::get_Request(IRequest** ppRequest) {
  if (fail_read == 0)
    return E_FAIL;
  request->AddRef();
  *ppRequest = request;
  return S_OK;
}

HRESULT Context::get_Response(IResponse** ppResponse) {
  *ppResponse = nullptr;
  return fail_read == 1 ? E_FAIL : S_OK;
}

HRESULT Context::get_Server(IServer** ppServer) {
  *ppServer = nullptr;
  return fail_read == 2 ? E_FAIL : S_OK;
}

HRESULT Context::get_Session(ISessionObject** ppSession) {
  *ppSession = nullptr;
  return fail_read == 3 ? E_FAIL : S_OK;
}

HRESULT Context::get_Application(IApplicationObject** ppApplication) {
  *ppApplication = nullptr;
  return fail_read == 4 ? E_FAIL : S_OK;
}

Context* MakeContext(const std::u16string& content_type, const std::string& body) {
  auto* context = new Context();
  context->AddRef();
  context->request->variables->content_type = content_type;
  context->request->body = body;
  return context;
}

}  // namespace fake_page
