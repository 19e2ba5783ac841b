// What a column of an SQLite statement is as a field: its data type, attributes and defined
// size, from the declared type of the column (and, for expressions, from the current value).
#pragma once

#include <sqlite3.h>

#include "database.h"

// Describes column of stmt; has_row tells whether the statement is on a row whose value may
// decide the type of an undeclared column.
ColumnDescription DescribeColumn(sqlite3_stmt* stmt, int column, bool has_row);
