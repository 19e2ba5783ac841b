// The collections' shared parts: lookup by name and the enumerator.
#include "collection.h"

#include "scoped_variant.h"

HRESULT CollectionLookupByName(const std::vector<VARIANT>& elements, DISPID name_dispid, BSTR name,
                               IDispatch** found) {
  *found = nullptr;
  CKaText wanted;
  HRESULT hr = BstrToAcp(name, &wanted);  // a null string is the empty name
  if (FAILED(hr))
    return hr;
  for (const VARIANT& element : elements) {
    if (element.vt != VT_DISPATCH || !element.pdispVal)
      return E_FAIL;
    DISPPARAMS none{};
    ScopedVariant value;
    hr = element.pdispVal->Invoke(name_dispid, GUID_NULL, 0, DISPATCH_PROPERTYGET, &none,
                                  value.Receive(), nullptr, nullptr);
    if (FAILED(hr))
      return E_FAIL;
    if (value.Type() != VT_BSTR && FAILED(value.ChangeType(VT_BSTR)))
      return E_FAIL;
    CKaText element_name;
    hr = BstrToAcp(value.Get().bstrVal, &element_name);
    if (FAILED(hr))
      return hr;
    if (element_name.CompareNoCase(wanted) == 0) {
      element.pdispVal->AddRef();
      *found = element.pdispVal;
      return S_OK;
    }
  }
  return E_INVALIDARG;
}

CollectionEnum* CollectionEnum::Create(IUnknown* owner, const std::vector<VARIANT>* elements,
                                       size_t position) {
  if (FaultSimStep())
    return nullptr;
  return new (std::nothrow) CollectionEnum(owner, elements, position);
}

CollectionEnum::CollectionEnum(IUnknown* owner, const std::vector<VARIANT>* elements,
                               size_t position)
    : owner_(owner), elements_(elements), position_(position) {
  owner_->AddRef();
  InterlockedIncrement(&g_vtrl_module.m_nLockCnt);
}

CollectionEnum::~CollectionEnum() {
  owner_->Release();
  InterlockedDecrement(&g_vtrl_module.m_nLockCnt);
}

HRESULT CollectionEnum::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv)
    return E_POINTER;
  *ppv = nullptr;
  if (!IsEqualGUID(riid, IID_IUnknown) && !IsEqualGUID(riid, IID_IEnumVARIANT))
    return E_NOINTERFACE;
  *ppv = static_cast<IEnumVARIANT*>(this);
  AddRef();
  return S_OK;
}

ULONG CollectionEnum::Release() {
  const ULONG refs = --refs_;
  if (refs == 0)
    delete this;
  return refs;
}

HRESULT CollectionEnum::Next(ULONG celt, VARIANT* rgVar, ULONG* pCeltFetched) {
  if (!rgVar || (celt != 1 && !pCeltFetched))
    return E_POINTER;
  ULONG fetched = 0;
  while (fetched < celt && position_ < elements_->size()) {
    VariantInit(&rgVar[fetched]);
    // Some system headers declare the source without const; VariantCopy only reads it.
    const HRESULT hr = VariantCopy(&rgVar[fetched], const_cast<VARIANT*>(&(*elements_)[position_]));
    if (FAILED(hr)) {
      // All or nothing: what this call copied goes again.
      for (ULONG i = 0; i < fetched; ++i)
        VariantClear(&rgVar[i]);
      position_ -= fetched;
      if (pCeltFetched)
        *pCeltFetched = 0;
      return hr;
    }
    ++fetched;
    ++position_;
  }
  if (pCeltFetched)
    *pCeltFetched = fetched;
  return fetched == celt ? S_OK : S_FALSE;
}

HRESULT CollectionEnum::Skip(ULONG celt) {
  const size_t left = elements_->size() - position_;
  if (celt > left) {
    position_ = elements_->size();
    return S_FALSE;
  }
  position_ += celt;
  return S_OK;
}

HRESULT CollectionEnum::Reset() {
  position_ = 0;
  return S_OK;
}

HRESULT CollectionEnum::Clone(IEnumVARIANT** ppEnum) {
  if (!ppEnum)
    return E_POINTER;
  *ppEnum = nullptr;
  CollectionEnum* e = Create(owner_, elements_, position_);
  if (!e)
    return E_OUTOFMEMORY;
  return hand_out(e, IID_IEnumVARIANT, reinterpret_cast<void**>(ppEnum));
}
