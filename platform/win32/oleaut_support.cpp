// The helpers of the platform's private header that the module services use, for the Windows
// build: the out-of-memory funnel and the trace channel (PLATFORM_TRACE, to standard error).
// The system's oleauto.h needs windows.h before it.
#include <windows.h>

#include "oleaut_private.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

[[gnu::noinline]] HRESULT oom_fault() {
  return E_OUTOFMEMORY;
}

bool trace_enabled() {
  static const bool enabled = [] {
    const char* value = getenv("PLATFORM_TRACE");
    return value && *value && strcmp(value, "0") != 0;
  }();
  return enabled;
}

void trace_line(const char* function, const std::string& text) {
  fprintf(stderr, "platform: %s: %s\n", function, text.c_str());
}
