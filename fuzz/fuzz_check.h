// A check of a fuzz target: a broken promise is reported on the sanitizers' channel (which
// libFuzzer keeps open when it silences the target's own output) and aborts, so that libFuzzer
// keeps the input that broke it.
#pragma once

#include <sanitizer/common_interface_defs.h>

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition, message)                                                       \
  do {                                                                                       \
    if (!(condition)) {                                                                      \
      char fuzz_check_text[512];                                                             \
      std::snprintf(fuzz_check_text, sizeof fuzz_check_text, "%s:%d: check failed: %s (%s)", \
                    __FILE__, __LINE__, message, #condition);                                \
      __sanitizer_report_error_summary(fuzz_check_text);                                     \
      std::abort();                                                                          \
    }                                                                                        \
  } while (0)
