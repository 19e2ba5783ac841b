// A page's intrinsic objects as the script host gives them to a component, for tests: a
// scripting context whose request carries a content type and a body, a response that records
// every call made to it, and a server that maps paths as a host does. Members a test does not
// use answer E_NOTIMPL; the calls the component makes are counted or recorded.
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
  // An array filled before the call, handed to the next BinaryRead as it is, the way a host
  // that receives the body into the array hands it out. The request owns it until then.
  SAFEARRAY* filled_array = nullptr;
  HRESULT fail_total_bytes = S_OK;
  // A client that stopped sending: BinaryRead hands out at most this many bytes of the body,
  // while TotalBytes still counts all of it.
  size_t delivered = std::string::npos;
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

// A response that records each call, in order, as text: "Expires=0", "Buffer=1", "Clear",
// "ContentType=<v>", "AddHeader(<name>)=<value>", "BinaryWrite=<vt> <count>",
// "Write=<text>" (UTF-16 values kept as they came). The bytes of each BinaryWrite are kept too.
class Response final : public FakeObject<IResponse, &IID_IResponse> {
 public:
  std::vector<std::u16string> calls;
  std::vector<std::string> binary;
  bool keep_binary = true;  // false: only the count of each BinaryWrite is recorded
  // At or above 0: a BinaryWrite that would take the bytes written since the last Clear past
  // it is recorded as "BinaryWrite refused" and fails with E_FAIL and the description
  // kRefusedWrite, as a host with a size limit refuses it.
  long binary_limit = -1;
  static constexpr char16_t kRefusedWrite[] = u"The response would pass its size limit.";

  HRESULT STDMETHODCALLTYPE get_Buffer(VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_Buffer(VARIANT_BOOL fIsBuffering) override;
  HRESULT STDMETHODCALLTYPE get_ContentType(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_ContentType(BSTR bstrContentType) override;
  HRESULT STDMETHODCALLTYPE get_Expires(VARIANT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_Expires(LONG lExpiresMinutes) override;
  HRESULT STDMETHODCALLTYPE get_ExpiresAbsolute(VARIANT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_ExpiresAbsolute(DATE) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Cookies(IRequestDictionary**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Status(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_Status(BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Add(BSTR, BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE AddHeader(BSTR bstrHeaderName, BSTR bstrHeaderValue) override;
  HRESULT STDMETHODCALLTYPE AppendToLog(BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE BinaryWrite(VARIANT varInput) override;
  HRESULT STDMETHODCALLTYPE Clear() override;
  HRESULT STDMETHODCALLTYPE End() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Flush() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Redirect(BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Write(VARIANT varText) override;
  HRESULT STDMETHODCALLTYPE WriteBlock(SHORT) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE IsClientConnected(VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_CharSet(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_CharSet(BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Pics(BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_CacheControl(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_CacheControl(BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_CodePage(LONG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_CodePage(LONG) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_LCID(LONG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_LCID(LONG) override { return E_NOTIMPL; }

 private:
  long written_ = 0;
};

// The calls a download makes on a Response for a file name as its headers write it (bare, or
// "quoted") and a body of length bytes written first, in pieces of at most piece bytes (seven
// calls for a body of one piece), then the content type, disposition and length.
std::vector<std::u16string> AttachmentCalls(const std::u16string& name, size_t length,
                                            size_t piece);

// A server whose MapPath maps as a host does: a virtual path (leading '/') under root, any
// other path under root's page directory "page", '/' turned into '\'. Each logical path
// asked for is recorded; map_failure, when set, is returned instead.
class Server final : public FakeObject<IServer, &IID_IServer> {
 public:
  std::u16string root = u"C:\\site";
  HRESULT map_failure = S_OK;
  std::vector<std::u16string> mapped;

  HRESULT STDMETHODCALLTYPE get_ScriptTimeout(LONG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_ScriptTimeout(LONG) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE CreateObject(BSTR, IDispatch**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE HTMLEncode(BSTR, BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE MapPath(BSTR bstrLogicalPath, BSTR* pbstrPhysicalPath) override;
  HRESULT STDMETHODCALLTYPE URLEncode(BSTR, BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE URLPathEncode(BSTR, BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Execute(BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Transfer(BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetLastError(IASPError**) override { return E_NOTIMPL; }
};

// The scripting context. Session and Application are not needed by the components: the
// context hands out null for them. Each read can be made to fail on request.
class Context final : public FakeObject<IScriptingContext, &IID_IScriptingContext> {
 public:
  Request* request = nullptr;
  Response* response = nullptr;
  Server* server = nullptr;
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
