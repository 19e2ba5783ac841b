// The items and attachments collections (IKaoItems, IKaoAttachments): one class shape, an
// ordered array of VT_DISPATCH values, 1-based for scripts, with lookup by position, by name or
// by the element itself, and an IEnumVARIANT enumerator over the live array.
#pragma once

#include <new>
#include <vector>

#include "faultsim.h"
#include "scoped_variant.h"
#include "vtrl_module.h"

HRESULT CollectionLookupByName(const std::vector<VARIANT>& elements, DISPID name_dispid, BSTR name,
                               IDispatch** found);

// Enumerator over a collection's array: holds the collection, walks its elements in place by
// position, so a growing array never leaves it pointing into released storage.
class CollectionEnum final : public IEnumVARIANT {
 public:
  // A new enumerator at position; null when memory is short.
  static CollectionEnum* Create(IUnknown* owner, const std::vector<VARIANT>* elements,
                                size_t position);

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE Next(ULONG celt, VARIANT* rgVar, ULONG* pCeltFetched) override;
  HRESULT STDMETHODCALLTYPE Skip(ULONG celt) override;
  HRESULT STDMETHODCALLTYPE Reset() override;
  HRESULT STDMETHODCALLTYPE Clone(IEnumVARIANT** ppEnum) override;

 private:
  CollectionEnum(IUnknown* owner, const std::vector<VARIANT>* elements, size_t position);
  ~CollectionEnum();

  ULONG refs_ = 0;
  IUnknown* owner_;
  const std::vector<VARIANT>* elements_;
  size_t position_;
};

// Itf is the collection's interface, Elem its element interface; NameDispid is the dispatch id
// of the elements' Name property.
template <class Itf, const IID* piid, class Elem, const IID* pelem, DISPID NameDispid>
class KaoCollection final : public VtrlObject<Itf, piid> {
 public:
  static KaoCollection* Create() {
    if (FaultSimStep())
      return nullptr;
    return new (std::nothrow) KaoCollection();
  }

  // Appends value, which the collection takes over; E_OUTOFMEMORY when it cannot be stored (the
  // value is then released).
  HRESULT Add(ScopedVariant value) {
    VARIANT owned = value.Release();
    try {
      elements_.push_back(owned);
    } catch (const std::bad_alloc&) {
      VariantClear(&owned);
      return E_OUTOFMEMORY;
    }
    return S_OK;
  }

  // Makes room for count more elements at once; false when memory is short (nothing changes).
  bool Reserve(size_t count) {
    try {
      elements_.reserve(elements_.size() + count);
    } catch (const std::bad_alloc&) {
      return false;
    }
    return true;
  }

  HRESULT STDMETHODCALLTYPE get__NewEnum(IUnknown** pVal) override {
    if (!pVal)
      return E_POINTER;
    *pVal = nullptr;
    CollectionEnum* e = CollectionEnum::Create(static_cast<Itf*>(this), &elements_, 0);
    if (!e)
      return E_OUTOFMEMORY;
    return hand_out(e, IID_IUnknown, reinterpret_cast<void**>(pVal));
  }

  HRESULT STDMETHODCALLTYPE get_Item(VARIANT* pvIndex, Elem** pVal) override {
    if (!pVal)
      return E_POINTER;
    *pVal = nullptr;
    if (!pvIndex)
      return E_INVALIDARG;
    // A value by reference is read through; only the types below say which element is meant.
    const VARIANT* index = pvIndex;
    while (index->vt == (VT_BYREF | VT_VARIANT) && index->pvarVal)
      index = index->pvarVal;
    const bool byref = (index->vt & VT_BYREF) != 0;
    switch (index->vt & ~VT_BYREF) {
      case VT_BSTR: {
        IDispatch* found = nullptr;
        HRESULT hr = CollectionLookupByName(elements_, NameDispid,
                                            byref ? *index->pbstrVal : index->bstrVal, &found);
        if (FAILED(hr))
          return hr;
        hr = found->QueryInterface(*pelem, reinterpret_cast<void**>(pVal));
        found->Release();
        return hr;
      }
      case VT_I2:
      case VT_I4: {
        const LONG position = (index->vt & ~VT_BYREF) == VT_I2
                                  ? (byref ? *index->piVal : index->iVal)
                                  : (byref ? *index->plVal : index->lVal);
        if (position < 1 || static_cast<size_t>(position) > elements_.size())
          return E_INVALIDARG;
        const VARIANT& element = elements_[static_cast<size_t>(position) - 1];
        if (element.vt != VT_DISPATCH || !element.pdispVal)
          return E_INVALIDARG;
        return element.pdispVal->QueryInterface(*pelem, reinterpret_cast<void**>(pVal));
      }
      case VT_DISPATCH:
      case VT_UNKNOWN: {
        IUnknown* object = byref ? (index->ppunkVal ? *index->ppunkVal : nullptr) : index->punkVal;
        if (!object)
          return E_INVALIDARG;
        return object->QueryInterface(*pelem, reinterpret_cast<void**>(pVal));
      }
      default:
        // Empty, numbers of other kinds, dates...: nothing to look up, and never an object.
        return E_INVALIDARG;
    }
  }

  HRESULT STDMETHODCALLTYPE get_Count(LONG* pVal) override {
    if (!pVal)
      return E_POINTER;
    *pVal = static_cast<LONG>(elements_.size());
    return S_OK;
  }

 private:
  KaoCollection() = default;
  ~KaoCollection() override {
    for (VARIANT& v : elements_)
      VariantClear(&v);
  }

  std::vector<VARIANT> elements_;
};

// Named apart from the type library's classes KaoItems and KaoAttachments, which the system's
// interface compiler declares in the generated header.
using ItemCollection = KaoCollection<IKaoItems, &IID_IKaoItems, IKaoItem, &IID_IKaoItem, 1>;
using AttachmentCollection =
    KaoCollection<IKaoAttachments, &IID_IKaoAttachments, IKaoAttachment, &IID_IKaoAttachment, 2>;
