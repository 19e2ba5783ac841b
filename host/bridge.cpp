// The JavaScript <-> automation bridge (see bridge.h): its installation in a page's heap.
// Duktape is compiled as C++ with C++ exceptions, so duk_throw and duk_error unwind through the
// bridge's RAII holders.
#include "bridge.h"

#include <utility>

#include "bridge_internal.h"
#include "duktape_extras.h"
#include "script_heap_image.h"

namespace vhost {

using namespace bridge_detail;

namespace bridge_detail {

void install_hidden_keys(duk_context* ctx) {
  ScriptHeapState::HiddenKeys& keys = ScriptHeapState::Of(ctx)->keys;
  const std::pair<const char*, void**> all[] = {
      {kDispKey, &keys.disp},        {kFactsKey, &keys.facts},    {kTargetKey, &keys.target},
      {kDispIdKey, &keys.dispid},    {kNameKey, &keys.name},      {kEnumItemKey, &keys.item},
      {kEnumAtEndKey, &keys.at_end}, {kMethodsKey, &keys.methods}};
  duk_push_global_stash(ctx);
  duk_push_array(ctx);
  duk_uarridx_t i = 0;
  for (const auto& [text, slot] : all) {
    *slot = vhost_intern_key(ctx, text);
    duk_put_prop_index(ctx, -2, i++);
  }
  duk_put_prop_literal(ctx, -2, kKeysKey);
  duk_pop(ctx);
}

}  // namespace bridge_detail

void bridge_install(duk_context* ctx) {
  install_hidden_keys(ctx);
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
