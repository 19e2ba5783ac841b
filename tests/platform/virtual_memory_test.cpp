// Tests of private memory regions: a new region reads as zero and takes writes, reset pages stay
// usable, a region is released whole, and what the functions refuse.
#include <gtest/gtest.h>

#include <cstring>

#include "errhandlingapi.h"
#include "memoryapi.h"
#include "winerror.h"

namespace {

constexpr SIZE_T kRegion = 1 << 20;

TEST(VirtualMemory, ARegionIsZeroWritableAndKeepsItsPagesAfterAReset) {
  auto* region = static_cast<unsigned char*>(
      VirtualAlloc(nullptr, kRegion, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
  ASSERT_NE(nullptr, region);
  EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(region) % 4096);
  for (SIZE_T i = 0; i < kRegion; i += 4096)
    ASSERT_EQ(0, region[i]) << i;
  std::memset(region, 0xAB, kRegion);

  // A reset from the middle of a page covers that whole page and every page up to the end.
  EXPECT_EQ(region + 5000, VirtualAlloc(region + 5000, kRegion - 5000, MEM_RESET, PAGE_READWRITE));
  EXPECT_EQ(0xAB, region[4095]);  // the page before stays
  region[kRegion - 1] = 7;        // reset pages take writes again
  EXPECT_EQ(7, region[kRegion - 1]);
  EXPECT_TRUE(VirtualFree(region, 0, MEM_RELEASE));
}

TEST(VirtualMemory, WhatIsRefused) {
  void* region = VirtualAlloc(nullptr, kRegion, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
  ASSERT_NE(nullptr, region);
  auto* bytes = static_cast<char*>(region);
  char outside = 0;
  struct Refused {
    LPVOID address;
    SIZE_T size;
    DWORD type;
    DWORD protect;
  } const allocations[] = {
      {nullptr, 0, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE},  // no size
      {nullptr, 4096, MEM_COMMIT, PAGE_READWRITE},             // commit without reserve
      {nullptr, 4096, MEM_RESERVE | MEM_COMMIT, PAGE_READONLY},
      {bytes, 4096, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE},  // at a chosen address
      {nullptr, 4096, MEM_RESET, PAGE_READWRITE},               // a reset of nothing
      {bytes + kRegion - 10, 4096, MEM_RESET, PAGE_READWRITE},  // past the region's end
      {&outside, 1, MEM_RESET, PAGE_READWRITE},                 // outside every region
  };
  for (const Refused& r : allocations) {
    SetLastError(0);
    EXPECT_EQ(nullptr, VirtualAlloc(r.address, r.size, r.type, r.protect));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
  }
  SetLastError(0);
  EXPECT_FALSE(VirtualFree(bytes + 4096, 0, MEM_RELEASE));  // not the region's start
  EXPECT_FALSE(VirtualFree(region, kRegion, MEM_RELEASE));  // release takes no size
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
  EXPECT_TRUE(VirtualFree(region, 0, MEM_RELEASE));
  EXPECT_FALSE(VirtualFree(region, 0, MEM_RELEASE));  // released already
}

}  // namespace
