// The process-wide output limit of KaZlib.
#include "KaZlibLimit.h"

#include <atomic>

#include "kz_limit.h"

namespace {

std::atomic<DWORD> output_limit{KAZLIB_MAX_OUTPUT};

}  // namespace

DWORD KaZlibSetOutputLimit(DWORD limit) {
  if (limit == 0 || limit > KAZLIB_MAX_OUTPUT)
    limit = KAZLIB_MAX_OUTPUT;
  return output_limit.exchange(limit);
}

size_t kz_output_limit() {
  return output_limit.load(std::memory_order_relaxed);
}
