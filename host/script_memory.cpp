// The memory of one script heap (see script_memory.h).
//
// Every block has a 16-byte header before it:
//   offset 0  size_t  capacity: the usable bytes (a multiple of 16); above the small-block
//                     limit the block came from malloc on its own
//   offset 8  size_t  unused (keeps the block 16-byte aligned)
#include "script_memory.h"

#include <cstdlib>
#include <cstring>

#include "faultsim.h"

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

}  // namespace

ScriptMemory::~ScriptMemory() {
  while (chunks_) {
    Chunk* next = chunks_->next;
    std::free(chunks_);
    chunks_ = next;
  }
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
  // A small block keeps its place while the size stays within it; a large one is resized by
  // the system allocator, which may grow it where it is.
  if (capacity <= kSmallLimit && size <= capacity)
    return block;
  if (capacity > kSmallLimit && size > kSmallLimit) {
    if (size > SIZE_MAX - kHeader - kGranule || FaultSimStep())
      return nullptr;
    const size_t rounded = (size + kGranule - 1) / kGranule * kGranule;
    void* moved = std::realloc(static_cast<char*>(block) - kHeader, kHeader + rounded);
    if (!moved)
      return nullptr;
    void* result = static_cast<char*>(moved) + kHeader;
    capacity_of(result) = rounded;
    return result;
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
    void* raw = system_allocate(kHeader + rounded);
    if (!raw)
      return nullptr;
    void* block = static_cast<char*>(raw) + kHeader;
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

void ScriptMemory::release(void* block) {
  const size_t capacity = capacity_of(block);
  if (capacity > kSmallLimit) {
    std::free(static_cast<char*>(block) - kHeader);
    return;
  }
  auto* free_block = static_cast<FreeBlock*>(block);
  FreeBlock*& list = free_lists_[capacity / kGranule - 1];
  free_block->next = list;
  list = free_block;
}

// Takes bytes from the newest chunk, starting a new chunk when it has too few left (the rest
// of the old one is not used again).
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
