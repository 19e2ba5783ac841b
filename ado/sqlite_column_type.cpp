// Declared SQLite types as field types, following SQLite's own affinity rules: INT makes an
// integer, CHAR, CLOB or TEXT text, BLOB (or no type) bytes, REAL, FLOA or DOUB a double.
#include "sqlite_column_type.h"

#include <cstdlib>
#include <cstring>

namespace {

constexpr LONGLONG kLongTextSize = 0x3FFFFFFF;    // characters
constexpr LONGLONG kLongBinarySize = 0x7FFFFFFF;  // bytes

bool contains(const char* upper, const char* word) {
  return std::strstr(upper, word) != nullptr;
}

// The length in "VARCHAR(40)", or 0.
LONGLONG declared_length(const char* upper) {
  const char* open = std::strchr(upper, '(');
  if (!open)
    return 0;
  const long long n = std::strtoll(open + 1, nullptr, 10);
  return n > 0 ? n : 0;
}

ColumnDescription long_binary() {
  return {ColumnKind::kBinary, adLongVarBinary, adFldLong | adFldMayBeNull, kLongBinarySize};
}

ColumnDescription long_text() {
  return {ColumnKind::kText, adLongVarWChar, adFldLong | adFldMayBeNull, kLongTextSize};
}

// A column without a declared type (an expression, or a column declared without one) is
// typed by the value it holds.
ColumnDescription by_value(sqlite3_stmt* stmt, int column, bool has_row) {
  switch (has_row ? sqlite3_column_type(stmt, column) : SQLITE_NULL) {
    case SQLITE_INTEGER:
      return {ColumnKind::kStored, adBigInt, adFldMayBeNull | adFldFixed, 8};
    case SQLITE_FLOAT:
      return {ColumnKind::kStored, adDouble, adFldMayBeNull | adFldFixed, 8};
    case SQLITE_TEXT:
      return long_text();
    case SQLITE_BLOB:
      return long_binary();
    default:
      return {ColumnKind::kStored, adVariant, adFldMayBeNull, 0};
  }
}

}  // namespace

ColumnDescription DescribeColumn(sqlite3_stmt* stmt, int column, bool has_row) {
  const char* declared = sqlite3_column_decltype(stmt, column);
  if (!declared || !*declared)
    return by_value(stmt, column, has_row);
  // Type names are short; a longer one is judged by its start.
  char upper[128];
  size_t n = 0;
  for (; declared[n] && n + 1 < sizeof upper; ++n)
    upper[n] = declared[n] >= 'a' && declared[n] <= 'z' ? static_cast<char>(declared[n] - 'a' + 'A')
                                                        : declared[n];
  upper[n] = '\0';
  if (contains(upper, "INT")) {
    if (contains(upper, "BIGINT") || contains(upper, "INT8"))
      return {ColumnKind::kStored, adBigInt, adFldMayBeNull | adFldFixed, 8};
    if (contains(upper, "SMALLINT"))
      return {ColumnKind::kStored, adSmallInt, adFldMayBeNull | adFldFixed, 2};
    if (contains(upper, "TINYINT"))
      return {ColumnKind::kStored, adTinyInt, adFldMayBeNull | adFldFixed, 1};
    return {ColumnKind::kStored, adInteger, adFldMayBeNull | adFldFixed, 4};
  }
  if (contains(upper, "CHAR") || contains(upper, "CLOB") || contains(upper, "TEXT")) {
    const LONGLONG length = declared_length(upper);
    if (length > 0 && !contains(upper, "CLOB") && !contains(upper, "TEXT"))
      return {ColumnKind::kText, adVarWChar, adFldMayBeNull, length};
    return long_text();
  }
  if (contains(upper, "BLOB"))
    return long_binary();
  if (contains(upper, "BINARY")) {
    const LONGLONG length = declared_length(upper);
    if (length > 0)
      return {ColumnKind::kBinary, adVarBinary, adFldMayBeNull, length};
    return long_binary();
  }
  if (contains(upper, "REAL") || contains(upper, "FLOA") || contains(upper, "DOUB"))
    return {ColumnKind::kStored, adDouble, adFldMayBeNull | adFldFixed, 8};
  return {ColumnKind::kStored, adNumeric, adFldMayBeNull, 0};
}
