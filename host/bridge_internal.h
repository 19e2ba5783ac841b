// What the parts of the script bridge share: the hidden keys of a heap's stash and of the
// objects that hold interface pointers, and the helpers over them; the page state lives in the
// heap's ScriptHeapState. bridge.cpp installs the bridge in a heap, bridge_proxy.cpp makes and
// serves the proxies, bridge_enumerator.cpp is Enumerator, bridge_variant.cpp converts values,
// bridge_errors.cpp throws failures and bridge_references.cpp keeps the references objects
// hold.
#pragma once

#include "duktape.h"
#include "oaidl.h"

namespace vhost {

class PageContext;
class TypeFacts;

namespace bridge_detail {

// Hidden symbols (a leading 0xFF byte) are invisible to scripts.
inline constexpr char kDispKey[] =
    "\xFF"
    "disp";
inline constexpr char kDispIdKey[] =
    "\xFF"
    "dispid";
inline constexpr char kHandlerKey[] =
    "\xFF"
    "handler";
inline constexpr char kFinalizerKey[] =
    "\xFF"
    "finalizer";
inline constexpr char kTargetPrototypeKey[] =
    "\xFF"
    "targetPrototype";
inline constexpr char kCallableTargetPrototypeKey[] =
    "\xFF"
    "callableTargetPrototype";
inline constexpr char kEndKey[] =
    "\xFF"
    "end";
inline constexpr char kTargetKey[] =
    "\xFF"
    "target";
inline constexpr char kFactsKey[] =
    "\xFF"
    "facts";
inline constexpr char kEnumItemKey[] =
    "\xFF"
    "item";
inline constexpr char kEnumAtEndKey[] =
    "\xFF"
    "atEnd";
inline constexpr char kNameKey[] =
    "\xFF"
    "name";
inline constexpr char kMethodsKey[] =
    "\xFF"
    "methods";
inline constexpr char kKeysKey[] =
    "\xFF"
    "keys";

// The page running in the heap (null when none).
PageContext* page_of(duk_context* ctx);
// The interface pointer kept on an object (a proxy target, a proxy), or on the proxy target a
// member function holds.
IDispatch* dispatch_at(duk_context* ctx, duk_idx_t idx);
// The facts of the type of the object at idx whose interface pointer is object: those kept on
// it when it was made (reading them again costs two calls into the object and a lookup on
// every property access), else FactsOf(object).
TypeFacts* facts_at(duk_context* ctx, duk_idx_t idx, IDispatch* object);
// Keeps facts (which live as long as the thread) on the object at the top of the stack.
void attach_facts(duk_context* ctx, TypeFacts* facts);
// Keeps a reference to p on the object at the top of the stack, which inherits the release
// finalizer (a proxy target); the finalizer, or the page's references at the heap's end, let go
// of it.
void hold_pointer(duk_context* ctx, IUnknown* p);
// hold_pointer for an object that inherits no finalizer: it gets one of its own.
void attach_pointer(duk_context* ctx, IUnknown* p);
// Throws the page's end when the page has ended during a call (Response.End, Redirect).
void check_end(duk_context* ctx);

// Interns the hidden keys into the heap's state (ScriptHeapState::keys) and holds them in the
// stash; first of all.
void install_hidden_keys(duk_context* ctx);
// Makes the finalizer that lets go of the pointer an object holds, and the proxy targets'
// prototypes that carry it, kept in the stash.
void install_release_finalizer(duk_context* ctx);
// Puts the proxies' handler into the stash and the heap's state.
void install_proxy_handler(duk_context* ctx);
// Defines the global Enumerator.
void install_enumerator(duk_context* ctx);

}  // namespace bridge_detail
}  // namespace vhost
