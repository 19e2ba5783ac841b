// Tests of the heap that is put back after every page: the pool over a region (capture and
// restore, blocks beyond the region), and a Duktape heap that serves page after page with
// nothing of one page left in the next, failed allocations included.
#include "script_heap_image.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "faultsim.h"

namespace {

using vhost::ScriptHeapImage;
using vhost::ScriptMemory;

struct FreeDeleter {
  void operator()(char* p) const { std::free(p); }
};

// A pool over a region of its own.
struct RegionPool {
  explicit RegionPool(size_t size)
      : size(size),
        region(static_cast<char*>(std::aligned_alloc(16, size))),
        memory(region.get(), size) {}
  bool in(const void* block) const { return block >= region.get() && block < region.get() + size; }

  size_t size;
  std::unique_ptr<char, FreeDeleter> region;
  ScriptMemory memory;
};

TEST(ScriptRegionPoolTest, RestoreGivesBackTheCapturedPoolAndFreesEverythingSince) {
  RegionPool pool(256 * 1024);
  ScriptMemory& memory = pool.memory;
  auto* small = static_cast<char*>(ScriptMemory::Allocate(&memory, 64));
  auto* large = static_cast<char*>(ScriptMemory::Allocate(&memory, 5000));
  ASSERT_TRUE(pool.in(small));
  ASSERT_TRUE(pool.in(large)) << "before the capture, large blocks stay inside";
  std::memset(small, 'a', 64);
  std::memset(large, 'b', 5000);
  void* dropped = ScriptMemory::Allocate(&memory, 200);
  ScriptMemory::Free(&memory, dropped);
  ASSERT_TRUE(memory.CaptureImage());
  const size_t image_size = memory.region_used();

  void* first_after = ScriptMemory::Allocate(&memory, 200);
  EXPECT_EQ(dropped, first_after) << "the captured free list is used";
  void* outside = ScriptMemory::Allocate(&memory, 5000);
  EXPECT_FALSE(pool.in(outside)) << "after the capture, large blocks go outside";
  std::memset(small, 'x', 64);
  auto* grown = static_cast<char*>(ScriptMemory::Reallocate(&memory, large, 20000));
  ASSERT_NE(nullptr, grown);
  EXPECT_FALSE(pool.in(grown));
  EXPECT_EQ(std::string(5000, 'b'), std::string(grown, 5000)) << "moved out with its bytes";
  ScriptMemory::Free(&memory, large);  // already moved: a free in the region is a no-op
  for (int i = 0; i < 400; ++i)
    ASSERT_NE(nullptr, ScriptMemory::Allocate(&memory, 1000));
  EXPECT_GT(memory.chunk_bytes(), 0u) << "the region ran out into chunks";

  memory.RestoreImage();
  EXPECT_EQ(0u, memory.chunk_bytes());
  EXPECT_EQ(image_size, memory.region_used());
  EXPECT_EQ(std::string(64, 'a'), std::string(small, 64));
  EXPECT_EQ(std::string(5000, 'b'), std::string(large, 5000));
  EXPECT_EQ(first_after, ScriptMemory::Allocate(&memory, 200)) << "allocation starts over";
}

// A restore leaves out the insides of free blocks and of large blocks freed before the capture;
// every live byte around them comes back, and so do the free blocks' headers and links.
TEST(ScriptRegionPoolTest, RestoreCopiesBackEveryLiveByteAroundTheDeadParts) {
  RegionPool pool(256 * 1024);
  ScriptMemory& memory = pool.memory;
  std::vector<std::pair<char*, size_t>> live;
  std::vector<void*> freed;
  for (int i = 0; i < 6; ++i) {
    const size_t size = 100 + 300 * i;
    live.emplace_back(static_cast<char*>(ScriptMemory::Allocate(&memory, size)), size);
    freed.push_back(ScriptMemory::Allocate(&memory, i % 2 ? 400 : 3000));
  }
  // Two free blocks side by side: between their insides, only a header and a link live.
  freed.push_back(ScriptMemory::Allocate(&memory, 400));
  freed.push_back(ScriptMemory::Allocate(&memory, 400));
  live.emplace_back(static_cast<char*>(ScriptMemory::Allocate(&memory, 16)), 16);
  for (size_t i = 0; i < live.size(); ++i)
    std::memset(live[i].first, 'A' + static_cast<int>(i), live[i].second);
  for (void* block : freed)
    ScriptMemory::Free(&memory, block);
  ASSERT_TRUE(memory.CaptureImage());

  for (int page = 0; page < 2; ++page) {
    for (auto& [block, size] : live)
      std::memset(block, 'z', size);
    std::vector<void*> taken;
    for (int i = 0; i < 5; ++i) {
      auto* block = static_cast<char*>(ScriptMemory::Allocate(&memory, 400));
      std::memset(block - 16, 'z', 16 + 400);  // header included
      taken.push_back(block);
    }
    memory.RestoreImage();
    for (size_t i = 0; i < live.size(); ++i)
      EXPECT_EQ(std::string(live[i].second, static_cast<char>('A' + i)),
                std::string(live[i].first, live[i].second))
          << "live block " << i << ", page " << page;
    for (void* block : taken)
      EXPECT_EQ(block, ScriptMemory::Allocate(&memory, 400)) << "the free list as captured";
    for (void* block : taken)
      EXPECT_NE(block, ScriptMemory::Reallocate(&memory, block, 500))
          << "its header says it holds 400 bytes, so it moves to grow";
    memory.RestoreImage();
  }
}

TEST(ScriptRegionPoolTest, NoCaptureWhileABlockLiesOutsideTheRegion) {
  ScriptMemory plain;
  ScriptMemory::Free(&plain, ScriptMemory::Allocate(&plain, 64));
  EXPECT_FALSE(plain.CaptureImage()) << "a pool without a region";

  RegionPool pool(4096);
  ScriptMemory& memory = pool.memory;
  void* large = ScriptMemory::Allocate(&memory, 8000);
  ASSERT_FALSE(pool.in(large));
  EXPECT_FALSE(memory.CaptureImage());
  ScriptMemory::Free(&memory, large);
  EXPECT_TRUE(memory.CaptureImage());
}

// A second image records what was carved into the region after the first: each restore puts
// back its own image, and a large block of the first image that was freed while the second was
// made is dead in the second only.
TEST(ScriptRegionPoolTest, AnotherImageHoldsWhatWasCarvedAfterTheFirstAndEachRestoresItsOwn) {
  RegionPool pool(256 * 1024);
  ScriptMemory& memory = pool.memory;
  auto* kept = static_cast<char*>(ScriptMemory::Allocate(&memory, 3000));
  auto* dropped_later = static_cast<char*>(ScriptMemory::Allocate(&memory, 3000));
  std::memset(kept, 'k', 3000);
  std::memset(dropped_later, 'd', 3000);
  ASSERT_TRUE(memory.CaptureImage());
  const size_t first_size = memory.region_used();

  memory.CarveLargeInRegion(true);
  ScriptMemory::Free(&memory, dropped_later);
  auto* added = static_cast<char*>(ScriptMemory::Allocate(&memory, 5000));
  ASSERT_TRUE(pool.in(added)) << "carved into the region while asked to";
  std::memset(added, 'a', 5000);
  memory.CarveLargeInRegion(false);
  ScriptMemory::Image second;
  ASSERT_TRUE(memory.CaptureImage(&second));
  EXPECT_EQ(memory.region_used(), second.size());
  EXPECT_GT(second.size(), first_size);
  EXPECT_FALSE(pool.in(ScriptMemory::Allocate(&memory, 5000))) << "large blocks go outside again";

  for (int round = 0; round < 2; ++round) {
    std::memset(kept, 'x', 3000);
    std::memset(dropped_later, 'x', 3000);
    std::memset(added, 'x', 5000);
    memory.RestoreImage();
    EXPECT_EQ(first_size, memory.region_used());
    EXPECT_EQ(std::string(3000, 'k'), std::string(kept, 3000));
    EXPECT_EQ(std::string(3000, 'd'), std::string(dropped_later, 3000))
        << "live in the first image, whatever the second left out";
    // An image made from the first again leaves nothing of the first out either.
    ScriptMemory::Image third;
    ASSERT_TRUE(memory.CaptureImage(&third));
    std::memset(dropped_later, 'x', 3000);
    memory.RestoreImage(third);
    EXPECT_EQ(std::string(3000, 'd'), std::string(dropped_later, 3000));

    std::memset(kept, 'x', 3000);
    std::memset(added, 'x', 5000);
    memory.RestoreImage(second);
    EXPECT_EQ(second.size(), memory.region_used());
    EXPECT_EQ(std::string(3000, 'k'), std::string(kept, 3000));
    EXPECT_EQ(std::string(5000, 'a'), std::string(added, 5000));
    EXPECT_EQ(0u, memory.chunk_bytes());
  }
}

std::string run(duk_context* ctx, const char* script) {
  if (duk_peval_string(ctx, script) != 0) {
    const std::string error = std::string("error: ") + duk_safe_to_string(ctx, -1);
    duk_pop(ctx);
    return error;
  }
  const std::string result = duk_safe_to_string(ctx, -1);
  duk_pop(ctx);
  return result;
}

// A page that makes far more than the region holds, changes built-ins and leaves globals;
// the next page sees a heap as it was made, and the region is as small as the image again.
TEST(ScriptHeapImageTest, EveryPageGetsTheHeapAsItWasMade) {
  std::unique_ptr<ScriptHeapImage> heap = ScriptHeapImage::Create(1 << 20);
  ASSERT_TRUE(heap);
  const size_t image_size = heap->memory().region_used();
  std::set<std::string> randoms;
  for (int page = 0; page < 3; ++page) {
    duk_context* ctx = heap->Begin(nullptr);
    EXPECT_EQ("undefined,undefined,function", run(ctx,
                                                  "[typeof left, typeof [].extra,"
                                                  " typeof ''.trim].join()"))
        << "page " << page;
    if (page == 1) {
      EXPECT_EQ("true", run(ctx, "var r = Math.random(); r >= 0 && r < 1 && r !== Math.random()"));
      EXPECT_EQ("random,0,false", run(ctx,
                                      "[Math.random.name, Math.random.length,"
                                      " Object.keys(Math).indexOf('random') >= 0].join()"));
    }
    randoms.insert(run(ctx, "Math.random()"));
    EXPECT_EQ("50000:4096000", run(ctx,
                                   "left = []; var s;"
                                   "for (var i = 0; i < 50000; i++) left.push({ i: i });"
                                   "var k = 'x', parts = []; while (k.length < 1024) k += k;"
                                   "for (var j = 0; j < 4000; j++) parts.push(k);"
                                   "s = parts.join('');"
                                   "Array.prototype.extra = 1; String.prototype.trim = null;"
                                   "left.length + ':' + s.length"));
    EXPECT_GT(heap->memory().chunk_bytes(), 0u);
    heap->End();
    EXPECT_EQ(0u, heap->memory().chunk_bytes());
    EXPECT_EQ(image_size, heap->memory().region_used());
  }
  EXPECT_EQ(3u, randoms.size()) << "Math.random began alike in two pages";
}

void prepare_counter(duk_context* ctx) {
  duk_eval_string_noresult(ctx, "var prepared = { count: 0 };");
}

void prepare_failing(duk_context* ctx) {
  duk_error(ctx, DUK_ERR_ERROR, "no room");
}

// What the preparation puts in is in every page as it was prepared; a preparation that fails
// gives no heap.
TEST(ScriptHeapImageTest, EveryPageFindsThePreparedState) {
  std::unique_ptr<ScriptHeapImage> heap = ScriptHeapImage::Create(1 << 20, prepare_counter);
  ASSERT_TRUE(heap);
  for (int page = 0; page < 3; ++page) {
    duk_context* ctx = heap->Begin(nullptr);
    EXPECT_EQ("1", run(ctx, "++prepared.count")) << "page " << page;
    heap->End();
  }
  EXPECT_EQ(nullptr, ScriptHeapImage::Create(1 << 20, prepare_failing));
}

duk_ret_t run_sample(duk_context* ctx, void*) {
  duk_eval_string(ctx, "var o = []; for (var i = 0; i < 50; i++) o.push({i: i}); o.length");
  return 1;
}

// Every allocation of a page fails in turn, once and for good: whatever the page got to, the
// next one runs in a whole heap.
TEST(ScriptHeapImageTest, APageAfterFailedAllocationsRunsInAWholeHeap) {
  std::unique_ptr<ScriptHeapImage> heap = ScriptHeapImage::Create(1 << 20);
  ASSERT_TRUE(heap);
  for (const BOOL persistent : {FALSE, TRUE}) {
    int n = 1;
    for (;; ++n) {
      duk_context* ctx = heap->Begin(nullptr);
      FaultSimConfig(n, persistent);
      if (duk_safe_call(ctx, run_sample, nullptr, 0, 1) == DUK_EXEC_SUCCESS) {
        EXPECT_EQ(50, duk_get_int(ctx, -1));
      }
      const int faults = FaultSimFaults();
      FaultSimConfig(0, FALSE);
      heap->End();
      ctx = heap->Begin(nullptr);
      EXPECT_EQ("undefined", run(ctx, "typeof o"));
      ASSERT_EQ(DUK_EXEC_SUCCESS, duk_safe_call(ctx, run_sample, nullptr, 0, 1));
      EXPECT_EQ(50, duk_get_int(ctx, -1));
      heap->End();
      if (faults == 0)
        break;
      ASSERT_LT(n, 100000) << "the loop does not end";
    }
    EXPECT_GT(n, 1) << "no allocation of the page reached the simulator";
  }
}

// The bytecode of a page's script, compiled in a heap of its own.
std::string bytecode_of(const char* script) {
  duk_context* ctx = duk_create_heap_default();
  duk_push_string(ctx, "page");
  duk_compile_string_filename(ctx, 0, script);
  duk_dump_function(ctx);
  duk_size_t size = 0;
  const auto* data = static_cast<const char*>(duk_get_buffer(ctx, -1, &size));
  std::string bytecode(data, size);
  duk_destroy_heap(ctx);
  return bytecode;
}

// Runs the function that Begin put in the heap and gives the page's global result.
std::string run_page(ScriptHeapImage& heap, duk_context* ctx) {
  if (!heap.PushPageFunction(ctx))
    return "no function";
  if (duk_pcall(ctx, 0) != DUK_EXEC_SUCCESS) {
    const std::string error = std::string("error: ") + duk_safe_to_string(ctx, -1);
    duk_pop(ctx);
    return error;
  }
  duk_pop(ctx);
  return run(ctx, "result");
}

// More pages than a heap keeps images for, in turns and again: each runs its own function in a
// heap where nothing of an earlier page is left, and a page asked for again is put back from
// its image, the heap holding its function after End.
TEST(ScriptHeapImageTest, PagesRunTheirOwnFunctionsFromTheirImages) {
  std::unique_ptr<ScriptHeapImage> heap = ScriptHeapImage::Create(1 << 20);
  ASSERT_TRUE(heap);
  const size_t first_size = heap->memory().region_used();
  std::vector<std::string> bytecodes;
  for (int page = 0; page < 6; ++page) {
    // Long enough for the function's bytecode to be a large block.
    std::string script = "var result = '" + std::to_string(page) + ":' + typeof seen; seen = 1;";
    for (int i = 0; i < 60; ++i)
      script += " var v" + std::to_string(i) + " = " + std::to_string(i) + " * 2;";
    bytecodes.push_back(bytecode_of(script.c_str()));
  }
  ASSERT_GT(bytecodes[0].size(), 1024u);
  std::map<int, std::set<size_t>> image_sizes;
  for (const int page : {0, 0, 1, 0, 2, 3, 4, 5, 0, 5, 5, 1}) {
    duk_context* ctx = heap->Begin(nullptr, static_cast<std::uint64_t>(page) + 1, bytecodes[page]);
    EXPECT_EQ(std::to_string(page) + ":undefined", run_page(*heap, ctx)) << "page " << page;
    run(ctx, "left = []; for (var i = 0; i < 20000; i++) left.push({ i: i });");
    heap->End();
    EXPECT_EQ(0u, heap->memory().chunk_bytes());
    const size_t size = heap->memory().region_used();
    EXPECT_GT(size, first_size) << "the page's image, with its function";
    image_sizes[page].insert(size);
  }
  // Each image holds its own page's function and no other (the functions are of one size).
  std::set<size_t> all;
  for (const auto& [page, sizes] : image_sizes) {
    EXPECT_EQ(1u, sizes.size()) << "page " << page;
    all.insert(sizes.begin(), sizes.end());
  }
  EXPECT_LT(*all.rbegin() - *all.begin(), 256u);
  duk_context* ctx = heap->Begin(nullptr);
  EXPECT_EQ("no function", run_page(*heap, ctx));
  EXPECT_EQ("undefined", run(ctx, "typeof result"));
  heap->End();
  EXPECT_EQ(first_size, heap->memory().region_used());
}

// A page's function loads into the first image and the heap with it is recorded: when the
// record cannot be made (no memory for its copy, or the function did not fit the region) the
// page still gets its function and End puts back the first image; when the load itself fails,
// the page gets the first image without a function (and loads its own). Every allocation fails
// in turn; the next page with the same function always runs it.
TEST(ScriptHeapImageTest, APageWhoseFunctionCannotBeKeptOrLoadedGetsTheFirstImage) {
  const size_t first_size = ScriptHeapImage::Create(1 << 20)->memory().region_used();
  std::string big = "var result = 'ran:' + typeof seen; seen = 1;";
  for (int i = 0; i < 3000; ++i)
    big += " var v" + std::to_string(i) + " = 'text " + std::to_string(i) + "';";
  const std::string small_page = bytecode_of("var result = 'ran:' + typeof seen; seen = 1;");
  const std::string big_page = bytecode_of(big.c_str());
  ASSERT_GT(big_page.size(), size_t{64} << 10);
  // The big page's function does not fit the region beside the first image.
  for (const size_t region : {ScriptHeapImage::kRegionSize, first_size + (size_t{64} << 10)}) {
    std::unique_ptr<ScriptHeapImage> heap = ScriptHeapImage::Create(region);
    ASSERT_TRUE(heap);
    for (const std::string* bytecode : {&small_page, &big_page}) {
      int not_kept = 0, not_loaded = 0;
      for (int n = 1;; ++n) {
        const std::uint64_t key = 1000 * n + bytecode->size();
        FaultSimConfig(n, TRUE);
        duk_context* ctx = heap->Begin(nullptr, key, *bytecode);
        const int faults = FaultSimFaults();
        FaultSimConfig(0, FALSE);
        const std::string result = run_page(*heap, ctx);
        if (result == "no function") {
          ++not_loaded;
          EXPECT_EQ("undefined", run(ctx, "typeof seen"));
        } else {
          EXPECT_EQ("ran:undefined", result) << "allocation " << n;
        }
        heap->End();
        const bool kept = heap->memory().region_used() > first_size;
        if (result != "no function" && !kept)
          ++not_kept;
        duk_context* again = heap->Begin(nullptr, key, *bytecode);
        EXPECT_EQ("ran:undefined", run_page(*heap, again)) << "allocation " << n;
        heap->End();
        if (faults == 0) {
          EXPECT_EQ(bytecode == &big_page && region != ScriptHeapImage::kRegionSize, !kept)
              << "region " << region << ", bytecode " << bytecode->size();
          break;
        }
        ASSERT_LT(n, 10000) << "the loop does not end";
      }
      EXPECT_GT(not_kept, 0) << "region " << region << ", bytecode " << bytecode->size();
      if (bytecode == &big_page && region != ScriptHeapImage::kRegionSize) {
        EXPECT_GT(not_loaded, 0) << "the load never failed";
      }
    }
  }
}

}  // namespace
