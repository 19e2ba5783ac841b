// A page's intrinsic objects as a Windows script host hands them to a component, written for the
// test under Wine: a scripting context whose request gives a browser's body through BinaryRead,
// and a response that records the calls made to it. A call the test does not expect is counted
// as a failure and answered E_NOTIMPL.
#pragma once

#include <windows.h>

#include <asptlb.h>

#include <string>
#include <vector>

namespace fake_context {

// Calls that no test expects, counted by the fakes.
extern int unexpected_calls;

HRESULT Unexpected(const char* member);

// IUnknown and IDispatch of a fake with a plain reference count.
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
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --refs_;
    if (left == 0)
      delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return Unexpected(__func__); }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override {
    return Unexpected(__func__);
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return Unexpected(__func__);
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                   UINT*) override {
    return Unexpected(__func__);
  }

 protected:
  virtual ~FakeObject() = default;

 private:
  ULONG refs_ = 1;
};

// ServerVariables: CONTENT_TYPE only.
class Variables final : public FakeObject<IRequestDictionary, &IID_IRequestDictionary> {
 public:
  explicit Variables(std::wstring content_type) : content_type_(std::move(content_type)) {}
  HRESULT STDMETHODCALLTYPE get_Item(VARIANT Var, VARIANT* pVariantReturn) override;
  HRESULT STDMETHODCALLTYPE get__NewEnum(IUnknown**) override { return Unexpected(__func__); }
  HRESULT STDMETHODCALLTYPE get_Count(int*) override { return Unexpected(__func__); }
  HRESULT STDMETHODCALLTYPE get_Key(VARIANT, VARIANT*) override { return Unexpected(__func__); }

 private:
  std::wstring content_type_;
};

class Request final : public FakeObject<IRequest, &IID_IRequest> {
 public:
  Request(std::wstring content_type, std::string body)
      : content_type_(std::move(content_type)), body_(std::move(body)) {}
  int binary_reads = 0;

  HRESULT STDMETHODCALLTYPE get_Item(BSTR, IDispatch**) override { return Unexpected(__func__); }
  HRESULT STDMETHODCALLTYPE get_QueryString(IRequestDictionary**) override {
    return Unexpected(__func__);
  }
  HRESULT STDMETHODCALLTYPE get_Form(IRequestDictionary**) override { return Unexpected(__func__); }
  HRESULT STDMETHODCALLTYPE get_Body(IRequestDictionary**) override { return Unexpected(__func__); }
  HRESULT STDMETHODCALLTYPE get_ServerVariables(IRequestDictionary** ppDictReturn) override;
  HRESULT STDMETHODCALLTYPE get_ClientCertificate(IRequestDictionary**) override {
    return Unexpected(__func__);
  }
  HRESULT STDMETHODCALLTYPE get_Cookies(IRequestDictionary**) override {
    return Unexpected(__func__);
  }
  HRESULT STDMETHODCALLTYPE get_TotalBytes(LONG* pcbTotal) override;
  HRESULT STDMETHODCALLTYPE BinaryRead(VARIANT* pvarCountToRead, VARIANT* pvarReturn) override;

 private:
  std::wstring content_type_;
  std::string body_;
  size_t position_ = 0;
};

// Records each call as text: "Expires=0", "Buffer=1", "Clear", "BinaryWrite=<n bytes>",
// "ContentType=<text>", "AddHeader(<name>)=<value>"; the bytes written go to `written`.
class Response final : public FakeObject<IResponse, &IID_IResponse> {
 public:
  std::vector<std::wstring> calls;
  std::string written;

  HRESULT STDMETHODCALLTYPE get_Buffer(VARIANT_BOOL*) override { return Unexpected(__func__); }
  HRESULT STDMETHODCALLTYPE put_Buffer(VARIANT_BOOL fIsBuffering) override;
  HRESULT STDMETHODCALLTYPE get_ContentType(BSTR*) override { return Unexpected(__func__); }
  HRESULT STDMETHODCALLTYPE put_ContentType(BSTR bstrContentType) override;
  HRESULT STDMETHODCALLTYPE get_Expires(VARIANT*) override { return Unexpected(__func__); }
  HRESULT STDMETHODCALLTYPE put_Expires(LONG lExpiresMinutes) override;
  HRESULT STDMETHODCALLTYPE get_ExpiresAbsolute(VARIANT*) override { return Unexpected(__func__); }
  HRESULT STDMETHODCALLTYPE put_ExpiresAbsolute(DATE) override { return Unexpected(__func__); }
  HRESULT STDMETHODCALLTYPE get_Cookies(IRequestDictionary**) override {
    return Unexpected(__func__);
  }
  HRESULT STDMETHODCALLTYPE get_Status(BSTR*) override { return Unexpected(__func__); }
  HRESULT STDMETHODCALLTYPE put_Status(BSTR) override { return Unexpected(__func__); }
  HRESULT STDMETHODCALLTYPE Add(BSTR, BSTR) override { return Unexpected(__func__); }
  HRESULT STDMETHODCALLTYPE AddHeader(BSTR bstrHeaderName, BSTR bstrHeaderValue) override;
  HRESULT STDMETHODCALLTYPE AppendToLog(BSTR) override { return Unexpected(__func__); }
  HRESULT STDMETHODCALLTYPE BinaryWrite(VARIANT varInput) override;
  HRESULT STDMETHODCALLTYPE Clear() override;
  HRESULT STDMETHODCALLTYPE End() override { return Unexpected(__func__); }
  HRESULT STDMETHODCALLTYPE Flush() override { return Unexpected(__func__); }
  HRESULT STDMETHODCALLTYPE Redirect(BSTR) override { return Unexpected(__func__); }
  HRESULT STDMETHODCALLTYPE Write(VARIANT) override { return Unexpected(__func__); }
  HRESULT STDMETHODCALLTYPE WriteBlock(short) override { return Unexpected(__func__); }
  HRESULT STDMETHODCALLTYPE IsClientConnected(VARIANT_BOOL*) override {
    return Unexpected(__func__);
  }
  HRESULT STDMETHODCALLTYPE get_CharSet(BSTR*) override { return Unexpected(__func__); }
  HRESULT STDMETHODCALLTYPE put_CharSet(BSTR) override { return Unexpected(__func__); }
  HRESULT STDMETHODCALLTYPE Pics(BSTR) override { return Unexpected(__func__); }
  HRESULT STDMETHODCALLTYPE get_CacheControl(BSTR*) override { return Unexpected(__func__); }
  HRESULT STDMETHODCALLTYPE put_CacheControl(BSTR) override { return Unexpected(__func__); }
};

// A server whose every member is unexpected: the test gives the component full paths only.
class Server final : public FakeObject<IServer, &IID_IServer> {
 public:
  HRESULT STDMETHODCALLTYPE get_ScriptTimeout(LONG*) override { return Unexpected(__func__); }
  HRESULT STDMETHODCALLTYPE put_ScriptTimeout(LONG) override { return Unexpected(__func__); }
  HRESULT STDMETHODCALLTYPE CreateObject(BSTR, IDispatch**) override {
    return Unexpected(__func__);
  }
  HRESULT STDMETHODCALLTYPE HTMLEncode(BSTR, BSTR*) override { return Unexpected(__func__); }
  HRESULT STDMETHODCALLTYPE MapPath(BSTR, BSTR*) override { return Unexpected(__func__); }
  HRESULT STDMETHODCALLTYPE URLEncode(BSTR, BSTR*) override { return Unexpected(__func__); }
  HRESULT STDMETHODCALLTYPE URLPathEncode(BSTR, BSTR*) override { return Unexpected(__func__); }
  HRESULT STDMETHODCALLTYPE Execute(BSTR) override { return Unexpected(__func__); }
  HRESULT STDMETHODCALLTYPE Transfer(BSTR) override { return Unexpected(__func__); }
  HRESULT STDMETHODCALLTYPE GetLastError(IASPError**) override { return Unexpected(__func__); }
};

// The scripting context. A page without sessions gives no session object; the test's pages
// have no application object either.
class Context final : public FakeObject<IScriptingContext, &IID_IScriptingContext> {
 public:
  Context(std::wstring content_type, std::string body);

  Request* request;
  Response* response;
  Server* server;

  HRESULT STDMETHODCALLTYPE get_Request(IRequest** ppRequest) override;
  HRESULT STDMETHODCALLTYPE get_Response(IResponse** ppResponse) override;
  HRESULT STDMETHODCALLTYPE get_Server(IServer** ppServer) override;
  HRESULT STDMETHODCALLTYPE get_Session(ISessionObject** ppSession) override;
  HRESULT STDMETHODCALLTYPE get_Application(IApplicationObject** ppApplication) override;

 private:
  ~Context() override;
};

}  // namespace fake_context
