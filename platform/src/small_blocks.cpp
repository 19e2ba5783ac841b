// The process's small-block heap (small_blocks.h): one range, and each thread's lists of free
// blocks.
#include "small_blocks.h"

#if PLATFORM_SMALL_BLOCKS_KEPT

#include <pthread.h>
#include <stdint.h>

#include <new>

#include "small_block_range.h"

namespace {

// Room for sixteen million blocks of the largest class; a 32-bit process keeps most of its
// address space for other uses.
constexpr size_t kRangeBytes = sizeof(void*) >= 8 ? size_t{4} << 30 : size_t{256} << 20;

// Made once, in static storage (an allocation here would come back to this heap), and never
// destroyed: blocks may be given back while the process exits.
SmallBlockRange& range() {
  alignas(SmallBlockRange) static unsigned char storage[sizeof(SmallBlockRange)];
  static SmallBlockRange* const r = new (storage) SmallBlockRange(kRangeBytes);
  return *r;
}

struct ThreadBlocks {
  SmallBlockCache cache;
};
// Plain data: a thread's lists need no constructor and outlive its thread-local destructors.
thread_local ThreadBlocks thread_blocks;

// The calling thread's lists: null before its first block, kEnded once they went back.
// Every allocation reads it, so it is placed in the initial thread-local block (the program
// loads this library at its start), where reading it needs no call into the dynamic loader.
__attribute__((tls_model("initial-exec"))) thread_local ThreadBlocks* current = nullptr;
ThreadBlocks* const kEnded = reinterpret_cast<ThreadBlocks*>(uintptr_t{1});

// Gives a thread's lists back when it ends. The destructor of a pthread key runs after the
// thread-local destructors, which may still free blocks, and runs again for a thread whose first
// block came from another key's destructor. Blocks the thread gives back later still go straight
// to the range, and its later requests go to the C heap.
void thread_ends(void* blocks) {
  static_cast<ThreadBlocks*>(blocks)->cache.Flush(range());
  current = kEnded;
}

pthread_key_t end_key;
bool make_end_key() {
  return pthread_key_create(&end_key, thread_ends) == 0;
}

SmallBlockCache* first_use() {
  if (current == kEnded)
    return nullptr;
  // Without the key a thread's lists could not go back: the heap then stays unused.
  static const bool have_key = make_end_key();
  if (!have_key || pthread_setspecific(end_key, &thread_blocks) != 0)
    return nullptr;
  current = &thread_blocks;
  return &thread_blocks.cache;
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

SIZE_T PlatformSmallBlocksOut(void) {
  return range().BlocksOut();
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

SIZE_T PlatformSmallBlocksOut(void) {
  return 0;
}

#endif
