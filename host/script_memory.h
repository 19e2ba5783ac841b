// The memory of one script heap: Duktape's allocation functions over a pool that lives as long
// as the heap. A page's heap is made and dropped on every request, and most of that time went
// to the general allocator (one malloc and one free for each of thousands of small blocks);
// here small blocks come from larger chunks and go back to per-size free lists, and dropping
// the pool returns the chunks at once.
//
// A pool may also be given a region of address space that outlives heaps (see
// ScriptHeapImage): small blocks are then carved from the region first, a heap made there can
// be recorded with CaptureImage, and RestoreImage puts the region back as it was recorded, so
// that one heap serves page after page without being made or destroyed again.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <utility>
#include <vector>

namespace vhost {

class ScriptMemory {
 public:
  ScriptMemory() = default;
  // A pool over [region, region + region_size), which the caller owns and keeps mapped for
  // the pool's life. region_size is a multiple of 16.
  ScriptMemory(char* region, size_t region_size);
  ScriptMemory(const ScriptMemory&) = delete;
  ScriptMemory& operator=(const ScriptMemory&) = delete;
  // Returns every chunk and every large block still taken.
  ~ScriptMemory();

  // Duktape's allocation functions; udata is the ScriptMemory. Blocks are 16-byte aligned.
  // Allocate returns null when the system has no memory (Duktape then collects and retries).
  // Reallocate of null allocates; to size 0 it frees and returns null; when it fails the old
  // block is left as it was. Free of null does nothing.
  static void* Allocate(void* udata, size_t size);
  static void* Reallocate(void* udata, void* block, size_t size);
  static void Free(void* udata, void* block);

  struct Span {
    size_t offset;
    size_t size;
  };
  static constexpr size_t kGranule = 16;
  static constexpr size_t kSmallLimit = 1024;
  static constexpr size_t kClassCount = kSmallLimit / kGranule;
  struct FreeBlock {
    FreeBlock* next;
  };

  // A record of the region's used bytes and of the pool's state, which a restore puts back.
  class Image {
   public:
    Image() = default;
    Image(Image&& other) noexcept { *this = std::move(other); }
    Image& operator=(Image&& other) noexcept;
    ~Image() { std::free(bytes_); }
    bool empty() const { return !bytes_; }
    // The region's bytes it holds.
    size_t size() const { return size_; }

   private:
    friend class ScriptMemory;
    char* bytes_ = nullptr;  // a copy of the region's first size_ bytes
    size_t size_ = 0;
    FreeBlock* free_lists_[kClassCount] = {};
    // The parts of it that a restore copies (all of it when empty): the rest is the insides
    // of free blocks and of large blocks freed while the image was being made, which nothing
    // reads.
    std::vector<Span> copied_;
    // Those large blocks, which stay out of use as long as the image does.
    std::vector<Span> dead_large_;
  };

  // Records the region's used bytes and the pool's state as the pool's first image, after
  // which large blocks go to the system allocator. Until then, large blocks are carved from
  // the region too, so that a heap made there lies in it whole; false (and nothing recorded)
  // when some block lies outside it or the copy cannot be made.
  bool CaptureImage();
  // Records them into another image, kept by the caller (a heap with more in it than the
  // first image: see CarveLargeInRegion). False, and *into unchanged, as above.
  bool CaptureImage(Image* into);
  // While on (after the first capture), large blocks are carved from the region again, so
  // that what is made meanwhile can be captured.
  void CarveLargeInRegion(bool on) { large_in_region_ = on; }
  // Frees every block outside the region and puts the region back as the first image (or
  // from) was captured: every block taken since is gone. When the blocks had reached far past
  // the image, the region's pages past it go back to the system. Without a captured image it
  // does nothing.
  void RestoreImage() { RestoreImage(image_); }
  void RestoreImage(const Image& from);

  // Bytes taken from the system for chunks, for tests.
  size_t chunk_bytes() const { return chunk_bytes_; }
  // Bytes of the region in use (the image's size right after a capture or restore).
  size_t region_used() const;

 private:
  static constexpr size_t kChunkSize = 64 * 1024;

  struct Chunk {
    Chunk* next;
    size_t padding;  // keeps the blocks after it 16-byte aligned
  };
  // Before the header of a large block from the system allocator: the list of them all.
  struct LargeLink {
    LargeLink* previous;
    LargeLink* next;
  };
  // Shorter dead parts are copied all the same: a copy of a few more bytes costs less than
  // another call.
  static constexpr size_t kShortestSkip = 128;

  void* allocate(size_t size);
  void release(void* block);
  void* carve(size_t bytes);
  void* allocate_large(size_t rounded);
  void* reallocate_large(void* block, size_t rounded);
  bool in_region(const void* block) const { return block >= region_ && block < region_end_; }
  void free_outside();
  void plan_copies(Image* image);

  FreeBlock* free_lists_[kClassCount] = {};
  Chunk* chunks_ = nullptr;
  char* next_ = nullptr;  // the unused end of the region or of the newest chunk
  char* end_ = nullptr;
  size_t chunk_bytes_ = 0;
  LargeLink* large_ = nullptr;
  char* region_ = nullptr;
  char* region_end_ = nullptr;
  Image image_;
  bool large_in_region_ = true;
  // Large blocks of the region freed while they were carved there.
  std::vector<Span> freed_large_;
};

}  // namespace vhost
