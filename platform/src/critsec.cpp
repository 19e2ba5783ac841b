// Critical sections: a recursive lock whose waiters sleep in the kernel (through C++20 atomic
// waiting) instead of spinning.
#include <atomic>

#include "synchapi.h"

namespace {

// A distinct non-zero identity for each thread: the address of a thread-local byte.
HANDLE current_thread() {
  thread_local char identity;
  return &identity;
}

std::atomic_ref<LONG> lock_word(LPCRITICAL_SECTION cs) {
  return std::atomic_ref<LONG>(cs->LockCount);
}
std::atomic_ref<HANDLE> owner(LPCRITICAL_SECTION cs) {
  return std::atomic_ref<HANDLE>(cs->OwningThread);
}

}  // namespace

void InitializeCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  *lpCriticalSection = CRITICAL_SECTION{};
}

void DeleteCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  *lpCriticalSection = CRITICAL_SECTION{};
}

void EnterCriticalSection(LPCRITICAL_SECTION cs) {
  HANDLE self = current_thread();
  if (owner(cs).load(std::memory_order_relaxed) == self) {
    ++cs->RecursionCount;
    return;
  }
  // 0 free, 1 held, 2 held and someone may be waiting.
  LONG expected = 0;
  if (!lock_word(cs).compare_exchange_strong(expected, 1, std::memory_order_acquire)) {
    while (lock_word(cs).exchange(2, std::memory_order_acquire) != 0)
      lock_word(cs).wait(2);
  }
  owner(cs).store(self, std::memory_order_relaxed);
  cs->RecursionCount = 1;
}

void LeaveCriticalSection(LPCRITICAL_SECTION cs) {
  if (--cs->RecursionCount > 0)
    return;
  owner(cs).store(nullptr, std::memory_order_relaxed);
  if (lock_word(cs).exchange(0, std::memory_order_release) == 2)
    lock_word(cs).notify_one();
}
