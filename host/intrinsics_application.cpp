// Application: values shared by every page of the process, with Lock and UnLock; and the
// scripting context that components receive in OnStartPage.
#include <new>

#include "intrinsics.h"

namespace vhost {

ApplicationState& ApplicationState::instance() {
  static ApplicationState state;
  return state;
}

HRESULT ApplicationObject::get_Value(BSTR bstrValue, VARIANT* pvar) {
  HRESULT hr = check_page();
  return FAILED(hr) ? hr : ApplicationState::instance().values->get(bstr_text(bstrValue), pvar);
}

HRESULT ApplicationObject::put_Value(BSTR bstrValue, VARIANT var) {
  HRESULT hr = check_page();
  return FAILED(hr) ? hr : ApplicationState::instance().values->put(bstr_text(bstrValue), var);
}

HRESULT ApplicationObject::putref_Value(BSTR bstrValue, VARIANT var) {
  return put_Value(bstrValue, var);
}

HRESULT ApplicationObject::Lock() {
  HRESULT hr = check_page();
  if (FAILED(hr))
    return hr;
  ApplicationState::instance().page_lock.lock();
  ++page_->application_locks;
  return S_OK;
}

HRESULT ApplicationObject::UnLock() {
  HRESULT hr = check_page();
  if (FAILED(hr))
    return hr;
  if (page_->application_locks == 0)
    return S_OK;  // unlocking what this page does not hold changes nothing
  --page_->application_locks;
  ApplicationState::instance().page_lock.unlock();
  return S_OK;
}

HRESULT ApplicationObject::get_StaticObjects(IVariantDictionary** ppProperties) {
  if (ppProperties)
    *ppProperties = nullptr;
  HRESULT hr = check_page();
  if (FAILED(hr))
    return hr;
  return hand_out(new (std::nothrow) VariantDictionary(ApplicationState::instance().static_objects),
                  ppProperties);
}

HRESULT ApplicationObject::get_Contents(IVariantDictionary** ppProperties) {
  if (ppProperties)
    *ppProperties = nullptr;
  HRESULT hr = check_page();
  if (FAILED(hr))
    return hr;
  return hand_out(new (std::nothrow) VariantDictionary(ApplicationState::instance().values),
                  ppProperties);
}

namespace {

template <class Itf>
HRESULT give(Itf* object, Itf** out) {
  if (!out)
    return E_POINTER;
  *out = object;
  if (!object)
    return set_error(E_UNEXPECTED, u"The page this object belongs to has ended.");
  object->AddRef();
  return S_OK;
}

}  // namespace

HRESULT ScriptingContextObject::get_Request(IRequest** ppRequest) {
  return give(page_ ? page_->request_object() : nullptr, ppRequest);
}

HRESULT ScriptingContextObject::get_Response(IResponse** ppResponse) {
  return give(page_ ? page_->response_object() : nullptr, ppResponse);
}

HRESULT ScriptingContextObject::get_Server(IServer** ppServer) {
  return give(page_ ? page_->server_object() : nullptr, ppServer);
}

HRESULT ScriptingContextObject::get_Session(ISessionObject** ppSession) {
  return give(page_ ? page_->session_object() : nullptr, ppSession);
}

HRESULT ScriptingContextObject::get_Application(IApplicationObject** ppApplication) {
  return give(page_ ? page_->application_object() : nullptr, ppApplication);
}

}  // namespace vhost
