// ITypeInfo members that describe a type: attributes, functions, constants, names,
// implemented types and documentation. Invoke is in typeinfo_invoke.cpp.
#include <algorithm>

#include "objbase.h"
#include "scoped_bstr.h"
#include "typelib_private.h"

TypeInfoImpl::TypeInfoImpl(TypeLibImpl* lib, UINT index, TYPEKIND kind, std::u16string type_name)
    : name(std::move(type_name)), lib_(lib), index_(index) {
  attr.typekind = kind;
}

TypeInfoImpl::~TypeInfoImpl() {
  for (PARAMDESCEX& d : defaults)
    VariantClear(&d.varDefaultValue);
}

HRESULT TypeInfoImpl::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv)
    return E_POINTER;
  *ppv = nullptr;
  if (!IsEqualGUID(riid, IID_IUnknown) && !IsEqualGUID(riid, IID_ITypeInfo))
    return E_NOINTERFACE;
  *ppv = static_cast<ITypeInfo*>(this);
  AddRef();
  return S_OK;
}

ULONG TypeInfoImpl::AddRef() {
  return lib_->AddRef();
}

ULONG TypeInfoImpl::Release() {
  return lib_->Release();
}

HRESULT TypeInfoImpl::GetTypeAttr(TYPEATTR** ppTypeAttr) {
  if (!ppTypeAttr)
    return E_INVALIDARG;
  *ppTypeAttr = &attr;
  return S_OK;
}

HRESULT TypeInfoImpl::GetTypeComp(ITypeComp** ppTComp) {
  if (ppTComp)
    *ppTComp = nullptr;
  return E_NOTIMPL;
}

HRESULT TypeInfoImpl::GetFuncDesc(UINT index, FUNCDESC** ppFuncDesc) {
  if (!ppFuncDesc)
    return E_INVALIDARG;
  *ppFuncDesc = nullptr;
  if (index >= funcs.size())
    return TYPE_E_ELEMENTNOTFOUND;
  *ppFuncDesc = &funcs[index].desc;
  return S_OK;
}

HRESULT TypeInfoImpl::GetVarDesc(UINT index, VARDESC** ppVarDesc) {
  if (!ppVarDesc)
    return E_INVALIDARG;
  *ppVarDesc = nullptr;
  if (index >= vars.size())
    return TYPE_E_ELEMENTNOTFOUND;
  *ppVarDesc = &vars[index].desc;
  return S_OK;
}

HRESULT TypeInfoImpl::GetNames(MEMBERID memid, BSTR* rgBstrNames, UINT cMaxNames, UINT* pcNames) {
  if (!rgBstrNames || !pcNames)
    return E_INVALIDARG;
  *pcNames = 0;
  std::vector<const std::u16string*> names;
  for (const FuncInfo& f : funcs) {
    if (f.desc.memid != memid)
      continue;
    // A property's get lists the name only; the other members list their parameters too.
    names.push_back(&f.name);
    for (const std::u16string& p : f.param_names)
      names.push_back(&p);
    break;
  }
  for (const VarInfo& v : vars)
    if (names.empty() && v.desc.memid == memid)
      names.push_back(&v.name);
  if (names.empty())
    return TYPE_E_ELEMENTNOTFOUND;
  UINT count = 0;
  for (; count < cMaxNames && count < names.size(); ++count) {
    rgBstrNames[count] =
        SysAllocStringLen(names[count]->data(), static_cast<UINT>(names[count]->size()));
    if (!rgBstrNames[count]) {
      while (count > 0)
        SysFreeString(rgBstrNames[--count]);
      return oom_fault();
    }
  }
  *pcNames = count;
  return S_OK;
}

HRESULT TypeInfoImpl::GetRefTypeOfImplType(UINT index, HREFTYPE* pRefType) {
  if (!pRefType)
    return E_INVALIDARG;
  // -1 on a dual interface asks for its interface half, which is this same description.
  if (index == ~0u && (attr.wTypeFlags & TYPEFLAG_FDUAL)) {
    *pRefType = index_;
    return S_OK;
  }
  if (index >= impl_types.size())
    return TYPE_E_ELEMENTNOTFOUND;
  *pRefType = impl_types[index];
  return S_OK;
}

HRESULT TypeInfoImpl::GetImplTypeFlags(UINT index, INT* pImplTypeFlags) {
  if (!pImplTypeFlags)
    return E_INVALIDARG;
  if (index >= impl_flags.size())
    return TYPE_E_ELEMENTNOTFOUND;
  *pImplTypeFlags = impl_flags[index];
  return S_OK;
}

HRESULT TypeInfoImpl::GetIDsOfNames(LPOLESTR* rgszNames, UINT cNames, MEMBERID* pMemId) {
  if (!rgszNames || !pMemId || cNames == 0)
    return E_INVALIDARG;
  for (UINT i = 0; i < cNames; ++i)
    pMemId[i] = MEMBERID_NIL;
  for (const FuncInfo& f : funcs) {
    if (!names_equal(f.name, rgszNames[0]))
      continue;
    pMemId[0] = f.desc.memid;
    HRESULT hr = S_OK;
    for (UINT i = 1; i < cNames; ++i) {
      for (size_t p = 0; p < f.param_names.size(); ++p)
        if (names_equal(f.param_names[p], rgszNames[i]))
          pMemId[i] = static_cast<MEMBERID>(p);
      if (pMemId[i] == MEMBERID_NIL)
        hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
  }
  for (const VarInfo& v : vars) {
    if (names_equal(v.name, rgszNames[0])) {
      pMemId[0] = v.desc.memid;
      return cNames == 1 ? S_OK : DISP_E_UNKNOWNNAME;
    }
  }
  return DISP_E_UNKNOWNNAME;
}

HRESULT TypeInfoImpl::GetDocumentation(MEMBERID memid, BSTR* pBstrName, BSTR* pBstrDocString,
                                       DWORD* pdwHelpContext, BSTR* pBstrHelpFile) {
  const std::u16string* n = nullptr;
  const std::u16string* d = nullptr;
  if (memid == MEMBERID_NIL) {
    n = &name;
    d = &doc;
  } else {
    for (const FuncInfo& f : funcs)
      if (!n && f.desc.memid == memid)
        n = &f.name, d = &f.doc;
    for (const VarInfo& v : vars)
      if (!n && v.desc.memid == memid)
        n = &v.name, d = &v.doc;
  }
  if (!n)
    return TYPE_E_ELEMENTNOTFOUND;
  ScopedBstr name_out, doc_out;
  if (pBstrName && !name_out.AllocateLen(n->data(), static_cast<UINT>(n->size())))
    return oom_fault();
  // An empty help string reads as none, as the platform gives it.
  if (pBstrDocString && !d->empty() &&
      !doc_out.AllocateLen(d->data(), static_cast<UINT>(d->size())))
    return oom_fault();
  if (pBstrName)
    *pBstrName = name_out.Release();
  if (pBstrDocString)
    *pBstrDocString = doc_out.Release();
  if (pdwHelpContext)
    *pdwHelpContext = 0;
  if (pBstrHelpFile)
    *pBstrHelpFile = nullptr;
  return S_OK;
}

HRESULT TypeInfoImpl::GetDllEntry(MEMBERID, INVOKEKIND, BSTR*, BSTR*, WORD*) {
  return TYPE_E_BADMODULEKIND;
}

HRESULT TypeInfoImpl::GetRefTypeInfo(HREFTYPE hRefType, ITypeInfo** ppTInfo) {
  if (!ppTInfo)
    return E_INVALIDARG;
  *ppTInfo = nullptr;
  TypeInfoImpl* target = lib_->resolve(hRefType);
  if (!target)
    return E_FAIL;
  *ppTInfo = target;
  AddRef();
  return S_OK;
}

HRESULT TypeInfoImpl::AddressOfMember(MEMBERID, INVOKEKIND, PVOID* ppv) {
  if (ppv)
    *ppv = nullptr;
  return TYPE_E_BADMODULEKIND;
}

HRESULT TypeInfoImpl::CreateInstance(IUnknown* pUnkOuter, REFIID riid, PVOID* ppvObj) {
  if (!ppvObj)
    return E_INVALIDARG;
  *ppvObj = nullptr;
  if (attr.typekind != TKIND_COCLASS)
    return TYPE_E_BADMODULEKIND;
  return CoCreateInstance(attr.guid, pUnkOuter, CLSCTX_INPROC_SERVER, riid, ppvObj);
}

HRESULT TypeInfoImpl::GetMops(MEMBERID, BSTR* pBstrMops) {
  if (!pBstrMops)
    return E_INVALIDARG;
  *pBstrMops = nullptr;
  return S_OK;
}

HRESULT TypeInfoImpl::GetContainingTypeLib(ITypeLib** ppTLib, UINT* pIndex) {
  if (!ppTLib)
    return E_INVALIDARG;
  *ppTLib = lib_;
  lib_->AddRef();
  if (pIndex)
    *pIndex = index_;
  return S_OK;
}

void TypeInfoImpl::ReleaseTypeAttr(TYPEATTR*) {}
void TypeInfoImpl::ReleaseFuncDesc(FUNCDESC*) {}
void TypeInfoImpl::ReleaseVarDesc(VARDESC*) {}

void TypeInfoImpl::index_functions() {
  by_memid_.clear();
  by_memid_.reserve(funcs.size());
  for (UINT i = 0; i < funcs.size(); ++i)
    by_memid_.emplace_back(funcs[i].desc.memid, i);
  std::stable_sort(by_memid_.begin(), by_memid_.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
}

const FuncInfo* TypeInfoImpl::find_func(MEMBERID memid, WORD wFlags) const {
  auto at = std::lower_bound(by_memid_.begin(), by_memid_.end(), memid,
                             [](const auto& entry, MEMBERID id) { return entry.first < id; });
  for (; at != by_memid_.end() && at->first == memid; ++at)
    if (funcs[at->second].desc.invkind & wFlags)
      return &funcs[at->second];
  return nullptr;
}
