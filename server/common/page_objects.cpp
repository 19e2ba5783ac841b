// Taking and giving back a page's intrinsic objects.
#include "page_objects.h"

HRESULT PageObjects::TakePageObjects(IUnknown* piUnk) {
  if (!piUnk)
    return E_POINTER;
  // A second start without an end first lets go of what the first one took.
  ReleasePageObjects();
  ComPtr<IScriptingContext> context;
  // By its identifier: the system's own declaration of the interface gives no __uuidof.
  HRESULT hr =
      piUnk->QueryInterface(IID_IScriptingContext, reinterpret_cast<void**>(context.Receive()));
  if (FAILED(hr))
    return hr;
  hr = context->get_Request(Request.Receive());
  if (SUCCEEDED(hr))
    hr = context->get_Response(Response.Receive());
  if (SUCCEEDED(hr))
    hr = context->get_Server(Server.Receive());
  if (SUCCEEDED(hr))
    hr = context->get_Session(Session.Receive());
  if (SUCCEEDED(hr))
    hr = context->get_Application(Application.Receive());
  if (FAILED(hr))
    ReleasePageObjects();
  return hr;
}

void PageObjects::ReleasePageObjects() {
  Request.Reset();
  Response.Reset();
  Server.Reset();
  Session.Reset();
  Application.Reset();
}
