// The fake page of the tests.
#include "fake_page.h"

#include <cstring>
#include <string>

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
  if (filled_array)
    SafeArrayDestroy(filled_array);
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
  if (filled_array) {
    pvarCountToRead->lVal = static_cast<LONG>(filled_array->rgsabound[0].cElements);
    pvarReturn->vt = VT_ARRAY | VT_UI1;
    pvarReturn->parray = filled_array;
    filled_array = nullptr;
    return S_OK;
  }
  const LONG wanted = pvarCountToRead->vt == VT_I4 ? pvarCountToRead->lVal : 0;
  const size_t available = delivered < body.size() ? delivered : body.size();
  const ULONG count =
      static_cast<ULONG>(wanted < static_cast<LONG>(available) ? wanted : available);
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

namespace {

std::u16string text_of(BSTR s) {
  return s ? std::u16string(s, SysStringLen(s)) : u"<null>";
}

std::u16string number(long n) {
  std::string digits = std::to_string(n);
  return std::u16string(digits.begin(), digits.end());
}

}  // namespace

HRESULT Response::put_Buffer(VARIANT_BOOL fIsBuffering) {
  calls.push_back(u"Buffer=" + number(fIsBuffering));
  return S_OK;
}

HRESULT Response::put_ContentType(BSTR bstrContentType) {
  calls.push_back(u"ContentType=" + text_of(bstrContentType));
  return S_OK;
}

HRESULT Response::put_Expires(LONG lExpiresMinutes) {
  calls.push_back(u"Expires=" + number(lExpiresMinutes));
  return S_OK;
}

HRESULT Response::AddHeader(BSTR bstrHeaderName, BSTR bstrHeaderValue) {
  calls.push_back(u"AddHeader(" + text_of(bstrHeaderName) + u")=" + text_of(bstrHeaderValue));
  return S_OK;
}

HRESULT Response::BinaryWrite(VARIANT varInput) {
  std::string bytes;
  LONG lower = -1;
  ULONG count = 0;
  if (varInput.vt == (VT_ARRAY | VT_UI1) && varInput.parray) {
    SAFEARRAY* array = varInput.parray;
    lower = array->rgsabound[0].lLbound;
    count = array->rgsabound[0].cElements;
    void* data = nullptr;
    if (keep_binary && SUCCEEDED(SafeArrayAccessData(array, &data))) {
      bytes.assign(static_cast<const char*>(data), count);
      SafeArrayUnaccessData(array);
    }
  }
  if (binary_limit >= 0 && static_cast<long>(count) > binary_limit - written_) {
    calls.push_back(u"BinaryWrite refused");
    ICreateErrorInfo* create = nullptr;
    if (SUCCEEDED(CreateErrorInfo(&create))) {
      create->SetDescription(const_cast<LPOLESTR>(kRefusedWrite));
      IErrorInfo* info = nullptr;
      if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)))) {
        SetErrorInfo(0, info);
        info->Release();
      }
      create->Release();
    }
    return E_FAIL;
  }
  written_ += static_cast<long>(count);
  calls.push_back(u"BinaryWrite=" + number(varInput.vt) + u" " + number(lower) + u" " +
                  number(static_cast<long>(count)));
  if (keep_binary)
    binary.push_back(std::move(bytes));
  return S_OK;
}

HRESULT Response::Clear() {
  written_ = 0;
  calls.push_back(u"Clear");
  return S_OK;
}

HRESULT Response::Write(VARIANT varText) {
  calls.push_back(varText.vt == VT_BSTR ? u"Write=" + text_of(varText.bstrVal)
                                        : u"Write of type " + number(varText.vt));
  return S_OK;
}

std::vector<std::u16string> AttachmentCalls(const std::u16string& name, size_t length,
                                            size_t piece) {
  std::vector<std::u16string> calls = {u"Expires=0", u"Buffer=1", u"Clear"};
  size_t left = length;
  do {
    const size_t n = left < piece ? left : piece;
    calls.push_back(u"BinaryWrite=" + number(VT_ARRAY | VT_UI1) + u" 0 " +
                    number(static_cast<long>(n)));
    left -= n;
  } while (left > 0);
  calls.push_back(u"ContentType=application/octet-stream; name=" + name);
  calls.push_back(u"AddHeader(Content-Disposition)=attachment; filename=" + name);
  calls.push_back(u"AddHeader(Content-Length)=" + number(static_cast<long>(length)));
  return calls;
}

HRESULT Server::MapPath(BSTR bstrLogicalPath, BSTR* pbstrPhysicalPath) {
  mapped.push_back(text_of(bstrLogicalPath));
  if (FAILED(map_failure))
    return map_failure;
  std::u16string path = text_of(bstrLogicalPath);
  for (char16_t& c : path)
    if (c == u'/')
      c = u'\\';
  path = root + (path.starts_with(u"\\") ? path : u"\\page\\" + path);
  *pbstrPhysicalPath = SysAllocStringLen(path.data(), static_cast<UINT>(path.size()));
  return *pbstrPhysicalPath ? S_OK : E_OUTOFMEMORY;
}

Context::Context() : request(new Request()), response(new Response()), server(new Server()) {
  request->AddRef();
  response->AddRef();
  server->AddRef();
}
Context::~Context() {
  server->Release();
  response->Release();
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
  if (fail_read == 1)
    return E_FAIL;
  response->AddRef();
  *ppResponse = response;
  return S_OK;
}

HRESULT Context::get_Server(IServer** ppServer) {
  *ppServer = nullptr;
  if (fail_read == 2)
    return E_FAIL;
  server->AddRef();
  *ppServer = server;
  return S_OK;
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
