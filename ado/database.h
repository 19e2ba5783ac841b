// What the objects of the module ask of a database provider: a connection (Database) that runs
// command text with values bound to its ? placeholders, and the rows (Rows) a command returns,
// read forward only. The objects never learn which provider they talk to.
#pragma once

#include <memory>

#include "adoint.h"
#include "oaidl.h"
#include "synchapi.h"

// The values a command binds, in placeholder order.
class BindValues {
 public:
  virtual size_t Count() const = 0;
  virtual const VARIANT& At(size_t index) const = 0;

 protected:
  ~BindValues() = default;
};

// The values of a command run with none.
class NoBindValues final : public BindValues {
 public:
  size_t Count() const override { return 0; }
  const VARIANT& At(size_t) const override { return empty_; }

 private:
  VARIANT empty_ = {};
};

// The number of bytes a byte array holds (every dimension counted).
ULONGLONG ByteArraySize(SAFEARRAY* array);

// A new one-dimensional byte array (lower bound 0) holding a copy of count bytes of data, in
// *out. E_OUTOFMEMORY, or the status of the array's data access, when it cannot be made; *out
// is then null.
HRESULT NewByteArray(const void* data, ULONG count, SAFEARRAY** out);

// How a column's values read.
enum class ColumnKind {
  kBinary,  // every value reads as bytes
  kText,    // every value reads as text
  kStored,  // every value reads as what the database holds: a number, text or bytes
};

struct ColumnDescription {
  ColumnKind kind = ColumnKind::kStored;
  DataTypeEnum type = adVariant;
  LONG attributes = adFldMayBeNull;
  LONGLONG defined_size = 0;
};

// What the current row holds in a column.
enum class CellType { kNull, kInteger, kReal, kBoolean, kText, kBytes };

// The rows of one command, on the current row or past the last. Reads of a cell are valid until
// the next move, or the next read of the same column as another kind.
class Rows {
 public:
  virtual ~Rows() = default;

  virtual int ColumnCount() const = 0;
  // The column's name, valid while the rows live.
  virtual const char16_t* ColumnName(int column) const = 0;
  virtual ColumnDescription Describe(int column) = 0;
  virtual bool HasRow() const = 0;
  // Moves to the next row; a failure sets error information (clsid, iid), and the rows are then
  // past the last.
  virtual HRESULT MoveNext(REFCLSID clsid, REFIID iid) = 0;

  // The current row's cells. Text and bytes give false when they cannot be made (out of memory).
  virtual CellType Type(int column) = 0;
  virtual bool Bytes(int column, const BYTE** data, ULONGLONG* size) = 0;
  virtual bool Text(int column, const char16_t** text, ULONGLONG* units) = 0;
  virtual LONGLONG Integer(int column) = 0;
  virtual double Real(int column) = 0;
};

// What a run of command text produced.
struct CommandResult {
  std::unique_ptr<Rows> rows;  // of the last statement when it returns rows; else null
  LONG records_affected = 0;
};

// An open database: one provider's connection, shared by the connection object that opened it
// and by the commands that run on it.
class Database {
 public:
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  void AddRef() { InterlockedIncrement(&refs_); }
  void Release() {
    if (InterlockedDecrement(&refs_) == 0)
      delete this;
  }

  // Runs text (length UTF-16 units) with values. The text must hold exactly as many
  // placeholders as there are values. On failure sets error information (source clsid,
  // interface iid) with the provider's message or the module's, and returns the failure status.
  virtual HRESULT Run(const OLECHAR* text, UINT length, const BindValues& values, REFCLSID clsid,
                      REFIID iid, CommandResult* result) = 0;

 protected:
  Database() = default;
  virtual ~Database() = default;

 private:
  LONG refs_ = 1;
};
