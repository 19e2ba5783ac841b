// Failures of automation calls and the page's end, thrown into the script (bridge.h).
#include <cstdio>
#include <string>

#include "bridge.h"
#include "bridge_internal.h"
#include "dispatch_object.h"
#include "script_heap_image.h"
#include "text.h"

namespace vhost {

using namespace bridge_detail;

namespace {

std::string hresult_text(HRESULT hr) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
  return text;
}

}  // namespace

[[noreturn]] void bridge_throw_failure(duk_context* ctx, HRESULT hr, EXCEPINFO* excep,
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
  }
  // An object that reports no rich errors may still leave its error information on the thread.
  if (description.empty())
    description = take_error_description();
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
  if (AutomationFailure* failure = ScriptHeapState::Of(ctx)->failure) {
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
  duk_put_prop_literal(ctx, -2, "number");
  duk_push_string(ctx, to_cesu8(description).c_str());
  duk_put_prop_literal(ctx, -2, "description");
  duk_throw(ctx);
  __builtin_unreachable();  // duk_throw raises a C++ exception in this build
}

[[noreturn]] void bridge_throw_end(duk_context* ctx) {
  duk_push_global_stash(ctx);
  duk_get_prop_literal(ctx, -1, kEndKey);
  duk_remove(ctx, -2);
  duk_throw(ctx);
  __builtin_unreachable();  // duk_throw raises a C++ exception in this build
}

bool bridge_is_end(duk_context* ctx, duk_idx_t idx) {
  idx = duk_normalize_index(ctx, idx);
  duk_push_global_stash(ctx);
  duk_get_prop_literal(ctx, -1, kEndKey);
  const bool same = duk_strict_equals(ctx, idx, -1);
  duk_pop_2(ctx);
  return same;
}

}  // namespace vhost
