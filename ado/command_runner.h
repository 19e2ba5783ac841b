// Runs command text on an SQLite database: every statement of the text in turn, the values of
// the parameters bound to the ? placeholders in order, byte arrays as blobs.
#pragma once

#include "oaidl.h"
#include "sqlite_database.h"

// The number of bytes a byte array holds (every dimension counted).
ULONGLONG ByteArraySize(SAFEARRAY* array);

// The values a command binds, in placeholder order.
class BindValues {
 public:
  virtual size_t Count() const = 0;
  virtual const VARIANT& At(size_t index) const = 0;

 protected:
  ~BindValues() = default;
};

// What a run of command text produced.
struct CommandResult {
  SqliteStatement rows;  // the last statement when it returns rows, on its first row or done
  bool has_row = false;
  LONG records_affected = 0;
};

// Runs text (length UTF-16 units) on db with values. The text must hold exactly as many
// placeholders as there are values. On failure sets error information (source clsid,
// interface iid) with SQLite's message or the module's, and returns the failure status.
HRESULT RunCommandText(SqliteDatabase* db, const OLECHAR* text, UINT length,
                       const BindValues& values, REFCLSID clsid, REFIID iid, CommandResult* result);

// The values of a command run with none.
class NoBindValues final : public BindValues {
 public:
  size_t Count() const override { return 0; }
  const VARIANT& At(size_t) const override { return empty_; }

 private:
  VARIANT empty_ = {};
};
