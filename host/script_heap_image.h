// One script heap for each worker thread, made once and put back to its first state after every
// page. Making a Duktape heap (its built-in objects and their strings) and destroying it (three
// collections, then a free for every block) took most of a small page's time; a heap put back
// from a copy of its first state is just as fresh for the next page (nothing a script did
// remains), for the cost of copying about a hundred kilobytes.
//
// The heap never leaves its region of address space, so the copy needs no pointer fixed. Its
// finalizers do not run when a page ends: whoever gave the script objects that must be let go
// (automation objects) keeps a list of them and releases them before End.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <random>
#include <string>

#include "duktape.h"
#include "script_memory.h"

namespace vhost {

class PageContext;
class ScriptReferences;
struct AutomationFailure;

// The heap's user data: its memory, the page that runs in it (read by the time-out check and
// the script bridge) and what the bridge reports into, all reached from the heap in a few
// loads.
struct ScriptHeapState : ScriptMemory {
  using ScriptMemory::ScriptMemory;
  // The state of the heap ctx, which a ScriptHeapImage made.
  static ScriptHeapState* Of(duk_context* ctx) {
    duk_memory_functions memory;
    duk_get_memory_functions(ctx, &memory);
    return static_cast<ScriptHeapState*>(static_cast<ScriptMemory*>(memory.udata));
  }

  PageContext* page = nullptr;
  // Math.random is seeded from these when a page first asks for a number: most pages never
  // do, and seeding cost a fiftieth of a small page's time.
  std::mt19937_64 seeds;
  bool random_seeded = false;
  AutomationFailure* failure = nullptr;
  ScriptReferences* references = nullptr;
  // The bridge's finalizer function, one for every object that holds a pointer (it lives in
  // the image, so the address stays).
  void* release_finalizer = nullptr;
  // The prototypes of proxy targets, plain and callable, which carry that finalizer for them.
  void* target_prototype = nullptr;
  void* callable_target_prototype = nullptr;
  // The handler of every proxy.
  void* proxy_handler = nullptr;
  // The proxies of the page's intrinsic objects made in the image (null for the others); each
  // page gives them its own objects.
  void* intrinsics[5] = {};
  // The hidden keys of the bridge's objects, interned once and held by the stash (their
  // addresses stay, as everything in the image does), for vhost_get_own and vhost_put_own.
  struct HiddenKeys {
    void* disp = nullptr;     // the interface pointer an object holds
    void* facts = nullptr;    // the facts of its type
    void* target = nullptr;   // a member function's proxy target
    void* dispid = nullptr;   // a member function's id, when its magic cannot hold it
    void* name = nullptr;     // a member function's name, for messages
    void* item = nullptr;     // an Enumerator's current item
    void* at_end = nullptr;   // and whether it has passed the last
    void* methods = nullptr;  // the member functions kept by a page object's proxy target
  } keys;
};

class ScriptHeapImage {
 public:
  // Address space for a heap's small blocks; beyond it they come from the system allocator.
  static constexpr size_t kRegionSize = size_t{32} << 20;

  // What every page finds in the heap, put there once before the heap is recorded (globals,
  // the script bridge); it runs as a protected call, so a failure (no memory) is thrown.
  using Prepare = void (*)(duk_context* ctx);

  // Makes a heap in a region of its own, prepares it and records it; null when there is no
  // memory for it or the preparation fails.
  static std::unique_ptr<ScriptHeapImage> Create(size_t region_size = kRegionSize,
                                                 Prepare prepare = nullptr);
  // The calling thread's heap, made with prepare on first use; null when it cannot be made
  // (the next call tries again).
  static ScriptHeapImage* OfThisThread(Prepare prepare);

  ScriptHeapImage(const ScriptHeapImage&) = delete;
  ScriptHeapImage& operator=(const ScriptHeapImage&) = delete;
  ~ScriptHeapImage();

  // A fresh heap for one page (Math.random to be seeded anew); page is for the time-out check.
  duk_context* Begin(PageContext* page);
  // The same for the compiled page key (a number no other compiled page has) with the given
  // bytecode, and the heap holds the page's function for PushPageFunction. Loading a function
  // was a twentieth of a small page's time, so a heap keeps images of itself with the functions
  // of its last few pages loaded. Without memory for the function the heap is as Begin(page)
  // gives it.
  duk_context* Begin(PageContext* page, std::uint64_t key, const std::string& bytecode);
  // Pushes the function of the page that Begin was given; false, and nothing pushed, when
  // the heap does not hold it.
  bool PushPageFunction(duk_context* ctx) const;
  // Drops everything the page made and puts the heap back to its state at Begin.
  void End();

  const ScriptMemory& memory() const { return state_; }

 private:
  ScriptHeapImage(char* region, size_t region_size);

  // The images of the heap with a page's function, for a few pages.
  static constexpr size_t kPageImages = 4;
  // A page whose image would pass this size loads its function every time: an image is
  // copied back after every page.
  static constexpr size_t kLargestPageImage = size_t{4} << 20;
  struct PageImage {
    std::uint64_t key = 0;
    std::uint64_t last_used = 0;
    ScriptMemory::Image image;
  };

  // Begins a page in the heap as it is, which holds the page's function or else is put back
  // to the first image.
  duk_context* begin(PageContext* page, bool page_function);
  // Makes the heap hold key's function: from its image, or loaded into the first image and
  // recorded in place of the least recently used one. False when it cannot be loaded.
  bool hold_page(std::uint64_t key, const std::string& bytecode);

  char* region_;
  ScriptHeapState state_;
  duk_context* ctx_ = nullptr;
  std::array<PageImage, kPageImages> pages_;
  std::uint64_t uses_ = 0;
  // The image the heap was put back to, null for the first one.
  PageImage* current_ = nullptr;
  bool page_function_ = false;
};

}  // namespace vhost
