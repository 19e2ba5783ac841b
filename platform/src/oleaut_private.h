// Helpers shared by the automation run-time files (bstr, variant, vartype, safearray,
// errorinfo): type validation, allocation-failure reporting, and the debug printers that trace
// lines and test messages use. Nothing here is exported.
#pragma once

#include <string>

#include "oleauto.h"

// The Windows build links these into each DLL statically, where nothing is exported unmarked.
#if defined(_WIN32)
#define PLATFORM_HIDDEN
#else
#define PLATFORM_HIDDEN __attribute__((visibility("hidden")))
#endif

// Not in the platform's headers: the bits above the type mask.
#define VT_EXTRA_TYPE (VT_VECTOR | VT_ARRAY | VT_BYREF | VT_RESERVED)

// Every out-of-memory result of the run time passes here (a place for a breakpoint); it
// returns E_OUTOFMEMORY so that a call site reads `return oom_fault();`.
PLATFORM_HIDDEN HRESULT oom_fault();

// CoTaskMemAlloc for a zero-filled block (freed with CoTaskMemFree).
PLATFORM_HIDDEN void* task_mem_alloc_zeroed(size_t cb);

// S_OK when vt is a type a VARIANT may hold, else DISP_E_BADVARTYPE. VT_CLSID passes, as on
// the platform: the callers that refuse it check it themselves.
PLATFORM_HIDDEN HRESULT variant_validate_type(VARTYPE vt);

// A BSTR holding the n narrow characters of text converted from the ANSI code page; null when
// memory is short.
PLATFORM_HIDDEN BSTR bstr_from_acp(const char* text, size_t n);

// "VT_BSTR|VT_BYREF", "VT_I4", "VT_0x77" ...
PLATFORM_HIDDEN std::string debug_vt(VARTYPE vt);
// The type and, for plain values, the value: "VT_I4:42", "VT_BSTR:\"abc\"".
PLATFORM_HIDDEN std::string debug_variant(const VARIANT* v);

// Platform trace channel: lines go to standard error when PLATFORM_TRACE is set (to anything
// but 0) in the environment; silent otherwise.
PLATFORM_HIDDEN bool trace_enabled();
PLATFORM_HIDDEN void trace_line(const char* function, const std::string& text);

#define OLEAUT_TRACE(text)          \
  do {                              \
    if (trace_enabled())            \
      trace_line(__func__, (text)); \
  } while (0)
