// Task memory: CoTaskMemAlloc, CoTaskMemRealloc, CoTaskMemFree, the allocator that BSTRs,
// SAFEARRAYs, error objects and out-parameters come from. Every allocation consults the fault
// simulator first and is counted, so tests can fail the Nth one and check that nothing leaked.
#include "objbase.h"

#include <malloc.h>
#include <stdlib.h>
#include <string.h>

#include <atomic>

#include "faultsim.h"
#include "oleaut_private.h"
#include "platform_memstat.h"
#include "small_blocks.h"

namespace {

std::atomic<LONG> live_blocks{0};

[[gnu::noinline]] void* task_mem_oom() {
  return nullptr;
}

// Debug builds fill freed blocks so that a use after free reads an obvious pattern.
void poison(void* pv) {
#ifndef NDEBUG
  const size_t small = PlatformSmallBlockSize(pv);
  memset(pv, 0xAA, small ? small : malloc_usable_size(pv));
#else
  (void)pv;
#endif
}

}  // namespace

[[gnu::noinline]] HRESULT oom_fault() {
  return E_OUTOFMEMORY;
}

LPVOID CoTaskMemAlloc(SIZE_T cb) {
  if (FaultSimStep())
    return task_mem_oom();
  void* pv = PlatformKeptBlockTake(cb);
  if (!pv)
    pv = malloc(cb ? cb : 1);
  if (!pv)
    return task_mem_oom();
  live_blocks.fetch_add(1, std::memory_order_relaxed);
  return pv;
}

void* task_mem_alloc_zeroed(size_t cb) {
  if (FaultSimStep())
    return task_mem_oom();
  void* pv = PlatformKeptBlockTake(cb);
  if (pv)
    memset(pv, 0, cb);
  else
    pv = calloc(cb ? cb : 1, 1);  // large blocks come from the kernel already zeroed
  if (!pv)
    return task_mem_oom();
  live_blocks.fetch_add(1, std::memory_order_relaxed);
  return pv;
}

LPVOID CoTaskMemRealloc(LPVOID pv, SIZE_T cb) {
  if (!pv)
    return CoTaskMemAlloc(cb);
  if (cb == 0) {
    CoTaskMemFree(pv);
    return nullptr;
  }
  if (FaultSimStep())
    return task_mem_oom();
  // A small block moves into a block of the new size; the C heap's blocks are resized there.
  if (const size_t small = PlatformSmallBlockSize(pv)) {
    if (cb <= small)
      return pv;
    void* moved = PlatformKeptBlockTake(cb);
    if (!moved)
      moved = malloc(cb);
    if (!moved)
      return task_mem_oom();
    memcpy(moved, pv, small);
    PlatformSmallBlockGive(pv);
    return moved;
  }
  void* moved = realloc(pv, cb);
  return moved ? moved : task_mem_oom();
}

void CoTaskMemFree(LPVOID pv) {
  if (!pv)
    return;
  live_blocks.fetch_sub(1, std::memory_order_relaxed);
  poison(pv);
  if (!PlatformKeptBlockGive(pv))
    free(pv);
}

LONG PlatformTaskMemBlocks(void) {
  return live_blocks.load();
}
