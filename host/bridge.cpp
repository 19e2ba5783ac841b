// The JavaScript <-> automation bridge (see bridge.h). Duktape is compiled as C++ with C++
// exceptions, so duk_throw and duk_error unwind through this file's RAII holders.
#include "bridge.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "com_ptr.h"
#include "dispatch_object.h"
#include "member_facts.h"
#include "page_context.h"
#include "scoped_bstr.h"
#include "scoped_safearray.h"
#include "scoped_variant.h"
#include "text.h"

namespace vhost {

namespace {

// Hidden symbols (a leading 0xFF byte) are invisible to scripts.
constexpr char kDispKey[] =
    "\xFF"
    "disp";
constexpr char kDispIdKey[] =
    "\xFF"
    "dispid";
constexpr char kHandlerKey[] =
    "\xFF"
    "handler";
constexpr char kPageKey[] =
    "\xFF"
    "page";
constexpr char kFailureKey[] =
    "\xFF"
    "failure";
constexpr char kReferencesKey[] =
    "\xFF"
    "references";
constexpr char kEndKey[] =
    "\xFF"
    "end";
constexpr char kEnumItemKey[] =
    "\xFF"
    "item";
constexpr char kEnumAtEndKey[] =
    "\xFF"
    "atEnd";

void* stash_pointer(duk_context* ctx, const char* key) {
  duk_push_global_stash(ctx);
  duk_get_prop_string(ctx, -1, key);
  void* p = duk_get_pointer(ctx, -1);
  duk_pop_2(ctx);
  return p;
}

PageContext* page_of(duk_context* ctx) {
  return static_cast<PageContext*>(stash_pointer(ctx, kPageKey));
}

// The interface pointer kept on an object (a proxy target, a member function, a proxy).
IDispatch* dispatch_at(duk_context* ctx, duk_idx_t idx) {
  if (!duk_is_object(ctx, idx))
    return nullptr;
  duk_get_prop_string(ctx, idx, kDispKey);
  auto* p = static_cast<IDispatch*>(duk_get_pointer(ctx, -1));
  duk_pop(ctx);
  return p;
}

// A VARIANT array that clears its elements on every path out.
class ArgumentList {
 public:
  explicit ArgumentList(size_t n) : args_(n), storage_(n) {
    for (VARIANT& v : args_)
      VariantInit(&v);
  }
  ~ArgumentList() {
    for (VARIANT& v : args_)
      if (!(v.vt & VT_BYREF))
        VariantClear(&v);
  }
  ArgumentList(const ArgumentList&) = delete;
  ArgumentList& operator=(const ArgumentList&) = delete;
  VARIANT* data() { return args_.empty() ? nullptr : args_.data(); }
  VARIANT& operator[](size_t i) { return args_[i]; }
  ScopedVariant& storage(size_t i) { return storage_[i]; }
  size_t size() const { return args_.size(); }

 private:
  std::vector<VARIANT> args_;
  std::vector<ScopedVariant> storage_;  // what by-reference arguments point at
};

std::string hresult_text(HRESULT hr) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
  return text;
}

// Throws the failure of a call as an Error with number and description.
[[noreturn]] void throw_failure(duk_context* ctx, HRESULT hr, EXCEPINFO* excep,
                                const std::u16string& member) {
  std::u16string description;
  if (hr == DISP_E_EXCEPTION && excep) {
    if (excep->pfnDeferredFillIn)
      excep->pfnDeferredFillIn(excep);
    description = excep->bstrDescription ? std::u16string(excep->bstrDescription) : u"";
    if (excep->scode)
      hr = excep->scode;
    else if (excep->wCode)
      hr = static_cast<HRESULT>(0x80040200u + excep->wCode);
  } else {
    description = take_error_description();
  }
  if (excep) {
    SysFreeString(excep->bstrSource);
    SysFreeString(excep->bstrDescription);
    SysFreeString(excep->bstrHelpFile);
    *excep = EXCEPINFO{};
  }
  if (description.empty()) {
    switch (hr) {
      case DISP_E_MEMBERNOTFOUND:
        description = u"Object doesn't support this property or method";
        break;
      case DISP_E_UNKNOWNNAME:
        description = u"Object doesn't support this property or method";
        break;
      case DISP_E_BADPARAMCOUNT:
        description = u"Wrong number of arguments or invalid property assignment";
        break;
      case DISP_E_TYPEMISMATCH:
        description = u"Type mismatch";
        break;
      case DISP_E_PARAMNOTOPTIONAL:
        description = u"Argument not optional";
        break;
      case DISP_E_OVERFLOW:
        description = u"Overflow";
        break;
      case E_OUTOFMEMORY:
        description = u"Out of memory";
        break;
      default:
        break;
    }
  }
  auto* failure = static_cast<AutomationFailure*>(stash_pointer(ctx, kFailureKey));
  if (failure) {
    failure->happened = true;
    failure->hr = hr;
    failure->description = description;
  }
  std::string message = to_cesu8(description);
  if (message.empty())
    message = "Automation error " + hresult_text(hr);
  if (!member.empty())
    message += " (" + to_cesu8(member) + ")";
  duk_push_error_object(ctx, DUK_ERR_ERROR, "%s", message.c_str());
  duk_push_int(ctx, static_cast<duk_int_t>(hr));
  duk_put_prop_string(ctx, -2, "number");
  duk_push_string(ctx, to_cesu8(description).c_str());
  duk_put_prop_string(ctx, -2, "description");
  duk_throw(ctx);
  __builtin_unreachable();  // duk_throw raises a C++ exception in this build
}

void check_end(duk_context* ctx) {
  PageContext* page = page_of(ctx);
  if (page && page->ended)
    bridge_throw_end(ctx);
}

// Calls member id of object with the script values at [first, first + n), in script order.
void invoke_and_push(duk_context* ctx, IDispatch* object, DISPID id, WORD flags, duk_idx_t first,
                     duk_idx_t n, const std::u16string& name) {
  ComPtr<IDispatch> keep;
  keep.Set(object);  // the script may drop its last reference while the call runs
  // Plain values for by-reference ([in, out]) parameters are passed through a temporary, as
  // script engines do.
  static const std::vector<VARTYPE> kNone;
  const TypeFacts* facts = FactsOf(object);
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
        throw_failure(ctx, hr, nullptr, name);
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
    throw_failure(ctx, hr, &excep, name);
  check_end(ctx);
  bridge_push_variant(ctx, result.Get());
}

// The id of member name of object; facts are those of the object's type, or null.
bool lookup(IDispatch* object, TypeFacts* facts, const std::u16string& name, DISPID* id) {
  if (facts && facts->KnownId(name, id))
    return true;
  std::u16string copy = name;
  LPOLESTR names[] = {copy.data()};
  if (FAILED(object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, id)))
    return false;
  if (facts)
    facts->RememberId(name, *id);
  return true;
}

duk_ret_t release_finalizer(duk_context* ctx) {
  duk_get_prop_string(ctx, 0, kDispKey);
  auto* p = static_cast<IUnknown*>(duk_get_pointer(ctx, -1));
  duk_pop(ctx);
  if (p) {
    duk_push_pointer(ctx, nullptr);
    duk_put_prop_string(ctx, 0, kDispKey);  // finalizers can run more than once
    if (auto* references = static_cast<ScriptReferences*>(stash_pointer(ctx, kReferencesKey)))
      references->Forget(p);
    p->Release();
  }
  return 0;
}

void attach_pointer(duk_context* ctx, IUnknown* p) {
  if (auto* references = static_cast<ScriptReferences*>(stash_pointer(ctx, kReferencesKey)))
    references->Hold(p);
  p->AddRef();
  duk_push_pointer(ctx, p);
  duk_put_prop_string(ctx, -2, kDispKey);
  duk_push_c_function(ctx, release_finalizer, 2);
  duk_set_finalizer(ctx, -2);
}

std::u16string key_name(duk_context* ctx, duk_idx_t idx) {
  duk_dup(ctx, idx);
  std::u16string name = from_cesu8(duk_to_string(ctx, -1));
  duk_pop(ctx);
  return name;
}

// A method or parameterised property read from an object: calls it with its arguments.
duk_ret_t member_call(duk_context* ctx) {
  const duk_idx_t n = duk_get_top(ctx);
  duk_push_current_function(ctx);
  IDispatch* object = dispatch_at(ctx, -1);
  duk_get_prop_string(ctx, -1, kDispIdKey);
  const DISPID id = static_cast<DISPID>(duk_get_int(ctx, -1));
  duk_get_prop_string(ctx, -2, "name");
  const std::u16string name = from_cesu8(duk_get_string_default(ctx, -1, ""));
  duk_pop_3(ctx);
  if (!object)
    return duk_error(ctx, DUK_ERR_TYPE_ERROR, "the object was released");
  invoke_and_push(ctx, object, id, DISPATCH_METHOD | DISPATCH_PROPERTYGET, 0, n, name);
  return 1;
}

// obj[Symbol.toPrimitive], toString and valueOf: the default member's value.
duk_ret_t default_value(duk_context* ctx) {
  duk_push_this(ctx);
  IDispatch* object = dispatch_at(ctx, -1);
  duk_pop(ctx);
  if (!object) {
    duk_push_string(ctx, "[object]");
    return 1;
  }
  ScopedVariant result;
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  EXCEPINFO excep{};
  HRESULT hr = object->Invoke(DISPID_VALUE, IID_NULL, LOCALE_USER_DEFAULT,
                              DISPATCH_METHOD | DISPATCH_PROPERTYGET, &none, result.Receive(),
                              &excep, nullptr);
  if (hr == DISP_E_MEMBERNOTFOUND || hr == DISP_E_BADPARAMCOUNT || hr == DISP_E_PARAMNOTOPTIONAL) {
    duk_push_string(ctx, "[object]");
    return 1;
  }
  if (FAILED(hr))
    throw_failure(ctx, hr, &excep, u"default value");
  if (result.Type() == VT_DISPATCH || result.Type() == VT_UNKNOWN) {
    duk_push_string(ctx, "[object]");
    return 1;
  }
  bridge_push_variant(ctx, result.Get());
  return 1;
}

// Proxy traps. get(target, key, receiver)
duk_ret_t trap_get(duk_context* ctx) {
  if (duk_is_symbol(ctx, 1)) {
    duk_get_global_string(ctx, "Symbol");
    duk_get_prop_string(ctx, -1, "toPrimitive");
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
  const std::u16string name = key_name(ctx, 1);
  DISPID id = DISPID_UNKNOWN;
  TypeFacts* facts = FactsOf(object);
  if (!lookup(object, facts, name, &id)) {
    if (name == u"toString" || name == u"valueOf") {
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
      throw_failure(ctx, hr, &excep, name);
  }
  duk_push_c_function(ctx, member_call, DUK_VARARGS);
  attach_pointer(ctx, object);
  duk_push_int(ctx, id);
  duk_put_prop_string(ctx, -2, kDispIdKey);
  duk_push_string(ctx, "name");
  duk_push_string(ctx, to_cesu8(name).c_str());
  duk_def_prop(ctx, -3, DUK_DEFPROP_HAVE_VALUE | DUK_DEFPROP_FORCE);
  return 1;
}

// Puts value under member id (a property) or under the default member with key (Session.x = v).
void put_value(duk_context* ctx, IDispatch* object, DISPID id, const std::u16string* key,
               duk_idx_t value_idx, const std::u16string& name) {
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
    throw_failure(ctx, hr, &excep, name);
  check_end(ctx);
}

// set(target, key, value, receiver)
duk_ret_t trap_set(duk_context* ctx) {
  IDispatch* object = dispatch_at(ctx, 0);
  if (!object || duk_is_symbol(ctx, 1))
    return duk_error(ctx, DUK_ERR_TYPE_ERROR, "cannot set this property");
  const std::u16string name = key_name(ctx, 1);
  DISPID id = DISPID_UNKNOWN;
  if (lookup(object, FactsOf(object), name, &id))
    put_value(ctx, object, id, nullptr, 2, name);
  else
    put_value(ctx, object, DISPID_VALUE, &name, 2, name);
  duk_push_true(ctx);
  return 1;
}

// has(target, key)
duk_ret_t trap_has(duk_context* ctx) {
  IDispatch* object = dispatch_at(ctx, 0);
  DISPID id = DISPID_UNKNOWN;
  duk_push_boolean(ctx, object && !duk_is_symbol(ctx, 1) &&
                            lookup(object, FactsOf(object), key_name(ctx, 1), &id));
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
  invoke_and_push(ctx, object, DISPID_VALUE, DISPATCH_METHOD | DISPATCH_PROPERTYGET, first, n,
                  u"default member");
  return 1;
}

duk_ret_t trap_delete(duk_context* ctx) {
  duk_push_false(ctx);
  return 1;
}

duk_ret_t target_call(duk_context*) {
  return 0;
}  // reached through apply only

// Enumerator: new Enumerator(collection) over its _NewEnum.
void enum_fetch(duk_context* ctx, duk_idx_t self) {
  duk_get_prop_string(ctx, self, kDispKey);
  auto* e = static_cast<IEnumVARIANT*>(duk_get_pointer(ctx, -1));
  duk_pop(ctx);
  ScopedVariant item;
  ULONG fetched = 0;
  HRESULT hr = e ? e->Next(1, item.Receive(), &fetched) : S_FALSE;
  if (FAILED(hr))
    throw_failure(ctx, hr, nullptr, u"Enumerator");
  const bool at_end = hr != S_OK || fetched != 1;
  duk_push_boolean(ctx, at_end);
  duk_put_prop_string(ctx, self, kEnumAtEndKey);
  if (at_end)
    duk_push_undefined(ctx);
  else
    bridge_push_variant(ctx, item.Get());
  duk_put_prop_string(ctx, self, kEnumItemKey);
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
    throw_failure(ctx, hr, &excep, u"_NewEnum");
  IUnknown* unknown = (result.Type() == VT_UNKNOWN || result.Type() == VT_DISPATCH)
                          ? result.Get().punkVal
                          : nullptr;
  ComPtr<IEnumVARIANT> e;
  if (!unknown ||
      FAILED(unknown->QueryInterface(IID_IEnumVARIANT, reinterpret_cast<void**>(e.Receive()))))
    throw_failure(ctx, E_NOINTERFACE, nullptr, u"Enumerator");
  duk_dup(ctx, self);
  attach_pointer(ctx, e.Get());
  duk_pop(ctx);
  enum_fetch(ctx, self);
  return 0;
}

duk_ret_t enum_at_end(duk_context* ctx) {
  duk_push_this(ctx);
  duk_get_prop_string(ctx, -1, kEnumAtEndKey);
  duk_push_boolean(ctx, duk_is_undefined(ctx, -1) || duk_to_boolean(ctx, -1));
  return 1;
}

duk_ret_t enum_item(duk_context* ctx) {
  duk_push_this(ctx);
  duk_get_prop_string(ctx, -1, kEnumItemKey);
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
  duk_get_prop_string(ctx, self, kDispKey);
  auto* e = static_cast<IEnumVARIANT*>(duk_get_pointer(ctx, -1));
  duk_pop(ctx);
  if (e)
    e->Reset();
  enum_fetch(ctx, self);
  return 0;
}

}  // namespace

[[noreturn]] void bridge_throw_failure(duk_context* ctx, HRESULT hr, EXCEPINFO* excep,
                                       const std::u16string& member) {
  throw_failure(ctx, hr, excep, member);
}

[[noreturn]] void bridge_throw_end(duk_context* ctx) {
  duk_push_global_stash(ctx);
  duk_get_prop_string(ctx, -1, kEndKey);
  duk_remove(ctx, -2);
  duk_throw(ctx);
  __builtin_unreachable();  // duk_throw raises a C++ exception in this build
}

bool bridge_is_end(duk_context* ctx, duk_idx_t idx) {
  idx = duk_normalize_index(ctx, idx);
  duk_push_global_stash(ctx);
  duk_get_prop_string(ctx, -1, kEndKey);
  const bool same = duk_strict_equals(ctx, idx, -1);
  duk_pop_2(ctx);
  return same;
}

void ScriptReferences::Hold(IUnknown* p) {
  ++held_[p];
}

void ScriptReferences::Forget(IUnknown* p) {
  const auto found = held_.find(p);
  if (found != held_.end() && --found->second == 0)
    held_.erase(found);
}

void ScriptReferences::ReleaseAll() {
  // The list is emptied first, so that nothing a Release sets off can change it under the walk.
  auto held = std::move(held_);
  held_.clear();
  for (auto& [p, count] : held)
    for (size_t i = 0; i < count; ++i)
      p->Release();
}

void bridge_install(duk_context* ctx, PageContext* page, AutomationFailure* last_failure,
                    ScriptReferences* references) {
  duk_push_global_stash(ctx);
  duk_push_pointer(ctx, page);
  duk_put_prop_string(ctx, -2, kPageKey);
  duk_push_pointer(ctx, references);
  duk_put_prop_string(ctx, -2, kReferencesKey);
  duk_push_pointer(ctx, last_failure);
  duk_put_prop_string(ctx, -2, kFailureKey);
  duk_push_bare_object(ctx);
  duk_put_prop_string(ctx, -2, kEndKey);
  duk_push_object(ctx);
  const duk_function_list_entry traps[] = {{"get", trap_get, 3},
                                           {"set", trap_set, 4},
                                           {"has", trap_has, 2},
                                           {"apply", trap_apply, 3},
                                           {"deleteProperty", trap_delete, 2},
                                           {nullptr, nullptr, 0}};
  duk_put_function_list(ctx, -1, traps);
  duk_put_prop_string(ctx, -2, kHandlerKey);
  duk_pop(ctx);

  duk_push_c_function(ctx, enum_construct, 1);
  duk_push_object(ctx);
  const duk_function_list_entry methods[] = {{"atEnd", enum_at_end, 0},
                                             {"item", enum_item, 0},
                                             {"moveNext", enum_move_next, 0},
                                             {"moveFirst", enum_move_first, 0},
                                             {nullptr, nullptr, 0}};
  duk_put_function_list(ctx, -1, methods);
  duk_put_prop_string(ctx, -2, "prototype");
  duk_put_global_string(ctx, "Enumerator");
}

void bridge_push_dispatch(duk_context* ctx, IDispatch* object) {
  if (!object) {
    duk_push_null(ctx);
    return;
  }
  // A callable target lets obj("x") reach the apply trap; objects described without a default
  // member stay plain objects, so typeof gives 'object'.
  const TypeFacts* facts = FactsOf(object);
  if (!facts || facts->Kind(DISPID_VALUE) != MemberKind::kUnknown)
    duk_push_c_function(ctx, target_call, DUK_VARARGS);
  else
    duk_push_object(ctx);
  attach_pointer(ctx, object);
  duk_push_global_stash(ctx);
  duk_get_prop_string(ctx, -1, kHandlerKey);
  duk_remove(ctx, -2);
  duk_push_proxy(ctx, 0);
}

void bridge_push_variant(duk_context* ctx, const VARIANT& in) {
  ScopedVariant v;
  HRESULT hr = VariantCopyInd(v.Receive(), &in);
  if (FAILED(hr))
    throw_failure(ctx, hr, nullptr, u"");
  const VARIANT& value = v.Get();
  switch (value.vt) {
    case VT_EMPTY:
    case VT_ERROR:
      duk_push_undefined(ctx);
      return;
    case VT_NULL:
      duk_push_null(ctx);
      return;
    case VT_BOOL:
      duk_push_boolean(ctx, value.boolVal != VARIANT_FALSE);
      return;
    case VT_BSTR: {
      const std::string text =
          to_cesu8(value.bstrVal ? std::u16string_view(value.bstrVal, SysStringLen(value.bstrVal))
                                 : std::u16string_view());
      duk_push_lstring(ctx, text.data(), text.size());
      return;
    }
    case VT_DISPATCH:
      bridge_push_dispatch(ctx, value.pdispVal);
      return;
    case VT_UNKNOWN: {
      ComPtr<IDispatch> d;
      if (value.punkVal)
        value.punkVal->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(d.Receive()));
      if (d)
        bridge_push_dispatch(ctx, d.Get());
      else
        duk_push_null(ctx);
      return;
    }
    case VT_DATE: {
      ScopedVariant text;
      if (SUCCEEDED(text.Set(value)) && SUCCEEDED(text.ChangeType(VT_BSTR))) {
        duk_push_string(ctx, to_cesu8(text.Get().bstrVal ? text.Get().bstrVal : u"").c_str());
        return;
      }
      duk_push_undefined(ctx);
      return;
    }
    default:
      break;
  }
  if (value.vt == (VT_ARRAY | VT_UI1) || value.vt == (VT_ARRAY | VT_I1)) {
    SAFEARRAY* array = value.parray;
    LONG lower = 0, upper = -1;
    if (array) {
      SafeArrayGetLBound(array, 1, &lower);
      SafeArrayGetUBound(array, 1, &upper);
    }
    const size_t n = upper >= lower ? static_cast<size_t>(upper - lower + 1) : 0;
    void* buffer = duk_push_fixed_buffer(ctx, n);
    if (n) {
      const SafeArrayDataScope data(array);
      if (FAILED(data.status()))
        throw_failure(ctx, data.status(), nullptr, u"");
      std::memcpy(buffer, data.data<void>(), n);
    }
    duk_push_buffer_object(ctx, -1, 0, n, DUK_BUFOBJ_UINT8ARRAY);
    duk_remove(ctx, -2);
    return;
  }
  if (value.vt & VT_ARRAY) {
    SAFEARRAY* array = value.parray;
    duk_push_array(ctx);
    if (!array || SafeArrayGetDim(array) != 1)
      return;
    LONG lower = 0, upper = -1;
    SafeArrayGetLBound(array, 1, &lower);
    SafeArrayGetUBound(array, 1, &upper);
    const VARTYPE base = static_cast<VARTYPE>(value.vt & ~VT_ARRAY);
    for (LONG i = lower; i <= upper; ++i) {
      ScopedVariant element;
      if (base == VT_VARIANT) {
        hr = SafeArrayGetElement(array, &i, element.Receive());
      } else {
        VARIANT raw;
        VariantInit(&raw);
        hr = SafeArrayGetElement(array, &i, &raw.lVal);
        if (SUCCEEDED(hr)) {
          raw.vt = base;
          element.Reset(raw);
        }
      }
      if (FAILED(hr))
        throw_failure(ctx, hr, nullptr, u"array element");
      bridge_push_variant(ctx, element.Get());
      duk_put_prop_index(ctx, -2, static_cast<duk_uarridx_t>(i - lower));
    }
    return;
  }
  ScopedVariant number;
  if (SUCCEEDED(number.Set(value)) && SUCCEEDED(number.ChangeType(VT_R8))) {
    duk_push_number(ctx, number.Get().dblVal);
    return;
  }
  duk_push_undefined(ctx);
}

void bridge_to_variant(duk_context* ctx, duk_idx_t idx, VARIANT* out) {
  idx = duk_normalize_index(ctx, idx);
  VariantInit(out);
  switch (duk_get_type(ctx, idx)) {
    case DUK_TYPE_UNDEFINED:
      return;
    case DUK_TYPE_NULL:
      out->vt = VT_NULL;
      return;
    case DUK_TYPE_BOOLEAN:
      out->vt = VT_BOOL;
      out->boolVal = duk_get_boolean(ctx, idx) ? VARIANT_TRUE : VARIANT_FALSE;
      return;
    case DUK_TYPE_NUMBER: {
      const double d = duk_get_number(ctx, idx);
      if (std::isfinite(d) && d == std::floor(d) && d >= -2147483648.0 && d <= 2147483647.0 &&
          !(d == 0 && std::signbit(d))) {
        out->vt = VT_I4;
        out->lVal = static_cast<LONG>(d);
      } else {
        out->vt = VT_R8;
        out->dblVal = d;
      }
      return;
    }
    case DUK_TYPE_STRING: {
      duk_size_t len = 0;
      const char* s = duk_get_lstring(ctx, idx, &len);
      const std::u16string text = from_cesu8(std::string_view(s, len));
      out->bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
      if (!out->bstrVal)
        throw_failure(ctx, E_OUTOFMEMORY, nullptr, u"");
      out->vt = VT_BSTR;
      return;
    }
    default:
      break;
  }
  if (duk_is_buffer_data(ctx, idx)) {
    duk_size_t size = 0;
    const void* data = duk_get_buffer_data(ctx, idx, &size);
    if (size > 0x7FFFFFFF)
      throw_failure(ctx, DISP_E_OVERFLOW, nullptr, u"");
    ScopedSafeArray array;
    array.Reset(SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(size)));
    if (!array.Get())
      throw_failure(ctx, E_OUTOFMEMORY, nullptr, u"");
    if (size) {
      const SafeArrayDataScope bytes(array.Get());
      if (FAILED(bytes.status()))
        throw_failure(ctx, bytes.status(), nullptr, u"");
      std::memcpy(bytes.data<void>(), data, size);
    }
    out->vt = VT_ARRAY | VT_UI1;
    out->parray = array.Release();
    return;
  }
  if (duk_is_array(ctx, idx)) {
    const duk_size_t n = duk_get_length(ctx, idx);
    SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(n));
    if (!array)
      throw_failure(ctx, E_OUTOFMEMORY, nullptr, u"");
    out->vt = VT_ARRAY | VT_VARIANT;
    out->parray = array;
    for (duk_size_t i = 0; i < n; ++i) {
      duk_get_prop_index(ctx, idx, static_cast<duk_uarridx_t>(i));
      ScopedVariant element;
      bridge_to_variant(ctx, -1, element.Receive());
      duk_pop(ctx);
      LONG index = static_cast<LONG>(i);
      SafeArrayPutElement(array, &index, element.AsInput());
    }
    return;
  }
  if (IDispatch* object = dispatch_at(ctx, idx)) {
    object->AddRef();
    out->vt = VT_DISPATCH;
    out->pdispVal = object;
    return;
  }
  duk_dup(ctx, idx);
  duk_size_t len = 0;
  const char* s = duk_safe_to_lstring(ctx, -1, &len);
  const std::u16string text = from_cesu8(std::string_view(s, len));
  duk_pop(ctx);
  out->bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  if (!out->bstrVal)
    throw_failure(ctx, E_OUTOFMEMORY, nullptr, u"");
  out->vt = VT_BSTR;
}

}  // namespace vhost
