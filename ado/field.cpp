// Reading a field of the current row: whole, or in chunks for long fields.
#include "field.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "recordset.h"

namespace {

HRESULT fail(HRESULT hr, const char16_t* description) {
  return ReportAdoError(CLSID_Recordset, IID_Field20, hr, description);
}

HRESULT bytes_variant(const void* data, ULONGLONG count, VARIANT* out) {
  if (count > 0x7FFFFFFF)
    return fail(AdoErrorStatus(adErrDataConversion), u"The value is too large for an array.");
  SAFEARRAY* array = nullptr;
  const HRESULT hr = NewByteArray(data, static_cast<ULONG>(count), &array);
  if (hr == E_OUTOFMEMORY)
    return fail(hr, u"Out of memory.");
  if (FAILED(hr))
    return fail(hr, u"The value cannot be stored in an array.");
  out->vt = VT_ARRAY | VT_UI1;
  out->parray = array;
  return S_OK;
}

HRESULT text_variant(const void* text, ULONGLONG units, VARIANT* out) {
  if (units > 0x3FFFFFFF)
    return fail(AdoErrorStatus(adErrDataConversion), u"The value is too large for a string.");
  BSTR bstr = SysAllocStringLen(static_cast<const OLECHAR*>(text), static_cast<UINT>(units));
  if (!bstr)
    return fail(E_OUTOFMEMORY, u"Out of memory.");
  out->vt = VT_BSTR;
  out->bstrVal = bstr;
  return S_OK;
}

// The bytes and the text of a cell, held by rows until it moves; E_OUTOFMEMORY (reported) when
// the provider cannot make them.
HRESULT cell_bytes(Rows* rows, int column, const BYTE** data, ULONGLONG* size) {
  return rows->Bytes(column, data, size) ? S_OK : fail(E_OUTOFMEMORY, u"Out of memory.");
}

HRESULT cell_text(Rows* rows, int column, const char16_t** text, ULONGLONG* units) {
  return rows->Text(column, text, units) ? S_OK : fail(E_OUTOFMEMORY, u"Out of memory.");
}

// Reads *out from member of the description of column, once recordset is open.
template <class T, class Member>
HRESULT description_member(RecordsetObject* recordset, int column,
                           Member ColumnDescription::*member, T* out) {
  if (!out)
    return E_POINTER;
  Rows* rows = nullptr;
  const HRESULT hr = recordset->OpenRows(IID_Field20, &rows);
  if (FAILED(hr))
    return hr;
  *out = rows->Describe(column).*member;
  return S_OK;
}

// Whether a cell of a column of kind reads as bytes or as text (neither: a number).
bool reads_as_bytes(ColumnKind kind, CellType stored) {
  return kind == ColumnKind::kBinary || (kind == ColumnKind::kStored && stored == CellType::kBytes);
}

bool reads_as_text(ColumnKind kind, CellType stored) {
  return !reads_as_bytes(kind, stored) && (kind == ColumnKind::kText || stored == CellType::kText);
}

// The value of column as its field reads it. The provider's text of a binary field reads as its
// bytes, and the bytes of a text field as text, as each kind always reads.
HRESULT column_value(Rows* rows, int column, ColumnKind kind, VARIANT* out) {
  const CellType stored = rows->Type(column);
  if (stored == CellType::kNull) {
    out->vt = VT_NULL;
    return S_OK;
  }
  if (reads_as_bytes(kind, stored)) {
    const BYTE* data = nullptr;
    ULONGLONG size = 0;
    const HRESULT hr = cell_bytes(rows, column, &data, &size);
    return FAILED(hr) ? hr : bytes_variant(data, size, out);
  }
  if (reads_as_text(kind, stored)) {
    const char16_t* text = nullptr;
    ULONGLONG units = 0;
    const HRESULT hr = cell_text(rows, column, &text, &units);
    return FAILED(hr) ? hr : text_variant(text, units, out);
  }
  if (stored == CellType::kReal) {
    out->vt = VT_R8;
    out->dblVal = rows->Real(column);
    return S_OK;
  }
  const LONGLONG n = rows->Integer(column);
  if (stored == CellType::kBoolean) {
    out->vt = VT_BOOL;
    out->boolVal = n ? VARIANT_TRUE : VARIANT_FALSE;
  } else if (n >= INT32_MIN && n <= INT32_MAX) {
    out->vt = VT_I4;
    out->lVal = static_cast<LONG>(n);
  } else {
    out->vt = VT_I8;
    out->llVal = n;
  }
  return S_OK;
}

}  // namespace

FieldObject::FieldObject(RecordsetObject* recordset, int column) : column_(column) {
  recordset_.Set(recordset);
}

FieldObject::~FieldObject() = default;

HRESULT FieldObject::get_ActualSize(LONGLONG* pl) {
  if (!pl)
    return E_POINTER;
  Rows* rows = nullptr;
  HRESULT hr = recordset_->CurrentRow(IID_Field20, &rows);
  if (FAILED(hr))
    return hr;
  const ColumnKind kind = rows->Describe(column_).kind;
  const CellType stored = rows->Type(column_);
  if (stored == CellType::kNull) {
    *pl = 0;
  } else if (reads_as_bytes(kind, stored)) {
    const BYTE* data = nullptr;
    ULONGLONG size = 0;
    hr = cell_bytes(rows, column_, &data, &size);
    if (FAILED(hr))
      return hr;
    *pl = static_cast<LONGLONG>(size);
  } else if (reads_as_text(kind, stored)) {
    // In bytes of the field's wide text, as the chunks of GetChunk are counted in characters.
    const char16_t* text = nullptr;
    ULONGLONG units = 0;
    hr = cell_text(rows, column_, &text, &units);
    if (FAILED(hr))
      return hr;
    *pl = static_cast<LONGLONG>(units * sizeof(char16_t));
  } else if (stored == CellType::kBoolean) {
    *pl = sizeof(VARIANT_BOOL);
  } else {
    const LONGLONG n = rows->Integer(column_);
    *pl = stored == CellType::kReal || n < INT32_MIN || n > INT32_MAX ? 8 : 4;
  }
  return S_OK;
}

HRESULT FieldObject::get_Attributes(LONG* pl) {
  return description_member(recordset_.Get(), column_, &ColumnDescription::attributes, pl);
}

HRESULT FieldObject::get_DefinedSize(LONGLONG* pl) {
  return description_member(recordset_.Get(), column_, &ColumnDescription::defined_size, pl);
}

HRESULT FieldObject::get_Name(BSTR* pbstr) {
  if (!pbstr)
    return E_POINTER;
  *pbstr = nullptr;
  Rows* rows = nullptr;
  HRESULT hr = recordset_->OpenRows(IID_Field20, &rows);
  if (FAILED(hr))
    return hr;
  const char16_t* name = rows->ColumnName(column_);
  if (!name)
    return fail(E_OUTOFMEMORY, u"Out of memory.");
  *pbstr = SysAllocString(name);
  return *pbstr ? S_OK : fail(E_OUTOFMEMORY, u"Out of memory.");
}

HRESULT FieldObject::get_Type(DataTypeEnum* pDataType) {
  return description_member(recordset_.Get(), column_, &ColumnDescription::type, pDataType);
}

HRESULT FieldObject::get_Value(VARIANT* pvar) {
  if (!pvar)
    return E_POINTER;
  VariantInit(pvar);
  Rows* rows = nullptr;
  HRESULT hr = recordset_->CurrentRow(IID_Field20, &rows);
  if (FAILED(hr))
    return hr;
  if (recordset_->chunk_position().column != column_)
    recordset_->chunk_position() = {};
  return column_value(rows, column_, rows->Describe(column_).kind, pvar);
}

HRESULT FieldObject::GetChunk(LONG Length, VARIANT* pvar) {
  if (!pvar)
    return E_POINTER;
  VariantInit(pvar);
  Rows* rows = nullptr;
  HRESULT hr = recordset_->CurrentRow(IID_Field20, &rows);
  if (FAILED(hr))
    return hr;
  const ColumnDescription column = rows->Describe(column_);
  if (!(column.attributes & adFldLong))
    return fail(AdoErrorStatus(adErrIllegalOperation), u"GetChunk reads long fields only.");
  if (Length < 0)
    return fail(AdoErrorStatus(adErrInvalidArgument), u"The chunk length is negative.");
  RecordsetObject::ChunkPosition& position = recordset_->chunk_position();
  if (position.column != column_)
    position = {column_, 0};
  // After the last chunk, and for a null field, the field reads as null.
  if (rows->Type(column_) == CellType::kNull) {
    pvar->vt = VT_NULL;
    return S_OK;
  }
  const bool binary = column.kind == ColumnKind::kBinary;
  const BYTE* data = nullptr;
  ULONGLONG total = 0;
  if (binary) {
    hr = cell_bytes(rows, column_, &data, &total);
  } else {
    const char16_t* text = nullptr;
    hr = cell_text(rows, column_, &text, &total);
    data = reinterpret_cast<const BYTE*>(text);
  }
  if (FAILED(hr))
    return hr;
  if (position.offset >= total) {
    pvar->vt = VT_NULL;
    return S_OK;
  }
  const ULONGLONG unit = binary ? 1 : sizeof(OLECHAR);
  const ULONGLONG count =
      std::min<ULONGLONG>(static_cast<ULONGLONG>(Length), total - position.offset);
  const BYTE* from = data + position.offset * unit;
  hr = binary ? bytes_variant(from, count, pvar) : text_variant(from, count, pvar);
  if (SUCCEEDED(hr))
    position.offset += count;
  return hr;
}
