// ITypeInfo::Invoke: late-bound calls described by type information. The arguments of
// DISPPARAMS are matched to the member's parameters (last argument first, the put value as the
// named DISPID_PROPERTYPUT argument), coerced to the declared types, passed to the vtable slot
// through DispCallFunc, and the [out, retval] parameter comes back as the result.
#include <memory>
#include <new>

#include "com_ptr.h"
#include "scoped_variant.h"
#include "typelib_private.h"

namespace {

// The per-parameter records of one call. Members rarely take more than a few parameters, so
// up to eight records live in the call's frame and a call allocates nothing for them.
template <class T>
class CallArray {
 public:
  explicit CallArray(size_t size) : size_(size) {
    if (size > kInline) {
      spill_ = std::make_unique<T[]>(size);
      data_ = spill_.get();
      return;
    }
    data_ = reinterpret_cast<T*>(inline_);
    for (; constructed_ < size; ++constructed_)
      new (&data_[constructed_]) T();
  }
  ~CallArray() {
    while (constructed_ > 0)
      data_[--constructed_].~T();
  }
  CallArray(const CallArray&) = delete;
  CallArray& operator=(const CallArray&) = delete;

  T& operator[](size_t i) { return data_[i]; }
  const T& operator[](size_t i) const { return data_[i]; }
  T* data() { return data_; }
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  // Keeps the first size records.
  void shrink(size_t size) { size_ = size; }

 private:
  static constexpr size_t kInline = 8;
  alignas(T) unsigned char inline_[kInline * sizeof(T)];
  std::unique_ptr<T[]> spill_;
  T* data_;
  size_t size_;
  size_t constructed_ = 0;  // records made in inline_
};

// One argument on its way to the member: its type for DispCallFunc and its storage.
struct Argument {
  VARTYPE vt = VT_EMPTY;           // what DispCallFunc passes
  VARIANT value;                   // the value DispCallFunc reads; owns what coercion made
  VARIANT retval_store;            // storage an [out, retval] pointer points at
  ComPtr<IUnknown> interface_ref;  // an interface queried for a user-defined type
  bool owns_value = false;

  Argument() {
    VariantInit(&value);
    VariantInit(&retval_store);
  }
  ~Argument() {
    if (owns_value)
      VariantClear(&value);
    VariantClear(&retval_store);  // what a member wrote through a missing optional VARIANT*
  }
  Argument(const Argument&) = delete;
  Argument& operator=(const Argument&) = delete;
};

// The type info a user-defined type description refers to, with its attributes.
bool referenced_type(TypeInfoImpl* owner, const TYPEDESC& t, TYPEATTR* attr) {
  ComPtr<ITypeInfo> ref;
  TYPEATTR* a = nullptr;
  if (FAILED(owner->GetRefTypeInfo(t.hreftype, ref.Receive())) || FAILED(ref->GetTypeAttr(&a)))
    return false;
  *attr = *a;
  ref->ReleaseTypeAttr(a);
  return true;
}

// True when t is a pointer to an interface of the library (IFoo*), with that interface's
// identifier and the VARIANT type that holds it.
bool interface_pointer(TypeInfoImpl* owner, const TYPEDESC& t, IID* iid, VARTYPE* vt) {
  if (t.vt != VT_PTR || t.lptdesc->vt != VT_USERDEFINED)
    return false;
  TYPEATTR a;
  if (!referenced_type(owner, *t.lptdesc, &a) || a.typekind == TKIND_ENUM)
    return false;
  if (iid)
    *iid = a.guid;
  if (vt)
    *vt = (a.wTypeFlags & TYPEFLAG_FDISPATCHABLE) ? VT_DISPATCH : VT_UNKNOWN;
  return true;
}

// The type a VARIANT holds for a value of the described type: VT_I4 for enums, VT_DISPATCH or
// VT_UNKNOWN for interface pointers. VT_EMPTY when it has none.
VARTYPE value_type(TypeInfoImpl* owner, const TYPEDESC& t, IID* iid) {
  VARTYPE vt = VT_EMPTY;
  if (interface_pointer(owner, t, iid, &vt))
    return vt;
  if (t.vt == VT_USERDEFINED) {
    TYPEATTR a;
    return referenced_type(owner, t, &a) && a.typekind == TKIND_ENUM
               ? static_cast<VARTYPE>(VT_I4)
               : static_cast<VARTYPE>(VT_EMPTY);
  }
  if (t.vt == VT_SAFEARRAY) {
    const VARTYPE element = value_type(owner, *t.lptdesc, nullptr);
    return element == VT_EMPTY ? static_cast<VARTYPE>(VT_EMPTY)
                               : static_cast<VARTYPE>(VT_ARRAY | element);
  }
  if (t.vt == VT_INT)
    return VT_I4;
  if (t.vt == VT_UINT)
    return VT_UI4;
  if (t.vt == VT_HRESULT)
    return VT_ERROR;
  if (t.vt == VT_PTR || t.vt == VT_VOID || t.vt == VT_LPSTR || t.vt == VT_LPWSTR)
    return VT_EMPTY;
  return t.vt;
}

// The argument itself when it is a VARIANT by reference to a VARIANT.
const VARIANT* through_variant_ref(const VARIANT* v) {
  while (v->vt == (VT_BYREF | VT_VARIANT) && v->pvarVal)
    v = v->pvarVal;
  return v;
}

// Prepares an [in] by-value argument of type t from src.
HRESULT coerce_in(TypeInfoImpl* owner, const TYPEDESC& t, const VARIANT* src, Argument& arg) {
  if (t.vt == VT_VARIANT) {
    // Passed as the caller gave it: the member sees by-reference values as such.
    arg.vt = VT_VARIANT;
    arg.value = *src;
    return S_OK;
  }
  IID iid = GUID_NULL;
  const VARTYPE want = value_type(owner, t, &iid);
  if (want == VT_EMPTY)
    return DISP_E_TYPEMISMATCH;
  const VARIANT* plain = through_variant_ref(src);
  if (want == VT_DISPATCH || want == VT_UNKNOWN) {
    VARTYPE have = plain->vt & ~VT_BYREF;
    IUnknown* unk = nullptr;
    if (have == VT_DISPATCH || have == VT_UNKNOWN) {
      unk =
          (plain->vt & VT_BYREF) ? (plain->ppunkVal ? *plain->ppunkVal : nullptr) : plain->punkVal;
    } else if (have != VT_EMPTY && have != VT_NULL) {
      return DISP_E_TYPEMISMATCH;
    }
    arg.vt = want;
    arg.value.vt = want;
    if (unk && !IsEqualGUID(iid, GUID_NULL)) {
      HRESULT hr = unk->QueryInterface(iid, reinterpret_cast<void**>(arg.interface_ref.Receive()));
      if (FAILED(hr))
        return DISP_E_TYPEMISMATCH;
      arg.value.punkVal = arg.interface_ref.Get();
    } else if (unk && want == VT_DISPATCH && have == VT_UNKNOWN) {
      HRESULT hr =
          unk->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(arg.interface_ref.Receive()));
      if (FAILED(hr))
        return DISP_E_TYPEMISMATCH;
      arg.value.punkVal = arg.interface_ref.Get();
    } else {
      arg.value.punkVal = unk;
    }
    return S_OK;
  }
  if (want & VT_ARRAY) {
    if ((plain->vt & ~VT_BYREF) != want)
      return DISP_E_TYPEMISMATCH;
    arg.vt = VT_ARRAY;
    arg.value.vt = want;
    arg.value.parray = (plain->vt & VT_BYREF) ? *plain->pparray : plain->parray;
    return S_OK;
  }
  // A value of the very type is lent as it is: the member may not change or free an [in]
  // argument, and the caller's stays valid for the call.
  if (plain->vt == want && (want == VT_BSTR || want == VT_I4 || want == VT_I2 || want == VT_BOOL ||
                            want == VT_R8 || want == VT_UI1 || want == VT_UI4 || want == VT_INT)) {
    arg.vt = want;
    arg.value = *plain;
    return S_OK;
  }
  HRESULT hr = VariantChangeType(&arg.value, plain, 0, want);
  if (FAILED(hr))
    return hr == DISP_E_OVERFLOW ? hr : DISP_E_TYPEMISMATCH;
  arg.owns_value = true;
  arg.vt = want;
  return S_OK;
}

// Prepares a pointer argument ([out], [in, out] or [in] pointer) of type t (a VT_PTR) from src,
// which must be the matching by-reference value.
HRESULT coerce_ref(TypeInfoImpl* owner, const TYPEDESC& t, VARIANT* src, Argument& arg) {
  const TYPEDESC& target = *t.lptdesc;
  arg.vt = VT_BYREF;
  arg.value.vt = VT_BYREF;
  if (target.vt == VT_VARIANT) {
    if (src->vt == (VT_BYREF | VT_VARIANT)) {
      arg.value.byref = src->pvarVal;
    } else if (!(src->vt & VT_BYREF)) {
      // A plain value for a VARIANT*: the member reads (and may change) this argument slot.
      arg.value.byref = src;
    } else {
      return DISP_E_TYPEMISMATCH;
    }
    return S_OK;
  }
  const VARTYPE want = value_type(owner, target, nullptr);
  if (want == VT_EMPTY || src->vt != (VT_BYREF | want))
    return DISP_E_TYPEMISMATCH;
  arg.value.byref = src->byref;
  return S_OK;
}

// Moves the [out, retval] value of type t out of its storage into result.
void take_retval(TypeInfoImpl* owner, const TYPEDESC& t, Argument& arg, VARIANT* result) {
  const TYPEDESC& target = *t.lptdesc;
  VARIANT& store = arg.retval_store;
  if (target.vt == VT_VARIANT) {
    *result = store;  // the VARIANT itself was the storage
    VariantInit(&store);
    return;
  }
  VARTYPE vt = value_type(owner, target, nullptr);
  store.vt = vt;
  *result = store;
  VariantInit(&store);
}

void release_retval(TypeInfoImpl* owner, const TYPEDESC& t, Argument& arg) {
  const TYPEDESC& target = *t.lptdesc;
  if (target.vt != VT_VARIANT)
    arg.retval_store.vt = value_type(owner, target, nullptr);
  VariantClear(&arg.retval_store);
}

// A member's failure reaches the caller as DISP_E_EXCEPTION, whatever its status (a DISP_E_ one
// included): the status goes to pExcepInfo's scode, with the thread's error information when the
// object reports rich errors for interface iid (taking it off the thread). Without pExcepInfo
// the error information stays on the thread for the caller to read.
HRESULT report_failure(void* instance, REFIID iid, HRESULT hr, EXCEPINFO* pExcepInfo) {
  if (!pExcepInfo)
    return DISP_E_EXCEPTION;
  *pExcepInfo = EXCEPINFO{};
  pExcepInfo->scode = hr;
  IUnknown* object = static_cast<IUnknown*>(instance);
  ComPtr<ISupportErrorInfo> support;
  if (FAILED(object->QueryInterface(IID_ISupportErrorInfo,
                                    reinterpret_cast<void**>(support.Receive()))) ||
      support->InterfaceSupportsErrorInfo(iid) != S_OK)
    return DISP_E_EXCEPTION;
  ComPtr<IErrorInfo> info;
  if (GetErrorInfo(0, info.Receive()) != S_OK || !info)
    return DISP_E_EXCEPTION;
  info->GetSource(&pExcepInfo->bstrSource);
  info->GetDescription(&pExcepInfo->bstrDescription);
  info->GetHelpFile(&pExcepInfo->bstrHelpFile);
  info->GetHelpContext(&pExcepInfo->dwHelpContext);
  return DISP_E_EXCEPTION;
}

// A put takes its value as the one named argument DISPID_PROPERTYPUT; nothing else takes named
// arguments.
HRESULT check_named_arguments(bool put, const DISPPARAMS& params) {
  const UINT named = params.cNamedArgs;
  if (put) {
    if (named != 1 || !params.rgdispidNamedArgs ||
        params.rgdispidNamedArgs[0] != DISPID_PROPERTYPUT)
      return named ? DISP_E_PARAMNOTFOUND : DISP_E_PARAMNOTOPTIONAL;
  } else if (named) {
    return DISP_E_NONAMEDARGS;
  }
  return S_OK;
}

// The parameters a caller passes (neither [retval] nor [lcid]), in declaration order, and the
// index of the [retval] parameter (the parameter count when there is none).
void classify_parameters(const FuncInfo& f, CallArray<size_t>* positional, size_t* retval) {
  *retval = f.params.size();
  size_t count = 0;
  for (size_t i = 0; i < f.params.size(); ++i) {
    const USHORT flags = f.params[i].paramdesc.wParamFlags;
    if (flags & PARAMFLAG_FRETVAL)
      *retval = i;
    else if (!(flags & PARAMFLAG_FLCID))
      (*positional)[count++] = i;
  }
  positional->shrink(count);
}

// The value for a parameter the caller left out: its default, a "missing" VARIANT for an
// optional VARIANT or VARIANT*, else DISP_E_BADPARAMCOUNT.
HRESULT missing_argument(TypeInfoImpl* owner, const ELEMDESC& e, Argument& arg) {
  const USHORT flags = e.paramdesc.wParamFlags;
  if (flags & PARAMFLAG_FHASDEFAULT)
    return coerce_in(owner, e.tdesc, &e.paramdesc.pparamdescex->varDefaultValue, arg);
  if ((flags & PARAMFLAG_FOPT) && e.tdesc.vt == VT_VARIANT) {
    arg.vt = VT_VARIANT;
    arg.value.vt = VT_ERROR;
    arg.value.scode = DISP_E_PARAMNOTFOUND;
    return S_OK;
  }
  if ((flags & PARAMFLAG_FOPT) && e.tdesc.vt == VT_PTR && e.tdesc.lptdesc->vt == VT_VARIANT) {
    // A missing optional VARIANT* points at a "missing" VARIANT, as the platform passes it.
    arg.retval_store.vt = VT_ERROR;
    arg.retval_store.scode = DISP_E_PARAMNOTFOUND;
    arg.vt = VT_BYREF;
    arg.value.vt = VT_BYREF;
    arg.value.byref = &arg.retval_store;
    return S_OK;
  }
  return DISP_E_BADPARAMCOUNT;
}

// Coerces the caller's arguments into args, one for each positional parameter (k-th positional
// parameter from rgvarg, last first; for a put the last takes rgvarg[0]). When an argument
// cannot be coerced, *puArgErr (if given) is its index in rgvarg.
HRESULT convert_arguments(TypeInfoImpl* owner, const FuncInfo& f, bool put,
                          const CallArray<size_t>& positional, const DISPPARAMS& params,
                          CallArray<Argument>& args, UINT* puArgErr) {
  const UINT cArgs = params.cArgs;
  const UINT positional_args = put ? cArgs - 1 : cArgs;
  for (size_t k = 0; k < positional.size(); ++k) {
    const size_t i = positional[k];
    const ELEMDESC& e = f.params[i];
    const bool is_put_value = put && k + 1 == positional.size();
    VARIANT* src = nullptr;
    UINT src_index = 0;
    if (is_put_value) {
      src = &params.rgvarg[0];
    } else if (k < positional_args) {
      src_index = cArgs - 1 - static_cast<UINT>(k);
      src = &params.rgvarg[src_index];
    }
    if (src && src->vt == VT_ERROR && src->scode == DISP_E_PARAMNOTFOUND &&
        (e.paramdesc.wParamFlags & PARAMFLAG_FOPT))
      src = nullptr;  // an explicitly missing optional argument
    HRESULT hr;
    if (!src) {
      hr = missing_argument(owner, e, args[i]);
      if (hr == DISP_E_BADPARAMCOUNT)
        return hr;
    } else if (e.tdesc.vt == VT_PTR && !interface_pointer(owner, e.tdesc, nullptr, nullptr)) {
      hr = coerce_ref(owner, e.tdesc, src, args[i]);
    } else {
      hr = coerce_in(owner, e.tdesc, src, args[i]);
    }
    if (FAILED(hr)) {
      if (puArgErr)
        *puArgErr = src_index;
      return hr;
    }
  }
  return S_OK;
}

// Fills the [retval] and [lcid] slots, and the types and values DispCallFunc takes.
HRESULT prepare_call(const FuncInfo& f, size_t retval, CallArray<Argument>& args,
                     CallArray<VARTYPE>& types, CallArray<VARIANTARG*>& values) {
  for (size_t i = 0; i < f.params.size(); ++i) {
    const ELEMDESC& e = f.params[i];
    Argument& arg = args[i];
    if (i == retval) {
      if (e.tdesc.vt != VT_PTR)
        return DISP_E_TYPEMISMATCH;
      arg.vt = VT_BYREF;
      arg.value.vt = VT_BYREF;
      // Every type the member can write fits in the storage VARIANT; a VARIANT is the storage.
      arg.value.byref = e.tdesc.lptdesc->vt == VT_VARIANT
                            ? static_cast<void*>(&arg.retval_store)
                            : static_cast<void*>(&arg.retval_store.llVal);
    } else if (e.paramdesc.wParamFlags & PARAMFLAG_FLCID) {
      arg.vt = VT_I4;
      arg.value.vt = VT_I4;
      arg.value.lVal = 0;
    }
    types[i] = arg.vt;
    values[i] = &arg.value;
  }
  return S_OK;
}

}  // namespace

HRESULT TypeInfoImpl::Invoke(PVOID pvInstance, MEMBERID memid, WORD wFlags, DISPPARAMS* pDispParams,
                             VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) {
  if (!pvInstance || !pDispParams)
    return E_INVALIDARG;
  if (pDispParams->cArgs && !pDispParams->rgvarg)
    return E_INVALIDARG;
  if (attr.typekind != TKIND_INTERFACE && attr.typekind != TKIND_DISPATCH)
    return TYPE_E_BADMODULEKIND;
  const FuncInfo* f = find_func(memid, wFlags);
  if (!f)
    return DISP_E_MEMBERNOTFOUND;
  const bool put = f->desc.invkind & (INVOKE_PROPERTYPUT | INVOKE_PROPERTYPUTREF);
  HRESULT hr = check_named_arguments(put, *pDispParams);
  if (FAILED(hr))
    return hr;

  CallArray<size_t> positional(f->params.size());
  size_t retval = 0;
  classify_parameters(*f, &positional, &retval);
  if (pDispParams->cArgs > positional.size() || (put && positional.empty()))
    return DISP_E_BADPARAMCOUNT;

  const size_t count = f->params.size();
  CallArray<Argument> args(count);
  hr = convert_arguments(this, *f, put, positional, *pDispParams, args, puArgErr);
  if (FAILED(hr))
    return hr;
  CallArray<VARTYPE> types(count);
  CallArray<VARIANTARG*> values(count);
  hr = prepare_call(*f, retval, args, types, values);
  if (FAILED(hr))
    return hr;

  VARIANT status;
  VariantInit(&status);
  hr = DispCallFunc(pvInstance, static_cast<ULONG_PTR>(f->desc.oVft), CC_STDCALL, VT_ERROR,
                    static_cast<UINT>(count), types.data(), values.data(), &status);
  if (FAILED(hr))
    return hr;
  hr = status.scode;
  if (FAILED(hr)) {
    if (retval < count)
      release_retval(this, f->params[retval].tdesc, args[retval]);
    return report_failure(pvInstance, attr.guid, hr, pExcepInfo);
  }
  if (retval < count) {
    if (pVarResult) {
      VariantClear(pVarResult);
      take_retval(this, f->params[retval].tdesc, args[retval], pVarResult);
    } else {
      release_retval(this, f->params[retval].tdesc, args[retval]);
    }
  }
  return S_OK;
}
