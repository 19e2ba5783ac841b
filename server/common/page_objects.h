// The five intrinsic objects of the page a component is bound to, taken from the page's
// scripting context at its start and given back at its end. The upload and download objects
// hold them alike.
#pragma once

#include "com_ptr.h"
#include "vtrl_module.h"

class PageObjects {
 public:
  PageObjects() = default;
  PageObjects(const PageObjects&) = delete;
  PageObjects& operator=(const PageObjects&) = delete;

  // Lets go of what is held, then takes Request, Response, Server, Session and Application, in
  // that order, from the scripting context piUnk. Returns S_OK; E_POINTER for a null piUnk; the
  // failing call's status, and then nothing is held.
  HRESULT TakePageObjects(IUnknown* piUnk);
  // Releases and empties the five in the page's order: Request first, Application last.
  void ReleasePageObjects();

  // Members go in the reverse order of their declaration: whatever is still held at the end
  // goes Application first, Request last.
  ComPtr<IRequest> Request;
  ComPtr<IResponse> Response;
  ComPtr<ISessionObject> Session;
  ComPtr<IServer> Server;
  ComPtr<IApplicationObject> Application;
};
