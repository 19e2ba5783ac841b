// Counting the columns of a recordset and finding one by ordinal or name.
#include "fields.h"

#include "field.h"
#include "recordset.h"
#include "scoped_variant.h"

namespace {

char16_t fold(char16_t c) {
  return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

// Column names compare without regard to ASCII case, as SQLite compares them.
bool same_name(const char16_t* column, const OLECHAR* name, UINT length) {
  if (!column)
    return false;
  UINT i = 0;
  for (; i < length && column[i]; ++i)
    if (fold(column[i]) != fold(name[i]))
      return false;
  return i == length && !column[i];
}

HRESULT not_found() {
  return ReportAdoError(CLSID_Recordset, IID_Fields15, AdoErrorStatus(adErrItemNotFound),
                        u"No field has that name or ordinal.");
}

}  // namespace

FieldsObject::FieldsObject(RecordsetObject* recordset) {
  recordset_.Set(recordset);
}

FieldsObject::~FieldsObject() = default;

HRESULT FieldsObject::get_Count(LONG* c) {
  if (!c)
    return E_POINTER;
  Rows* rows = nullptr;
  HRESULT hr = recordset_->OpenRows(IID__Collection, &rows);
  if (FAILED(hr))
    return hr;
  *c = rows->ColumnCount();
  return S_OK;
}

HRESULT FieldsObject::get_Item(VARIANT Index, Field** ppvObject) {
  if (!ppvObject)
    return E_POINTER;
  *ppvObject = nullptr;
  Rows* rows = nullptr;
  HRESULT hr = recordset_->OpenRows(IID_Fields15, &rows);
  if (FAILED(hr))
    return hr;
  const int count = rows->ColumnCount();
  const VARIANT* index = &Index;
  while (index->vt == (VT_BYREF | VT_VARIANT) && index->pvarVal)
    index = index->pvarVal;
  int column = -1;
  if (index->vt == VT_BSTR || index->vt == (VT_BYREF | VT_BSTR)) {
    BSTR name = index->vt == VT_BSTR ? index->bstrVal : *index->pbstrVal;
    for (int i = 0; i < count && column < 0; ++i)
      if (same_name(rows->ColumnName(i), name ? name : u"", SysStringLen(name)))
        column = i;
  } else {
    ScopedVariant ordinal;
    if (FAILED(VariantChangeType(ordinal.Receive(), index, 0, VT_I4)))
      return not_found();
    if (ordinal.Get().lVal >= 0 && ordinal.Get().lVal < count)
      column = ordinal.Get().lVal;
  }
  if (column < 0)
    return not_found();
  ComPtr<FieldObject> field;
  hr = FieldObject::Create(&field, recordset_.Get(), column);
  if (FAILED(hr))
    return ReportAdoError(CLSID_Recordset, IID_Fields15, hr, u"Out of memory.");
  *ppvObject = field.Release();
  return S_OK;
}
