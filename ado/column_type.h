// What a column of an SQLite statement is as a field: its data type, attributes and defined
// size, from the declared type of the column (and, for expressions, from the current value).
#pragma once

#include <sqlite3.h>

#include "adoint.h"

enum class ColumnKind {
  kBinary,  // every value reads as bytes
  kText,    // every value reads as text
  kStored,  // every value reads as what SQLite stores: integer, real, text or bytes
};

struct ColumnDescription {
  ColumnKind kind = ColumnKind::kStored;
  DataTypeEnum type = adVariant;
  LONG attributes = adFldMayBeNull;
  LONGLONG defined_size = 0;
};

// Describes column of stmt; has_row tells whether the statement is on a row whose value may
// decide the type of an undeclared column.
ColumnDescription DescribeColumn(sqlite3_stmt* stmt, int column, bool has_row);
