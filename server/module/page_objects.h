// The five intrinsic objects of the page a component is bound to, taken from the page's
// scripting context at its start and given back at its end. The upload and download objects
// hold them alike.
#pragma once

#include "vtrl_module.h"

class PageObjects {
 public:
  PageObjects() = default;
  PageObjects(const PageObjects&) = delete;
  PageObjects& operator=(const PageObjects&) = delete;
  // Whatever is still held goes in the reverse order: Application first, Request last.
  ~PageObjects();

  // Lets go of what is held, then takes Request, Response, Server, Session and Application, in
  // that order, from the scripting context piUnk. Returns S_OK; E_POINTER for a null piUnk; the
  // failing call's status, and then nothing is held.
  HRESULT TakePageObjects(IUnknown* piUnk);
  // Releases and empties the five in the page's order: Request first, Application last.
  void ReleasePageObjects();

  IRequest* Request = nullptr;
  IResponse* Response = nullptr;
  ISessionObject* Session = nullptr;
  IServer* Server = nullptr;
  IApplicationObject* Application = nullptr;
};
