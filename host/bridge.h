// The bridge between page scripts (Duktape) and automation objects, through IDispatch and the
// objects' type information only. Each object is an ES6 Proxy whose target holds the
// interface pointer (released by the target's finalizer, or with the page's other references
// when its heap is dropped): property reads call the property
// at once, methods and parameterised properties come back as functions, calling the object
// itself calls its default member, and `new Enumerator(c)` walks _NewEnum. A failed call is
// thrown as an Error with `number` (the HRESULT) and `description`.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <unordered_map>

#include "duktape.h"
#include "oaidl.h"

namespace vhost {

class PageContext;
class TypeFacts;

struct AutomationFailure {
  bool happened = false;
  HRESULT hr = S_OK;
  std::u16string description;
};

// The interface pointers a page's proxies hold, one count for each proxy. A page's heap is
// dropped without running finalizers, so what is still held then is let go by ReleaseAll.
class ScriptReferences {
 public:
  ScriptReferences() = default;
  ScriptReferences(const ScriptReferences&) = delete;
  ScriptReferences& operator=(const ScriptReferences&) = delete;
  ~ScriptReferences() { ReleaseAll(); }

  // A proxy took a reference to p.
  void Hold(IUnknown* p);
  // A proxy's finalizer is letting go of its reference to p.
  void Forget(IUnknown* p);
  // Releases every reference still held.
  void ReleaseAll();

 private:
  // A page holds a few objects at a time as a rule: they are counted in a short list, the
  // rest in a map.
  static constexpr size_t kListed = 16;
  struct Held {
    IUnknown* p;
    size_t count;
  };
  std::array<Held, kListed> listed_;
  size_t listed_count_ = 0;
  std::unordered_map<IUnknown*, size_t> more_;
};

// Prepares a fresh heap made by a ScriptHeapImage: the proxy handler, Enumerator, the
// finalizer of objects that hold pointers and the end-of-page value. A heap that serves page
// after page from an image has them in the image.
void bridge_install(duk_context* ctx);
// Gives the bridge what the page running in the heap (ScriptHeapImage::Begin's) reports into,
// kept in the heap's state until the heap's End: its failure, and the references its proxies
// hold (none are counted when references is null).
void bridge_begin_page(duk_context* ctx, AutomationFailure* last_failure,
                       ScriptReferences* references);

// Pushes a JavaScript value for v (objects as proxies; byte arrays as Uint8Array).
void bridge_push_variant(duk_context* ctx, const VARIANT& v);
// Pushes a proxy for object (null for a null pointer).
void bridge_push_dispatch(duk_context* ctx, IDispatch* object);
// The same for an object whose type's facts the caller knows (FactsOfType).
void bridge_push_dispatch(duk_context* ctx, IDispatch* object, TypeFacts* facts);
// Pushes a proxy, made ahead in the heap's image, for an object of the type facts describe that
// every page gets anew and holds to its end (an intrinsic); bridge_hold_page_object gives it the
// page's object. Its member functions are made once a page and given again at every later read,
// which a loop of Response.Write would otherwise pay for at every turn.
void bridge_push_page_object_proxy(duk_context* ctx, TypeFacts* facts);
// Gives the page object proxy at the top of the stack the page's object, held to the page's end.
void bridge_hold_page_object(duk_context* ctx, IDispatch* object);
// Converts the value at idx; the caller clears *out.
void bridge_to_variant(duk_context* ctx, duk_idx_t idx, VARIANT* out);

// Throws a failed call's status as an Error with number and description (from pExcep when
// hr is DISP_E_EXCEPTION, otherwise, or when it has none, from the thread's error information).
[[noreturn]] void bridge_throw_failure(duk_context* ctx, HRESULT hr, EXCEPINFO* excep,
                                       const std::u16string& member);

// Throws the end-of-page value (Response.End) into the script.
[[noreturn]] void bridge_throw_end(duk_context* ctx);
// True when the value at idx is the end-of-page value.
bool bridge_is_end(duk_context* ctx, duk_idx_t idx);

}  // namespace vhost
