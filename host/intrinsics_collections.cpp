// The collections of the intrinsic objects: StringList, RequestDictionary, VariantStore and
// VariantDictionary, and the helpers the intrinsic objects share.
#include <new>

#include "enum_variant.h"
#include "intrinsics.h"
#include "text.h"

namespace vhost {

HRESULT bstr_out(const std::u16string& text, BSTR* out) {
  if (!out)
    return E_POINTER;
  *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  return *out ? S_OK : E_OUTOFMEMORY;
}

std::u16string bstr_text(BSTR b) {
  return b ? std::u16string(b, SysStringLen(b)) : std::u16string();
}

HRESULT PageBound::check_page() const {
  return page_ ? S_OK : set_error(E_UNEXPECTED, u"The page this object belongs to has ended.");
}

namespace {

// How a collection is indexed: missing, by a 1-based number, or by a key.
struct Index {
  bool missing = false;
  bool numeric = false;
  LONG number = 0;
  std::u16string key;
};

HRESULT read_index(const VARIANT& in, Index* index) {
  // A key as text, the usual index, needs no copy of the argument.
  if (in.vt == VT_BSTR) {
    index->key = bstr_text(in.bstrVal);
    return S_OK;
  }
  ScopedVariant value;
  HRESULT hr = VariantCopyInd(value.Receive(), &in);
  if (FAILED(hr))
    return hr;
  const VARTYPE vt = value.Type();
  if (vt == VT_ERROR && value.Get().scode == DISP_E_PARAMNOTFOUND) {
    index->missing = true;
    return S_OK;
  }
  if (vt == VT_EMPTY) {
    index->missing = true;
    return S_OK;
  }
  if (vt == VT_I1 || vt == VT_I2 || vt == VT_I4 || vt == VT_UI1 || vt == VT_UI2 || vt == VT_UI4 ||
      vt == VT_INT || vt == VT_UINT || vt == VT_R4 || vt == VT_R8) {
    hr = value.ChangeType(VT_I4);
    if (FAILED(hr))
      return hr;
    index->numeric = true;
    index->number = value.Get().lVal;
    return S_OK;
  }
  hr = value.ChangeType(VT_BSTR);
  if (FAILED(hr))
    return hr;
  index->key = bstr_text(value.Get().bstrVal);
  return S_OK;
}

HRESULT put_bstr(const std::u16string& text, VARIANT* out) {
  if (!out)
    return E_POINTER;
  VariantInit(out);
  BSTR b = nullptr;
  HRESULT hr = bstr_out(text, &b);
  if (FAILED(hr))
    return hr;
  out->vt = VT_BSTR;
  out->bstrVal = b;
  return S_OK;
}

HRESULT enum_of_texts(const std::vector<std::u16string>& texts, IUnknown** out) {
  std::vector<VARIANT> values(texts.size());
  HRESULT hr = S_OK;
  for (size_t i = 0; i < texts.size() && SUCCEEDED(hr); ++i)
    hr = put_bstr(texts[i], &values[i]);
  if (SUCCEEDED(hr))
    hr = create_enum_variant(values, out);
  for (VARIANT& v : values)
    VariantClear(&v);
  return hr;
}

}  // namespace

HRESULT StringList::get_Item(VARIANT i, VARIANT* pVariantReturn) {
  if (!pVariantReturn)
    return E_POINTER;
  VariantInit(pVariantReturn);
  Index index;
  HRESULT hr = read_index(i, &index);
  if (FAILED(hr))
    return hr;
  if (index.missing)
    return put_all(pVariantReturn);
  if (!index.numeric || index.number < 1 || static_cast<size_t>(index.number) > values_.size())
    return set_error(E_INVALIDARG, u"The index is out of range.");
  return put_bstr(values_[static_cast<size_t>(index.number) - 1], pVariantReturn);
}

HRESULT StringList::Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags,
                           DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                           UINT* puArgErr) {
  if (dispIdMember == DISPID_VALUE && (wFlags & DISPATCH_PROPERTYGET) && pDispParams &&
      pDispParams->cArgs == 0 && pVarResult) {
    VariantInit(pVarResult);
    return put_all(pVarResult);
  }
  return DispatchObject::Invoke(dispIdMember, riid, lcid, wFlags, pDispParams, pVarResult,
                                pExcepInfo, puArgErr);
}

HRESULT StringList::put_all(VARIANT* out) const {
  if (values_.empty())
    return S_OK;  // VT_EMPTY: the key was not sent
  if (values_.size() == 1)
    return put_bstr(values_.front(), out);
  std::u16string joined;
  for (size_t k = 0; k < values_.size(); ++k)
    joined += (k ? u", " : u"") + values_[k];
  return put_bstr(joined, out);
}

HRESULT StringList::get_Count(INT* cStrRet) {
  if (!cStrRet)
    return E_POINTER;
  *cStrRet = static_cast<INT>(values_.size());
  return S_OK;
}

HRESULT StringList::get__NewEnum(IUnknown** ppEnumReturn) {
  return enum_of_texts(values_, ppEnumReturn);
}

void RequestDictionary::add(std::vector<Entry>& entries, std::u16string key, std::u16string value) {
  for (Entry& e : entries) {
    if (iequals(e.key, key)) {
      e.values.push_back(std::move(value));
      return;
    }
  }
  entries.push_back(Entry{std::move(key), {std::move(value)}});
}

HRESULT RequestDictionary::get_Item(VARIANT Var, VARIANT* pVariantReturn) {
  if (!pVariantReturn)
    return E_POINTER;
  VariantInit(pVariantReturn);
  Index index;
  HRESULT hr = read_index(Var, &index);
  if (FAILED(hr))
    return hr;
  if (index.missing)
    return put_bstr(whole_, pVariantReturn);
  const Entry* found = nullptr;
  std::vector<Entry> made;
  if (maker_ && !index.numeric) {
    hr = maker_(&index.key, &made);
    if (FAILED(hr))
      return hr;
    if (!made.empty())
      found = &made.front();
  } else {
    hr = complete();
    if (FAILED(hr))
      return hr;
    if (index.numeric) {
      if (index.number < 1 || static_cast<size_t>(index.number) > entries_.size())
        return set_error(E_INVALIDARG, u"The index is out of range.");
      found = &entries_[static_cast<size_t>(index.number) - 1];
    } else {
      for (const Entry& e : entries_)
        if (iequals(e.key, index.key)) {
          found = &e;
          break;
        }
    }
  }
  std::vector<std::u16string> values;
  if (!made.empty())
    values = std::move(made.front().values);
  else if (found)
    values = found->values;
  auto* list = new (std::nothrow) StringList(std::move(values));
  IStringList* out = nullptr;
  hr = hand_out(list, &out);
  if (FAILED(hr))
    return hr;
  pVariantReturn->vt = VT_DISPATCH;
  pVariantReturn->pdispVal = out;
  return S_OK;
}

HRESULT RequestDictionary::complete() {
  if (!maker_)
    return S_OK;
  std::vector<Entry> entries;
  const HRESULT hr = maker_(nullptr, &entries);
  if (FAILED(hr))
    return hr;
  entries_ = std::move(entries);
  maker_ = nullptr;
  return S_OK;
}

HRESULT RequestDictionary::get__NewEnum(IUnknown** ppEnumReturn) {
  HRESULT hr = complete();
  if (FAILED(hr))
    return hr;
  std::vector<std::u16string> keys;
  for (const Entry& e : entries_)
    keys.push_back(e.key);
  return enum_of_texts(keys, ppEnumReturn);
}

HRESULT RequestDictionary::get_Count(INT* cStrRet) {
  if (!cStrRet)
    return E_POINTER;
  const HRESULT hr = complete();
  if (FAILED(hr))
    return hr;
  *cStrRet = static_cast<INT>(entries_.size());
  return S_OK;
}

HRESULT RequestDictionary::get_Key(VARIANT VarKey, VARIANT* pvar) {
  if (!pvar)
    return E_POINTER;
  VariantInit(pvar);
  Index index;
  HRESULT hr = read_index(VarKey, &index);
  if (FAILED(hr))
    return hr;
  hr = complete();
  if (FAILED(hr))
    return hr;
  if (!index.numeric) {
    for (const Entry& e : entries_)
      if (iequals(e.key, index.key))
        return put_bstr(e.key, pvar);
    return S_OK;
  }
  if (index.number < 1 || static_cast<size_t>(index.number) > entries_.size())
    return set_error(E_INVALIDARG, u"The index is out of range.");
  return put_bstr(entries_[static_cast<size_t>(index.number) - 1].key, pvar);
}

HRESULT VariantStore::get(const std::u16string& key, VARIANT* out) {
  if (!out)
    return E_POINTER;
  VariantInit(out);
  std::lock_guard<std::mutex> guard(lock_);
  for (auto& entry : values_)
    if (iequals(entry.first, key))
      return VariantCopy(out, &entry.second.Get());
  return S_OK;
}

HRESULT VariantStore::put(const std::u16string& key, const VARIANT& value) {
  ScopedVariant copy;
  HRESULT hr = VariantCopyInd(copy.Receive(), &value);
  if (FAILED(hr))
    return hr;
  std::lock_guard<std::mutex> guard(lock_);
  for (auto& entry : values_) {
    if (iequals(entry.first, key)) {
      entry.second.Swap(copy);
      return S_OK;
    }
  }
  values_.emplace_back(key, std::move(copy));
  return S_OK;
}

HRESULT VariantStore::remove(const std::u16string& key) {
  std::lock_guard<std::mutex> guard(lock_);
  for (auto it = values_.begin(); it != values_.end(); ++it) {
    if (iequals(it->first, key)) {
      values_.erase(it);
      return S_OK;
    }
  }
  return S_OK;
}

void VariantStore::clear() {
  std::vector<std::pair<std::u16string, ScopedVariant>> old;
  {
    std::lock_guard<std::mutex> guard(lock_);
    old.swap(values_);
  }
}

std::vector<std::u16string> VariantStore::keys() {
  std::lock_guard<std::mutex> guard(lock_);
  std::vector<std::u16string> out;
  for (auto& entry : values_)
    out.push_back(entry.first);
  return out;
}

namespace {

HRESULT store_key(VariantStore& store, const VARIANT& key_value, std::u16string* key) {
  Index index;
  HRESULT hr = read_index(key_value, &index);
  if (FAILED(hr))
    return hr;
  if (index.missing)
    return set_error(DISP_E_PARAMNOTOPTIONAL, u"A key is needed.");
  if (index.numeric) {
    const auto keys = store.keys();
    if (index.number < 1 || static_cast<size_t>(index.number) > keys.size())
      return set_error(E_INVALIDARG, u"The index is out of range.");
    *key = keys[static_cast<size_t>(index.number) - 1];
    return S_OK;
  }
  *key = index.key;
  return S_OK;
}

}  // namespace

HRESULT VariantDictionary::get_Item(VARIANT VarKey, VARIANT* pvar) {
  if (!pvar)
    return E_POINTER;
  VariantInit(pvar);
  std::u16string key;
  HRESULT hr = store_key(*store_, VarKey, &key);
  return FAILED(hr) ? hr : store_->get(key, pvar);
}

HRESULT VariantDictionary::put_Item(VARIANT VarKey, VARIANT var) {
  std::u16string key;
  HRESULT hr = store_key(*store_, VarKey, &key);
  return FAILED(hr) ? hr : store_->put(key, var);
}

HRESULT VariantDictionary::putref_Item(VARIANT VarKey, VARIANT var) {
  return put_Item(VarKey, var);
}

HRESULT VariantDictionary::get_Key(VARIANT VarKey, VARIANT* pvar) {
  if (!pvar)
    return E_POINTER;
  VariantInit(pvar);
  std::u16string key;
  HRESULT hr = store_key(*store_, VarKey, &key);
  return FAILED(hr) ? hr : put_bstr(key, pvar);
}

HRESULT VariantDictionary::get_Count(INT* cStrRet) {
  if (!cStrRet)
    return E_POINTER;
  *cStrRet = static_cast<INT>(store_->keys().size());
  return S_OK;
}

HRESULT VariantDictionary::get__NewEnum(IUnknown** ppEnumReturn) {
  return enum_of_texts(store_->keys(), ppEnumReturn);
}

HRESULT VariantDictionary::Remove(VARIANT VarKey) {
  std::u16string key;
  HRESULT hr = store_key(*store_, VarKey, &key);
  return FAILED(hr) ? hr : store_->remove(key);
}

HRESULT VariantDictionary::RemoveAll() {
  store_->clear();
  return S_OK;
}

}  // namespace vhost
