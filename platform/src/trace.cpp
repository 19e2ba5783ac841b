// The trace channel of the automation run time and the module services: lines to standard
// error while PLATFORM_TRACE is set to something other than 0. One file for both builds.
#if defined(_WIN32)
// The system's oleauto.h needs windows.h before it.
#include <windows.h>
#endif

#include "oleaut_private.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

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
