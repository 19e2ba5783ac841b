// The intrinsic objects of a script page as automation objects: Request, Response, Server,
// Session, Application, the scripting context, and the collections Request hands out.
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "dispatch_object.h"
#include "page_context.h"
#include "scoped_variant.h"

namespace vhost {

// A list of text values: one entry of a request collection (Request.Form("a")). Its default
// member without an index gives the values joined by ", " (empty when there are none).
class StringList final : public DispatchObject<IStringList, &IID_IStringList> {
 public:
  explicit StringList(std::vector<std::u16string> values) : values_(std::move(values)) {}
  HRESULT STDMETHODCALLTYPE get_Item(VARIANT i, VARIANT* pVariantReturn) override;
  HRESULT STDMETHODCALLTYPE get_Count(INT* cStrRet) override;
  HRESULT STDMETHODCALLTYPE get__NewEnum(IUnknown** ppEnumReturn) override;
  // The value without an index, which every conversion to text asks for, is answered here
  // without going through the type description.
  HRESULT STDMETHODCALLTYPE Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags,
                                   DISPPARAMS* pDispParams, VARIANT* pVarResult,
                                   EXCEPINFO* pExcepInfo, UINT* puArgErr) override;

 private:
  // All the values, joined with ", ", into out; VT_EMPTY when there are none.
  HRESULT put_all(VARIANT* out) const;

  std::vector<std::u16string> values_;
};

// A read-only collection of the request (QueryString, Form, ServerVariables, Cookies): keys
// looked up without regard to case, in the order they arrived.
class RequestDictionary final : public DispatchObject<IRequestDictionary, &IID_IRequestDictionary> {
 public:
  struct Entry {
    std::u16string key;
    std::vector<std::u16string> values;
  };
  // Makes the entries: all of them when only is null, else those of the key *only.
  using Maker = std::function<HRESULT(const std::u16string* only, std::vector<Entry>* out)>;

  // whole: what the collection gives without an index (the raw query or form text).
  RequestDictionary(std::vector<Entry> entries, std::u16string whole)
      : entries_(std::move(entries)), whole_(std::move(whole)) {}
  // A collection made on demand: a look-up by name makes that entry alone, and the whole list
  // is made once, when the collection is counted, enumerated or indexed by number.
  explicit RequestDictionary(Maker maker) : maker_(std::move(maker)) {}
  HRESULT STDMETHODCALLTYPE get_Item(VARIANT Var, VARIANT* pVariantReturn) override;
  HRESULT STDMETHODCALLTYPE get__NewEnum(IUnknown** ppEnumReturn) override;
  HRESULT STDMETHODCALLTYPE get_Count(INT* cStrRet) override;
  HRESULT STDMETHODCALLTYPE get_Key(VARIANT VarKey, VARIANT* pvar) override;

  // Adds value under key (a new entry, or one more value of an existing key).
  static void add(std::vector<Entry>& entries, std::u16string key, std::u16string value);

 private:
  // Makes the whole list when it is made on demand and not made yet.
  HRESULT complete();

  std::vector<Entry> entries_;
  std::u16string whole_;
  Maker maker_;
};

// Values of Session or Application: keys without regard to case, in insertion order.
class VariantStore {
 public:
  HRESULT get(const std::u16string& key, VARIANT* out);
  HRESULT put(const std::u16string& key, const VARIANT& value);
  HRESULT remove(const std::u16string& key);
  void clear();
  std::vector<std::u16string> keys();

 private:
  std::mutex lock_;
  std::vector<std::pair<std::u16string, ScopedVariant>> values_;
};

// A collection view of a store (Session.Contents, Application.Contents).
class VariantDictionary final : public DispatchObject<IVariantDictionary, &IID_IVariantDictionary> {
 public:
  explicit VariantDictionary(std::shared_ptr<VariantStore> store) : store_(std::move(store)) {}
  HRESULT STDMETHODCALLTYPE get_Item(VARIANT VarKey, VARIANT* pvar) override;
  HRESULT STDMETHODCALLTYPE put_Item(VARIANT VarKey, VARIANT var) override;
  HRESULT STDMETHODCALLTYPE putref_Item(VARIANT VarKey, VARIANT var) override;
  HRESULT STDMETHODCALLTYPE get_Key(VARIANT VarKey, VARIANT* pvar) override;
  HRESULT STDMETHODCALLTYPE get_Count(INT* cStrRet) override;
  HRESULT STDMETHODCALLTYPE get__NewEnum(IUnknown** ppEnumReturn) override;
  HRESULT STDMETHODCALLTYPE Remove(VARIANT VarKey) override;
  HRESULT STDMETHODCALLTYPE RemoveAll() override;

 private:
  std::shared_ptr<VariantStore> store_;
};

// Base of the objects that belong to one page; detached when the page ends.
class PageBound {
 public:
  void detach() { page_ = nullptr; }

 protected:
  explicit PageBound(PageContext* page) : page_(page) {}
  // E_UNEXPECTED with a description when the page has ended.
  HRESULT check_page() const;
  PageContext* page_;
};

class RequestObject final : public DispatchObject<IRequest, &IID_IRequest>, public PageBound {
 public:
  explicit RequestObject(PageContext* page) : PageBound(page) {}
  HRESULT STDMETHODCALLTYPE get_Item(BSTR bstrVar, IDispatch** ppObjReturn) override;
  HRESULT STDMETHODCALLTYPE get_QueryString(IRequestDictionary** ppDictReturn) override;
  HRESULT STDMETHODCALLTYPE get_Form(IRequestDictionary** ppDictReturn) override;
  HRESULT STDMETHODCALLTYPE get_Body(IRequestDictionary** ppDictReturn) override;
  HRESULT STDMETHODCALLTYPE get_ServerVariables(IRequestDictionary** ppDictReturn) override;
  HRESULT STDMETHODCALLTYPE get_ClientCertificate(IRequestDictionary** ppDictReturn) override;
  HRESULT STDMETHODCALLTYPE get_Cookies(IRequestDictionary** ppDictReturn) override;
  HRESULT STDMETHODCALLTYPE get_TotalBytes(LONG* pcbTotal) override;
  HRESULT STDMETHODCALLTYPE BinaryRead(VARIANT* pvarCountToRead, VARIANT* pvarReturn) override;

 private:
  HRESULT query_entries(std::vector<RequestDictionary::Entry>* out);
  HRESULT form_entries(std::vector<RequestDictionary::Entry>* out, std::u16string* whole);
  // The server variables decoded with code_page: all of them when only is null, else the one
  // named *only (none when there is no such variable).
  HRESULT server_variables(const std::u16string* only, UINT code_page,
                           std::vector<RequestDictionary::Entry>* out);
  std::vector<RequestDictionary::Entry> cookies();
};

class ResponseObject final : public DispatchObject<IResponse, &IID_IResponse>, public PageBound {
 public:
  explicit ResponseObject(PageContext* page) : PageBound(page) {}
  HRESULT STDMETHODCALLTYPE get_Buffer(VARIANT_BOOL* fIsBuffering) override;
  HRESULT STDMETHODCALLTYPE put_Buffer(VARIANT_BOOL fIsBuffering) override;
  HRESULT STDMETHODCALLTYPE get_ContentType(BSTR* pbstrContentTypeRet) override;
  HRESULT STDMETHODCALLTYPE put_ContentType(BSTR bstrContentType) override;
  HRESULT STDMETHODCALLTYPE get_Expires(VARIANT* pvarExpiresMinutesRet) override;
  HRESULT STDMETHODCALLTYPE put_Expires(LONG lExpiresMinutes) override;
  HRESULT STDMETHODCALLTYPE get_ExpiresAbsolute(VARIANT* pvarExpiresRet) override;
  HRESULT STDMETHODCALLTYPE put_ExpiresAbsolute(DATE dtExpires) override;
  HRESULT STDMETHODCALLTYPE get_Cookies(IRequestDictionary** ppCookies) override;
  HRESULT STDMETHODCALLTYPE get_Status(BSTR* pbstrStatusRet) override;
  HRESULT STDMETHODCALLTYPE put_Status(BSTR bstrStatus) override;
  HRESULT STDMETHODCALLTYPE Add(BSTR bstrHeaderValue, BSTR bstrHeaderName) override;
  HRESULT STDMETHODCALLTYPE AddHeader(BSTR bstrHeaderName, BSTR bstrHeaderValue) override;
  HRESULT STDMETHODCALLTYPE AppendToLog(BSTR bstrLogEntry) override;
  HRESULT STDMETHODCALLTYPE BinaryWrite(VARIANT varInput) override;
  HRESULT STDMETHODCALLTYPE Clear() override;
  HRESULT STDMETHODCALLTYPE End() override;
  HRESULT STDMETHODCALLTYPE Flush() override;
  HRESULT STDMETHODCALLTYPE Redirect(BSTR bstrURL) override;
  HRESULT STDMETHODCALLTYPE Write(VARIANT varText) override;
  HRESULT STDMETHODCALLTYPE WriteBlock(SHORT iBlockNumber) override;
  HRESULT STDMETHODCALLTYPE IsClientConnected(VARIANT_BOOL* pfIsClientConnected) override;
  HRESULT STDMETHODCALLTYPE get_CharSet(BSTR* pbstrCharSetRet) override;
  HRESULT STDMETHODCALLTYPE put_CharSet(BSTR bstrCharSet) override;
  HRESULT STDMETHODCALLTYPE Pics(BSTR bstrHeaderValue) override;
  HRESULT STDMETHODCALLTYPE get_CacheControl(BSTR* pbstrCacheControl) override;
  HRESULT STDMETHODCALLTYPE put_CacheControl(BSTR bstrCacheControl) override;
  HRESULT STDMETHODCALLTYPE get_CodePage(LONG* plvar) override;
  HRESULT STDMETHODCALLTYPE put_CodePage(LONG lvar) override;
  HRESULT STDMETHODCALLTYPE get_LCID(LONG* plvar) override;
  HRESULT STDMETHODCALLTYPE put_LCID(LONG lvar) override;

  // Appends bytes already in the response's encoding (the page's literal text). Fails, with
  // nothing appended, when the body would pass the host's largest response, or memory runs out.
  HRESULT write_bytes(std::string_view bytes);

 private:
  HRESULT check_headers_open(const char16_t* member) const;
  HRESULT set_header(const std::u16string& name, const std::u16string& value);
  LONG lcid_ = 1033;
};

class ServerObject final : public DispatchObject<IServer, &IID_IServer>, public PageBound {
 public:
  explicit ServerObject(PageContext* page) : PageBound(page) {}
  HRESULT STDMETHODCALLTYPE get_ScriptTimeout(LONG* plTimeoutSeconds) override;
  HRESULT STDMETHODCALLTYPE put_ScriptTimeout(LONG lTimeoutSeconds) override;
  HRESULT STDMETHODCALLTYPE CreateObject(BSTR bstrProgID, IDispatch** ppDispObject) override;
  HRESULT STDMETHODCALLTYPE HTMLEncode(BSTR bstrIn, BSTR* pbstrEncoded) override;
  HRESULT STDMETHODCALLTYPE MapPath(BSTR bstrLogicalPath, BSTR* pbstrPhysicalPath) override;
  HRESULT STDMETHODCALLTYPE URLEncode(BSTR bstrIn, BSTR* pbstrEncoded) override;
  HRESULT STDMETHODCALLTYPE URLPathEncode(BSTR bstrIn, BSTR* pbstrEncoded) override;
  HRESULT STDMETHODCALLTYPE Execute(BSTR bstrLogicalPath) override;
  HRESULT STDMETHODCALLTYPE Transfer(BSTR bstrLogicalPath) override;
  HRESULT STDMETHODCALLTYPE GetLastError(IASPError** ppASPErrorObject) override;
};

// Maps a virtual path ('/'-rooted) or a path relative to the page's folder under the site root
// to the Windows-style physical path. Returns false when the path leaves the root or is not a
// virtual path (a drive or a UNC name).
bool map_virtual_path(const std::string& site_root, const std::string& page_path,
                      const std::u16string& logical, std::u16string* physical);

// One session's data: what Session keeps between requests of one browser.
class Session {
 public:
  explicit Session(std::string id) : id(std::move(id)) {}
  const std::string id;
  std::shared_ptr<VariantStore> values = std::make_shared<VariantStore>();
  std::mutex lock;  // guards the fields below
  long timeout_minutes = 20;
  std::chrono::steady_clock::time_point last_used = std::chrono::steady_clock::now();
  bool abandoned = false;
};

// The sessions of the process, keyed by their cookie; expired ones are dropped as they are met.
class SessionStore {
 public:
  static SessionStore& instance();
  std::shared_ptr<Session> find(const std::string& id);
  std::shared_ptr<Session> create();
  void remove(const std::string& id);
  size_t size();

 private:
  void sweep_locked();
  std::mutex lock_;
  std::map<std::string, std::shared_ptr<Session>> sessions_;
  unsigned creations_ = 0;
};

inline constexpr char kSessionCookie[] = "VHOSTSESSIONID";

class SessionObject final : public DispatchObject<ISessionObject, &IID_ISessionObject>,
                            public PageBound {
 public:
  explicit SessionObject(PageContext* page) : PageBound(page) {}
  HRESULT STDMETHODCALLTYPE get_SessionID(BSTR* pbstrRet) override;
  HRESULT STDMETHODCALLTYPE get_Value(BSTR bstrValue, VARIANT* pvar) override;
  HRESULT STDMETHODCALLTYPE put_Value(BSTR bstrValue, VARIANT var) override;
  HRESULT STDMETHODCALLTYPE putref_Value(BSTR bstrValue, VARIANT var) override;
  HRESULT STDMETHODCALLTYPE get_Timeout(LONG* plvar) override;
  HRESULT STDMETHODCALLTYPE put_Timeout(LONG lvar) override;
  HRESULT STDMETHODCALLTYPE Abandon() override;
  HRESULT STDMETHODCALLTYPE get_CodePage(LONG* plvar) override;
  HRESULT STDMETHODCALLTYPE put_CodePage(LONG lvar) override;
  HRESULT STDMETHODCALLTYPE get_LCID(LONG* plvar) override;
  HRESULT STDMETHODCALLTYPE put_LCID(LONG lvar) override;
  HRESULT STDMETHODCALLTYPE get_StaticObjects(IVariantDictionary** ppTaggedObjects) override;
  HRESULT STDMETHODCALLTYPE get_Contents(IVariantDictionary** ppProperties) override;

 private:
  Session* session();
};

// The application's values, shared by every page of the process.
class ApplicationState {
 public:
  static ApplicationState& instance();
  std::shared_ptr<VariantStore> values = std::make_shared<VariantStore>();
  std::shared_ptr<VariantStore> static_objects = std::make_shared<VariantStore>();
  std::recursive_mutex page_lock;  // Application.Lock / UnLock
};

class ApplicationObject final : public DispatchObject<IApplicationObject, &IID_IApplicationObject>,
                                public PageBound {
 public:
  explicit ApplicationObject(PageContext* page) : PageBound(page) {}
  HRESULT STDMETHODCALLTYPE get_Value(BSTR bstrValue, VARIANT* pvar) override;
  HRESULT STDMETHODCALLTYPE put_Value(BSTR bstrValue, VARIANT var) override;
  HRESULT STDMETHODCALLTYPE putref_Value(BSTR bstrValue, VARIANT var) override;
  HRESULT STDMETHODCALLTYPE Lock() override;
  HRESULT STDMETHODCALLTYPE UnLock() override;
  HRESULT STDMETHODCALLTYPE get_StaticObjects(IVariantDictionary** ppProperties) override;
  HRESULT STDMETHODCALLTYPE get_Contents(IVariantDictionary** ppProperties) override;
};

class ScriptingContextObject final
    : public DispatchObject<IScriptingContext, &IID_IScriptingContext>,
      public PageBound {
 public:
  explicit ScriptingContextObject(PageContext* page) : PageBound(page) {}
  HRESULT STDMETHODCALLTYPE get_Request(IRequest** ppRequest) override;
  HRESULT STDMETHODCALLTYPE get_Response(IResponse** ppResponse) override;
  HRESULT STDMETHODCALLTYPE get_Server(IServer** ppServer) override;
  HRESULT STDMETHODCALLTYPE get_Session(ISessionObject** ppSession) override;
  HRESULT STDMETHODCALLTYPE get_Application(IApplicationObject** ppApplication) override;
};

// A BSTR copy of text into *out (E_POINTER, E_OUTOFMEMORY).
HRESULT bstr_out(const std::u16string& text, BSTR* out);
std::u16string bstr_text(BSTR b);

}  // namespace vhost
