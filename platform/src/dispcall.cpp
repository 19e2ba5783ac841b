// DispCallFunc, DispInvoke and DispGetIDsOfNames: calls through a vtable slot with arguments
// given as VARIANTs, made through libffi's call interface.
#include <ffi.h>

#include <cstdint>
#include <cstring>
#include <type_traits>

#include "oleaut_private.h"

namespace {

// A VARIANT passed by value: four 16-bit words and two 64-bit words on this ABI.
ffi_type* variant_elements[] = {&ffi_type_uint16, &ffi_type_uint16, &ffi_type_uint16,
                                &ffi_type_uint16, &ffi_type_uint64, &ffi_type_uint64,
                                nullptr};
ffi_type variant_type = {0, 0, FFI_TYPE_STRUCT, variant_elements};
// A DECIMAL by value: wReserved, scale, sign, Hi32, Lo64.
ffi_type* decimal_elements[] = {&ffi_type_uint16, &ffi_type_uint8,  &ffi_type_uint8,
                                &ffi_type_uint32, &ffi_type_uint64, nullptr};
ffi_type decimal_type = {0, 0, FFI_TYPE_STRUCT, decimal_elements};

static_assert(sizeof(VARIANT) == 24 && sizeof(DECIMAL) == 16, "by-value layouts");

// The call type of a value of type vt, or null when it cannot be passed.
ffi_type* ffi_type_of(VARTYPE vt) {
  if (vt & (VT_BYREF | VT_ARRAY))
    return &ffi_type_pointer;
  switch (vt) {
    case VT_I1:
      return &ffi_type_sint8;
    case VT_UI1:
      return &ffi_type_uint8;
    case VT_I2:
    case VT_BOOL:
      return &ffi_type_sint16;
    case VT_UI2:
      return &ffi_type_uint16;
    case VT_I4:
    case VT_INT:
    case VT_ERROR:
    case VT_HRESULT:
      return &ffi_type_sint32;
    case VT_UI4:
    case VT_UINT:
      return &ffi_type_uint32;
    case VT_I8:
    case VT_CY:
      return &ffi_type_sint64;
    case VT_UI8:
      return &ffi_type_uint64;
    case VT_R4:
      return &ffi_type_float;
    case VT_R8:
    case VT_DATE:
      return &ffi_type_double;
    case VT_BSTR:
    case VT_DISPATCH:
    case VT_UNKNOWN:
    case VT_PTR:
    case VT_SAFEARRAY:
    case VT_LPSTR:
    case VT_LPWSTR:
    case VT_INT_PTR:
    case VT_UINT_PTR:
    case VT_BYREF:
      return &ffi_type_pointer;
    case VT_VARIANT:
      return &variant_type;
    case VT_DECIMAL:
      return &decimal_type;
    case VT_EMPTY:
    case VT_VOID:
      return &ffi_type_void;
    default:
      return nullptr;
  }
}

// Where the value of an argument of type vt lies in its VARIANT.
void* value_address(VARTYPE vt, VARIANTARG* v) {
  if (vt == VT_VARIANT || vt == VT_DECIMAL)
    return v;
  return &v->llVal;  // every other value starts the union, at offset 8
}

constexpr UINT kMaxArguments = 64;

// Calls whose arguments and result travel in general registers (integers and pointers, at most
// six words with the instance), and on x86-64 also those with one or two VARIANTs by value
// (which travel on the stack, in order, whatever the registers hold), are made directly: a
// method of an automation object takes a few strings, numbers, VARIANTs and out-pointers, and
// libffi's preparation and call cost more than the work of many of them. The others go through
// libffi. The shapes are those of the System V and AAPCS64 conventions; Windows' own passes
// fewer words in registers and larger structures by reference.
#if (defined(__x86_64__) || defined(__aarch64__)) && !defined(_WIN32)
constexpr UINT kRegisterWords = 6;
#if defined(__x86_64__)
constexpr UINT kStackVariants = 2;
#else
constexpr UINT kStackVariants = 0;  // larger structures go by reference here
#endif

// The argument of type vt in v widened to a register word, as the caller's side of the ABI
// extends it; false when it does not travel in a general register.
bool register_word(VARTYPE vt, VARIANTARG* v, std::uint64_t* word) {
  const ffi_type* type = ffi_type_of(vt);
  const void* value = value_address(vt, v);
  auto widened = [&](auto narrow) {
    std::memcpy(&narrow, value, sizeof narrow);
    if constexpr (std::is_signed_v<decltype(narrow)>)
      *word = static_cast<std::uint64_t>(static_cast<std::int64_t>(narrow));
    else
      *word = narrow;
    return true;
  };
  switch (type ? type->type : FFI_TYPE_VOID) {
    case FFI_TYPE_SINT8:
      return widened(std::int8_t{});
    case FFI_TYPE_UINT8:
      return widened(std::uint8_t{});
    case FFI_TYPE_SINT16:
      return widened(std::int16_t{});
    case FFI_TYPE_UINT16:
      return widened(std::uint16_t{});
    case FFI_TYPE_SINT32:
      return widened(std::int32_t{});
    case FFI_TYPE_UINT32:
      return widened(std::uint32_t{});
    case FFI_TYPE_SINT64:
    case FFI_TYPE_UINT64:
    case FFI_TYPE_POINTER:
      return widened(std::uint64_t{});
    default:
      return false;
  }
}

using Word = std::uint64_t;

// The call goes through a pointer of another type than the function's, as libffi's does: the
// checker of such calls is told so.
#if defined(__clang__)
#define DIRECT_CALL_ATTRIBUTES __attribute__((no_sanitize("function")))
#else
#define DIRECT_CALL_ATTRIBUTES
#endif

// Makes the call directly when it fits the shapes above; false (nothing called) otherwise.
DIRECT_CALL_ATTRIBUTES bool call_directly(void (*function)(void), void* instance, UINT count,
                                          const VARTYPE* types, VARIANTARG** args,
                                          ffi_type* return_type, std::uint64_t* result) {
  if (return_type == &ffi_type_float || return_type == &ffi_type_double)
    return false;
  Word words[kRegisterWords] = {};
  UINT used = 0;
  VARIANT stack[2] = {};
  UINT stacked = 0;
  if (instance)
    words[used++] = reinterpret_cast<std::uintptr_t>(instance);
  for (UINT i = 0; i < count; ++i) {
    if (types[i] == VT_VARIANT) {
      if (stacked == kStackVariants)
        return false;
      stack[stacked++] = *args[i];
      continue;
    }
    if (used == kRegisterWords || !register_word(types[i], args[i], &words[used++]))
      return false;
  }
  // Words past the callee's parameters land in registers it does not read, and VARIANTs past
  // its own on the stack beyond what it reads: one shape serves every call.
  using Call = Word (*)(Word, Word, Word, Word, Word, Word, VARIANT, VARIANT);
  *result = reinterpret_cast<Call>(function)(words[0], words[1], words[2], words[3], words[4],
                                             words[5], stack[0], stack[1]);
  return true;
}
#else
bool call_directly(void (*)(void), void*, UINT, const VARTYPE*, VARIANTARG**, ffi_type*,
                   std::uint64_t*) {
  return false;
}
#endif

}  // namespace

HRESULT DispCallFunc(void* pvInstance, ULONG_PTR oVft, CALLCONV cc, VARTYPE vtReturn, UINT cActuals,
                     VARTYPE* prgvt, VARIANTARG** prgpvarg, VARIANT* pvargResult) {
  if (cc != CC_STDCALL && cc != CC_CDECL)
    return DISP_E_BADCALLEE;
  if (cActuals > kMaxArguments || (cActuals && (!prgvt || !prgpvarg)))
    return E_INVALIDARG;
  if (!pvInstance && !oVft)
    return E_INVALIDARG;
  ffi_type* return_type = ffi_type_of(vtReturn);
  if (!return_type || return_type == &variant_type || return_type == &decimal_type)
    return E_INVALIDARG;

  const UINT first = pvInstance ? 1 : 0;
  ffi_type* types[kMaxArguments + 1];
  void* values[kMaxArguments + 1];
  if (pvInstance) {
    types[0] = &ffi_type_pointer;
    values[0] = &pvInstance;
  }
  for (UINT i = 0; i < cActuals; ++i) {
    types[first + i] = ffi_type_of(prgvt[i]);
    if (!types[first + i] || types[first + i] == &ffi_type_void || !prgpvarg[i])
      return E_INVALIDARG;
    values[first + i] = value_address(prgvt[i], prgpvarg[i]);
  }

  // The function: the vtable slot at byte offset oVft, or oVft itself without an instance.
  void (*function)(void) = nullptr;
  if (pvInstance) {
    const char* vtable = nullptr;
    std::memcpy(&vtable, pvInstance, sizeof vtable);
    std::memcpy(&function, vtable + oVft, sizeof function);
  } else {
    function = reinterpret_cast<void (*)(void)>(oVft);
  }
  // libffi writes a whole ffi_arg for small integer results; the buffer must be that wide.
  union {
    ffi_arg integer;
    double real;
    float single;
    unsigned char bytes[16];
  } result{};
  std::uint64_t word = 0;
  if (call_directly(function, pvInstance, cActuals, prgvt, prgpvarg, return_type, &word)) {
    result.integer = word;
  } else {
    ffi_cif cif;
    if (ffi_prep_cif(&cif, FFI_DEFAULT_ABI, first + cActuals, return_type, types) != FFI_OK)
      return E_INVALIDARG;
    ffi_call(&cif, function, &result, values);
  }

  if (pvargResult) {
    VariantInit(pvargResult);
    pvargResult->vt = vtReturn == VT_HRESULT ? static_cast<VARTYPE>(VT_ERROR) : vtReturn;
    switch (vtReturn) {
      case VT_EMPTY:
      case VT_VOID:
        pvargResult->vt = VT_EMPTY;
        break;
      case VT_R4:
        pvargResult->fltVal = result.single;
        break;
      case VT_R8:
      case VT_DATE:
        pvargResult->dblVal = result.real;
        break;
      case VT_I1:
        pvargResult->cVal = static_cast<CHAR>(result.integer);
        break;
      case VT_UI1:
        pvargResult->bVal = static_cast<BYTE>(result.integer);
        break;
      case VT_I2:
      case VT_BOOL:
      case VT_UI2:
        pvargResult->iVal = static_cast<SHORT>(result.integer);
        break;
      case VT_I4:
      case VT_INT:
      case VT_ERROR:
      case VT_HRESULT:
      case VT_UI4:
      case VT_UINT:
        pvargResult->lVal = static_cast<LONG>(result.integer);
        break;
      default:
        pvargResult->llVal = static_cast<LONGLONG>(result.integer);
        break;
    }
  }
  return S_OK;
}

HRESULT DispInvoke(void* _this, ITypeInfo* ptinfo, DISPID dispidMember, WORD wFlags,
                   DISPPARAMS* pparams, VARIANT* pvarResult, EXCEPINFO* pexcepinfo,
                   UINT* puArgErr) {
  if (!ptinfo)
    return E_INVALIDARG;
  return ptinfo->Invoke(_this, dispidMember, wFlags, pparams, pvarResult, pexcepinfo, puArgErr);
}

HRESULT DispGetIDsOfNames(ITypeInfo* ptinfo, OLECHAR** rgszNames, UINT cNames, DISPID* rgdispid) {
  if (!ptinfo)
    return E_INVALIDARG;
  return ptinfo->GetIDsOfNames(rgszNames, cNames, rgdispid);
}
