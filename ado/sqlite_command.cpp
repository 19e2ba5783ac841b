// Command text on SQLite: statement by statement, with values bound by their VARIANT types.
#include <optional>

#include "ado_object.h"
#include "scalar_value.h"
#include "scoped_safearray.h"
#include "sqlite_database.h"
#include "sqlite_rows.h"

namespace {

// Byte arrays stay locked while SQLite reads them in place (no copy of large blobs).
class ArrayLocks {
 public:
  ArrayLocks() = default;
  ArrayLocks(const ArrayLocks&) = delete;
  ArrayLocks& operator=(const ArrayLocks&) = delete;

  // Locks array and gives its bytes; false when the lock cannot be taken or too many are held.
  bool Lock(SAFEARRAY* array, const void** data) {
    if (count_ == kMax)
      return false;
    std::optional<SafeArrayDataScope>& scope = scopes_[count_];
    scope.emplace(array);
    if (FAILED(scope->status())) {
      scope.reset();
      return false;
    }
    ++count_;
    *data = scope->data();
    return true;
  }

  static constexpr size_t kMax = 999;  // SQLite's default limit of placeholders

 private:
  std::optional<SafeArrayDataScope> scopes_[kMax];
  size_t count_ = 0;
};

// Binds value to placeholder index of stmt; byte arrays in place unless copy. Returns an
// SQLite status, or SQLITE_MISMATCH for a value that has no column type.
int bind_value(sqlite3_stmt* stmt, int index, const VARIANT& given, bool copy, ArrayLocks& locks) {
  const VARIANT* value = &given;
  while (value->vt == (VT_BYREF | VT_VARIANT) && value->pvarVal)
    value = value->pvarVal;
  if (value->vt == (VT_ARRAY | VT_UI1) || value->vt == (VT_BYREF | VT_ARRAY | VT_UI1)) {
    SAFEARRAY* array = (value->vt & VT_BYREF) ? *value->pparray : value->parray;
    if (!array)
      return sqlite3_bind_null(stmt, index);
    const ULONGLONG size = ByteArraySize(array);
    // An empty array is an empty blob, not NULL.
    if (size == 0)
      return sqlite3_bind_zeroblob(stmt, index, 0);
    const void* data = nullptr;
    if (!copy && locks.Lock(array, &data))
      return sqlite3_bind_blob64(stmt, index, data, size, SQLITE_STATIC);
    const SafeArrayDataScope bytes(array);
    if (FAILED(bytes.status()))
      return SQLITE_MISMATCH;
    return sqlite3_bind_blob64(stmt, index, bytes.data(), size, SQLITE_TRANSIENT);
  }
  ScalarValue scalar;
  if (FAILED(ReadScalarValue(*value, &scalar)))
    return SQLITE_MISMATCH;
  switch (scalar.kind) {
    case ScalarValue::Kind::kNull:
      return sqlite3_bind_null(stmt, index);
    case ScalarValue::Kind::kBoolean:
      return sqlite3_bind_int(stmt, index, scalar.boolean ? 1 : 0);
    case ScalarValue::Kind::kInteger:
      return sqlite3_bind_int64(stmt, index, scalar.integer);
    case ScalarValue::Kind::kReal:
      return sqlite3_bind_double(stmt, index, scalar.real);
    case ScalarValue::Kind::kText:
      break;
  }
  return sqlite3_bind_text16(stmt, index, scalar.text ? scalar.text : u"",
                             static_cast<int>(SysStringByteLen(scalar.text)), SQLITE_TRANSIENT);
}

bool only_space_left(const OLECHAR* at, const OLECHAR* end) {
  for (; at < end; ++at)
    if (*at != u' ' && *at != u'\t' && *at != u'\r' && *at != u'\n' && *at != u';')
      return false;
  return true;
}

HRESULT sqlite_failure(sqlite3* db, REFCLSID clsid, REFIID iid) {
  const HRESULT hr = sqlite3_errcode(db) == SQLITE_NOMEM ? E_OUTOFMEMORY : E_FAIL;
  return ReportAdoErrorUtf8(clsid, iid, hr, sqlite3_errmsg(db));
}

}  // namespace

HRESULT SqliteDatabase::Run(const OLECHAR* text, UINT length, const BindValues& values,
                            REFCLSID clsid, REFIID iid, CommandResult* result) {
  sqlite3* handle = db_;
  const OLECHAR* at = text ? text : u"";
  const OLECHAR* const end = at + (text ? length : 0);
  size_t next_value = 0;
  result->records_affected = 0;
  result->rows.reset();
  bool ran_any = false;
  while (!only_space_left(at, end)) {
    SqliteStatement stmt;
    const void* tail = nullptr;
    if (sqlite3_prepare16_v2(handle, at, static_cast<int>((end - at) * sizeof(OLECHAR)),
                             stmt.Receive(), &tail) != SQLITE_OK)
      return sqlite_failure(handle, clsid, iid);
    at = tail ? static_cast<const OLECHAR*>(tail) : end;
    if (!stmt.Get())
      continue;  // only a comment
    ran_any = true;
    const int placeholders = sqlite3_bind_parameter_count(stmt.Get());
    if (static_cast<size_t>(placeholders) > values.Count() - next_value)
      return ReportAdoError(clsid, iid, AdoErrorStatus(adErrInvalidArgument),
                            u"The command has more parameter placeholders than parameters.");
    // A statement that returns rows may read its values again at every step, after the
    // caller has changed them: it gets copies.
    const bool returns_rows = sqlite3_column_count(stmt.Get()) > 0;
    ArrayLocks locks;
    for (int i = 1; i <= placeholders; ++i) {
      const int rc = bind_value(stmt.Get(), i, values.At(next_value++), returns_rows, locks);
      if (rc == SQLITE_MISMATCH)
        return ReportAdoError(clsid, iid, AdoErrorStatus(adErrDataConversion),
                              u"A parameter value cannot be stored in the database.");
      if (rc != SQLITE_OK)
        return sqlite_failure(handle, clsid, iid);
    }
    const bool last = only_space_left(at, end);
    if (last && returns_rows && next_value == values.Count()) {
      const int rc = sqlite3_step(stmt.Get());
      if (rc != SQLITE_ROW && rc != SQLITE_DONE)
        return sqlite_failure(handle, clsid, iid);
      result->rows.reset(SqliteRows::Create(this, std::move(stmt), rc == SQLITE_ROW));
      if (!result->rows)
        return ReportAdoError(clsid, iid, E_OUTOFMEMORY, u"Out of memory.");
      break;
    }
    int rc;
    while ((rc = sqlite3_step(stmt.Get())) == SQLITE_ROW) {
    }
    if (rc != SQLITE_DONE)
      return sqlite_failure(handle, clsid, iid);
    result->records_affected += static_cast<LONG>(sqlite3_changes(handle));
  }
  if (!ran_any)
    return ReportAdoError(clsid, iid, AdoErrorStatus(adErrInvalidArgument),
                          u"The command text is empty.");
  if (next_value != values.Count())
    return ReportAdoError(clsid, iid, AdoErrorStatus(adErrInvalidArgument),
                          u"The command has fewer parameter placeholders than parameters.");
  return S_OK;
}
