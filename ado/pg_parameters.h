// The values of one PostgreSQL statement as libpq takes them: byte arrays as bytea in binary
// format, read in place from the locked array (no copy), everything else as text the server
// converts: numbers and truth values typed, strings left for the server to type by where they
// stand.
#pragma once

#include <libpq-fe.h>

#include <memory>
#include <optional>

#include "database.h"
#include "scoped_safearray.h"
#include "task_memory.h"

class PgParameters {
 public:
  PgParameters() = default;
  PgParameters(const PgParameters&) = delete;
  PgParameters& operator=(const PgParameters&) = delete;

  // Takes count values of values from first on. Failures set error information (clsid, iid).
  HRESULT Bind(const BindValues& values, size_t first, int count, REFCLSID clsid, REFIID iid);

  int count() const { return count_; }
  const Oid* types() const { return types_.get(); }
  const char* const* values() const { return values_.get(); }
  const int* lengths() const { return lengths_.get(); }
  const int* formats() const { return formats_.get(); }

 private:
  // What one value needs kept while the statement runs.
  struct Slot {
    TaskMemory text;
    std::optional<SafeArrayDataScope> locked;  // a byte array read in place
    char number[32] = {};
  };

  HRESULT BindOne(int index, const VARIANT& value);

  int count_ = 0;
  std::unique_ptr<Slot[]> slots_;
  std::unique_ptr<Oid[]> types_;
  std::unique_ptr<const char*[]> values_;
  std::unique_ptr<int[]> lengths_;
  std::unique_ptr<int[]> formats_;
};
