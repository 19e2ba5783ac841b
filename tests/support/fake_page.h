// A page's intrinsic objects as the script host gives them to a component, for tests: a
// scripting context whose request carries a content type and a body. Members a test does not
// use answer E_NOTIMPL; the calls the component makes are counted.
#pragma once

#include <string>
#include <vector>

#include "asptlb.h"
#include "windows.h"

namespace fake_page {

// IUnknown and IDispatch of a test object with a plain reference count.
template <class Itf, const IID* piid>
class FakeObject : public Itf {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv)
      return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualGUID(riid, IID_IUnknown) && !IsEqualGUID(riid, IID_IDispatch) &&
        !IsEqualGUID(riid, *piid))
      return E_NOINTERFACE;
    *ppv = static_cast<Itf*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --refs;
    if (left == 0)
      delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                   UINT*) override {
    return E_NOTIMPL;
  }
  ULONG refs = 0;

 protected:
  virtual ~FakeObject() = default;
};

// ServerVariables with one entry, CONTENT_TYPE (absent when has_content_type is false).
class Variables final : public FakeObject<IRequestDictionary, &IID_IRequestDictionary> {
 public:
  std::u16string content_type;
  bool has_content_type = true;

  HRESULT STDMETHODCALLTYPE get_Item(VARIANT Var, VARIANT* pVariantReturn) override;
  HRESULT STDMETHODCALLTYPE get__NewEnum(IUnknown**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Count(INT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Key(VARIANT, VARIANT*) override { return E_NOTIMPL; }
};

class Request final : public FakeObject<IRequest, &IID_IRequest> {
 public:
  Variables* variables = nullptr;
  std::string body;
  bool binary_read_gives_no_array = false;
  HRESULT fail_total_bytes = S_OK;
  int binary_reads = 0;

  Request();
  ~Request() override;
  HRESULT STDMETHODCALLTYPE get_Item(BSTR, IDispatch**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_QueryString(IRequestDictionary**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Form(IRequestDictionary**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Body(IRequestDictionary**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_ServerVariables(IRequestDictionary** ppDictReturn) override;
  HRESULT STDMETHODCALLTYPE get_ClientCertificate(IRequestDictionary**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE get_Cookies(IRequestDictionary**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_TotalBytes(LONG* pcbTotal) override;
  HRESULT STDMETHODCALLTYPE BinaryRead(VARIANT* pvarCountToRead, VARIANT* pvarReturn) override;
};

// The scripting context. Response, Server, Session and Application are not needed by the
// upload road: the context hands out null for them, or fails one read on request.
class Context final : public FakeObject<IScriptingContext, &IID_IScriptingContext> {
 public:
  Request* request = nullptr;
  int fail_read = -1;  // 0 Request ... 4 Application: that read fails with E_FAIL

  Context();
  ~Context() override;
  HRESULT STDMETHODCALLTYPE get_Request(IRequest** ppRequest) override;
  HRESULT STDMETHODCALLTYPE get_Response(IResponse** ppResponse) override;
  HRESULT STDMETHODCALLTYPE get_Server(IServer** ppServer) override;
  HRESULT STDMETHODCALLTYPE get_Session(ISessionObject** ppSession) override;
  HRESULT STDMETHODCALLTYPE get_Application(IApplicationObject** ppApplication) override;
};

// A new context (one reference) for a request of content_type carrying body.
Context* MakeContext(const std::u16string& content_type, const std::string& body);

}  // namespace fake_page
