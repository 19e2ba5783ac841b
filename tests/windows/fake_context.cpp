// The fake intrinsic objects of the test under Wine (fake_context.h).
#include "fake_context.h"

#include <stdio.h>

namespace fake_context {

int unexpected_calls = 0;

HRESULT Unexpected(const char* member) {
  ++unexpected_calls;
  fprintf(stderr, "unexpected call: %s\n", member);
  return E_NOTIMPL;
}

namespace {

std::wstring text_of(BSTR s) {
  return s ? std::wstring(s, SysStringLen(s)) : std::wstring();
}

template <class T>
HRESULT hand_out(T* object, T** out) {
  if (!out)
    return E_POINTER;
  object->AddRef();
  *out = object;
  return S_OK;
}

}  // namespace

HRESULT Variables::get_Item(VARIANT Var, VARIANT* pVariantReturn) {
  if (!pVariantReturn)
    return E_POINTER;
  VariantInit(pVariantReturn);
  if (Var.vt != VT_BSTR || text_of(Var.bstrVal) != L"CONTENT_TYPE")
    return Unexpected("ServerVariables of anything but CONTENT_TYPE");
  pVariantReturn->vt = VT_BSTR;
  pVariantReturn->bstrVal =
      SysAllocStringLen(content_type_.data(), static_cast<UINT>(content_type_.size()));
  return pVariantReturn->bstrVal ? S_OK : E_OUTOFMEMORY;
}

HRESULT Request::get_ServerVariables(IRequestDictionary** ppDictReturn) {
  if (!ppDictReturn)
    return E_POINTER;
  *ppDictReturn = new Variables(content_type_);
  return S_OK;
}

HRESULT Request::get_TotalBytes(LONG* pcbTotal) {
  if (!pcbTotal)
    return E_POINTER;
  *pcbTotal = static_cast<LONG>(body_.size());
  return S_OK;
}

// As a host does: at most the count asked for, the count updated to what was given.
HRESULT Request::BinaryRead(VARIANT* pvarCountToRead, VARIANT* pvarReturn) {
  ++binary_reads;
  if (!pvarCountToRead || !pvarReturn || pvarCountToRead->vt != VT_I4)
    return E_INVALIDARG;
  const size_t left = body_.size() - position_;
  const size_t n = pvarCountToRead->lVal < 0 ? 0
                   : static_cast<size_t>(pvarCountToRead->lVal) < left
                       ? static_cast<size_t>(pvarCountToRead->lVal)
                       : left;
  SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(n));
  if (!array)
    return E_OUTOFMEMORY;
  void* bytes = nullptr;
  SafeArrayAccessData(array, &bytes);
  memcpy(bytes, body_.data() + position_, n);
  SafeArrayUnaccessData(array);
  position_ += n;
  pvarCountToRead->lVal = static_cast<LONG>(n);
  VariantInit(pvarReturn);
  pvarReturn->vt = VT_ARRAY | VT_UI1;
  pvarReturn->parray = array;
  return S_OK;
}

HRESULT Response::put_Buffer(VARIANT_BOOL fIsBuffering) {
  calls.push_back(L"Buffer=" + std::to_wstring(fIsBuffering ? 1 : 0));
  return S_OK;
}

HRESULT Response::put_ContentType(BSTR bstrContentType) {
  calls.push_back(L"ContentType=" + text_of(bstrContentType));
  return S_OK;
}

HRESULT Response::put_Expires(LONG lExpiresMinutes) {
  calls.push_back(L"Expires=" + std::to_wstring(lExpiresMinutes));
  return S_OK;
}

HRESULT Response::AddHeader(BSTR bstrHeaderName, BSTR bstrHeaderValue) {
  calls.push_back(L"AddHeader(" + text_of(bstrHeaderName) + L")=" + text_of(bstrHeaderValue));
  return S_OK;
}

HRESULT Response::BinaryWrite(VARIANT varInput) {
  if (varInput.vt != (VT_ARRAY | VT_UI1) || SafeArrayGetDim(varInput.parray) != 1)
    return E_INVALIDARG;
  LONG lower = 0;
  LONG upper = -1;
  SafeArrayGetLBound(varInput.parray, 1, &lower);
  SafeArrayGetUBound(varInput.parray, 1, &upper);
  const size_t n = static_cast<size_t>(upper - lower + 1);
  void* bytes = nullptr;
  if (FAILED(SafeArrayAccessData(varInput.parray, &bytes)))
    return E_FAIL;
  written.append(static_cast<const char*>(bytes), n);
  SafeArrayUnaccessData(varInput.parray);
  calls.push_back(L"BinaryWrite=" + std::to_wstring(n));
  return S_OK;
}

HRESULT Response::Clear() {
  calls.push_back(L"Clear");
  written.clear();
  return S_OK;
}

Context::Context(std::wstring content_type, std::string body)
    : request(new Request(std::move(content_type), std::move(body))),
      response(new Response()),
      server(new Server()) {}

Context::~Context() {
  request->Release();
  response->Release();
  server->Release();
}

HRESULT Context::get_Request(IRequest** ppRequest) {
  return hand_out<IRequest>(request, ppRequest);
}

HRESULT Context::get_Response(IResponse** ppResponse) {
  return hand_out<IResponse>(response, ppResponse);
}

HRESULT Context::get_Server(IServer** ppServer) {
  return hand_out<IServer>(server, ppServer);
}

HRESULT Context::get_Session(ISessionObject** ppSession) {
  if (!ppSession)
    return E_POINTER;
  *ppSession = nullptr;
  return S_OK;
}

HRESULT Context::get_Application(IApplicationObject** ppApplication) {
  if (!ppApplication)
    return E_POINTER;
  *ppApplication = nullptr;
  return S_OK;
}

}  // namespace fake_context
