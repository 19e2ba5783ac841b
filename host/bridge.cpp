// The JavaScript <-> automation bridge (see bridge.h): its installation in a page's heap.
// Duktape is compiled as C++ with C++ exceptions, so duk_throw and duk_error unwind through the
// bridge's RAII holders.
#include "bridge.h"

#include "bridge_internal.h"

namespace vhost {

using namespace bridge_detail;

void bridge_install(duk_context* ctx) {
  duk_push_global_stash(ctx);
  duk_push_bare_object(ctx);
  duk_put_prop_literal(ctx, -2, kEndKey);
  duk_pop(ctx);
  install_proxy_handler(ctx);
  install_enumerator(ctx);
}

void bridge_begin_page(duk_context* ctx, PageContext* page, AutomationFailure* last_failure,
                       ScriptReferences* references) {
  duk_push_global_stash(ctx);
  duk_push_pointer(ctx, page);
  duk_put_prop_literal(ctx, -2, kPageKey);
  duk_push_pointer(ctx, references);
  duk_put_prop_literal(ctx, -2, kReferencesKey);
  duk_push_pointer(ctx, last_failure);
  duk_put_prop_literal(ctx, -2, kFailureKey);
  duk_pop(ctx);
}

}  // namespace vhost
