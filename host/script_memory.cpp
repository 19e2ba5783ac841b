// The memory of one script heap (see script_memory.h).
//
// Every block has a 16-byte header before it:
//   offset 0  size_t  capacity: the usable bytes (a multiple of 16); above the small-block
//                     limit the block came from malloc on its own, or (when it lies in the
//                     region) was carved there before the image was captured
//   offset 8  size_t  unused (keeps the block 16-byte aligned)
// A large block from malloc has a LargeLink before its header, so that all of them can be
// freed without the heap's help.
#include "script_memory.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <new>

#include "faultsim.h"
#include "memoryapi.h"

namespace vhost {

namespace {

constexpr size_t kHeader = 16;

size_t& capacity_of(void* block) {
  return *reinterpret_cast<size_t*>(static_cast<char*>(block) - kHeader);
}

// malloc that the fault simulator can make fail.
void* system_allocate(size_t bytes) {
  return FaultSimStep() ? nullptr : std::malloc(bytes);
}

// Region pages past the image that stay with the process after a page that used them.
constexpr size_t kKeptResident = size_t{1} << 20;
constexpr size_t kPage = 4096;

}  // namespace

ScriptMemory::ScriptMemory(char* region, size_t region_size)
    : next_(region), end_(region + region_size), region_(region), region_end_(end_) {}

ScriptMemory::~ScriptMemory() {
  free_outside();
  std::free(image_.bytes);
}

void ScriptMemory::free_outside() {
  while (large_) {
    LargeLink* next = large_->next;
    std::free(large_);
    large_ = next;
  }
  while (chunks_) {
    Chunk* next = chunks_->next;
    std::free(chunks_);
    chunks_ = next;
  }
  chunk_bytes_ = 0;
}

size_t ScriptMemory::region_used() const {
  return in_region(next_) || next_ == region_end_ ? static_cast<size_t>(next_ - region_)
                                                  : static_cast<size_t>(region_end_ - region_);
}

bool ScriptMemory::CaptureImage() {
  if (!region_ || chunks_ || large_)
    return false;
  const size_t size = static_cast<size_t>(next_ - region_);
  char* bytes = static_cast<char*>(system_allocate(size ? size : 1));
  if (!bytes)
    return false;
  std::memcpy(bytes, region_, size);
  std::free(image_.bytes);
  image_.bytes = bytes;
  image_.size = size;
  std::copy(std::begin(free_lists_), std::end(free_lists_), image_.free_lists);
  plan_copies();
  return true;
}

// Without room for the plan the whole image is copied, which is as right.
void ScriptMemory::plan_copies() {
  image_.copied.clear();
  try {
    std::vector<Span> dead;
    for (const Span& span : freed_large_)
      if (span.size >= kShortestSkip)
        dead.push_back(span);
    // A free block keeps its header and its link to the next one.
    for (size_t c = 0; c < kClassCount; ++c) {
      const size_t capacity = (c + 1) * kGranule;
      if (capacity - sizeof(FreeBlock) < kShortestSkip)
        continue;
      for (FreeBlock* block = free_lists_[c]; block; block = block->next)
        dead.push_back(
            {static_cast<size_t>(reinterpret_cast<char*>(block) - region_) + sizeof(FreeBlock),
             capacity - sizeof(FreeBlock)});
    }
    std::sort(dead.begin(), dead.end(),
              [](const Span& a, const Span& b) { return a.offset < b.offset; });
    std::vector<Span> copied;
    size_t at = 0;
    for (const Span& span : dead) {
      if (span.offset > at)
        copied.push_back({at, span.offset - at});
      at = std::max(at, span.offset + span.size);
    }
    if (at < image_.size)
      copied.push_back({at, image_.size - at});
    image_.copied = std::move(copied);
  } catch (const std::bad_alloc&) {
    image_.copied.clear();
  }
  std::vector<Span>().swap(freed_large_);
}

void ScriptMemory::RestoreImage() {
  if (!image_.bytes)
    return;
  const size_t reached = region_used();
  free_outside();
  if (image_.copied.empty())
    std::memcpy(region_, image_.bytes, image_.size);
  for (const Span& span : image_.copied)
    std::memcpy(region_ + span.offset, image_.bytes + span.offset, span.size);
  std::copy(std::begin(image_.free_lists), std::end(image_.free_lists), free_lists_);
  next_ = region_ + image_.size;
  end_ = region_end_;
  const size_t kept = (image_.size + kKeptResident + kPage - 1) / kPage * kPage;
  if (reached > kept && region_ + kept < region_end_)
    VirtualAlloc(region_ + kept,
                 std::min(reached, static_cast<size_t>(region_end_ - region_)) - kept, MEM_RESET,
                 PAGE_READWRITE);
}

void* ScriptMemory::Allocate(void* udata, size_t size) {
  return static_cast<ScriptMemory*>(udata)->allocate(size);
}

void* ScriptMemory::Reallocate(void* udata, void* block, size_t size) {
  auto* memory = static_cast<ScriptMemory*>(udata);
  if (!block)
    return memory->allocate(size);
  if (size == 0) {
    memory->release(block);
    return nullptr;
  }
  const size_t capacity = capacity_of(block);
  // A block of the pool's own keeps its place while the size stays within it; a large one
  // from the system is resized by the system allocator, which may grow it where it is.
  if (size <= capacity && (capacity <= kSmallLimit || memory->in_region(block)))
    return block;
  if (capacity > kSmallLimit && size > kSmallLimit && !memory->in_region(block)) {
    if (size > SIZE_MAX - sizeof(LargeLink) - kHeader - kGranule)
      return nullptr;
    return memory->reallocate_large(block, (size + kGranule - 1) / kGranule * kGranule);
  }
  void* result = memory->allocate(size);
  if (!result)
    return nullptr;
  std::memcpy(result, block, capacity < size ? capacity : size);
  memory->release(block);
  return result;
}

void ScriptMemory::Free(void* udata, void* block) {
  if (block)
    static_cast<ScriptMemory*>(udata)->release(block);
}

void* ScriptMemory::allocate(size_t size) {
  if (size == 0)
    size = 1;
  if (size > SIZE_MAX - kHeader - kGranule)
    return nullptr;
  const size_t rounded = (size + kGranule - 1) / kGranule * kGranule;
  if (rounded > kSmallLimit) {
    // Before the capture, a heap being made in the region is kept in it whole.
    const bool into_region = region_ && !image_.bytes && in_region(next_) &&
                             static_cast<size_t>(end_ - next_) >= kHeader + rounded;
    if (!into_region)
      return allocate_large(rounded);
    void* block = static_cast<char*>(carve(kHeader + rounded)) + kHeader;
    capacity_of(block) = rounded;
    return block;
  }
  FreeBlock*& list = free_lists_[rounded / kGranule - 1];
  if (list) {
    FreeBlock* block = list;
    list = block->next;
    return block;
  }
  void* block = carve(kHeader + rounded);
  if (!block)
    return nullptr;
  block = static_cast<char*>(block) + kHeader;
  capacity_of(block) = rounded;
  return block;
}

void* ScriptMemory::allocate_large(size_t rounded) {
  if (rounded > SIZE_MAX - sizeof(LargeLink) - kHeader)
    return nullptr;
  auto* link = static_cast<LargeLink*>(system_allocate(sizeof(LargeLink) + kHeader + rounded));
  if (!link)
    return nullptr;
  link->previous = nullptr;
  link->next = large_;
  if (large_)
    large_->previous = link;
  large_ = link;
  void* block = reinterpret_cast<char*>(link + 1) + kHeader;
  capacity_of(block) = rounded;
  return block;
}

// The system allocator may grow the block where it is; when it moves it, the neighbours in
// the list are pointed at the new place.
void* ScriptMemory::reallocate_large(void* block, size_t rounded) {
  if (FaultSimStep())
    return nullptr;
  auto* old_link = reinterpret_cast<LargeLink*>(static_cast<char*>(block) - kHeader) - 1;
  auto* link =
      static_cast<LargeLink*>(std::realloc(old_link, sizeof(LargeLink) + kHeader + rounded));
  if (!link)
    return nullptr;
  if (link->previous)
    link->previous->next = link;
  else
    large_ = link;
  if (link->next)
    link->next->previous = link;
  void* result = reinterpret_cast<char*>(link + 1) + kHeader;
  capacity_of(result) = rounded;
  return result;
}

void ScriptMemory::release(void* block) {
  const size_t capacity = capacity_of(block);
  if (capacity > kSmallLimit) {
    // A large block in the region stays there until the region is put back; freed before
    // the capture, it need not be copied back.
    if (in_region(block)) {
      if (!image_.bytes) {
        try {
          freed_large_.push_back(
              {static_cast<size_t>(static_cast<char*>(block) - region_) - kHeader,
               kHeader + capacity});
        } catch (const std::bad_alloc&) {
        }
      }
      return;
    }
    auto* link = reinterpret_cast<LargeLink*>(static_cast<char*>(block) - kHeader) - 1;
    if (link->previous)
      link->previous->next = link->next;
    else
      large_ = link->next;
    if (link->next)
      link->next->previous = link->previous;
    std::free(link);
    return;
  }
  auto* free_block = static_cast<FreeBlock*>(block);
  FreeBlock*& list = free_lists_[capacity / kGranule - 1];
  free_block->next = list;
  list = free_block;
}

// Takes bytes from the region or the newest chunk, starting a new chunk when it has too few
// left (the rest of the old one is not used again).
void* ScriptMemory::carve(size_t bytes) {
  if (static_cast<size_t>(end_ - next_) < bytes) {
    auto* chunk = static_cast<Chunk*>(system_allocate(kChunkSize));
    if (!chunk)
      return nullptr;
    chunk->next = chunks_;
    chunks_ = chunk;
    chunk_bytes_ += kChunkSize;
    next_ = reinterpret_cast<char*>(chunk + 1);
    end_ = reinterpret_cast<char*>(chunk) + kChunkSize;
  }
  void* block = next_;
  next_ += bytes;
  return block;
}

}  // namespace vhost
