// Session: values kept in memory between requests of one browser, found through a cookie,
// dropped after their time-out or Abandon.
#include <random>

#include "intrinsics.h"
#include "text.h"

namespace vhost {

namespace {

bool expired(Session& s, std::chrono::steady_clock::time_point now) {
  std::lock_guard<std::mutex> guard(s.lock);
  return s.abandoned || now - s.last_used > std::chrono::minutes(s.timeout_minutes);
}

std::string new_session_id() {
  static thread_local std::mt19937_64 generator{std::random_device{}()};
  static const char hex[] = "0123456789abcdef";
  std::string id;
  for (int i = 0; i < 2; ++i) {
    uint64_t bits = generator();
    for (int k = 0; k < 16; ++k, bits >>= 4)
      id.push_back(hex[bits & 15]);
  }
  return id;
}

}  // namespace

SessionStore& SessionStore::instance() {
  static SessionStore store;
  return store;
}

std::shared_ptr<Session> SessionStore::find(const std::string& id) {
  const auto now = std::chrono::steady_clock::now();
  std::lock_guard<std::mutex> guard(lock_);
  auto it = sessions_.find(id);
  if (it == sessions_.end())
    return nullptr;
  if (expired(*it->second, now)) {
    sessions_.erase(it);
    return nullptr;
  }
  std::lock_guard<std::mutex> session_guard(it->second->lock);
  it->second->last_used = now;
  return it->second;
}

std::shared_ptr<Session> SessionStore::create() {
  std::lock_guard<std::mutex> guard(lock_);
  if (++creations_ % 64 == 0)
    sweep_locked();
  std::string id;
  do {
    id = new_session_id();
  } while (sessions_.count(id));
  auto session = std::make_shared<Session>(id);
  sessions_[id] = session;
  return session;
}

void SessionStore::remove(const std::string& id) {
  std::lock_guard<std::mutex> guard(lock_);
  sessions_.erase(id);
}

size_t SessionStore::size() {
  std::lock_guard<std::mutex> guard(lock_);
  return sessions_.size();
}

void SessionStore::sweep_locked() {
  const auto now = std::chrono::steady_clock::now();
  for (auto it = sessions_.begin(); it != sessions_.end();)
    it = expired(*it->second, now) ? sessions_.erase(it) : std::next(it);
}

Session* SessionObject::session() {
  return page_ ? page_->ensure_session() : nullptr;
}

HRESULT SessionObject::get_SessionID(BSTR* pbstrRet) {
  HRESULT hr = check_page();
  return FAILED(hr) ? hr : bstr_out(to_u16(session()->id), pbstrRet);
}

HRESULT SessionObject::get_Value(BSTR bstrValue, VARIANT* pvar) {
  HRESULT hr = check_page();
  return FAILED(hr) ? hr : session()->values->get(bstr_text(bstrValue), pvar);
}

HRESULT SessionObject::put_Value(BSTR bstrValue, VARIANT var) {
  HRESULT hr = check_page();
  return FAILED(hr) ? hr : session()->values->put(bstr_text(bstrValue), var);
}

HRESULT SessionObject::putref_Value(BSTR bstrValue, VARIANT var) {
  return put_Value(bstrValue, var);
}

HRESULT SessionObject::get_Timeout(LONG* plvar) {
  if (!plvar)
    return E_POINTER;
  HRESULT hr = check_page();
  if (FAILED(hr))
    return hr;
  Session* s = session();
  std::lock_guard<std::mutex> guard(s->lock);
  *plvar = s->timeout_minutes;
  return S_OK;
}

HRESULT SessionObject::put_Timeout(LONG lvar) {
  HRESULT hr = check_page();
  if (FAILED(hr))
    return hr;
  if (lvar <= 0)
    return set_error(E_INVALIDARG, u"Session.Timeout must be a positive number of minutes.");
  Session* s = session();
  std::lock_guard<std::mutex> guard(s->lock);
  s->timeout_minutes = lvar;
  return S_OK;
}

HRESULT SessionObject::Abandon() {
  HRESULT hr = check_page();
  if (FAILED(hr))
    return hr;
  Session* s = session();
  {
    std::lock_guard<std::mutex> guard(s->lock);
    s->abandoned = true;
  }
  SessionStore::instance().remove(s->id);
  return S_OK;
}

HRESULT SessionObject::get_CodePage(LONG* plvar) {
  if (!plvar)
    return E_POINTER;
  HRESULT hr = check_page();
  if (FAILED(hr))
    return hr;
  *plvar = static_cast<LONG>(page_->code_page);
  return S_OK;
}

HRESULT SessionObject::put_CodePage(LONG lvar) {
  HRESULT hr = check_page();
  if (FAILED(hr))
    return hr;
  return page_->response_object()->put_CodePage(lvar);
}

HRESULT SessionObject::get_LCID(LONG* plvar) {
  HRESULT hr = check_page();
  return FAILED(hr) ? hr : page_->response_object()->get_LCID(plvar);
}

HRESULT SessionObject::put_LCID(LONG lvar) {
  HRESULT hr = check_page();
  return FAILED(hr) ? hr : page_->response_object()->put_LCID(lvar);
}

HRESULT SessionObject::get_StaticObjects(IVariantDictionary** ppTaggedObjects) {
  if (ppTaggedObjects)
    *ppTaggedObjects = nullptr;
  HRESULT hr = check_page();
  if (FAILED(hr))
    return hr;
  // No application file declares objects here, so the collection is empty.
  return hand_out(new (std::nothrow) VariantDictionary(std::make_shared<VariantStore>()),
                  ppTaggedObjects);
}

HRESULT SessionObject::get_Contents(IVariantDictionary** ppProperties) {
  if (ppProperties)
    *ppProperties = nullptr;
  HRESULT hr = check_page();
  if (FAILED(hr))
    return hr;
  return hand_out(new (std::nothrow) VariantDictionary(session()->values), ppProperties);
}

}  // namespace vhost
