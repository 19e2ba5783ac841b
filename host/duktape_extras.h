// Functions of the host's Duktape build that reach into the engine's internal state.
#pragma once

#include <cstdint>

#include "duktape.h"

// Seeds Math.random of ctx's heap afresh, as making a heap does (there from the clock).
void vhost_reseed_random(duk_context* ctx, uint64_t seed);
