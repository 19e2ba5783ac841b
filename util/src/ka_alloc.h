// The library allocator: the one place where KaMsUtil gets and returns memory. Blocks are
// zero-filled unless the caller fills them wholly itself; freed large blocks are kept for reuse
// (a few, bounded in total). Every allocation consults the fault simulator first.
#pragma once

#include <stddef.h>

// A DLL exports only what is marked for export, so the Windows build needs no marking here.
#if defined(_WIN32)
#define KAMSUTIL_HIDDEN
#else
#define KAMSUTIL_HIDDEN __attribute__((visibility("hidden")))
#endif

// A zero-filled block of size bytes, or null (size 0 still gives a distinct block).
KAMSUTIL_HIDDEN void* ka_alloc(size_t size);
// A block of size bytes whose contents are unspecified: for callers that write every byte.
KAMSUTIL_HIDDEN void* ka_alloc_raw(size_t size);
// Releases a block of ka_alloc; null is a harmless no-op.
KAMSUTIL_HIDDEN void ka_free(void* block);
// The library empty string: shared, zero-length, never released or written.
KAMSUTIL_HIDDEN char* ka_empty_string();
