// The per-thread script heap (see script_heap_image.h).
#include "script_heap_image.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#include "duktape_extras.h"
#include "memoryapi.h"

namespace vhost {

namespace {

void fatal_handler(void*, const char* message) {
  std::fprintf(stderr, "vhost: fatal script engine error: %s\n", message ? message : "");
  std::abort();
}

// Where a heap with a page's function holds it.
constexpr char kPageFunctionKey[] =
    "\xff"
    "pageFunction";

duk_ret_t load_page_function(duk_context* ctx, void* udata) {
  const auto* bytecode = static_cast<const std::string*>(udata);
  void* buffer = duk_push_fixed_buffer(ctx, bytecode->size());
  std::memcpy(buffer, bytecode->data(), bytecode->size());
  duk_load_function(ctx);
  duk_push_global_stash(ctx);
  duk_swap_top(ctx, -2);
  duk_put_prop_literal(ctx, -2, kPageFunctionKey);
  return 0;
}

// Math.random, which seeds the heap's generator on a page's first call.
duk_ret_t math_random(duk_context* ctx) {
  ScriptHeapState* state = ScriptHeapState::Of(ctx);
  if (!state->random_seeded) {
    vhost_reseed_random(ctx, state->seeds());
    state->random_seeded = true;
  }
  duk_push_number(ctx, vhost_random_double(ctx));
  return 1;
}

duk_ret_t run_prepare(duk_context* ctx, void* udata) {
  duk_get_global_literal(ctx, "Math");
  duk_push_c_function(ctx, math_random, 0);
  duk_push_literal(ctx, "name");
  duk_push_literal(ctx, "random");
  duk_def_prop(ctx, -3,
               DUK_DEFPROP_HAVE_VALUE | DUK_DEFPROP_CLEAR_WRITABLE | DUK_DEFPROP_CLEAR_ENUMERABLE |
                   DUK_DEFPROP_SET_CONFIGURABLE);
  duk_put_prop_literal(ctx, -2, "random");
  duk_pop(ctx);
  if (udata)
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
  vhost_record_light_function_names();
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
  const duk_int_t rc =
      duk_safe_call(image->ctx_, run_prepare, reinterpret_cast<void*>(prepare), 0, 1);
  duk_pop(image->ctx_);
  if (rc != DUK_EXEC_SUCCESS)
    return nullptr;
  // Duktape collects once soon after a heap is made; done here, it is in the image.
  duk_gc(image->ctx_, 0);
  if (!image->state_.CaptureImage())
    return nullptr;
  std::random_device device;
  image->state_.seeds.seed((static_cast<uint64_t>(device()) << 32) ^ device());
  return image;
}

ScriptHeapImage* ScriptHeapImage::OfThisThread(Prepare prepare) {
  thread_local std::unique_ptr<ScriptHeapImage> image;
  if (!image)
    image = Create(kRegionSize, prepare);
  return image.get();
}

duk_context* ScriptHeapImage::Begin(PageContext* page) {
  return begin(page, false);
}

duk_context* ScriptHeapImage::Begin(PageContext* page, std::uint64_t key,
                                    const std::string& bytecode) {
  return begin(page, hold_page(key, bytecode));
}

duk_context* ScriptHeapImage::begin(PageContext* page, bool page_function) {
  if (!page_function && current_) {
    state_.RestoreImage();
    current_ = nullptr;
  }
  state_.page = page;
  state_.random_seeded = false;
  page_function_ = page_function;
  return ctx_;
}

bool ScriptHeapImage::PushPageFunction(duk_context* ctx) const {
  if (!page_function_)
    return false;
  duk_push_global_stash(ctx);
  duk_get_prop_literal(ctx, -1, kPageFunctionKey);
  duk_remove(ctx, -2);
  return true;
}

bool ScriptHeapImage::hold_page(std::uint64_t key, const std::string& bytecode) {
  if (current_ && current_->key == key) {
    current_->last_used = ++uses_;
    return true;
  }
  PageImage* oldest = &pages_[0];
  for (PageImage& p : pages_) {
    if (p.key == key && !p.image.empty()) {
      state_.RestoreImage(p.image);
      current_ = &p;
      p.last_used = ++uses_;
      return true;
    }
    if (p.last_used < oldest->last_used)
      oldest = &p;
  }
  if (current_) {
    state_.RestoreImage();
    current_ = nullptr;
  }
  state_.CarveLargeInRegion(true);
  const duk_int_t rc =
      duk_safe_call(ctx_, load_page_function, const_cast<std::string*>(&bytecode), 0, 1);
  duk_pop(ctx_);
  state_.CarveLargeInRegion(false);
  if (rc != DUK_EXEC_SUCCESS) {
    state_.RestoreImage();
    return false;
  }
  // Without an image the function serves this page, and End puts back the first image.
  ScriptMemory::Image image;
  if (!state_.CaptureImage(&image) || image.size() > kLargestPageImage)
    return true;
  oldest->key = key;
  oldest->last_used = ++uses_;
  oldest->image = std::move(image);
  current_ = oldest;
  return true;
}

void ScriptHeapImage::End() {
  state_.page = nullptr;
  state_.failure = nullptr;
  state_.references = nullptr;
  if (current_)
    state_.RestoreImage(current_->image);
  else
    state_.RestoreImage();
}

}  // namespace vhost
