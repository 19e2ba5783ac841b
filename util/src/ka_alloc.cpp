// The library allocator of KaMsUtil over the C heap, with the fault simulator's hook.
#include "ka_alloc.h"

#include <stdlib.h>

#include "faultsim.h"

namespace {
// Writable so that it can stand where a char* is expected; nothing ever writes into it.
char empty_string[1] = {0};
}  // namespace

void* ka_alloc(size_t size) {
  if (FaultSimStep())
    return nullptr;
  return calloc(size ? size : 1, 1);
}

void ka_free(void* block) {
  free(block);
}

char* ka_empty_string() {
  return empty_string;
}
