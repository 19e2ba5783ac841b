// IEnumVARIANT over a snapshot of values (see enum_variant.h).
#include "enum_variant.h"

#include <atomic>
#include <memory>
#include <new>

namespace vhost {

namespace {

class EnumVariant final : public IEnumVARIANT {
 public:
  explicit EnumVariant(std::shared_ptr<std::vector<ScopedVariant>> values)
      : values_(std::move(values)) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv)
      return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualGUID(riid, IID_IUnknown) && !IsEqualGUID(riid, IID_IEnumVARIANT))
      return E_NOINTERFACE;
    *ppv = static_cast<IEnumVARIANT*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG refs = --refs_;
    if (refs == 0)
      delete this;
    return refs;
  }
  HRESULT STDMETHODCALLTYPE Next(ULONG celt, VARIANT* rgVar, ULONG* pCeltFetched) override {
    if (pCeltFetched)
      *pCeltFetched = 0;
    if (!rgVar)
      return E_POINTER;
    ULONG fetched = 0;
    while (fetched < celt && position_ < values_->size()) {
      VariantInit(&rgVar[fetched]);
      HRESULT hr = VariantCopy(&rgVar[fetched], &(*values_)[position_].Get());
      if (FAILED(hr)) {
        for (ULONG i = 0; i < fetched; ++i)
          VariantClear(&rgVar[i]);
        return hr;
      }
      ++fetched;
      ++position_;
    }
    if (pCeltFetched)
      *pCeltFetched = fetched;
    return fetched == celt ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Skip(ULONG celt) override {
    const size_t left = values_->size() - position_;
    position_ += celt < left ? celt : left;
    return celt <= left ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Reset() override {
    position_ = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Clone(IEnumVARIANT** ppEnum) override {
    if (!ppEnum)
      return E_POINTER;
    auto* copy = new (std::nothrow) EnumVariant(values_);
    if (!copy) {
      *ppEnum = nullptr;
      return E_OUTOFMEMORY;
    }
    copy->position_ = position_;
    copy->AddRef();
    *ppEnum = copy;
    return S_OK;
  }

 private:
  ~EnumVariant() = default;
  std::shared_ptr<std::vector<ScopedVariant>> values_;
  size_t position_ = 0;
  std::atomic<ULONG> refs_{0};
};

}  // namespace

HRESULT create_enum_variant(const std::vector<VARIANT>& values, IUnknown** out) {
  if (!out)
    return E_POINTER;
  *out = nullptr;
  auto copies = std::make_shared<std::vector<ScopedVariant>>(values.size());
  for (size_t i = 0; i < values.size(); ++i) {
    HRESULT hr = (*copies)[i].Set(values[i]);
    if (FAILED(hr))
      return hr;
  }
  auto* object = new (std::nothrow) EnumVariant(std::move(copies));
  if (!object)
    return E_OUTOFMEMORY;
  object->AddRef();
  *out = static_cast<IEnumVARIANT*>(object);
  return S_OK;
}

}  // namespace vhost
