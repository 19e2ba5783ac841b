// The JavaScript <-> automation bridge (see bridge.h): its installation in a page's heap.
// Duktape is compiled as C++ with C++ exceptions, so duk_throw and duk_error unwind through the
// bridge's RAII holders.
#include "bridge.h"

#include "bridge_internal.h"
#include "script_heap_image.h"

namespace vhost {

using namespace bridge_detail;

void bridge_install(duk_context* ctx) {
  duk_push_global_stash(ctx);
  duk_push_bare_object(ctx);
  duk_put_prop_literal(ctx, -2, kEndKey);
  duk_pop(ctx);
  install_release_finalizer(ctx);
  install_proxy_handler(ctx);
  install_enumerator(ctx);
}

void bridge_begin_page(duk_context* ctx, AutomationFailure* last_failure,
                       ScriptReferences* references) {
  ScriptHeapState* state = ScriptHeapState::Of(ctx);
  state->failure = last_failure;
  state->references = references;
}

}  // namespace vhost
