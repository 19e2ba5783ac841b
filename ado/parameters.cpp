// Appending, finding and removing the parameters of a command.
#include "parameters.h"

#include "parameter.h"

namespace {

char16_t fold(char16_t c) {
  return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

bool same_name(BSTR a, const OLECHAR* b, UINT length) {
  if (SysStringLen(a) != length)
    return false;
  for (UINT i = 0; i < length; ++i)
    if (fold(a[i]) != fold(b[i]))
      return false;
  return true;
}

}  // namespace

ParametersObject::~ParametersObject() {
  for (LONG i = 0; i < count_; ++i)
    items_[i]->Release();
  CoTaskMemFree(items_);
}

const VARIANT& ParametersObject::At(size_t index) const {
  return items_[index]->value();
}

HRESULT ParametersObject::PrepareValues() {
  for (LONG i = 0; i < count_; ++i) {
    HRESULT hr = items_[i]->PrepareValue();
    if (FAILED(hr))
      return hr;
  }
  return S_OK;
}

LONG ParametersObject::Find(const VARIANT& Index) const {
  const VARIANT* index = &Index;
  while (index->vt == (VT_BYREF | VT_VARIANT) && index->pvarVal)
    index = index->pvarVal;
  if (index->vt == VT_BSTR || index->vt == (VT_BYREF | VT_BSTR)) {
    BSTR name = index->vt == VT_BSTR ? index->bstrVal : *index->pbstrVal;
    for (LONG i = 0; i < count_; ++i)
      if (same_name(items_[i]->name(), name ? name : u"", SysStringLen(name)))
        return i;
    return -1;
  }
  VARIANT ordinal;
  VariantInit(&ordinal);
  if (FAILED(VariantChangeType(&ordinal, index, 0, VT_I4)))
    return -1;
  return ordinal.lVal >= 0 && ordinal.lVal < count_ ? ordinal.lVal : -1;
}

HRESULT ParametersObject::get_Count(LONG* c) {
  if (!c)
    return E_POINTER;
  *c = count_;
  return S_OK;
}

HRESULT ParametersObject::Append(IDispatch* Object) {
  ComPtr<ParameterObject> parameter = ParameterObject::FromUnknown(Object);
  if (!parameter)
    return ReportAdoError(CLSID_Command, IID__DynaCollection, AdoErrorStatus(adErrInvalidArgument),
                          Object ? u"Only a parameter made by CreateParameter can be appended."
                                 : u"The parameter to append is missing.");
  if (count_ == capacity_) {
    const LONG capacity = capacity_ ? capacity_ * 2 : 4;
    void* grown = CoTaskMemRealloc(items_, static_cast<SIZE_T>(capacity) * sizeof *items_);
    if (!grown)
      return ReportAdoError(CLSID_Command, IID__DynaCollection, E_OUTOFMEMORY, u"Out of memory.");
    items_ = static_cast<ParameterObject**>(grown);
    capacity_ = capacity;
  }
  items_[count_++] = parameter.Release();
  return S_OK;
}

HRESULT ParametersObject::Delete(VARIANT Index) {
  const LONG at = Find(Index);
  if (at < 0)
    return ReportAdoError(CLSID_Command, IID__DynaCollection, AdoErrorStatus(adErrItemNotFound),
                          u"No parameter has that name or ordinal.");
  items_[at]->Release();
  for (LONG i = at + 1; i < count_; ++i)
    items_[i - 1] = items_[i];
  --count_;
  return S_OK;
}

HRESULT ParametersObject::get_Item(VARIANT Index, _Parameter** ppvObject) {
  if (!ppvObject)
    return E_POINTER;
  *ppvObject = nullptr;
  const LONG at = Find(Index);
  if (at < 0)
    return ReportAdoError(CLSID_Command, IID_Parameters, AdoErrorStatus(adErrItemNotFound),
                          u"No parameter has that name or ordinal.");
  items_[at]->AddRef();
  *ppvObject = items_[at];
  return S_OK;
}
