// The proxies of automation objects: their handler's traps, member calls with their arguments,
// and the default member (bridge.h).
#include <array>
#include <cmath>
#include <cstring>
#include <string_view>
#include <vector>

#include "bridge.h"
#include "bridge_internal.h"
#include "com_ptr.h"
#include "duktape_extras.h"
#include "member_facts.h"
#include "scoped_bstr.h"
#include "scoped_variant.h"
#include "script_heap_image.h"
#include "text.h"

namespace vhost {

using namespace bridge_detail;

namespace {

// A VARIANT array that clears its elements on every path out.
class ArgumentList {
 public:
  explicit ArgumentList(size_t n) : n_(n) {
    if (n > kKeptInside)
      outside_.resize(n);
    for (size_t i = 0; i < n; ++i)
      VariantInit(&data()[i]);
  }
  ~ArgumentList() {
    for (size_t i = 0; i < n_; ++i)
      if (!(data()[i].vt & VT_BYREF))
        VariantClear(&data()[i]);
  }
  ArgumentList(const ArgumentList&) = delete;
  ArgumentList& operator=(const ArgumentList&) = delete;
  VARIANT* data() {
    return n_ == 0 ? nullptr : n_ > kKeptInside ? outside_.data() : inside_.data();
  }
  VARIANT& operator[](size_t i) { return data()[i]; }
  // Made for all the arguments at the first one asked for, so that none moves afterwards.
  ScopedVariant& storage(size_t i) {
    if (storage_.empty())
      storage_.resize(n_);
    return storage_[i];
  }
  size_t size() const { return n_; }

 private:
  // Most calls pass a few arguments: those need no allocation.
  static constexpr size_t kKeptInside = 4;
  size_t n_;
  std::array<VARIANT, kKeptInside> inside_;
  std::vector<VARIANT> outside_;
  std::vector<ScopedVariant> storage_;  // what by-reference arguments point at
};

// Calls member id of object with the script values at [first, first + n), in script order; name
// (a script string) names the member in error messages.
void invoke_and_push(duk_context* ctx, IDispatch* object, const TypeFacts* facts, DISPID id,
                     WORD flags, duk_idx_t first, duk_idx_t n, const char* name) {
  ComPtr<IDispatch> keep;
  keep.Set(object);  // the script may drop its last reference while the call runs
  // Plain values for by-reference ([in, out]) parameters are passed through a temporary, as
  // script engines do.
  static const std::vector<VARTYPE> kNone;
  const std::vector<VARTYPE>& refs = facts ? facts->ByrefTypes(id, flags) : kNone;
  ArgumentList args(static_cast<size_t>(n));
  for (duk_idx_t k = 0; k < n; ++k) {
    const size_t slot = static_cast<size_t>(n - 1 - k);  // DISPPARAMS lists the last first
    VARIANT& arg = args[slot];
    if (duk_is_undefined(ctx, first + k)) {
      arg.vt = VT_ERROR;
      arg.scode = DISP_E_PARAMNOTFOUND;
      continue;
    }
    bridge_to_variant(ctx, first + k, &arg);
    const size_t position = static_cast<size_t>(k);
    if (position < refs.size() && refs[position] != VT_EMPTY) {
      ScopedVariant& store = args.storage(slot);
      store.Reset(arg);
      VariantInit(&arg);
      HRESULT hr = store.ChangeType(refs[position]);
      if (FAILED(hr))
        bridge_throw_failure(ctx, hr, nullptr, from_cesu8(name));
      arg.vt = static_cast<VARTYPE>(VT_BYREF | refs[position]);
      arg.byref = &store.AsInput()->lVal;  // the union's start, whatever the type
    }
  }
  DISPPARAMS params{args.data(), nullptr, static_cast<UINT>(n), 0};
  ScopedVariant result;
  EXCEPINFO excep{};
  UINT arg_err = 0;
  SetErrorInfo(0, nullptr);
  HRESULT hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result.Receive(),
                              &excep, &arg_err);
  if (FAILED(hr))
    bridge_throw_failure(ctx, hr, &excep, from_cesu8(name));
  check_end(ctx);
  bridge_push_variant(ctx, result.Get());
}

// The id of member name (the script's bytes) of object; facts are those of the object's type,
// or null.
bool lookup(IDispatch* object, TypeFacts* facts, std::string_view name, DISPID* id) {
  if (facts && facts->KnownId(name, id))
    return true;
  std::u16string wide = from_cesu8(name);
  LPOLESTR names[] = {wide.data()};
  if (FAILED(object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, id)))
    return false;
  if (facts)
    facts->RememberId(name, *id);
  return true;
}

// The property key at idx as a string, pushed (it stays on the stack while the bytes are used).
std::string_view key_name(duk_context* ctx, duk_idx_t idx) {
  duk_dup(ctx, idx);
  size_t size = 0;
  const char* bytes = duk_to_lstring(ctx, -1, &size);
  return std::string_view(bytes, size);
}

// A member function's magic holds its member's id, or this when the id does not fit.
constexpr duk_int_t kIdInProperty = -32768;

// A method or parameterised property read from an object: calls it with its arguments.
duk_ret_t member_call(duk_context* ctx) {
  const duk_idx_t n = duk_get_top(ctx);
  const ScriptHeapState::HiddenKeys& keys = ScriptHeapState::Of(ctx)->keys;
  duk_push_current_function(ctx);
  const duk_idx_t self = n;
  vhost_get_own(ctx, self, keys.target);
  IDispatch* object = dispatch_at(ctx, -1);
  const TypeFacts* facts = facts_at(ctx, -1, object);
  DISPID id = duk_get_current_magic(ctx);
  if (id == kIdInProperty) {
    vhost_get_own(ctx, self, keys.dispid);
    id = static_cast<DISPID>(duk_get_int(ctx, -1));
  }
  // The name is for error messages only: it stays on the stack, converted only if one is made.
  vhost_get_own(ctx, self, keys.name);
  const char* name = duk_get_string_default(ctx, -1, "");
  if (!object)
    return duk_error(ctx, DUK_ERR_TYPE_ERROR, "the object was released");
  invoke_and_push(ctx, object, facts, id, DISPATCH_METHOD | DISPATCH_PROPERTYGET, 0, n, name);
  return 1;
}

// obj[Symbol.toPrimitive], toString and valueOf: the default member's value.
duk_ret_t default_value(duk_context* ctx) {
  duk_push_this(ctx);
  IDispatch* object = dispatch_at(ctx, -1);
  duk_pop(ctx);
  if (!object) {
    duk_push_literal(ctx, "[object]");
    return 1;
  }
  ScopedVariant result;
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  EXCEPINFO excep{};
  HRESULT hr = object->Invoke(DISPID_VALUE, IID_NULL, LOCALE_USER_DEFAULT,
                              DISPATCH_METHOD | DISPATCH_PROPERTYGET, &none, result.Receive(),
                              &excep, nullptr);
  if (hr == DISP_E_MEMBERNOTFOUND || hr == DISP_E_BADPARAMCOUNT || hr == DISP_E_PARAMNOTOPTIONAL) {
    duk_push_literal(ctx, "[object]");
    return 1;
  }
  if (FAILED(hr))
    bridge_throw_failure(ctx, hr, &excep, u"default value");
  if (result.Type() == VT_DISPATCH || result.Type() == VT_UNKNOWN) {
    duk_push_literal(ctx, "[object]");
    return 1;
  }
  bridge_push_variant(ctx, result.Get());
  return 1;
}

// Proxy traps. get(target, key, receiver)
duk_ret_t trap_get(duk_context* ctx) {
  if (duk_is_symbol(ctx, 1)) {
    duk_get_global_string(ctx, "Symbol");
    duk_get_prop_literal(ctx, -1, "toPrimitive");
    const bool primitive = duk_strict_equals(ctx, 1, -1);
    duk_pop_2(ctx);
    if (primitive) {
      duk_push_c_function(ctx, default_value, 1);
      return 1;
    }
    duk_dup(ctx, 1);
    duk_get_prop(ctx, 0);  // hidden keys live on the target
    return 1;
  }
  IDispatch* object = dispatch_at(ctx, 0);
  if (!object)
    return 0;
  // A page object's proxy gives again the member functions made for it.
  const ScriptHeapState::HiddenKeys& keys = ScriptHeapState::Of(ctx)->keys;
  duk_idx_t methods = DUK_INVALID_INDEX;
  if (vhost_get_own(ctx, 0, keys.methods)) {
    methods = duk_get_top_index(ctx);
    duk_dup(ctx, 1);
    if (duk_get_prop(ctx, methods))
      return 1;
  }
  const std::string_view name = key_name(ctx, 1);
  DISPID id = DISPID_UNKNOWN;
  TypeFacts* facts = facts_at(ctx, 0, object);
  if (!lookup(object, facts, name, &id)) {
    if (name == "toString" || name == "valueOf") {
      duk_push_c_function(ctx, default_value, 0);
      return 1;
    }
    return 0;  // undefined, as a missing property of any object
  }
  const MemberKind kind = facts ? facts->Kind(id) : MemberKind::kUnknown;
  if (kind == MemberKind::kProperty || kind == MemberKind::kUnknown) {
    ComPtr<IDispatch> keep;
    keep.Set(object);
    ScopedVariant result;
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    EXCEPINFO excep{};
    SetErrorInfo(0, nullptr);
    HRESULT hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none,
                                result.Receive(), &excep, nullptr);
    if (SUCCEEDED(hr)) {
      check_end(ctx);
      bridge_push_variant(ctx, result.Get());
      return 1;
    }
    if (kind == MemberKind::kProperty ||
        (hr != DISP_E_MEMBERNOTFOUND && hr != DISP_E_BADPARAMCOUNT &&
         hr != DISP_E_PARAMNOTOPTIONAL))
      bridge_throw_failure(ctx, hr, &excep, from_cesu8(name));
  }
  duk_push_c_function(ctx, member_call, DUK_VARARGS);
  // The method keeps the proxy's target alive, and the target holds the reference, its pointer
  // and the type's facts: the method needs no reference, count or finalizer of its own, which a
  // method made for a single call used to pay for twice.
  duk_dup(ctx, 0);
  vhost_put_own(ctx, -2, keys.target);
  if (id > kIdInProperty && id <= 32767) {
    duk_set_magic(ctx, -1, static_cast<duk_int_t>(id));
  } else {
    duk_set_magic(ctx, -1, kIdInProperty);
    duk_push_int(ctx, id);
    vhost_put_own(ctx, -2, keys.dispid);
  }
  duk_dup(ctx, 1);  // the key, a string as the script wrote it
  duk_to_string(ctx, -1);
  vhost_put_own(ctx, -2, keys.name);
  if (methods != DUK_INVALID_INDEX) {
    duk_dup(ctx, 1);
    duk_dup(ctx, -2);
    duk_put_prop(ctx, methods);
  }
  return 1;
}

// Puts value under member id (a property) or under the default member with key (Session.x = v);
// name (the script's bytes) is for messages.
void put_value(duk_context* ctx, IDispatch* object, DISPID id, const std::u16string* key,
               duk_idx_t value_idx, std::string_view name) {
  ComPtr<IDispatch> keep;
  keep.Set(object);
  ArgumentList args(key ? 2 : 1);
  bridge_to_variant(ctx, value_idx, &args[0]);
  if (key) {
    args[1].vt = VT_BSTR;
    args[1].bstrVal = SysAllocStringLen(key->data(), static_cast<UINT>(key->size()));
  }
  DISPID named = DISPID_PROPERTYPUT;
  DISPPARAMS params{args.data(), &named, static_cast<UINT>(args.size()), 1};
  EXCEPINFO excep{};
  SetErrorInfo(0, nullptr);
  const bool is_object = args[0].vt == VT_DISPATCH || args[0].vt == VT_UNKNOWN;
  HRESULT hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &params,
                              nullptr, &excep, nullptr);
  if (hr == DISP_E_MEMBERNOTFOUND && is_object)
    hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUTREF, &params,
                        nullptr, &excep, nullptr);
  if (FAILED(hr))
    bridge_throw_failure(ctx, hr, &excep, from_cesu8(name));
  check_end(ctx);
}

// set(target, key, value, receiver)
duk_ret_t trap_set(duk_context* ctx) {
  IDispatch* object = dispatch_at(ctx, 0);
  if (!object || duk_is_symbol(ctx, 1))
    return duk_error(ctx, DUK_ERR_TYPE_ERROR, "cannot set this property");
  const std::string_view key = key_name(ctx, 1);
  DISPID id = DISPID_UNKNOWN;
  if (lookup(object, facts_at(ctx, 0, object), key, &id)) {
    put_value(ctx, object, id, nullptr, 2, key);
  } else {
    const std::u16string name = from_cesu8(key);
    put_value(ctx, object, DISPID_VALUE, &name, 2, key);
  }
  duk_push_true(ctx);
  return 1;
}

// has(target, key)
duk_ret_t trap_has(duk_context* ctx) {
  IDispatch* object = dispatch_at(ctx, 0);
  DISPID id = DISPID_UNKNOWN;
  duk_push_boolean(ctx, object && !duk_is_symbol(ctx, 1) &&
                            lookup(object, facts_at(ctx, 0, object), key_name(ctx, 1), &id));
  return 1;
}

// apply(target, this, args): the default member.
duk_ret_t trap_apply(duk_context* ctx) {
  IDispatch* object = dispatch_at(ctx, 0);
  if (!object)
    return duk_error(ctx, DUK_ERR_TYPE_ERROR, "the object was released");
  const duk_idx_t n = static_cast<duk_idx_t>(duk_get_length(ctx, 2));
  const duk_idx_t first = duk_get_top(ctx);
  for (duk_idx_t i = 0; i < n; ++i)
    duk_get_prop_index(ctx, 2, static_cast<duk_uarridx_t>(i));
  invoke_and_push(ctx, object, facts_at(ctx, 0, object), DISPID_VALUE,
                  DISPATCH_METHOD | DISPATCH_PROPERTYGET, first, n, "default member");
  return 1;
}

duk_ret_t trap_delete(duk_context* ctx) {
  duk_push_false(ctx);
  return 1;
}

duk_ret_t target_call(duk_context*) {
  return 0;
}  // reached through apply only

}  // namespace

namespace bridge_detail {

void install_proxy_handler(duk_context* ctx) {
  duk_push_global_stash(ctx);
  duk_push_object(ctx);
  const duk_function_list_entry traps[] = {{"get", trap_get, 3},
                                           {"set", trap_set, 4},
                                           {"has", trap_has, 2},
                                           {"apply", trap_apply, 3},
                                           {"deleteProperty", trap_delete, 2},
                                           {nullptr, nullptr, 0}};
  duk_put_function_list(ctx, -1, traps);
  ScriptHeapState::Of(ctx)->proxy_handler = duk_get_heapptr(ctx, -1);
  duk_put_prop_literal(ctx, -2, kHandlerKey);
  duk_pop(ctx);
}

}  // namespace bridge_detail

void bridge_push_dispatch(duk_context* ctx, IDispatch* object) {
  bridge_push_dispatch(ctx, object, object ? FactsOf(object) : nullptr);
}

namespace {

// Pushes a proxy target for an object of facts' type, with its prototype.
void push_target(duk_context* ctx, TypeFacts* facts) {
  // A callable target lets obj("x") reach the apply trap; objects described without a default
  // member stay plain objects, so typeof gives 'object'.
  const ScriptHeapState* state = ScriptHeapState::Of(ctx);
  if (!facts || facts->Kind(DISPID_VALUE) != MemberKind::kUnknown) {
    duk_push_c_function(ctx, target_call, DUK_VARARGS);
    duk_push_heapptr(ctx, state->callable_target_prototype);
  } else {
    duk_push_object(ctx);
    duk_push_heapptr(ctx, state->target_prototype);
  }
  duk_set_prototype(ctx, -2);
}

}  // namespace

void bridge_push_dispatch(duk_context* ctx, IDispatch* object, TypeFacts* facts) {
  if (!object) {
    duk_push_null(ctx);
    return;
  }
  push_target(ctx, facts);
  hold_pointer(ctx, object);
  attach_facts(ctx, facts);
  duk_push_heapptr(ctx, ScriptHeapState::Of(ctx)->proxy_handler);
  duk_push_proxy(ctx, 0);
}

void bridge_push_page_object_proxy(duk_context* ctx, TypeFacts* facts) {
  const ScriptHeapState* state = ScriptHeapState::Of(ctx);
  push_target(ctx, facts);
  // The pointer's place is made now, so that giving the object later fills it where it is.
  duk_push_pointer(ctx, nullptr);
  vhost_put_own(ctx, -2, state->keys.disp);
  attach_facts(ctx, facts);
  duk_push_bare_object(ctx);
  vhost_put_own(ctx, -2, state->keys.methods);
  duk_push_heapptr(ctx, state->proxy_handler);
  duk_push_proxy(ctx, 0);
}

void bridge_hold_page_object(duk_context* ctx, IDispatch* object) {
  hold_pointer(ctx, object);
}

}  // namespace vhost
