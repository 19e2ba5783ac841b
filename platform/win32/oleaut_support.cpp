// The helper of the platform's private header that the module services use, for the Windows
// build: the out-of-memory funnel (the trace channel is src/trace.cpp, shared by both builds).
// The system's oleauto.h needs windows.h before it.
#include <windows.h>

#include "oleaut_private.h"

[[gnu::noinline]] HRESULT oom_fault() {
  return E_OUTOFMEMORY;
}
