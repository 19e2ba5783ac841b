// The process's small-block heap, shared by the project's allocators (the utility library's
// blocks, part records and element objects). Not part of the Windows-shaped headers.
//
// The C heap keeps only a few freed small blocks per thread for quick reuse. An upload of ten
// thousand fields frees tens of thousands of them at once, and the C heap then sorts and merges
// every one of them the next time a large block is freed. Blocks of up to
// PLATFORM_SMALL_BLOCK_LIMIT bytes come instead from size classes of 16 bytes, each thread
// keeping the blocks it freed for its next requests.
#pragma once

#include <new>

#include "block_cache.h"
#include "platform_export.h"
#include "windef.h"

// The largest block the heap gives.
#define PLATFORM_SMALL_BLOCK_LIMIT 256

// 1 when the heap gives blocks. Builds with AddressSanitizer leave every block to the C heap,
// where a use after free is caught. So does the Windows build: there the C run time's heap is
// the system's low-fragmentation heap, which keeps small blocks in size classes already, and a
// range of each DLL's own would outlive the DLL's unloading.
#if defined(_WIN32)
#define PLATFORM_SMALL_BLOCKS_KEPT 0
#else
#define PLATFORM_SMALL_BLOCKS_KEPT PLATFORM_BLOCK_CACHE_KEEPS
#endif

// PlatformSmallBlockTake
// A block of at least cb bytes, 16-byte aligned, whose contents are left as they were.
// Returns: null when cb is above PLATFORM_SMALL_BLOCK_LIMIT, when the heap's address range is
//          full, or in builds with AddressSanitizer: the caller then uses the C heap.
WINAPI_EXPORT void* PlatformSmallBlockTake(SIZE_T cb);

// PlatformSmallBlockGive
// Returns block to the small-block heap if it came from there.
// Returns: TRUE when it did; FALSE for any other block (null included), which the caller then
//          frees where it got it.
// Notes:   any thread may give back a block that another thread took.
WINAPI_EXPORT BOOL PlatformSmallBlockGive(void* block);

// PlatformSmallBlockSize
// Returns: the usable bytes of a block of the small-block heap (its class's size), 0 for any
//          other block.
WINAPI_EXPORT SIZE_T PlatformSmallBlockSize(const void* block);

// PlatformSmallBlocksOut
// Returns: the blocks of the heap that are not in its shared stock: in use, or kept in the
//          lists of threads that are still running. For tests and diagnostics.
WINAPI_EXPORT SIZE_T PlatformSmallBlocksOut(void);

#ifdef __cplusplus
// A block of at least cb bytes from the platform's caches: the small-block heap for small
// sizes, the block cache for large ones. Null otherwise: the caller then uses the C heap.
inline void* PlatformKeptBlockTake(SIZE_T cb) {
  if (cb <= PLATFORM_SMALL_BLOCK_LIMIT)
    return PlatformSmallBlockTake(cb);
  return cb >= PLATFORM_BLOCK_CACHE_MIN_SIZE ? PlatformBlockTake(cb) : nullptr;
}

// Gives block back to the small-block heap it came from, or keeps a large C heap block in the
// block cache. FALSE when neither took it: the caller then frees it.
inline BOOL PlatformKeptBlockGive(void* block) {
  return PlatformSmallBlockGive(block) || PlatformBlockKeep(block);
}

// A base for small objects made and destroyed in large numbers: their memory comes from the
// small-block heap when they fit, from the C++ heap otherwise.
struct PlatformSmallObject {
  static void* operator new(size_t size) {
    if (void* block = PlatformSmallBlockTake(size))
      return block;
    return ::operator new(size);
  }
  static void* operator new(size_t size, const std::nothrow_t&) noexcept {
    if (void* block = PlatformSmallBlockTake(size))
      return block;
    return ::operator new(size, std::nothrow);
  }
  static void operator delete(void* block) noexcept {
    if (!PlatformSmallBlockGive(block))
      ::operator delete(block);
  }
  static void operator delete(void* block, const std::nothrow_t&) noexcept {
    operator delete(block);
  }
  // Over-aligned objects go to the C++ heap, which honours their alignment.
  static void* operator new(size_t size, std::align_val_t alignment) {
    return ::operator new(size, alignment);
  }
  static void* operator new(size_t size, std::align_val_t alignment,
                            const std::nothrow_t&) noexcept {
    return ::operator new(size, alignment, std::nothrow);
  }
  static void operator delete(void* block, std::align_val_t alignment) noexcept {
    ::operator delete(block, alignment);
  }
  static void operator delete(void* block, std::align_val_t alignment,
                              const std::nothrow_t&) noexcept {
    ::operator delete(block, alignment);
  }
};
#endif
