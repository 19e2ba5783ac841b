// Enumerator: new Enumerator(collection) walks the collection's _NewEnum (bridge.h).
#include "bridge.h"
#include "bridge_internal.h"
#include "com_ptr.h"
#include "duktape_extras.h"
#include "oleauto.h"
#include "scoped_variant.h"
#include "script_heap_image.h"
#include "winnls.h"

namespace vhost {

using namespace bridge_detail;

namespace {

void enum_fetch(duk_context* ctx, duk_idx_t self) {
  const ScriptHeapState::HiddenKeys& keys = ScriptHeapState::Of(ctx)->keys;
  auto* e = static_cast<IEnumVARIANT*>(vhost_get_own_pointer(ctx, self, keys.disp));
  ScopedVariant item;
  ULONG fetched = 0;
  HRESULT hr = e ? e->Next(1, item.Receive(), &fetched) : S_FALSE;
  if (FAILED(hr))
    bridge_throw_failure(ctx, hr, nullptr, u"Enumerator");
  const bool at_end = hr != S_OK || fetched != 1;
  duk_push_boolean(ctx, at_end);
  vhost_put_own(ctx, self, keys.at_end);
  if (at_end)
    duk_push_undefined(ctx);
  else
    bridge_push_variant(ctx, item.Get());
  vhost_put_own(ctx, self, keys.item);
}

duk_ret_t enum_construct(duk_context* ctx) {
  if (!duk_is_constructor_call(ctx))
    return duk_error(ctx, DUK_ERR_TYPE_ERROR, "Enumerator must be called with new");
  duk_push_this(ctx);
  const duk_idx_t self = duk_get_top_index(ctx);
  IDispatch* collection = dispatch_at(ctx, 0);
  if (!collection)
    return duk_error(ctx, DUK_ERR_TYPE_ERROR, "Enumerator needs a collection object");
  ComPtr<IDispatch> keep;
  keep.Set(collection);
  ScopedVariant result;
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  EXCEPINFO excep{};
  SetErrorInfo(0, nullptr);
  HRESULT hr = collection->Invoke(DISPID_NEWENUM, IID_NULL, LOCALE_USER_DEFAULT,
                                  DISPATCH_METHOD | DISPATCH_PROPERTYGET, &none, result.Receive(),
                                  &excep, nullptr);
  if (FAILED(hr))
    bridge_throw_failure(ctx, hr, &excep, u"_NewEnum");
  IUnknown* unknown = (result.Type() == VT_UNKNOWN || result.Type() == VT_DISPATCH)
                          ? result.Get().punkVal
                          : nullptr;
  ComPtr<IEnumVARIANT> e;
  if (!unknown ||
      FAILED(unknown->QueryInterface(IID_IEnumVARIANT, reinterpret_cast<void**>(e.Receive()))))
    bridge_throw_failure(ctx, E_NOINTERFACE, nullptr, u"Enumerator");
  duk_dup(ctx, self);
  attach_pointer(ctx, e.Get());
  duk_pop(ctx);
  enum_fetch(ctx, self);
  return 0;
}

duk_ret_t enum_at_end(duk_context* ctx) {
  duk_push_this(ctx);
  vhost_get_own(ctx, -1, ScriptHeapState::Of(ctx)->keys.at_end);
  duk_push_boolean(ctx, duk_is_undefined(ctx, -1) || duk_to_boolean(ctx, -1));
  return 1;
}

duk_ret_t enum_item(duk_context* ctx) {
  duk_push_this(ctx);
  vhost_get_own(ctx, -1, ScriptHeapState::Of(ctx)->keys.item);
  return 1;
}

duk_ret_t enum_move_next(duk_context* ctx) {
  duk_push_this(ctx);
  enum_fetch(ctx, duk_get_top_index(ctx));
  return 0;
}

duk_ret_t enum_move_first(duk_context* ctx) {
  duk_push_this(ctx);
  const duk_idx_t self = duk_get_top_index(ctx);
  auto* e = static_cast<IEnumVARIANT*>(
      vhost_get_own_pointer(ctx, self, ScriptHeapState::Of(ctx)->keys.disp));
  if (e)
    e->Reset();
  enum_fetch(ctx, self);
  return 0;
}

}  // namespace

namespace bridge_detail {

void install_enumerator(duk_context* ctx) {
  duk_push_c_function(ctx, enum_construct, 1);
  duk_push_object(ctx);
  const duk_function_list_entry methods[] = {{"atEnd", enum_at_end, 0},
                                             {"item", enum_item, 0},
                                             {"moveNext", enum_move_next, 0},
                                             {"moveFirst", enum_move_first, 0},
                                             {nullptr, nullptr, 0}};
  duk_put_function_list(ctx, -1, methods);
  duk_put_prop_literal(ctx, -2, "prototype");
  duk_put_global_string(ctx, "Enumerator");
}

}  // namespace bridge_detail
}  // namespace vhost
