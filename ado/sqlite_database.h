// The SQLite provider: an open database file, shared by the connection that opened it and by
// every recordset still reading from it, and the holder of one prepared statement.
#pragma once

#include <sqlite3.h>

#include <utility>

#include "database.h"

class SqliteDatabase final : public Database {
 public:
  // Opens (creating it when missing) the database file at os_path, a kernel path. On failure
  // returns E_FAIL with SQLite's message in *message (a static text; never null) and sets no
  // error information; E_OUTOFMEMORY when allocation fails.
  static HRESULT Open(const char* os_path, int busy_timeout_ms, SqliteDatabase** out,
                      const char** message);

  // Every statement of the text in turn, byte arrays bound as blobs.
  HRESULT Run(const OLECHAR* text, UINT length, const BindValues& values, REFCLSID clsid,
              REFIID iid, CommandResult* result) override;

  sqlite3* handle() const { return db_; }

 private:
  explicit SqliteDatabase(sqlite3* db) : db_(db) {}
  ~SqliteDatabase() override;

  sqlite3* db_;
};

// Owns one prepared statement and finalizes it.
class SqliteStatement {
 public:
  SqliteStatement() = default;
  ~SqliteStatement() { sqlite3_finalize(stmt_); }
  SqliteStatement(SqliteStatement&& other) noexcept : stmt_(other.Release()) {}
  SqliteStatement& operator=(SqliteStatement&& other) noexcept {
    if (this != &other)
      Reset(other.Release());
    return *this;
  }
  SqliteStatement(const SqliteStatement&) = delete;
  SqliteStatement& operator=(const SqliteStatement&) = delete;

  sqlite3_stmt* Get() const { return stmt_; }
  void Reset(sqlite3_stmt* stmt = nullptr) { sqlite3_finalize(std::exchange(stmt_, stmt)); }
  [[nodiscard]] sqlite3_stmt* Release() { return std::exchange(stmt_, nullptr); }
  sqlite3_stmt** Receive() {
    Reset();
    return &stmt_;
  }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};
