// The page state of a heap, and the references to interface pointers that script objects
// hold (bridge_internal.h, bridge.h).
#include <utility>

#include "bridge.h"
#include "bridge_internal.h"
#include "duktape_extras.h"
#include "member_facts.h"
#include "page_context.h"
#include "script_heap_image.h"

namespace vhost {
namespace bridge_detail {

namespace {

duk_ret_t release_finalizer(duk_context* ctx) {
  ScriptHeapState* state = ScriptHeapState::Of(ctx);
  auto* p = static_cast<IUnknown*>(vhost_get_own_pointer(ctx, 0, state->keys.disp));
  if (p) {
    duk_push_pointer(ctx, nullptr);
    vhost_put_own(ctx, 0, state->keys.disp);  // finalizers can run more than once
    if (ScriptReferences* references = state->references)
      references->Forget(p);
    p->Release();
  }
  return 0;
}

// Makes a prototype for proxy targets that carries the finalizer at the top of the stack
// (Duktape looks a finalizer up the prototype chain: a target that inherits it needs no
// property of its own, and one property fewer keeps its table from growing twice). It inherits
// from the prototype of the global constructor named parent (Object's when null) and is put
// under key into the stash just below the finalizer. Returns its address.
void* put_finalizing_prototype(duk_context* ctx, const char* parent, const char* key) {
  duk_push_object(ctx);
  if (parent) {
    duk_get_global_string(ctx, parent);
    duk_get_prop_literal(ctx, -1, "prototype");
    duk_set_prototype(ctx, -3);
    duk_pop(ctx);
  }
  duk_dup(ctx, -2);
  duk_set_finalizer(ctx, -2);
  void* prototype = duk_get_heapptr(ctx, -1);
  duk_put_prop_string(ctx, -3, key);
  return prototype;
}

}  // namespace

void install_release_finalizer(duk_context* ctx) {
  ScriptHeapState* state = ScriptHeapState::Of(ctx);
  duk_push_global_stash(ctx);
  duk_push_c_function(ctx, release_finalizer, 2);
  state->release_finalizer = duk_get_heapptr(ctx, -1);
  state->target_prototype = put_finalizing_prototype(ctx, nullptr, kTargetPrototypeKey);
  state->callable_target_prototype =
      put_finalizing_prototype(ctx, "Function", kCallableTargetPrototypeKey);
  duk_put_prop_literal(ctx, -2, kFinalizerKey);
  duk_pop(ctx);
}

PageContext* page_of(duk_context* ctx) {
  return ScriptHeapState::Of(ctx)->page;
}

// The interface pointer kept on an object (a proxy target, a proxy), or on the proxy target a
// member function holds.
IDispatch* dispatch_at(duk_context* ctx, duk_idx_t idx) {
  const ScriptHeapState::HiddenKeys& keys = ScriptHeapState::Of(ctx)->keys;
  if (void* p = vhost_get_own_pointer(ctx, idx, keys.disp))
    return static_cast<IDispatch*>(p);
  idx = duk_normalize_index(ctx, idx);
  void* p = nullptr;
  if (vhost_get_own(ctx, idx, keys.target))
    p = vhost_get_own_pointer(ctx, -1, keys.disp);
  duk_pop(ctx);
  return static_cast<IDispatch*>(p);
}

TypeFacts* facts_at(duk_context* ctx, duk_idx_t idx, IDispatch* object) {
  auto* facts = static_cast<TypeFacts*>(
      vhost_get_own_pointer(ctx, idx, ScriptHeapState::Of(ctx)->keys.facts));
  return facts || !object ? facts : FactsOf(object);
}

void attach_facts(duk_context* ctx, TypeFacts* facts) {
  if (!facts)
    return;
  duk_push_pointer(ctx, facts);
  vhost_put_own(ctx, -2, ScriptHeapState::Of(ctx)->keys.facts);
}

void hold_pointer(duk_context* ctx, IUnknown* p) {
  ScriptHeapState* state = ScriptHeapState::Of(ctx);
  if (state->references)
    state->references->Hold(p);
  p->AddRef();
  duk_push_pointer(ctx, p);
  vhost_put_own(ctx, -2, state->keys.disp);
}

void attach_pointer(duk_context* ctx, IUnknown* p) {
  hold_pointer(ctx, p);
  duk_push_heapptr(ctx, ScriptHeapState::Of(ctx)->release_finalizer);
  duk_set_finalizer(ctx, -2);
}

void check_end(duk_context* ctx) {
  PageContext* page = page_of(ctx);
  if (page && page->ended)
    bridge_throw_end(ctx);
}

}  // namespace bridge_detail

void ScriptReferences::Hold(IUnknown* p) {
  for (size_t i = 0; i < listed_count_; ++i)
    if (listed_[i].p == p) {
      ++listed_[i].count;
      return;
    }
  if (listed_count_ < kListed)
    listed_[listed_count_++] = {p, 1};
  else
    ++more_[p];
}

void ScriptReferences::Forget(IUnknown* p) {
  for (size_t i = 0; i < listed_count_; ++i)
    if (listed_[i].p == p) {
      if (--listed_[i].count == 0)
        listed_[i] = listed_[--listed_count_];
      return;
    }
  const auto found = more_.find(p);
  if (found != more_.end() && --found->second == 0)
    more_.erase(found);
}

void ScriptReferences::ReleaseAll() {
  // The lists are emptied first, so that nothing a Release sets off can change them under the
  // walk.
  const std::array<Held, kListed> listed = listed_;
  const size_t listed_count = std::exchange(listed_count_, 0);
  auto more = std::move(more_);
  more_.clear();
  for (size_t i = 0; i < listed_count; ++i)
    for (size_t n = 0; n < listed[i].count; ++n)
      listed[i].p->Release();
  for (auto& [p, count] : more)
    for (size_t i = 0; i < count; ++i)
      p->Release();
}

}  // namespace vhost
