// The allocator of KaZlib: every block of the library, libdeflate's working memory included,
// comes from kz_alloc, which asks the fault simulator first, so each allocation failure path can
// be walked by a test.
#pragma once

#include <stddef.h>

// A DLL exports only what is marked for export, so the Windows build needs no marking here.
#if defined(_WIN32)
#define KAZLIB_HIDDEN
#else
#define KAZLIB_HIDDEN __attribute__((visibility("hidden")))
#endif

// A block of size bytes (contents undefined), or null; size 0 still gives a distinct block.
KAZLIB_HIDDEN void* kz_alloc(size_t size);
// Releases a block of kz_alloc; null is a harmless no-op.
KAZLIB_HIDDEN void kz_free(void* block);
// Moves the first used bytes of block into a new block of size bytes. On failure block is
// released and null returned, so no caller can leak the old block.
KAZLIB_HIDDEN void* kz_grow_or_free(void* block, size_t used, size_t size);
// Gives back the tail of a block beyond size bytes when that saves memory. Benign: when the
// allocator refuses, the block is returned unchanged.
KAZLIB_HIDDEN void* kz_shrink(void* block, size_t size);
// Routes libdeflate's allocations through kz_alloc; to be called before any libdeflate call.
KAZLIB_HIDDEN void kz_use_library_allocator();

// Owns a block of kz_alloc. Move-only.
class KAZLIB_HIDDEN KzBlock {
 public:
  KzBlock() = default;
  explicit KzBlock(void* block) : p_(static_cast<char*>(block)) {}
  ~KzBlock() { kz_free(p_); }
  KzBlock(KzBlock&& other) noexcept : p_(other.Release()) {}
  KzBlock& operator=(KzBlock&& other) noexcept {
    Reset(other.Release());
    return *this;
  }
  KzBlock(const KzBlock&) = delete;
  KzBlock& operator=(const KzBlock&) = delete;

  char* Get() const { return p_; }
  // Adopts block and releases the one held before.
  void Reset(void* block) {
    kz_free(p_);
    p_ = static_cast<char*>(block);
  }
  // Hands the block out; the holder is empty afterwards.
  char* Release() {
    char* p = p_;
    p_ = nullptr;
    return p;
  }

 private:
  char* p_ = nullptr;
};
