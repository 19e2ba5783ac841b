// The allocator of KaZlib over the C heap, with the fault simulator's hook.
#include "kz_alloc.h"

#include <libdeflate.h>
#include <stdlib.h>
#include <string.h>

#include <mutex>

#include "faultsim.h"

void* kz_alloc(size_t size) {
  if (FaultSimStep())
    return nullptr;
  return malloc(size ? size : 1);
}

void kz_free(void* block) {
  free(block);
}

void* kz_grow_or_free(void* block, size_t used, size_t size) {
  // With nothing to keep, the old block goes first, so the peak is the new block alone.
  if (!used) {
    kz_free(block);
    return kz_alloc(size);
  }
  void* grown = kz_alloc(size);
  if (grown)
    memcpy(grown, block, used);
  kz_free(block);
  return grown;
}

void* kz_shrink(void* block, size_t size) {
  if (FaultSimStep())
    return block;
  void* shrunk = realloc(block, size ? size : 1);
  return shrunk ? shrunk : block;
}

void kz_use_library_allocator() {
  // libdeflate's allocator is process-wide; KaZlib is its only user here and installs it once.
  static std::once_flag installed;
  std::call_once(installed, [] { libdeflate_set_memory_allocator(kz_alloc, kz_free); });
}
