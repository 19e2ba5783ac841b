// Reading a field of the current row: whole, or in chunks for long fields.
#include "field.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "column_type.h"
#include "recordset.h"

namespace {

HRESULT fail(HRESULT hr, const char16_t* description) {
  return ReportAdoError(CLSID_Recordset, IID_Field20, hr, description);
}

HRESULT bytes_variant(const void* data, ULONGLONG count, VARIANT* out) {
  if (count > 0x7FFFFFFF)
    return fail(AdoErrorStatus(adErrDataConversion), u"The value is too large for an array.");
  SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(count));
  if (!array)
    return fail(E_OUTOFMEMORY, u"Out of memory.");
  if (count) {
    void* bytes = nullptr;
    SafeArrayAccessData(array, &bytes);
    std::memcpy(bytes, data, count);
    SafeArrayUnaccessData(array);
  }
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

// The value of column as its field reads it. SQLite's text of a binary field reads as its
// bytes, and the bytes of a text field as text, as each kind always reads.
HRESULT column_value(sqlite3_stmt* stmt, int column, ColumnKind kind, VARIANT* out) {
  const int stored = sqlite3_column_type(stmt, column);
  if (stored == SQLITE_NULL) {
    out->vt = VT_NULL;
    return S_OK;
  }
  if (kind == ColumnKind::kBinary || (kind == ColumnKind::kStored && stored == SQLITE_BLOB)) {
    const void* data = sqlite3_column_blob(stmt, column);
    return bytes_variant(data, static_cast<ULONGLONG>(sqlite3_column_bytes(stmt, column)), out);
  }
  if (kind == ColumnKind::kText || stored == SQLITE_TEXT) {
    const void* text = sqlite3_column_text16(stmt, column);
    if (!text)
      return fail(E_OUTOFMEMORY, u"Out of memory.");
    return text_variant(text, static_cast<ULONGLONG>(sqlite3_column_bytes16(stmt, column)) / 2,
                        out);
  }
  if (stored == SQLITE_FLOAT) {
    out->vt = VT_R8;
    out->dblVal = sqlite3_column_double(stmt, column);
    return S_OK;
  }
  const sqlite3_int64 n = sqlite3_column_int64(stmt, column);
  if (n >= INT32_MIN && n <= INT32_MAX) {
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
  sqlite3_stmt* stmt = nullptr;
  HRESULT hr = recordset_->CurrentRow(IID_Field20, &stmt);
  if (FAILED(hr))
    return hr;
  const ColumnKind kind = DescribeColumn(stmt, column_, true).kind;
  const int stored = sqlite3_column_type(stmt, column_);
  if (stored == SQLITE_NULL) {
    *pl = 0;
  } else if (kind == ColumnKind::kBinary ||
             (kind == ColumnKind::kStored && stored == SQLITE_BLOB)) {
    sqlite3_column_blob(stmt, column_);
    *pl = sqlite3_column_bytes(stmt, column_);
  } else if (kind == ColumnKind::kText || stored == SQLITE_TEXT) {
    // In bytes of the field's wide text, as the chunks of GetChunk are counted in characters.
    if (!sqlite3_column_text16(stmt, column_))
      return fail(E_OUTOFMEMORY, u"Out of memory.");
    *pl = sqlite3_column_bytes16(stmt, column_);
  } else {
    const sqlite3_int64 n = sqlite3_column_int64(stmt, column_);
    *pl = stored == SQLITE_FLOAT || n < INT32_MIN || n > INT32_MAX ? 8 : 4;
  }
  return S_OK;
}

HRESULT FieldObject::get_Attributes(LONG* pl) {
  if (!pl)
    return E_POINTER;
  sqlite3_stmt* stmt = nullptr;
  HRESULT hr = recordset_->OpenStatement(IID_Field20, &stmt);
  if (FAILED(hr))
    return hr;
  *pl = DescribeColumn(stmt, column_, recordset_->has_row()).attributes;
  return S_OK;
}

HRESULT FieldObject::get_DefinedSize(LONGLONG* pl) {
  if (!pl)
    return E_POINTER;
  sqlite3_stmt* stmt = nullptr;
  HRESULT hr = recordset_->OpenStatement(IID_Field20, &stmt);
  if (FAILED(hr))
    return hr;
  *pl = DescribeColumn(stmt, column_, recordset_->has_row()).defined_size;
  return S_OK;
}

HRESULT FieldObject::get_Name(BSTR* pbstr) {
  if (!pbstr)
    return E_POINTER;
  *pbstr = nullptr;
  sqlite3_stmt* stmt = nullptr;
  HRESULT hr = recordset_->OpenStatement(IID_Field20, &stmt);
  if (FAILED(hr))
    return hr;
  const auto* name = static_cast<const OLECHAR*>(sqlite3_column_name16(stmt, column_));
  if (!name)
    return fail(E_OUTOFMEMORY, u"Out of memory.");
  *pbstr = SysAllocString(name);
  return *pbstr ? S_OK : fail(E_OUTOFMEMORY, u"Out of memory.");
}

HRESULT FieldObject::get_Type(DataTypeEnum* pDataType) {
  if (!pDataType)
    return E_POINTER;
  sqlite3_stmt* stmt = nullptr;
  HRESULT hr = recordset_->OpenStatement(IID_Field20, &stmt);
  if (FAILED(hr))
    return hr;
  *pDataType = DescribeColumn(stmt, column_, recordset_->has_row()).type;
  return S_OK;
}

HRESULT FieldObject::get_Value(VARIANT* pvar) {
  if (!pvar)
    return E_POINTER;
  VariantInit(pvar);
  sqlite3_stmt* stmt = nullptr;
  HRESULT hr = recordset_->CurrentRow(IID_Field20, &stmt);
  if (FAILED(hr))
    return hr;
  if (recordset_->chunk_position().column != column_)
    recordset_->chunk_position() = {};
  return column_value(stmt, column_, DescribeColumn(stmt, column_, true).kind, pvar);
}

HRESULT FieldObject::GetChunk(LONG Length, VARIANT* pvar) {
  if (!pvar)
    return E_POINTER;
  VariantInit(pvar);
  sqlite3_stmt* stmt = nullptr;
  HRESULT hr = recordset_->CurrentRow(IID_Field20, &stmt);
  if (FAILED(hr))
    return hr;
  const ColumnDescription column = DescribeColumn(stmt, column_, true);
  if (!(column.attributes & adFldLong))
    return fail(AdoErrorStatus(adErrIllegalOperation), u"GetChunk reads long fields only.");
  if (Length < 0)
    return fail(AdoErrorStatus(adErrInvalidArgument), u"The chunk length is negative.");
  RecordsetObject::ChunkPosition& position = recordset_->chunk_position();
  if (position.column != column_)
    position = {column_, 0};
  // After the last chunk, and for a null field, the field reads as null.
  if (sqlite3_column_type(stmt, column_) == SQLITE_NULL) {
    pvar->vt = VT_NULL;
    return S_OK;
  }
  const bool binary = column.kind == ColumnKind::kBinary;
  const unsigned char* data =
      binary ? static_cast<const unsigned char*>(sqlite3_column_blob(stmt, column_))
             : static_cast<const unsigned char*>(sqlite3_column_text16(stmt, column_));
  const ULONGLONG unit = binary ? 1 : sizeof(OLECHAR);
  const ULONGLONG total = static_cast<ULONGLONG>(binary ? sqlite3_column_bytes(stmt, column_)
                                                        : sqlite3_column_bytes16(stmt, column_)) /
                          unit;
  if (!data && total)
    return fail(E_OUTOFMEMORY, u"Out of memory.");
  if (position.offset >= total) {
    pvar->vt = VT_NULL;
    return S_OK;
  }
  const ULONGLONG count =
      std::min<ULONGLONG>(static_cast<ULONGLONG>(Length), total - position.offset);
  const unsigned char* from = data + position.offset * unit;
  hr = binary ? bytes_variant(from, count, pvar) : text_variant(from, count, pvar);
  if (SUCCEEDED(hr))
    position.offset += count;
  return hr;
}
