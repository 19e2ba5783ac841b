// Waiting and synchronisation: Sleep, critical sections and the interlocked operations.
#pragma once

#include "windef.h"

// Sleep
// Suspends the calling thread for at least dwMilliseconds; 0 gives up the rest of the time slice.
WINAPI_EXPORT void Sleep(DWORD dwMilliseconds);

// A recursive lock. Layout as on the platform (40 bytes); the fields are the lock's own state
// and are not to be touched by its users.
typedef struct _RTL_CRITICAL_SECTION {
  PVOID DebugInfo;
  LONG LockCount;  // 0 free, 1 held, 2 held with waiters
  LONG RecursionCount;
  HANDLE OwningThread;
  HANDLE LockSemaphore;
  ULONG_PTR SpinCount;
} CRITICAL_SECTION, *LPCRITICAL_SECTION;

// InitializeCriticalSection
// Prepares an unlocked critical section. Cannot fail.
WINAPI_EXPORT void InitializeCriticalSection(LPCRITICAL_SECTION lpCriticalSection);

// DeleteCriticalSection
// Ends the life of an unlocked critical section.
WINAPI_EXPORT void DeleteCriticalSection(LPCRITICAL_SECTION lpCriticalSection);

// EnterCriticalSection
// Waits for and takes the lock; a thread that holds it takes it again (and leaves it as often).
WINAPI_EXPORT void EnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection);

// LeaveCriticalSection
// Gives up one hold of the lock taken by the calling thread.
WINAPI_EXPORT void LeaveCriticalSection(LPCRITICAL_SECTION lpCriticalSection);

// Interlocked operations on 32-bit values; each returns the new value (Increment, Decrement) or
// the old one (Exchange, CompareExchange), with full ordering.
inline LONG InterlockedIncrement(LONG volatile* Addend) {
  return __atomic_add_fetch(Addend, 1, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedDecrement(LONG volatile* Addend) {
  return __atomic_sub_fetch(Addend, 1, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedExchange(LONG volatile* Target, LONG Value) {
  return __atomic_exchange_n(Target, Value, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedCompareExchange(LONG volatile* Destination, LONG Exchange, LONG Comperand) {
  __atomic_compare_exchange_n(Destination, &Comperand, Exchange, false, __ATOMIC_SEQ_CST,
                              __ATOMIC_SEQ_CST);
  return Comperand;
}
