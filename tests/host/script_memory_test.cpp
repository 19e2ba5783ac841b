// Tests of the script heap's memory pool: block alignment and contents through every resize
// path, reuse of freed blocks, failed allocations, and a Duktape heap running on the pool.
#include "script_memory.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "duktape.h"
#include "faultsim.h"

// The host's Duktape build asks this hook whether a page ran out of time (the definition in
// script_engine.cpp is not linked here); these heaps have no page and no limit.
int vhost_script_timed_out(void*) {
  return 0;
}

namespace {

using vhost::ScriptMemory;

void fill(void* block, size_t size, unsigned char seed) {
  auto* p = static_cast<unsigned char*>(block);
  for (size_t i = 0; i < size; ++i)
    p[i] = static_cast<unsigned char>(seed + i * 7);
}

bool holds(const void* block, size_t size, unsigned char seed) {
  const auto* p = static_cast<const unsigned char*>(block);
  for (size_t i = 0; i < size; ++i)
    if (p[i] != static_cast<unsigned char>(seed + i * 7))
      return false;
  return true;
}

[[noreturn]] void fatal(void*, const char* message) {
  ADD_FAILURE() << "Duktape fatal error: " << (message ? message : "");
  std::abort();
}

TEST(ScriptMemoryTest, BlocksAreAlignedSeparateAndKeepTheirBytes) {
  ScriptMemory memory;
  const size_t sizes[] = {0, 1, 15, 16, 17, 100, 1023, 1024, 1025, 4096, 1 << 20};
  std::vector<std::pair<void*, size_t>> blocks;
  unsigned char seed = 1;
  for (size_t size : sizes) {
    void* block = ScriptMemory::Allocate(&memory, size);
    ASSERT_NE(nullptr, block) << size;
    EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(block) % 16) << size;
    fill(block, size, seed++);
    blocks.emplace_back(block, size);
  }
  seed = 1;
  for (auto& [block, size] : blocks)
    EXPECT_TRUE(holds(block, size, seed++)) << "a later block overwrote the one of " << size;
  for (auto& [block, size] : blocks)
    ScriptMemory::Free(&memory, block);
  ScriptMemory::Free(&memory, nullptr);
}

TEST(ScriptMemoryTest, FreedBlocksAreUsedAgainSoChurnDoesNotGrowThePool) {
  ScriptMemory memory;
  void* first = ScriptMemory::Allocate(&memory, 40);
  ScriptMemory::Free(&memory, first);
  EXPECT_EQ(first, ScriptMemory::Allocate(&memory, 48)) << "same size class";
  ScriptMemory::Free(&memory, first);
  const size_t before = memory.chunk_bytes();
  for (int round = 0; round < 1000; ++round) {
    void* blocks[64];
    for (size_t i = 0; i < 64; ++i)
      blocks[i] = ScriptMemory::Allocate(&memory, 8 + i * 16);
    for (void* block : blocks)
      ScriptMemory::Free(&memory, block);
  }
  // 64 blocks of up to 1024 bytes fit in a few chunks, and every round reuses them.
  EXPECT_LE(memory.chunk_bytes(), before + 2 * 64 * 1024);
}

TEST(ScriptMemoryTest, ReallocateKeepsTheContentsOnEveryPath) {
  ScriptMemory memory;
  void* block = ScriptMemory::Reallocate(&memory, nullptr, 20);
  ASSERT_NE(nullptr, block);
  fill(block, 20, 3);
  // Within the block's size class it stays where it is.
  EXPECT_EQ(block, ScriptMemory::Reallocate(&memory, block, 32));
  EXPECT_EQ(block, ScriptMemory::Reallocate(&memory, block, 10));
  struct Step {
    size_t size;
    size_t kept;  // bytes that must have survived the move
  };
  const Step steps[] = {{500, 10},    {1024, 500}, {5000, 1024}, {300000, 5000},
                        {2000, 2000}, {700, 700},  {1, 1}};
  size_t filled = 10;
  for (const Step& step : steps) {
    void* moved = ScriptMemory::Reallocate(&memory, block, step.size);
    ASSERT_NE(nullptr, moved) << step.size;
    EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(moved) % 16);
    EXPECT_TRUE(holds(moved, std::min(step.kept, filled), 3)) << "resize to " << step.size;
    fill(moved, step.size, 3);
    filled = step.size;
    block = moved;
  }
  EXPECT_EQ(nullptr, ScriptMemory::Reallocate(&memory, block, 0)) << "size 0 frees the block";
}

TEST(ScriptMemoryTest, AFailedAllocationReturnsNullAndLeavesTheOldBlock) {
  ScriptMemory memory;
  // The first chunk is taken before the simulator is armed.
  void* small = ScriptMemory::Allocate(&memory, 64);
  ASSERT_NE(nullptr, small);
  fill(small, 64, 9);
  void* large = ScriptMemory::Allocate(&memory, 4000);
  ASSERT_NE(nullptr, large);
  fill(large, 4000, 5);

  FaultSimConfig(1, FALSE);
  EXPECT_EQ(nullptr, ScriptMemory::Allocate(&memory, 100000));
  EXPECT_EQ(1, FaultSimFaults());
  EXPECT_NE(nullptr, ScriptMemory::Allocate(&memory, 64))
      << "a block from the chunk needs no system call";

  FaultSimConfig(1, TRUE);
  EXPECT_EQ(nullptr, ScriptMemory::Reallocate(&memory, large, 100000));
  EXPECT_EQ(nullptr, ScriptMemory::Reallocate(&memory, small, 50000));
  FaultSimConfig(0, FALSE);
  EXPECT_TRUE(holds(large, 4000, 5));
  EXPECT_TRUE(holds(small, 64, 9));
  ScriptMemory::Free(&memory, large);
  ScriptMemory::Free(&memory, small);
}

// A heap on the pool runs a script that makes and drops cycles and large strings; every block
// goes back when the heap is destroyed (the sanitizer build checks for leaks).
TEST(ScriptMemoryTest, ADuktapeHeapRunsOnThePool) {
  ScriptMemory memory;
  duk_context* ctx = duk_create_heap(ScriptMemory::Allocate, ScriptMemory::Reallocate,
                                     ScriptMemory::Free, &memory, fatal);
  ASSERT_NE(nullptr, ctx);
  const char* script =
      "var kept = [], text = '';"
      "for (var i = 0; i < 20000; i++) {"
      "  var a = { n: i }, b = { a: a }; a.b = b;"  // a cycle only mark-and-sweep frees
      "  if (i % 1000 == 0) kept.push(a);"
      "  text += String.fromCharCode(97 + i % 26);"
      "}"
      "kept.length + ':' + text.length + ':' + text.slice(0, 3) + ':' + kept[19].n";
  ASSERT_EQ(0, duk_peval_string(ctx, script)) << duk_safe_to_string(ctx, -1);
  EXPECT_EQ(std::string("20:20000:abc:19000"), duk_get_string(ctx, -1));
  duk_pop(ctx);
  duk_destroy_heap(ctx);
}

// Runs inside the protection of duk_safe_call, as the host runs its pages: a failed
// allocation there is a script error, not a fatal one.
duk_ret_t run_sample(duk_context* ctx, void*) {
  duk_eval_string(ctx, "var o = []; for (var i = 0; i < 50; i++) o.push({i: i}); o.length");
  return 1;
}

// Every allocation of a script fails in turn, once and for good: the script ends in an error
// or with its result, never in a crash, and the heap is still usable and destroyed whole.
// (Making the heap is left out: Duktape ends the process when that runs out of memory.)
TEST(ScriptMemoryTest, ScriptsSurviveEveryFailedAllocation) {
  for (const BOOL persistent : {FALSE, TRUE}) {
    int n = 1;
    for (;; ++n) {
      ScriptMemory memory;
      duk_context* ctx = duk_create_heap(ScriptMemory::Allocate, ScriptMemory::Reallocate,
                                         ScriptMemory::Free, &memory, fatal);
      ASSERT_NE(nullptr, ctx);
      FaultSimConfig(n, persistent);
      if (duk_safe_call(ctx, run_sample, nullptr, 0, 1) == DUK_EXEC_SUCCESS) {
        EXPECT_EQ(50, duk_get_int(ctx, -1));
      }
      const int faults = FaultSimFaults();
      FaultSimConfig(0, FALSE);
      duk_pop(ctx);
      ASSERT_EQ(DUK_EXEC_SUCCESS, duk_safe_call(ctx, run_sample, nullptr, 0, 1));
      EXPECT_EQ(50, duk_get_int(ctx, -1));
      duk_destroy_heap(ctx);
      if (faults == 0)
        break;
      ASSERT_LT(n, 100000) << "the loop does not end";
    }
    EXPECT_GT(n, 1) << "no allocation of the script reached the simulator";
  }
}

}  // namespace
