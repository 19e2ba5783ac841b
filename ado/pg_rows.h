// The rows a PostgreSQL statement returned, received whole in binary format. They need no
// connection, so they stay readable after it closes. Column types: bool, the integers and oid,
// float4 and float8 read as numbers; text, varchar, bpchar, name, "char", json, jsonb, xml and
// unknown as text; numeric as its decimal text; bytea, and every other type in the server's
// binary form, as bytes.
#pragma once

#include <memory>

#include "database.h"
#include "pg_result.h"
#include "task_memory.h"

class PgRows final : public Rows {
 public:
  // Rows over result, which they take in every case; E_OUTOFMEMORY when they cannot be made.
  static HRESULT Create(PgResult&& result, std::unique_ptr<Rows>* out);

  int ColumnCount() const override { return columns_; }
  const char16_t* ColumnName(int column) const override;
  ColumnDescription Describe(int column) override;
  bool HasRow() const override { return row_ < rows_; }
  HRESULT MoveNext(REFCLSID clsid, REFIID iid) override;

  CellType Type(int column) override;
  bool Bytes(int column, const BYTE** data, ULONGLONG* size) override;
  bool Text(int column, const char16_t** text, ULONGLONG* units) override;
  LONGLONG Integer(int column) override;
  double Real(int column) override;

 private:
  // A column's text of the current row, made on first read.
  struct TextCell {
    TaskMemory text;
    int row = -1;
    size_t units = 0;
  };

  explicit PgRows(PgResult&& result);
  HRESULT Prepare();

  PgResult result_;
  int rows_ = 0;
  int columns_ = 0;
  int row_ = 0;
  TaskMemory names_;  // every column's name, each ended by a zero
  std::unique_ptr<const char16_t*[]> name_of_;
  std::unique_ptr<ColumnDescription[]> description_of_;
  std::unique_ptr<CellType[]> cell_of_;
  std::unique_ptr<TextCell[]> text_of_;
};
