// The small-block heap's parts: a reserved address range cut into pages of one size class each,
// and a thread's lists of free blocks (small_blocks.h says why there is such a heap). Kept apart
// from the process's one heap so that tests can make ranges of their own.
//
// A thread takes and returns blocks through its own lists without a lock; the lists move in
// batches to and from the range's shared stock under a mutex. The range never gives its pages
// back: what it holds is bounded by the most small blocks that were alive at once, and by its
// reserved size.
#pragma once

#include <stddef.h>

#include <mutex>

#include "small_blocks.h"

constexpr size_t kSmallBlockGrain = 16;
constexpr size_t kSmallBlockLimit = PLATFORM_SMALL_BLOCK_LIMIT;
constexpr size_t kSmallBlockClasses = kSmallBlockLimit / kSmallBlockGrain;
// Blocks in one batch: a thread's lists and the range's stock exchange whole batches.
constexpr unsigned kSmallBlockBatch = 128;
// Bytes of one page; every block of a page is of the page's class.
constexpr size_t kSmallBlockPage = 64 * 1024;

// A free block's first bytes: the next free block of its list, and in the first block of a
// batch that the range keeps, the next batch.
struct SmallBlockLink {
  SmallBlockLink* next;
  SmallBlockLink* next_batch;
};
static_assert(sizeof(SmallBlockLink) <= kSmallBlockGrain);

// The class of blocks that hold size bytes (0 is given a block of the smallest class).
inline size_t SmallBlockClassOf(size_t size) {
  return size ? (size - 1) / kSmallBlockGrain : 0;
}

class SmallBlockRange {
 public:
  // Reserves bytes of address space (whole pages), or a quarter of that when the system refuses
  // (a limit on the address space), and so on down to one page; pages are committed as they are
  // first cut. A range whose reservation failed gives no blocks.
  explicit SmallBlockRange(size_t bytes);
  ~SmallBlockRange();
  SmallBlockRange(const SmallBlockRange&) = delete;
  SmallBlockRange& operator=(const SmallBlockRange&) = delete;

  bool Owns(const void* block) const {
    const char* p = static_cast<const char*>(block);
    return p >= base_ && p < base_ + size_;
  }
  // The class of a block that this range owns.
  size_t ClassOf(const void* block) const {
    return page_class_[static_cast<size_t>(static_cast<const char*>(block) - base_) /
                       kSmallBlockPage];
  }
  // A list of free blocks of class c, at most kSmallBlockBatch; *count says how many. Null when
  // the stock has none and the range has no page left to cut.
  SmallBlockLink* TakeBatch(size_t c, unsigned* count);
  // Takes back a list of exactly kSmallBlockBatch blocks of class c.
  void GiveBatch(size_t c, SmallBlockLink* first);
  // Takes back a list of any length.
  void GiveList(size_t c, SmallBlockLink* first);
  // Bytes of pages cut so far.
  size_t CommittedBytes();
  // Blocks handed out in batches and lists and not given back.
  size_t BlocksOut();

 private:
  struct ClassStock {
    SmallBlockLink* batches = nullptr;  // full batches, linked through next_batch
    SmallBlockLink* loose = nullptr;    // single blocks
    char* cut = nullptr;                // the rest of the class's current page
    char* cut_end = nullptr;
  };
  bool NewPage(size_t c);

  char* base_ = nullptr;
  size_t size_ = 0;
  unsigned char* page_class_ = nullptr;
  std::mutex mutex_;
  size_t pages_used_ = 0;
  size_t blocks_out_ = 0;
  ClassStock stock_[kSmallBlockClasses];
};

// One thread's free blocks, by class: a list being used and at most one full batch behind it,
// so that a thread that frees and takes back and forth around a batch's edge does not go to the
// range each time. Not shared: each thread has its own.
class SmallBlockCache {
 public:
  // A block of at least size bytes (size at most kSmallBlockLimit) whose contents are left as
  // they were;
  // null when the range is full.
  void* Take(SmallBlockRange& range, size_t size) {
    const size_t c = SmallBlockClassOf(size);
    SmallBlockLink* block = head_[c];
    if (!block) {
      block = Refill(range, c);
      if (!block)
        return nullptr;
    }
    head_[c] = block->next;
    --count_[c];
    return block;
  }
  // Keeps a block of the range for reuse.
  void Give(SmallBlockRange& range, void* block) {
    const size_t c = range.ClassOf(block);
    if (count_[c] == kSmallBlockBatch)
      MoveFull(range, c);
    auto* link = static_cast<SmallBlockLink*>(block);
    link->next = head_[c];
    head_[c] = link;
    ++count_[c];
  }
  // Gives every kept block back to the range.
  void Flush(SmallBlockRange& range);
  // Blocks of class c kept by this thread.
  unsigned Kept(size_t c) const { return count_[c] + (full_[c] ? kSmallBlockBatch : 0); }

 private:
  SmallBlockLink* Refill(SmallBlockRange& range, size_t c);
  void MoveFull(SmallBlockRange& range, size_t c);

  SmallBlockLink* head_[kSmallBlockClasses] = {};
  unsigned count_[kSmallBlockClasses] = {};
  SmallBlockLink* full_[kSmallBlockClasses] = {};  // a batch of exactly kSmallBlockBatch
};
