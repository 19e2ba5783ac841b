// The Duktape engine as the host builds it (duktape.cpp is generated next to its configuration),
// and the functions of duktape_extras.h, which need the engine's internal types.
#include "duktape.cpp"

#include "duktape_extras.h"

#include <map>
#include <mutex>
#include <new>
#include <set>
#include <string>
#include <utility>

void vhost_reseed_random(duk_context* ctx, uint64_t seed) {
  duk_heap* heap = reinterpret_cast<duk_hthread*>(ctx)->heap;
#if defined(DUK_USE_GET_RANDOM_DOUBLE)
  (void)heap;
  (void)seed;
#elif defined(DUK_USE_PREFER_SIZE) || !defined(DUK_USE_64BIT_OPS)
  heap->rnd_state = static_cast<duk_uint32_t>(seed ^ (seed >> 32));
#else
  heap->rnd_state[0] = seed;
#endif
  duk_util_tinyrandom_prepare_seed(heap->heap_thread);
}

double vhost_random_double(duk_context* ctx) {
  return duk_util_tinyrandom_get_double(reinterpret_cast<duk_hthread*>(ctx));
}

namespace {

// Light functions by function and flags (the flags carry the magic that tells functions sharing
// one C function apart), with the key they are found under.
using LightFunctionNames = std::map<std::pair<duk_c_function, duk_small_uint_t>, std::string>;

LightFunctionNames& light_function_names() {
  static LightFunctionNames names;
  return names;
}
std::once_flag light_function_names_recorded;

// Records the light functions among the own properties of the object at idx and, depth levels
// down, of the objects it holds (a constructor's prototype, say) and of its prototype. Accessors
// are not called.
void record_light_functions(duk_context* ctx, duk_idx_t idx, int depth, std::set<void*>& seen,
                            LightFunctionNames& names) {
  idx = duk_normalize_index(ctx, idx);
  if (!seen.insert(duk_get_heapptr(ctx, idx)).second)
    return;
  duk_enum(ctx, idx, DUK_ENUM_OWN_PROPERTIES_ONLY | DUK_ENUM_INCLUDE_NONENUMERABLE);
  while (duk_next(ctx, -1, 0)) {
    const std::string key = duk_safe_to_string(ctx, -1);
    duk_get_prop_desc(ctx, idx, 0);
    duk_get_prop_literal(ctx, -1, "value");
    duk_tval* value = duk_get_tval(reinterpret_cast<duk_hthread*>(ctx), -1);
    if (value && DUK_TVAL_IS_LIGHTFUNC(value)) {
      duk_c_function function = nullptr;
      duk_small_uint_t flags = 0;
      DUK_TVAL_GET_LIGHTFUNC(value, function, flags);
      names.emplace(std::make_pair(function, flags), key);
    } else if (depth > 0 && duk_is_object(ctx, -1)) {
      record_light_functions(ctx, -1, depth - 1, seen, names);
    }
    duk_pop_2(ctx);
  }
  duk_pop(ctx);
  // Methods several built-ins share sit on a prototype that no property names.
  duk_get_prototype(ctx, idx);
  if (depth > 0 && duk_is_object(ctx, -1))
    record_light_functions(ctx, -1, depth - 1, seen, names);
  duk_pop(ctx);
}

// The object at idx, a proxy's target for a proxy; null when idx holds no object.
duk_hobject* own_holder(duk_hthread* thr, duk_idx_t idx) {
  duk_tval* tv = duk_get_tval(thr, idx);
  if (!tv || !DUK_TVAL_IS_OBJECT(tv))
    return nullptr;
  duk_hobject* object = DUK_TVAL_GET_OBJECT(tv);
#if defined(DUK_USE_ES6_PROXY)
  if (DUK_HOBJECT_IS_PROXY(object))
    object = reinterpret_cast<duk_hproxy*>(object)->target;
#endif
  return object;
}

}  // namespace

void vhost_record_light_function_names() {
  std::call_once(light_function_names_recorded, [] {
    // A heap of its own, so that the walk leaves nothing in the heaps the host keeps images of.
    // Without the names a light function reads as a function with an empty name.
    duk_context* ctx = duk_create_heap_default();
    if (!ctx)
      return;
    LightFunctionNames names;
    const auto walk = [](duk_context* walked, void* udata) -> duk_ret_t {
      try {
        std::set<void*> seen;
        duk_push_global_object(walked);
        record_light_functions(walked, -1, 3, seen, *static_cast<LightFunctionNames*>(udata));
      } catch (const std::bad_alloc&) {
        static_cast<LightFunctionNames*>(udata)->clear();
      }
      return 0;
    };
    if (duk_safe_call(ctx, walk, &names, 0, 1) == DUK_EXEC_SUCCESS)
      light_function_names() = std::move(names);
    duk_destroy_heap(ctx);
  });
}

const char* vhost_light_function_name(duk_c_function func, duk_small_uint_t flags) {
  const LightFunctionNames& names = light_function_names();
  const auto found = names.find(std::make_pair(func, flags));
  return found == names.end() ? "" : found->second.c_str();
}

void* vhost_intern_key(duk_context* ctx, const char* key) {
  duk_push_string(ctx, key);
  return duk_get_heapptr(ctx, -1);
}

void* vhost_get_own_pointer(duk_context* ctx, duk_idx_t idx, void* key) {
  auto* thr = reinterpret_cast<duk_hthread*>(ctx);
  duk_hobject* object = own_holder(thr, idx);
  if (!object)
    return nullptr;
  duk_tval* value =
      duk_hobject_find_entry_tval_ptr(thr->heap, object, static_cast<duk_hstring*>(key));
  return value && DUK_TVAL_IS_POINTER(value) ? DUK_TVAL_GET_POINTER(value) : nullptr;
}

duk_bool_t vhost_get_own(duk_context* ctx, duk_idx_t idx, void* key) {
  auto* thr = reinterpret_cast<duk_hthread*>(ctx);
  duk_hobject* object = own_holder(thr, idx);
  duk_tval* value =
      object ? duk_hobject_find_entry_tval_ptr(thr->heap, object, static_cast<duk_hstring*>(key))
             : nullptr;
  if (!value) {
    duk_push_undefined(ctx);
    return 0;
  }
  duk_push_tval(thr, value);
  return 1;
}

void vhost_put_own(duk_context* ctx, duk_idx_t idx, void* key) {
  auto* thr = reinterpret_cast<duk_hthread*>(ctx);
  duk_hobject* object = own_holder(thr, idx);
  if (!object) {
    duk_pop(ctx);
    return;
  }
  auto* name = static_cast<duk_hstring*>(key);
  duk_tval* slot = duk_hobject_find_entry_tval_ptr(thr->heap, object, name);
  if (slot) {
    // Releasing the old value may run finalizers: the new one is taken first.
    duk_tval* value = duk_get_tval(thr, -1);
    DUK_TVAL_SET_TVAL_UPDREF(thr, slot, value);
    duk_pop(ctx);
    return;
  }
  duk_hobject_define_property_internal(thr, object, name, DUK_PROPDESC_FLAGS_WEC);
}
