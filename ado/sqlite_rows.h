// The rows of an SQLite statement, stepped one at a time. The rows hold the database open until
// they are gone, so they stay readable after their connection closes.
#pragma once

#include "database.h"
#include "sqlite_database.h"

class SqliteRows final : public Rows {
 public:
  // Takes stmt, on its first row (has_row) or done; null when out of memory.
  static SqliteRows* Create(SqliteDatabase* db, SqliteStatement&& stmt, bool has_row);
  ~SqliteRows() override;

  int ColumnCount() const override;
  const char16_t* ColumnName(int column) const override;
  ColumnDescription Describe(int column) override;
  bool HasRow() const override { return has_row_; }
  HRESULT MoveNext(REFCLSID clsid, REFIID iid) override;

  CellType Type(int column) override;
  bool Bytes(int column, const BYTE** data, ULONGLONG* size) override;
  bool Text(int column, const char16_t** text, ULONGLONG* units) override;
  LONGLONG Integer(int column) override;
  double Real(int column) override;

 private:
  SqliteRows(SqliteDatabase* db, SqliteStatement&& stmt, bool has_row);

  SqliteDatabase* db_;  // with a reference
  SqliteStatement stmt_;
  bool has_row_;
};
