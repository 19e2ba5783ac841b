// The state of one running page (see page_context.h).
#include "page_context.h"

#include <new>

#include "intrinsics.h"
#include "text.h"

namespace vhost {

const std::string* find_header(const HeaderList& headers, std::string_view name) {
  for (auto& [key, value] : headers)
    if (iequals(key, name))
      return &value;
  return nullptr;
}

const std::string* HttpRequestData::header(std::string_view name) const {
  return find_header(headers, name);
}

PageContext::PageContext(const HostConfig& config, HttpRequestData& request,
                         HttpResponseData& response, std::string page_path)
    : config(config),
      request(request),
      response(response),
      page_path(std::move(page_path)),
      script_timeout_seconds(config.script_timeout_seconds) {}

PageContext::~PageContext() {
  end();
}

namespace {

template <class T, class Itf>
bool make(PageContext* page, ComPtr<Itf>& slot, std::vector<PageBound*>& bound) {
  T* object = new (std::nothrow) T(page);
  if (!object)
    return false;
  bound.push_back(object);
  object->AddRef();
  slot.Reset(object);
  return true;
}

}  // namespace

HRESULT PageContext::begin() {
  if (!make<RequestObject>(this, request_object_, bound_) ||
      !make<ResponseObject>(this, response_object_, bound_) ||
      !make<ServerObject>(this, server_object_, bound_) ||
      !make<SessionObject>(this, session_object_, bound_) ||
      !make<ApplicationObject>(this, application_object_, bound_) ||
      !make<ScriptingContextObject>(this, context_, bound_))
    return E_OUTOFMEMORY;
  return S_OK;
}

void PageContext::end() {
  std::u16string name = u"OnEndPage";
  for (ComPtr<IDispatch>& object : page_objects) {
    LPOLESTR names[] = {name.data()};
    DISPID id = DISPID_UNKNOWN;
    if (SUCCEEDED(object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id))) {
      DISPPARAMS none{nullptr, nullptr, 0, 0};
      object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none,
                     /*pVarResult=*/nullptr, /*pExcepInfo=*/nullptr, /*puArgErr=*/nullptr);
    }
  }
  page_objects.clear();
  while (application_locks > 0) {
    --application_locks;
    ApplicationState::instance().page_lock.unlock();
  }
  for (PageBound* object : bound_)
    object->detach();
  bound_.clear();
  context_.Reset();
  request_object_.Reset();
  response_object_.Reset();
  server_object_.Reset();
  session_object_.Reset();
  application_object_.Reset();
}

Session* PageContext::ensure_session() {
  if (session)
    return session.get();
  for (auto& [name, value] : request.headers) {
    if (!iequals(name, "Cookie"))
      continue;
    const std::string key = std::string(kSessionCookie) + "=";
    size_t at = value.find(key);
    while (at != std::string::npos && at > 0 && value[at - 1] != ' ' && value[at - 1] != ';')
      at = value.find(key, at + 1);
    if (at == std::string::npos)
      continue;
    const size_t start = at + key.size();
    const std::string id = value.substr(start, value.find(';', start) - start);
    session = SessionStore::instance().find(id);
    if (session)
      return session.get();
  }
  session = SessionStore::instance().create();
  session_is_new = true;
  response.headers.emplace_back("Set-Cookie", std::string(kSessionCookie) + "=" + session->id +
                                                  "; Path=/; HttpOnly; SameSite=Lax");
  return session.get();
}

IScriptingContext* PageContext::scripting_context() const {
  return context_.Get();
}
IRequest* PageContext::request_object() const {
  return request_object_.Get();
}
IResponse* PageContext::response_object() const {
  return response_object_.Get();
}
IServer* PageContext::server_object() const {
  return server_object_.Get();
}
ISessionObject* PageContext::session_object() const {
  return session_object_.Get();
}
IApplicationObject* PageContext::application_object() const {
  return application_object_.Get();
}

}  // namespace vhost
