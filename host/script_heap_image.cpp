// The per-thread script heap (see script_heap_image.h).
#include "script_heap_image.h"

#include <cstdio>
#include <cstdlib>
#include <new>

#include "duktape_extras.h"
#include "memoryapi.h"

namespace vhost {

namespace {

void fatal_handler(void*, const char* message) {
  std::fprintf(stderr, "vhost: fatal script engine error: %s\n", message ? message : "");
  std::abort();
}

duk_ret_t run_prepare(duk_context* ctx, void* udata) {
  reinterpret_cast<ScriptHeapImage::Prepare>(udata)(ctx);
  return 0;
}

}  // namespace

ScriptHeapImage::ScriptHeapImage(char* region, size_t region_size)
    : region_(region), state_(region, region_size) {}

ScriptHeapImage::~ScriptHeapImage() {
  if (ctx_)
    duk_destroy_heap(ctx_);
  VirtualFree(region_, 0, MEM_RELEASE);
}

std::unique_ptr<ScriptHeapImage> ScriptHeapImage::Create(size_t region_size, Prepare prepare) {
  void* region = VirtualAlloc(nullptr, region_size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
  if (!region)
    return nullptr;
  std::unique_ptr<ScriptHeapImage> image(
      new (std::nothrow) ScriptHeapImage(static_cast<char*>(region), region_size));
  if (!image) {
    VirtualFree(region, 0, MEM_RELEASE);
    return nullptr;
  }
  image->ctx_ =
      duk_create_heap(ScriptMemory::Allocate, ScriptMemory::Reallocate, ScriptMemory::Free,
                      static_cast<ScriptMemory*>(&image->state_), fatal_handler);
  if (!image->ctx_)
    return nullptr;
  if (prepare) {
    const duk_int_t rc =
        duk_safe_call(image->ctx_, run_prepare, reinterpret_cast<void*>(prepare), 0, 1);
    duk_pop(image->ctx_);
    if (rc != DUK_EXEC_SUCCESS)
      return nullptr;
  }
  // Duktape collects once soon after a heap is made; done here, it is in the image.
  duk_gc(image->ctx_, 0);
  if (!image->state_.CaptureImage())
    return nullptr;
  std::random_device device;
  image->seeds_.seed((static_cast<uint64_t>(device()) << 32) ^ device());
  return image;
}

ScriptHeapImage* ScriptHeapImage::OfThisThread(Prepare prepare) {
  thread_local std::unique_ptr<ScriptHeapImage> image;
  if (!image)
    image = Create(kRegionSize, prepare);
  return image.get();
}

duk_context* ScriptHeapImage::Begin(PageContext* page) {
  state_.page = page;
  vhost_reseed_random(ctx_, seeds_());
  return ctx_;
}

void ScriptHeapImage::End() {
  state_.page = nullptr;
  state_.failure = nullptr;
  state_.references = nullptr;
  state_.RestoreImage();
}

}  // namespace vhost
