// Taking and giving back a page's intrinsic objects.
#include "page_objects.h"

#include "com_ptr.h"

namespace {

template <class T>
void release(T*& p) {
  if (p)
    p->Release();
  p = nullptr;
}

}  // namespace

PageObjects::~PageObjects() {
  release(Application);
  release(Server);
  release(Session);
  release(Response);
  release(Request);
}

HRESULT PageObjects::TakePageObjects(IUnknown* piUnk) {
  if (!piUnk)
    return E_POINTER;
  // A second start without an end first lets go of what the first one took.
  ReleasePageObjects();
  ComPtr<IScriptingContext> context;
  HRESULT hr =
      piUnk->QueryInterface(IID_IScriptingContext, reinterpret_cast<void**>(context.Receive()));
  if (FAILED(hr))
    return hr;
  hr = context->get_Request(&Request);
  if (SUCCEEDED(hr))
    hr = context->get_Response(&Response);
  if (SUCCEEDED(hr))
    hr = context->get_Server(&Server);
  if (SUCCEEDED(hr))
    hr = context->get_Session(&Session);
  if (SUCCEEDED(hr))
    hr = context->get_Application(&Application);
  if (FAILED(hr))
    ReleasePageObjects();
  return hr;
}

void PageObjects::ReleasePageObjects() {
  release(Request);
  release(Response);
  release(Server);
  release(Session);
  release(Application);
}
