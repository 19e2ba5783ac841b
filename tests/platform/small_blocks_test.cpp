// Tests of the small-block heap: ranges and thread lists of the tests' own (small enough to
// fill), and the process's heap through its exported functions, across threads.
#include "small_blocks.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <thread>
#include <vector>

#include "small_block_range.h"

namespace {

size_t class_bytes(size_t c) {
  return (c + 1) * kSmallBlockGrain;
}

TEST(SmallBlockRange, EverySizeGetsADistinctAlignedBlockOfItsClass) {
  SmallBlockRange range(size_t{4} << 20);
  SmallBlockCache cache;
  std::vector<std::pair<unsigned char*, size_t>> blocks;
  for (int round = 0; round < 3; ++round) {
    for (size_t size = 0; size <= kSmallBlockLimit; ++size) {
      auto* block = static_cast<unsigned char*>(cache.Take(range, size));
      ASSERT_NE(nullptr, block) << size;
      EXPECT_TRUE(range.Owns(block));
      EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(block) % 16) << size;
      EXPECT_EQ(SmallBlockClassOf(size), range.ClassOf(block)) << size;
      EXPECT_GE(class_bytes(range.ClassOf(block)), size) << size;
      // The whole class size is the caller's: a block that overlapped another would show here.
      memset(block, static_cast<int>(blocks.size() & 0xFF), class_bytes(range.ClassOf(block)));
      blocks.emplace_back(block, class_bytes(range.ClassOf(block)));
    }
  }
  for (size_t i = 0; i < blocks.size(); ++i) {
    for (size_t k = 0; k < blocks[i].second; ++k)
      ASSERT_EQ(i & 0xFF, blocks[i].first[k]) << "block " << i << " byte " << k;
  }
  EXPECT_FALSE(range.Owns(&blocks));
  for (auto& block : blocks)
    cache.Give(range, block.first);
}

TEST(SmallBlockRange, FreedBlocksAreReusedBeforeAnyNewPage) {
  SmallBlockRange range(size_t{16} << 20);
  SmallBlockCache cache;
  std::vector<void*> blocks(20000);
  size_t committed = 0;
  for (int round = 0; round < 5; ++round) {
    for (void*& block : blocks) {
      block = cache.Take(range, 40);
      ASSERT_NE(nullptr, block);
    }
    if (round == 0)
      committed = range.CommittedBytes();
    EXPECT_EQ(committed, range.CommittedBytes()) << "round " << round;
    // Given back in another order than taken, as records of a body are.
    for (size_t i = 0; i < blocks.size(); i += 2)
      cache.Give(range, blocks[i]);
    for (size_t i = 1; i < blocks.size(); i += 2)
      cache.Give(range, blocks[i]);
    EXPECT_LE(cache.Kept(SmallBlockClassOf(40)), 2 * kSmallBlockBatch)
        << "a thread keeps at most two batches; the rest goes back to the range";
  }
  const size_t per_page = kSmallBlockPage / class_bytes(SmallBlockClassOf(40));
  EXPECT_EQ((blocks.size() + per_page - 1) / per_page, committed / kSmallBlockPage);
}

TEST(SmallBlockRange, BlocksGivenBackByOneThreadServeAnother) {
  SmallBlockRange range(size_t{4} << 20);
  SmallBlockCache taker;
  SmallBlockCache giver;
  std::vector<void*> blocks(5000);
  for (void*& block : blocks)
    block = taker.Take(range, 100);
  const size_t committed = range.CommittedBytes();
  for (void* block : blocks)
    giver.Give(range, block);
  giver.Flush(range);
  EXPECT_EQ(0u, giver.Kept(SmallBlockClassOf(100)));
  EXPECT_EQ(taker.Kept(SmallBlockClassOf(100)), range.BlocksOut())
      << "only what the taker keeps is out";
  for (void*& block : blocks) {
    block = taker.Take(range, 100);
    ASSERT_NE(nullptr, block);
  }
  EXPECT_EQ(committed, range.CommittedBytes());
  // A list flushed at a thread's end holds less than a batch; it is used as well.
  giver.Give(range, blocks[0]);
  giver.Give(range, blocks[1]);
  giver.Flush(range);
  SmallBlockCache third;
  void* a = third.Take(range, 100);
  void* b = third.Take(range, 100);
  EXPECT_TRUE((a == blocks[0] && b == blocks[1]) || (a == blocks[1] && b == blocks[0]));
  third.Give(range, a);
  third.Give(range, b);
  for (size_t i = 2; i < blocks.size(); ++i)
    taker.Give(range, blocks[i]);
  taker.Flush(range);
  third.Flush(range);
  EXPECT_EQ(0u, range.BlocksOut()) << "every block is back in the stock";
}

TEST(SmallBlockRange, AFullRangeGivesNothingUntilABlockComesBack) {
  SmallBlockRange range(2 * kSmallBlockPage);
  SmallBlockCache cache;
  std::vector<void*> blocks;
  while (void* block = cache.Take(range, 16))
    blocks.push_back(block);
  EXPECT_EQ(2 * kSmallBlockPage / 16, blocks.size()) << "both pages cut into the smallest class";
  EXPECT_EQ(nullptr, cache.Take(range, 200)) << "no page is left for another class";
  cache.Give(range, blocks.back());
  EXPECT_EQ(blocks.back(), cache.Take(range, 1));
  EXPECT_EQ(2 * kSmallBlockPage, range.CommittedBytes());

  SmallBlockRange none(kSmallBlockPage - 1);
  EXPECT_EQ(nullptr, cache.Take(none, 16)) << "less than a page reserves nothing";
  EXPECT_FALSE(none.Owns(blocks[0]));
}

#if PLATFORM_SMALL_BLOCKS_KEPT

// Many threads take and give back at once, and each gives back blocks that another took: a
// block handed to two owners at once would show as a changed tag.
TEST(SmallBlocks, ThreadsTakeAndGiveBackEachOthersBlocks) {
  constexpr int kThreads = 4;
  constexpr int kBlocks = 20000;
  std::vector<std::vector<uint32_t*>> taken(kThreads);
  std::vector<int> failures(kThreads, 0);
  auto take = [&](int t) {
    for (int i = 0; i < kBlocks; ++i) {
      const size_t size = 4 + static_cast<size_t>((i * 7 + t * 13) % 253);
      auto* block = static_cast<uint32_t*>(PlatformSmallBlockTake(size));
      if (!block) {
        ++failures[t];
        continue;
      }
      block[0] = static_cast<uint32_t>(t << 24 | i);
      taken[t].push_back(block);
    }
  };
  auto check_and_give = [&](int t, int owner) {
    for (size_t i = 0; i < taken[owner].size(); ++i) {
      if (taken[owner][i][0] != static_cast<uint32_t>(owner << 24 | static_cast<int>(i)))
        ++failures[t];
      if (!PlatformSmallBlockGive(taken[owner][i]))
        ++failures[t];
    }
  };
  for (int round = 0; round < 3; ++round) {
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
      threads.emplace_back(take, t);
    for (auto& thread : threads)
      thread.join();
    threads.clear();
    for (int t = 0; t < kThreads; ++t)
      threads.emplace_back(check_and_give, t, (t + 1) % kThreads);
    for (auto& thread : threads)
      thread.join();
    for (int t = 0; t < kThreads; ++t) {
      EXPECT_EQ(0, failures[t]) << "thread " << t << " round " << round;
      taken[t].clear();
    }
  }
}

// A thread's lists go back to the stock when it ends, also when its thread-local destructors
// freed blocks and when its first block came from a pthread key's destructor, which
// runs after them.
struct FreesAtThreadEnd {
  void* block = nullptr;
  ~FreesAtThreadEnd() {
    PlatformSmallBlockGive(block);
    PlatformSmallBlockGive(PlatformSmallBlockTake(40));
  }
};

void first_block_at_key_end(void*) {
  void* block = PlatformSmallBlockTake(64);
  memset(block, 1, 64);
  PlatformSmallBlockGive(block);
}

TEST(SmallBlocks, AThreadsListsGoBackWhenItEnds) {
  const size_t out = PlatformSmallBlocksOut();
  std::thread([] {
    std::vector<void*> blocks;
    for (int i = 0; i < 1000; ++i)
      blocks.push_back(PlatformSmallBlockTake(static_cast<size_t>(1 + i % 256)));
    for (void* block : blocks)
      PlatformSmallBlockGive(block);
  }).join();
  EXPECT_EQ(out, PlatformSmallBlocksOut()) << "a thread that ended normally";

  std::thread([] {
    thread_local FreesAtThreadEnd held;
    held.block = PlatformSmallBlockTake(48);
  }).join();
  EXPECT_EQ(out, PlatformSmallBlocksOut()) << "blocks freed by thread-local destructors";

  pthread_key_t key;
  ASSERT_EQ(0, pthread_key_create(&key, first_block_at_key_end));
  std::thread([key] { pthread_setspecific(key, &key); }).join();
  pthread_key_delete(key);
  EXPECT_EQ(out, PlatformSmallBlocksOut()) << "a first block in a key's destructor";
}

// Once a thread's lists went back, what it gives back goes straight to the stock and what it
// asks for comes from the C heap.
BOOL given_after_end = FALSE;
void* taken_after_end = &given_after_end;
void* held_across_end = nullptr;
pthread_key_t late_key;

void give_after_the_lists_ended(void* pass) {
  if (pass == &late_key) {
    // The first round: take a block, and come back in the next round, after the lists' key.
    held_across_end = PlatformSmallBlockTake(80);
    pthread_setspecific(late_key, &held_across_end);
    return;
  }
  given_after_end = PlatformSmallBlockGive(held_across_end);
  taken_after_end = PlatformSmallBlockTake(80);
}

TEST(SmallBlocks, AThreadMayStillGiveBackAfterItsListsWentBack) {
  // The heap's own key is made by the process's first block, before this test's key: in every
  // round of key destructors it runs first.
  PlatformSmallBlockGive(PlatformSmallBlockTake(16));
  const size_t out = PlatformSmallBlocksOut();
  ASSERT_EQ(0, pthread_key_create(&late_key, give_after_the_lists_ended));
  std::thread([] { pthread_setspecific(late_key, &late_key); }).join();
  pthread_key_delete(late_key);
  EXPECT_TRUE(given_after_end);
  EXPECT_EQ(nullptr, taken_after_end);
  EXPECT_EQ(out, PlatformSmallBlocksOut());
}

TEST(SmallBlocks, OnlyItsOwnSmallBlocksAreTakenBack) {
  EXPECT_EQ(nullptr, PlatformSmallBlockTake(PLATFORM_SMALL_BLOCK_LIMIT + 1));
  void* block = PlatformSmallBlockTake(PLATFORM_SMALL_BLOCK_LIMIT);
  ASSERT_NE(nullptr, block);
  EXPECT_TRUE(PlatformSmallBlockGive(block));
  void* heap = malloc(32);
  EXPECT_FALSE(PlatformSmallBlockGive(heap));
  free(heap);
  EXPECT_FALSE(PlatformSmallBlockGive(nullptr));
}

#else

TEST(SmallBlocks, SanitizerBuildsLeaveEveryBlockToTheCHeap) {
  EXPECT_EQ(nullptr, PlatformSmallBlockTake(32));
  void* heap = malloc(32);
  EXPECT_FALSE(PlatformSmallBlockGive(heap));
  free(heap);
}

#endif

}  // namespace
