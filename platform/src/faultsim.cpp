// Allocation fault simulation: a countdown that the project's allocators consult before each
// allocation, so tests can fail the Nth one (once, or from then on).
#include "faultsim.h"

#include <atomic>

namespace {

// Allocations still to go before the next injected fault; 0 while disarmed.
std::atomic<int> countdown{0};
std::atomic<bool> persistent_faults{false};
std::atomic<bool> failing{false};
std::atomic<int> faults{0};

// Every injected fault passes here: a place for a debugger breakpoint.
[[gnu::noinline]] BOOL fault_injected() {
  faults.fetch_add(1, std::memory_order_relaxed);
  return TRUE;
}

}  // namespace

void FaultSimConfig(int nth, BOOL persistent) {
  faults.store(0);
  failing.store(false);
  persistent_faults.store(persistent != FALSE);
  countdown.store(nth > 0 ? nth : 0);
}

BOOL FaultSimStep(void) {
  if (failing.load(std::memory_order_relaxed))
    return fault_injected();
  int left = countdown.load(std::memory_order_relaxed);
  while (left > 0 && !countdown.compare_exchange_weak(left, left - 1)) {
  }
  // Only the allocation that takes the count from 1 to 0 fails.
  if (left != 1)
    return FALSE;
  if (persistent_faults.load())
    failing.store(true);
  return fault_injected();
}

int FaultSimFaults(void) {
  return faults.load();
}
