// A process-wide cache of large freed heap blocks, shared by the project's allocators (task
// memory, the utility library's blocks). A fresh large block costs one page fault for every
// 4 KiB on first touch, more than a request body's whole parse; a kept block costs none.
// Not part of the Windows-shaped headers.
#pragma once

#include "platform_export.h"
#include "windef.h"

// 1 when the cache keeps blocks: builds with AddressSanitizer keep nothing, so that a use after
// free is still caught (GCC announces the sanitizer with __SANITIZE_ADDRESS__, clang through
// __has_feature).
#if defined(__SANITIZE_ADDRESS__)
#define PLATFORM_BLOCK_CACHE_KEEPS 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PLATFORM_BLOCK_CACHE_KEEPS 0
#endif
#endif
#ifndef PLATFORM_BLOCK_CACHE_KEEPS
#define PLATFORM_BLOCK_CACHE_KEEPS 1
#endif

// The smallest block the cache keeps: callers skip the cache below it without a call.
#define PLATFORM_BLOCK_CACHE_MIN_SIZE (((SIZE_T)1) << 20)

// PlatformBlockTake
// A kept block of at least cb usable bytes (and not more than twice that), taken out of the
// cache; its contents are unspecified. Null when none fits or cb is below the cached size.
WINAPI_EXPORT void* PlatformBlockTake(SIZE_T cb);

// PlatformBlockKeep
// Keeps block (from the C heap: malloc, calloc or realloc) for reuse instead of freeing it.
// Returns: TRUE when kept; FALSE when the block is small or the cache is full (the caller then
//          frees it). The cache holds at most three blocks of at least 1 MiB, 256 MiB in all.
// Notes:   builds with AddressSanitizer keep nothing (PLATFORM_BLOCK_CACHE_KEEPS is 0).
WINAPI_EXPORT BOOL PlatformBlockKeep(void* block);
