// Tests of the cache of large freed blocks shared by the allocators.
#include "block_cache.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

namespace {

constexpr size_t kMiB = size_t{1} << 20;

// Empties the cache so each test starts from nothing.
void drain() {
  for (size_t size : {kMiB, 4 * kMiB, 64 * kMiB, 200 * kMiB})
    while (void* b = PlatformBlockTake(size))
      free(b);
}

TEST(BlockCache, KeepsLargeBlocksAndHandsThemBack) {
#if !PLATFORM_BLOCK_CACHE_KEEPS
  GTEST_SKIP() << "sanitizer builds keep nothing";
#endif
  drain();
  void* small = malloc(4096);
  EXPECT_FALSE(PlatformBlockKeep(small)) << "small blocks go back to the heap";
  free(small);
  EXPECT_FALSE(PlatformBlockKeep(nullptr));
  EXPECT_EQ(nullptr, PlatformBlockTake(100)) << "nothing below the cached size";

  void* big = malloc(8 * kMiB);
  memset(big, 7, 8 * kMiB);
  ASSERT_TRUE(PlatformBlockKeep(big));
  EXPECT_EQ(nullptr, PlatformBlockTake(20 * kMiB)) << "too small for the request";
  EXPECT_EQ(nullptr, PlatformBlockTake(2 * kMiB)) << "more than twice the request is not wasted";
  void* again = PlatformBlockTake(6 * kMiB);
  EXPECT_EQ(big, again);
  EXPECT_EQ(nullptr, PlatformBlockTake(6 * kMiB)) << "a block is handed out once";
  free(again);
}

TEST(BlockCache, HoldsAtMostThreeBlocksAndABoundedTotal) {
#if !PLATFORM_BLOCK_CACHE_KEEPS
  GTEST_SKIP() << "sanitizer builds keep nothing";
#endif
  drain();
  void* blocks[4];
  for (void*& b : blocks)
    b = malloc(2 * kMiB);
  EXPECT_TRUE(PlatformBlockKeep(blocks[0]));
  EXPECT_TRUE(PlatformBlockKeep(blocks[1]));
  EXPECT_TRUE(PlatformBlockKeep(blocks[2]));
  EXPECT_FALSE(PlatformBlockKeep(blocks[3])) << "three slots";
  free(blocks[3]);
  drain();
  void* huge = malloc(300 * kMiB);
  EXPECT_FALSE(PlatformBlockKeep(huge)) << "over the total bound";
  free(huge);
}

}  // namespace
