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
