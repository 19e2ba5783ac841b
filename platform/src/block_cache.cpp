// The cache of large freed heap blocks (block_cache.h).
#include "block_cache.h"

#include <mutex>

namespace {

constexpr size_t kMinCached = PLATFORM_BLOCK_CACHE_MIN_SIZE;
constexpr size_t kMaxCachedTotal = size_t{256} << 20;
constexpr int kSlots = 3;

constexpr bool kCacheBlocks = PLATFORM_BLOCK_CACHE_KEEPS;

struct Cache {
  std::mutex mutex;
  void* blocks[kSlots] = {};
  size_t sizes[kSlots] = {};
  size_t total = 0;
};

// The usable size of a C heap block.
size_t usable_size(void* block);

Cache& cache() {
  static Cache* c = new Cache();
  return *c;
}

}  // namespace

void* PlatformBlockTake(SIZE_T cb) {
  if (!kCacheBlocks || cb < kMinCached)
    return nullptr;
  Cache& c = cache();
  std::lock_guard<std::mutex> lock(c.mutex);
  for (int i = 0; i < kSlots; ++i) {
    if (c.blocks[i] && c.sizes[i] >= cb && c.sizes[i] / 2 <= cb) {
      void* block = c.blocks[i];
      c.total -= c.sizes[i];
      c.blocks[i] = nullptr;
      c.sizes[i] = 0;
      return block;
    }
  }
  return nullptr;
}

BOOL PlatformBlockKeep(void* block) {
  if (!kCacheBlocks || !block)
    return FALSE;
  const size_t size = usable_size(block);
  if (size < kMinCached)
    return FALSE;
  Cache& c = cache();
  std::lock_guard<std::mutex> lock(c.mutex);
  if (c.total + size > kMaxCachedTotal)
    return FALSE;
  for (int i = 0; i < kSlots; ++i) {
    if (!c.blocks[i]) {
      c.blocks[i] = block;
      c.sizes[i] = size;
      c.total += size;
      return TRUE;
    }
  }
  return FALSE;
}

#if defined(_WIN32)
#include "win32/block_cache.inc"
#else
#include "posix/block_cache.inc"
#endif
