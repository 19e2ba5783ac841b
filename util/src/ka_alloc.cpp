// The library allocator of KaMsUtil, with the fault simulator's hook. Small blocks come from the
// platform's small-block heap; freed large blocks go to the platform's block cache and come back
// from it, so a large request body does not pay a page fault per 4 KiB on every request; the
// rest is the C heap's.
#include "ka_alloc.h"

#include <stdlib.h>
#include <string.h>

#include "faultsim.h"
#include "small_blocks.h"

namespace {
// Writable so that it can stand where a char* is expected; nothing ever writes into it.
char empty_string[1] = {0};
}  // namespace

void* ka_alloc(size_t size) {
  if (FaultSimStep())
    return nullptr;
  if (void* block = PlatformKeptBlockTake(size)) {
    memset(block, 0, size);
    return block;
  }
  return calloc(size ? size : 1, 1);
}

void* ka_alloc_raw(size_t size) {
  if (FaultSimStep())
    return nullptr;
  if (void* block = PlatformKeptBlockTake(size))
    return block;
  return malloc(size ? size : 1);
}

void ka_free(void* block) {
  if (block && !PlatformKeptBlockGive(block))
    free(block);
}

char* ka_empty_string() {
  return empty_string;
}
