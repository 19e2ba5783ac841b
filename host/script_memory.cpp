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
#include <utility>

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
}

ScriptMemory::Image& ScriptMemory::Image::operator=(Image&& other) noexcept {
  if (this != &other) {
    std::free(bytes_);
    bytes_ = std::exchange(other.bytes_, nullptr);
    size_ = std::exchange(other.size_, 0);
    std::copy(std::begin(other.free_lists_), std::end(other.free_lists_), free_lists_);
    copied_ = std::move(other.copied_);
    dead_large_ = std::move(other.dead_large_);
  }
  return *this;
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
  if (!CaptureImage(&image_))
    return false;
  large_in_region_ = false;
  return true;
}

bool ScriptMemory::CaptureImage(Image* into) {
  if (!region_ || chunks_ || large_)
    return false;
  const size_t size = static_cast<size_t>(next_ - region_);
  Image image;
  image.bytes_ = static_cast<char*>(system_allocate(size ? size : 1));
  if (!image.bytes_)
    return false;
  std::memcpy(image.bytes_, region_, size);
  image.size_ = size;
  std::copy(std::begin(free_lists_), std::end(free_lists_), image.free_lists_);
  try {
    image.dead_large_ = freed_large_;
  } catch (const std::bad_alloc&) {
    return false;
  }
  plan_copies(&image);
  *into = std::move(image);
  return true;
}

// Without room for the plan the whole image is copied, which is as right.
void ScriptMemory::plan_copies(Image* image) {
  try {
    std::vector<Span> dead;
    for (const Span& span : image->dead_large_)
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
    if (at < image->size_)
      copied.push_back({at, image->size_ - at});
    image->copied_ = std::move(copied);
  } catch (const std::bad_alloc&) {
    image->copied_.clear();
  }
}

void ScriptMemory::RestoreImage(const Image& from) {
  if (!from.bytes_)
    return;
  const size_t reached = region_used();
  free_outside();
  if (from.copied_.empty())
    std::memcpy(region_, from.bytes_, from.size_);
  for (const Span& span : from.copied_)
    std::memcpy(region_ + span.offset, from.bytes_ + span.offset, span.size);
  std::copy(std::begin(from.free_lists_), std::end(from.free_lists_), free_lists_);
  next_ = region_ + from.size_;
  end_ = region_end_;
  // The copy of a short list; without room the dead large blocks of the image are only not
  // left out of a later capture's copies.
  try {
    freed_large_ = from.dead_large_;
  } catch (const std::bad_alloc&) {
    freed_large_.clear();
  }
  const size_t kept = (from.size_ + kKeptResident + kPage - 1) / kPage * kPage;
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
    const bool into_region = region_ && large_in_region_ && in_region(next_) &&
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
    // A large block in the region stays there until the region is put back; freed while
    // large blocks are carved there (before a capture), it need not be copied back.
    if (in_region(block)) {
      if (large_in_region_) {
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
