// The Duktape engine as the host builds it (duktape.cpp is generated next to its configuration),
// and the functions of duktape_extras.h, which need the engine's internal types.
#include "duktape.cpp"

#include "duktape_extras.h"

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
