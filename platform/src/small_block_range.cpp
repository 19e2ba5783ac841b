// The small-block range and a thread's lists of free blocks (small_block_range.h). The system
// calls are in posix/small_block_range.inc.
#include "small_block_range.h"

#include <new>

namespace {

// Address space only: nothing there is usable until committed.
char* reserve(size_t bytes);
bool commit(char* page, size_t bytes);
void release(char* base, size_t bytes);

}  // namespace

SmallBlockRange::SmallBlockRange(size_t bytes) {
  const size_t pages = bytes / kSmallBlockPage;
  if (pages == 0)
    return;
  page_class_ = new (std::nothrow) unsigned char[pages];
  if (!page_class_)
    return;
  for (size_t tried = pages; tried > 0 && !base_; tried /= 4) {
    base_ = reserve(tried * kSmallBlockPage);
    if (base_)
      size_ = tried * kSmallBlockPage;
  }
}

SmallBlockRange::~SmallBlockRange() {
  if (base_)
    release(base_, size_);
  delete[] page_class_;
}

bool SmallBlockRange::NewPage(size_t c) {
  if ((pages_used_ + 1) * kSmallBlockPage > size_)
    return false;
  char* page = base_ + pages_used_ * kSmallBlockPage;
  if (!commit(page, kSmallBlockPage))
    return false;
  // The class is set before any block of the page is handed out, and never changes: a thread
  // that frees a block learns it through whatever handed the block to it.
  page_class_[pages_used_] = static_cast<unsigned char>(c);
  ++pages_used_;
  stock_[c].cut = page;
  stock_[c].cut_end = page + kSmallBlockPage;
  return true;
}

SmallBlockLink* SmallBlockRange::TakeBatch(size_t c, unsigned* count) {
  const std::lock_guard<std::mutex> lock(mutex_);
  ClassStock& stock = stock_[c];
  if (SmallBlockLink* batch = stock.batches) {
    stock.batches = batch->next_batch;
    *count = kSmallBlockBatch;
    blocks_out_ += kSmallBlockBatch;
    return batch;
  }
  if (SmallBlockLink* first = stock.loose) {
    SmallBlockLink* last = first;
    unsigned n = 1;
    for (; n < kSmallBlockBatch && last->next; ++n)
      last = last->next;
    stock.loose = last->next;
    last->next = nullptr;
    *count = n;
    blocks_out_ += n;
    return first;
  }
  const size_t block_size = (c + 1) * kSmallBlockGrain;
  if (static_cast<size_t>(stock.cut_end - stock.cut) < block_size && !NewPage(c))
    return nullptr;
  // New blocks are linked as they are cut, in address order.
  SmallBlockLink* head = nullptr;
  SmallBlockLink** tail = &head;
  unsigned n = 0;
  for (; n < kSmallBlockBatch && static_cast<size_t>(stock.cut_end - stock.cut) >= block_size;
       ++n) {
    auto* link = reinterpret_cast<SmallBlockLink*>(stock.cut);
    *tail = link;
    tail = &link->next;
    stock.cut += block_size;
  }
  *tail = nullptr;
  *count = n;
  blocks_out_ += n;
  return head;
}

void SmallBlockRange::GiveBatch(size_t c, SmallBlockLink* first) {
  const std::lock_guard<std::mutex> lock(mutex_);
  ClassStock& stock = stock_[c];
  first->next_batch = stock.batches;
  stock.batches = first;
  blocks_out_ -= kSmallBlockBatch;
}

void SmallBlockRange::GiveList(size_t c, SmallBlockLink* first) {
  SmallBlockLink* last = first;
  size_t n = 1;
  for (; last->next; ++n)
    last = last->next;
  const std::lock_guard<std::mutex> lock(mutex_);
  ClassStock& stock = stock_[c];
  last->next = stock.loose;
  stock.loose = first;
  blocks_out_ -= n;
}

size_t SmallBlockRange::CommittedBytes() {
  const std::lock_guard<std::mutex> lock(mutex_);
  return pages_used_ * kSmallBlockPage;
}

size_t SmallBlockRange::BlocksOut() {
  const std::lock_guard<std::mutex> lock(mutex_);
  return blocks_out_;
}

SmallBlockLink* SmallBlockCache::Refill(SmallBlockRange& range, size_t c) {
  if (full_[c]) {
    head_[c] = full_[c];
    full_[c] = nullptr;
    count_[c] = kSmallBlockBatch;
  } else {
    head_[c] = range.TakeBatch(c, &count_[c]);
  }
  return head_[c];
}

void SmallBlockCache::MoveFull(SmallBlockRange& range, size_t c) {
  if (full_[c])
    range.GiveBatch(c, full_[c]);
  full_[c] = head_[c];
  head_[c] = nullptr;
  count_[c] = 0;
}

void SmallBlockCache::Flush(SmallBlockRange& range) {
  for (size_t c = 0; c < kSmallBlockClasses; ++c) {
    if (full_[c])
      range.GiveBatch(c, full_[c]);
    if (head_[c])
      range.GiveList(c, head_[c]);
    full_[c] = nullptr;
    head_[c] = nullptr;
    count_[c] = 0;
  }
}

#include "posix/small_block_range.inc"
