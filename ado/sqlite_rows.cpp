// Reading the rows of an SQLite statement.
#include "sqlite_rows.h"

#include <new>

#include "ado_object.h"
#include "faultsim.h"
#include "sqlite_column_type.h"

SqliteRows* SqliteRows::Create(SqliteDatabase* db, SqliteStatement&& stmt, bool has_row) {
  if (FaultSimStep())
    return nullptr;
  return new (std::nothrow) SqliteRows(db, std::move(stmt), has_row);
}

SqliteRows::SqliteRows(SqliteDatabase* db, SqliteStatement&& stmt, bool has_row)
    : db_(db), stmt_(std::move(stmt)), has_row_(has_row) {
  db_->AddRef();
}

SqliteRows::~SqliteRows() {
  stmt_.Reset();
  db_->Release();
}

int SqliteRows::ColumnCount() const {
  return sqlite3_column_count(stmt_.Get());
}

const char16_t* SqliteRows::ColumnName(int column) const {
  return static_cast<const char16_t*>(sqlite3_column_name16(stmt_.Get(), column));
}

ColumnDescription SqliteRows::Describe(int column) {
  return DescribeColumn(stmt_.Get(), column, has_row_);
}

HRESULT SqliteRows::MoveNext(REFCLSID clsid, REFIID iid) {
  const int rc = sqlite3_step(stmt_.Get());
  has_row_ = rc == SQLITE_ROW;
  if (rc != SQLITE_ROW && rc != SQLITE_DONE)
    return ReportAdoErrorUtf8(clsid, iid, E_FAIL, sqlite3_errmsg(db_->handle()));
  return S_OK;
}

CellType SqliteRows::Type(int column) {
  switch (sqlite3_column_type(stmt_.Get(), column)) {
    case SQLITE_INTEGER:
      return CellType::kInteger;
    case SQLITE_FLOAT:
      return CellType::kReal;
    case SQLITE_TEXT:
      return CellType::kText;
    case SQLITE_BLOB:
      return CellType::kBytes;
    default:
      return CellType::kNull;
  }
}

bool SqliteRows::Bytes(int column, const BYTE** data, ULONGLONG* size) {
  *data = static_cast<const BYTE*>(sqlite3_column_blob(stmt_.Get(), column));
  *size = static_cast<ULONGLONG>(sqlite3_column_bytes(stmt_.Get(), column));
  // SQLite gives null for an empty value, and for one it had no memory to convert.
  return *data || *size == 0;
}

bool SqliteRows::Text(int column, const char16_t** text, ULONGLONG* units) {
  *text = static_cast<const char16_t*>(sqlite3_column_text16(stmt_.Get(), column));
  *units = static_cast<ULONGLONG>(sqlite3_column_bytes16(stmt_.Get(), column)) / sizeof(char16_t);
  return *text != nullptr;
}

LONGLONG SqliteRows::Integer(int column) {
  return sqlite3_column_int64(stmt_.Get(), column);
}

double SqliteRows::Real(int column) {
  return sqlite3_column_double(stmt_.Get(), column);
}
