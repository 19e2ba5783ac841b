// Functions of the host's Duktape build that reach into the engine's internal state.
#pragma once

#include <cstdint>

#include "duktape.h"

// Seeds Math.random of ctx's heap afresh, as making a heap does (there from the clock).
void vhost_reseed_random(duk_context* ctx, uint64_t seed);
// The next number of Math.random of ctx's heap, in [0, 1).
double vhost_random_double(duk_context* ctx);

// The engine keeps built-in functions as light functions, which have no name of their own: it
// asks vhost_light_function_name for one. This records the names the built-ins give them, once
// in the process (every heap's built-ins are the same functions).
void vhost_record_light_function_names();

// Own properties of the host's own objects under keys interned once (vhost_intern_key): a read
// or write that skips what a property access of the API does for any object (interning the key,
// walking the prototype chain for setters and inherited values, proxy traps), which the
// hidden keys of the script bridge never need. A proxy stands for its target. The key must stay
// referenced (the caller keeps it in the stash).
//
// Pushes key (a string) and returns its interned string, left on the stack.
void* vhost_intern_key(duk_context* ctx, const char* key);
// The pointer held under key by the object at idx; null when it holds none.
void* vhost_get_own_pointer(duk_context* ctx, duk_idx_t idx, void* key);
// Pushes the value held under key by the object at idx (undefined when none); true when found.
duk_bool_t vhost_get_own(duk_context* ctx, duk_idx_t idx, void* key);
// Puts the value at the top of the stack (popped) under key on the object at idx, as a writable,
// enumerable and configurable property. The object must be one the host made.
void vhost_put_own(duk_context* ctx, duk_idx_t idx, void* key);
