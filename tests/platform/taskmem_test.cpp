// Tests of task memory (CoTaskMemAlloc, CoTaskMemRealloc, CoTaskMemFree) over the blocks it is
// made of: small ones of the small-block heap, the C heap's, and kept large ones.
#include <gtest/gtest.h>
#include <string.h>

#include <vector>

#include "faultsim.h"
#include "objbase.h"
#include "oleauto.h"
#include "platform_memstat.h"

namespace {

// Fills n bytes at p with a pattern that depends on seed.
void fill(void* p, size_t n, int seed) {
  auto* bytes = static_cast<unsigned char*>(p);
  for (size_t i = 0; i < n; ++i)
    bytes[i] = static_cast<unsigned char>(i * 31 + seed);
}

bool holds(const void* p, size_t n, int seed) {
  const auto* bytes = static_cast<const unsigned char*>(p);
  for (size_t i = 0; i < n; ++i) {
    if (bytes[i] != static_cast<unsigned char>(i * 31 + seed))
      return false;
  }
  return true;
}

TEST(TaskMemory, ReallocKeepsTheContentsAcrossEveryKindOfBlock) {
  const LONG blocks = PlatformTaskMemBlocks();
  // Through the small classes, past the small-block limit and back down.
  const size_t sizes[] = {1, 16, 17, 100, 250, 256, 257, 4000, size_t{2} << 20, 200, 3};
  void* p = CoTaskMemAlloc(sizes[0]);
  ASSERT_NE(nullptr, p);
  fill(p, sizes[0], 7);
  size_t kept = sizes[0];
  for (size_t i = 1; i < sizeof(sizes) / sizeof(sizes[0]); ++i) {
    p = CoTaskMemRealloc(p, sizes[i]);
    ASSERT_NE(nullptr, p) << sizes[i];
    const size_t common = kept < sizes[i] ? kept : sizes[i];
    EXPECT_TRUE(holds(p, common, 7)) << "realloc to " << sizes[i];
    fill(p, sizes[i], 7);
    kept = sizes[i];
  }
  CoTaskMemFree(p);
  EXPECT_EQ(blocks, PlatformTaskMemBlocks());
  EXPECT_EQ(nullptr, CoTaskMemRealloc(CoTaskMemAlloc(10), 0)) << "a size of 0 frees";
  EXPECT_EQ(blocks, PlatformTaskMemBlocks());
}

TEST(TaskMemory, ManyBlocksOfEverySizeStayApart) {
  const LONG blocks = PlatformTaskMemBlocks();
  std::vector<void*> all;
  for (int round = 0; round < 4; ++round) {
    for (size_t size = 1; size <= 300; ++size) {
      void* p = CoTaskMemAlloc(size);
      ASSERT_NE(nullptr, p);
      fill(p, size, static_cast<int>(all.size()));
      all.push_back(p);
    }
  }
  for (size_t i = 0; i < all.size(); ++i) {
    ASSERT_TRUE(holds(all[i], i % 300 + 1, static_cast<int>(i))) << i;
    CoTaskMemFree(all[i]);
  }
  EXPECT_EQ(blocks, PlatformTaskMemBlocks());
}

// Arrays are made of task memory: a reused block is zero where they need zeros.
TEST(TaskMemory, ArraysOverReusedBlocksStartZeroed) {
  for (int round = 0; round < 3; ++round) {
    SAFEARRAY* a = SafeArrayCreateVector(VT_UI1, 0, 100);
    ASSERT_NE(nullptr, a);
    for (int i = 0; i < 100; ++i)
      ASSERT_EQ(0, static_cast<unsigned char*>(a->pvData)[i]) << "round " << round << " " << i;
    memset(a->pvData, 0x5A, 100);
    SafeArrayDestroy(a);
  }
}

// A failed realloc leaves the block as it was, whatever kind of block it is.
TEST(TaskMemory, AFailedReallocKeepsTheBlock) {
  const LONG blocks = PlatformTaskMemBlocks();
  for (size_t size : {size_t{40}, size_t{1000}}) {
    void* p = CoTaskMemAlloc(size);
    ASSERT_NE(nullptr, p);
    fill(p, size, 3);
    for (size_t grown : {size + 1, size_t{300}, size_t{5000}}) {
      FaultSimConfig(1, FALSE);
      EXPECT_EQ(nullptr, CoTaskMemRealloc(p, grown)) << size << " to " << grown;
      FaultSimConfig(0, FALSE);
      EXPECT_TRUE(holds(p, size, 3)) << size << " to " << grown;
    }
    CoTaskMemFree(p);
  }
  EXPECT_EQ(blocks, PlatformTaskMemBlocks());
}

}  // namespace
