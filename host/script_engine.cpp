// Script page runner (see script_engine.h).
#include "script_engine.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <iterator>
#include <type_traits>

#include "bridge.h"
#include "dispatch_object.h"
#include "intrinsics.h"
#include "member_facts.h"
#include "script_heap_image.h"
#include "text.h"

// Called by Duktape's interrupt counter; a true result throws a RangeError into the script, and
// keeps throwing, so a catch block cannot swallow the time-out.
int vhost_script_timed_out(void* udata) {
  auto* state = static_cast<vhost::ScriptHeapState*>(static_cast<vhost::ScriptMemory*>(udata));
  if (!state || !state->page)
    return 0;
  const auto limit = std::chrono::seconds(state->page->script_timeout_seconds);
  return std::chrono::steady_clock::now() - state->page->started > limit;
}

namespace vhost {

namespace {

constexpr char kCompiledKey[] =
    "\xFF"
    "compiled";
constexpr char kScriptName[] = "page";
// The stash's array of the intrinsics' proxies made in the heap's image.
constexpr char kIntrinsicsKey[] =
    "\xFF"
    "intrinsics";

PageContext* page_of(duk_context* ctx) {
  return ScriptHeapState::Of(ctx)->page;
}

// __lit(n): the page's literal text n, as it is in the file.
duk_ret_t write_literal(duk_context* ctx) {
  const duk_uint_t n = duk_require_uint(ctx, 0);
  duk_push_global_stash(ctx);
  duk_get_prop_literal(ctx, -1, kCompiledKey);
  const auto* compiled = static_cast<const CompiledPage*>(duk_get_pointer(ctx, -1));
  duk_pop_2(ctx);
  PageContext* page = page_of(ctx);
  if (page->ended)
    bridge_throw_end(ctx);
  if (compiled && n < compiled->literals.size()) {
    SetErrorInfo(0, nullptr);
    const HRESULT hr =
        static_cast<ResponseObject*>(page->response_object())->write_bytes(compiled->literals[n]);
    if (FAILED(hr))
      bridge_throw_failure(ctx, hr, nullptr, u"Response.Write");
  }
  return 0;
}

// __w(value): <%= value %>.
duk_ret_t write_value(duk_context* ctx) {
  PageContext* page = page_of(ctx);
  if (page->ended)
    bridge_throw_end(ctx);
  ScopedVariant value;
  bridge_to_variant(ctx, 0, value.Receive());
  SetErrorInfo(0, nullptr);
  HRESULT hr = page->response_object()->Write(value.Get());
  if (FAILED(hr))
    bridge_throw_failure(ctx, hr, nullptr, u"Response.Write");
  return 0;
}

// The page's intrinsic objects: each global is made into a proxy when the page first reads it
// (most pages read two or three of the five), and is a plain global from then on.
constexpr const char* kIntrinsicNames[] = {"Request", "Response", "Server", "Session",
                                           "Application"};

IDispatch* intrinsic_of(PageContext* page, int which) {
  switch (which) {
    case 0:
      return page->request_object();
    case 1:
      return page->response_object();
    case 2:
      return page->server_object();
    case 3:
      return page->session_object();
    default:
      return page->application_object();
  }
}

// Makes global name (magic: its index) a plain property with the value at the top of the stack.
void settle_intrinsic(duk_context* ctx, int which) {
  duk_push_global_object(ctx);
  duk_push_string(ctx, kIntrinsicNames[which]);
  duk_dup(ctx, -3);
  duk_def_prop(ctx, -3,
               DUK_DEFPROP_HAVE_VALUE | DUK_DEFPROP_SET_WRITABLE | DUK_DEFPROP_SET_ENUMERABLE |
                   DUK_DEFPROP_SET_CONFIGURABLE);
  duk_pop(ctx);
}

// The host's own description of each intrinsic: its facts are found without asking the object
// for its type information (which counts a reference on a description all threads share).
const IID* const kIntrinsicInterfaces[] = {&IID_IRequest, &IID_IResponse, &IID_IServer,
                                           &IID_ISessionObject, &IID_IApplicationObject};

// The intrinsics whose proxies the heap's image holds, which keep their member functions for the
// page: pages call Response's, Server's and Request's members in loops. Session and Application
// are mostly read through their default member, which needs no function; each proxy in the
// image is copied back after every page.
constexpr bool kMadeAhead[] = {true, true, true, false, false};
constexpr int kIntrinsicCount = static_cast<int>(std::size(kIntrinsicNames));
static_assert(std::size(kIntrinsicInterfaces) == kIntrinsicCount &&
              std::size(kMadeAhead) == kIntrinsicCount &&
              std::extent_v<decltype(ScriptHeapState::intrinsics)> == kIntrinsicCount);

duk_ret_t intrinsic_get(duk_context* ctx) {
  const int which = duk_get_current_magic(ctx);
  PageContext* page = page_of(ctx);
  IDispatch* object = page ? intrinsic_of(page, which) : nullptr;
  if (void* made = ScriptHeapState::Of(ctx)->intrinsics[which]; made && object) {
    duk_push_heapptr(ctx, made);
    bridge_hold_page_object(ctx, object);
  } else if (ITypeInfo* info = host_type_info(*kIntrinsicInterfaces[which]))
    bridge_push_dispatch(ctx, object, FactsOfType(info));
  else
    bridge_push_dispatch(ctx, object);
  settle_intrinsic(ctx, which);
  return 1;
}

// A page that assigns to an intrinsic's name replaces it, as with any global.
duk_ret_t intrinsic_set(duk_context* ctx) {
  duk_dup(ctx, 0);
  settle_intrinsic(ctx, duk_get_current_magic(ctx));
  return 0;
}

// What every page's heap holds before the page runs; recorded in the heap's image once.
void prepare_heap(duk_context* ctx) {
  bridge_install(ctx);
  ScriptHeapState* state = ScriptHeapState::Of(ctx);
  duk_push_global_stash(ctx);
  duk_push_array(ctx);
  for (int which = 0; which < kIntrinsicCount; ++which) {
    if (!kMadeAhead[which])
      continue;
    ITypeInfo* info = host_type_info(*kIntrinsicInterfaces[which]);
    TypeFacts* facts = info ? FactsOfType(info) : nullptr;
    if (!facts)
      continue;
    bridge_push_page_object_proxy(ctx, facts);
    state->intrinsics[which] = duk_get_heapptr(ctx, -1);
    duk_put_prop_index(ctx, -2, static_cast<duk_uarridx_t>(which));
  }
  duk_put_prop_literal(ctx, -2, kIntrinsicsKey);
  duk_pop(ctx);
  duk_push_global_object(ctx);
  for (int which = 0; which < kIntrinsicCount; ++which) {
    duk_push_string(ctx, kIntrinsicNames[which]);
    duk_push_c_function(ctx, intrinsic_get, 0);
    duk_set_magic(ctx, -1, which);
    duk_push_c_function(ctx, intrinsic_set, 1);
    duk_set_magic(ctx, -1, which);
    duk_def_prop(ctx, -4,
                 DUK_DEFPROP_HAVE_GETTER | DUK_DEFPROP_HAVE_SETTER | DUK_DEFPROP_SET_ENUMERABLE |
                     DUK_DEFPROP_SET_CONFIGURABLE);
  }
  duk_pop(ctx);
  duk_push_c_function(ctx, write_literal, 1);
  duk_put_global_string(ctx, "__lit");
  duk_push_c_function(ctx, write_value, 1);
  duk_put_global_string(ctx, "__w");
}

struct RunArgs {
  PageContext* page;
  const CachedPage* cached;
  AutomationFailure* failure;
  ScriptReferences* references;
  const ScriptHeapImage* heap;
};

// Pushes the page's function: loaded from its bytecode, or compiled (and its bytecode kept) on
// the first request.
void push_page_function(duk_context* ctx, const CachedPage& cached) {
  if (const std::string* bytecode = cached.bytecode()) {
    void* buffer = duk_push_fixed_buffer(ctx, bytecode->size());
    std::memcpy(buffer, bytecode->data(), bytecode->size());
    duk_load_function(ctx);
    return;
  }
  // The page is the body of a function, so that its variables are the function's registers: as
  // properties of the global object every read or write of one was a lookup by name. The
  // opening stays on the first line, so that line numbers are the script's own.
  const std::string source = "function(){" + cached.page().script + "\n}";
  duk_push_string(ctx, kScriptName);
  duk_compile_lstring_filename(ctx, DUK_COMPILE_FUNCTION, source.data(), source.size());
  duk_dup_top(ctx);
  duk_dump_function(ctx);
  duk_size_t size = 0;
  const auto* data = static_cast<const char*>(duk_get_buffer(ctx, -1, &size));
  cached.set_bytecode(data, size);
  duk_pop(ctx);
}

duk_ret_t run_unprotected(duk_context* ctx, void* udata) {
  auto* args = static_cast<RunArgs*>(udata);
  bridge_begin_page(ctx, args->failure, args->references);
  duk_push_global_stash(ctx);
  duk_push_pointer(ctx, const_cast<CompiledPage*>(&args->cached->page()));
  duk_put_prop_literal(ctx, -2, kCompiledKey);
  duk_pop(ctx);
  if (!args->heap->PushPageFunction(ctx))
    push_page_function(ctx, *args->cached);
  duk_push_global_object(ctx);  // `this` of the page's code, strict or not
  duk_call_method(ctx, 0);
  return 1;
}

// The script line an error points at: the innermost frame of the page in its stack, or its
// lineNumber (syntax errors).
int error_line(duk_context* ctx, duk_idx_t err) {
  if (!duk_is_object(ctx, err))
    return 0;
  int line = 0;
  duk_get_prop_literal(ctx, err, "stack");
  if (duk_is_string(ctx, -1)) {
    const std::string stack = duk_get_string(ctx, -1);
    const std::string mark = std::string("(") + kScriptName + ":";
    const size_t at = stack.find(mark);
    if (at != std::string::npos)
      line = std::atoi(stack.c_str() + at + mark.size());
  }
  duk_pop(ctx);
  if (line == 0) {
    duk_get_prop_literal(ctx, err, "lineNumber");
    line = duk_is_number(ctx, -1) ? duk_get_int(ctx, -1) : 0;
    duk_pop(ctx);
  }
  return line;
}

std::string hresult_text(int32_t hr) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
  return text;
}

}  // namespace

void write_error_page(HttpResponseData& response, const std::string& file, int line,
                      const std::string& message, const std::string& automation_detail) {
  auto enc = [](const std::string& s) { return to_utf8(html_encode(to_u16(s))); };
  response.status = 500;
  response.status_text = "Internal Server Error";
  response.content_type = "text/html";
  response.charset = "utf-8";
  response.headers.erase(
      std::remove_if(response.headers.begin(), response.headers.end(),
                     [](const auto& h) { return !iequals(h.first, "Set-Cookie"); }),
      response.headers.end());
  std::string body =
      "<!DOCTYPE html>\n<html><head><title>Script error</title></head><body>\n"
      "<h1>Script error</h1>\n<p>Page: <code>" +
      enc(file) + "</code>, line " + std::to_string(line) + "</p>\n<p>Error: " + enc(message) +
      "</p>\n";
  if (!automation_detail.empty())
    body += "<p>Automation error: " + enc(automation_detail) + "</p>\n";
  body += "</body></html>\n";
  response.body.assign(std::move(body));
  std::fprintf(stderr, "vhost: script error in %s line %d: %s%s%s\n", file.c_str(), line,
               message.c_str(), automation_detail.empty() ? "" : " | ", automation_detail.c_str());
}

bool run_script_page(PageContext& page, const CachedPage& cached) {
  const CompiledPage& compiled = cached.page();
  if (compiled.code_page)
    page.code_page = compiled.code_page;
  ScriptHeapImage* heap = ScriptHeapImage::OfThisThread(prepare_heap);
  if (!heap) {
    page.end();
    write_error_page(page.response, page.page_path, 0, "out of memory for the script engine", "");
    return false;
  }
  // Declared first, so that on every way out the references go before the heap is put back.
  struct HeapInUse {
    ScriptHeapImage* heap;
    ~HeapInUse() { heap->End(); }
  } in_use{heap};
  ScriptReferences references;
  const std::string* bytecode = cached.bytecode();
  duk_context* ctx = bytecode ? heap->Begin(&page, cached.id(), *bytecode) : heap->Begin(&page);
  AutomationFailure failure;
  RunArgs args{&page, &cached, &failure, &references, heap};
  const duk_int_t rc = duk_safe_call(ctx, run_unprotected, &args, 0, 1);
  bool ok = true;
  std::string file, message, detail;
  int line = 0;
  if (rc != DUK_EXEC_SUCCESS && !bridge_is_end(ctx, -1)) {
    ok = false;
    const auto origin = compiled.origin(error_line(ctx, -1));
    file = origin.first;
    line = origin.second;
    duk_dup(ctx, -1);
    message = duk_safe_to_string(ctx, -1);
    duk_pop(ctx);
    if (duk_is_object(ctx, -1)) {
      duk_get_prop_literal(ctx, -1, "number");
      const bool has_number = duk_is_number(ctx, -1);
      const int32_t number = has_number ? static_cast<int32_t>(duk_get_int(ctx, -1)) : 0;
      duk_pop(ctx);
      duk_get_prop_literal(ctx, -1, "description");
      const std::string description = duk_is_string(ctx, -1) ? duk_get_string(ctx, -1) : "";
      duk_pop(ctx);
      if (has_number)
        detail = "HRESULT " + hresult_text(number) + (description.empty() ? "" : ": ") +
                 to_utf8(from_cesu8(description));
    }
    message = to_utf8(from_cesu8(message));
  }
  duk_pop(ctx);
  page.end();
  references.ReleaseAll();
  if (!ok)
    write_error_page(page.response, file, line, message, detail);
  return ok;
}

}  // namespace vhost
