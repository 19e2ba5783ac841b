// The host program's operator new and delete: a page request makes and drops about a hundred
// small C++ objects and strings (request texts, dictionary entries, conversion results), and
// they come from the platform's small-block heap like the library's blocks, without the C
// heap's locks and bin sorting. Larger blocks, and every block in builds with AddressSanitizer
// (whose own operators then stay in place), are the C heap's.
#include <stdlib.h>

#include <new>

#include "small_blocks.h"

#if PLATFORM_SMALL_BLOCKS_KEPT

namespace {

void* take(size_t size) noexcept {
  if (void* block = PlatformSmallBlockTake(size))
    return block;
  return malloc(size ? size : 1);
}

void* take_or_throw(size_t size) {
  for (;;) {
    if (void* block = take(size))
      return block;
    std::new_handler handler = std::get_new_handler();
    if (!handler)
      throw std::bad_alloc();
    handler();
  }
}

void give(void* block) noexcept {
  if (block && !PlatformSmallBlockGive(block))
    free(block);
}

}  // namespace

void* operator new(size_t size) {
  return take_or_throw(size);
}
void* operator new[](size_t size) {
  return take_or_throw(size);
}
// As the standard's: the throwing form's tries (new handler included), null instead of throwing.
void* operator new(size_t size, const std::nothrow_t&) noexcept {
  try {
    return take_or_throw(size);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept {
  try {
    return take_or_throw(size);
  } catch (...) {
    return nullptr;
  }
}
void operator delete(void* block) noexcept {
  give(block);
}
void operator delete[](void* block) noexcept {
  give(block);
}
void operator delete(void* block, size_t) noexcept {
  give(block);
}
void operator delete[](void* block, size_t) noexcept {
  give(block);
}
void operator delete(void* block, const std::nothrow_t&) noexcept {
  give(block);
}
void operator delete[](void* block, const std::nothrow_t&) noexcept {
  give(block);
}

#endif
