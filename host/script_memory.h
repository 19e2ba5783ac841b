// The memory of one script heap: Duktape's allocation functions over a pool that lives as long
// as the heap. A page's heap is made and dropped on every request, and most of that time went
// to the general allocator (one malloc and one free for each of thousands of small blocks);
// here small blocks come from larger chunks and go back to per-size free lists, and dropping
// the pool returns the chunks at once.
#pragma once

#include <cstddef>

namespace vhost {

class ScriptMemory {
 public:
  ScriptMemory() = default;
  ScriptMemory(const ScriptMemory&) = delete;
  ScriptMemory& operator=(const ScriptMemory&) = delete;
  // Returns every chunk. Blocks above the small-block limit are the heap's to free first
  // (duk_destroy_heap frees everything it allocated).
  ~ScriptMemory();

  // Duktape's allocation functions; udata is the ScriptMemory. Blocks are 16-byte aligned.
  // Allocate returns null when the system has no memory (Duktape then collects and retries).
  // Reallocate of null allocates; to size 0 it frees and returns null; when it fails the old
  // block is left as it was. Free of null does nothing.
  static void* Allocate(void* udata, size_t size);
  static void* Reallocate(void* udata, void* block, size_t size);
  static void Free(void* udata, void* block);

  // Bytes taken from the system for chunks, for tests.
  size_t chunk_bytes() const { return chunk_bytes_; }

 private:
  static constexpr size_t kGranule = 16;
  static constexpr size_t kSmallLimit = 1024;
  static constexpr size_t kClassCount = kSmallLimit / kGranule;
  static constexpr size_t kChunkSize = 64 * 1024;

  struct FreeBlock {
    FreeBlock* next;
  };
  struct Chunk {
    Chunk* next;
    size_t padding;  // keeps the blocks after it 16-byte aligned
  };

  void* allocate(size_t size);
  void release(void* block);
  void* carve(size_t bytes);

  FreeBlock* free_lists_[kClassCount] = {};
  Chunk* chunks_ = nullptr;
  char* next_ = nullptr;  // the unused end of the newest chunk
  char* end_ = nullptr;
  size_t chunk_bytes_ = 0;
};

}  // namespace vhost
