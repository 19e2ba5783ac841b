// The process's small-block heap (small_blocks.h): one range, and each thread's lists of free
// blocks.
#include "small_blocks.h"

#if PLATFORM_SMALL_BLOCKS_KEPT

#include <stdint.h>

#include "small_block_range.h"

namespace {

// Room for sixteen million blocks of the largest class; a 32-bit process keeps most of its
// address space for other uses.
constexpr size_t kRangeBytes = sizeof(void*) >= 8 ? size_t{4} << 30 : size_t{256} << 20;

// Made once and never destroyed: blocks may be given back while the process exits.
SmallBlockRange& range() {
  static SmallBlockRange* const r = new SmallBlockRange(kRangeBytes);
  return *r;
}

struct ThreadBlocks;

// The calling thread's lists: null before its first block, kEnded once the thread is ending.
// Every allocation reads it, so it is placed in the initial thread-local block (the program
// loads this library at its start), where reading it needs no call into the dynamic loader.
__attribute__((tls_model("initial-exec"))) thread_local ThreadBlocks* current = nullptr;
ThreadBlocks* const kEnded = reinterpret_cast<ThreadBlocks*>(uintptr_t{1});

// Gives the lists back when the thread ends. Blocks that the thread's later destructors give
// back then go straight to the range, and their requests to the C heap.
struct ThreadBlocks {
  SmallBlockCache cache;
  ~ThreadBlocks() {
    cache.Flush(range());
    current = kEnded;
  }
};

SmallBlockCache* first_use() {
  if (current == kEnded)
    return nullptr;
  thread_local ThreadBlocks blocks;
  current = &blocks;
  return &blocks.cache;
}

SmallBlockCache* thread_cache() {
  ThreadBlocks* blocks = current;
  if (reinterpret_cast<uintptr_t>(blocks) > uintptr_t{1})
    return &blocks->cache;
  return first_use();
}

}  // namespace

void* PlatformSmallBlockTake(SIZE_T cb) {
  if (cb > kSmallBlockLimit)
    return nullptr;
  SmallBlockCache* cache = thread_cache();
  return cache ? cache->Take(range(), cb) : nullptr;
}

BOOL PlatformSmallBlockGive(void* block) {
  SmallBlockRange& r = range();
  if (!r.Owns(block))
    return FALSE;
  if (SmallBlockCache* cache = thread_cache()) {
    cache->Give(r, block);
  } else {
    auto* link = static_cast<SmallBlockLink*>(block);
    link->next = nullptr;
    r.GiveList(r.ClassOf(block), link);
  }
  return TRUE;
}

SIZE_T PlatformSmallBlockSize(const void* block) {
  const SmallBlockRange& r = range();
  return r.Owns(block) ? (r.ClassOf(block) + 1) * kSmallBlockGrain : 0;
}

#else

void* PlatformSmallBlockTake(SIZE_T) {
  return nullptr;
}

BOOL PlatformSmallBlockGive(void*) {
  return FALSE;
}

SIZE_T PlatformSmallBlockSize(const void*) {
  return 0;
}

#endif
