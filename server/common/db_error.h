// Reporting a failed call on a database object: the object's own description, when it gives one
// for the interface that was called, passed on to the calling script.
#pragma once

#include "vtrl_module.h"

// Reports, with source clsid, the description of the thread's error information when failing
// supports error information for iid; no text otherwise. Returns ReportError's result.
HRESULT ReportDbError(const CLSID& clsid, IUnknown* failing, const IID& iid);
