// Opening and closing SQLite databases.
#include "sqlite_database.h"

#include <new>

#include "faultsim.h"
#include "synchapi.h"
#include "winerror.h"

HRESULT SqliteDatabase::Open(const char* os_path, int busy_timeout_ms, SqliteDatabase** out,
                             const char** message) {
  *out = nullptr;
  *message = "";
  if (FaultSimStep())
    return E_OUTOFMEMORY;
  sqlite3* db = nullptr;
  const int rc = sqlite3_open_v2(os_path, &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  if (rc != SQLITE_OK) {
    *message = db ? sqlite3_errstr(sqlite3_errcode(db)) : sqlite3_errstr(rc);
    sqlite3_close_v2(db);
    return rc == SQLITE_NOMEM ? E_OUTOFMEMORY : E_FAIL;
  }
  // A file that is no database opens without complaint; reading its schema finds out.
  if (sqlite3_exec(db, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr) !=
      SQLITE_OK) {
    *message = sqlite3_errstr(sqlite3_errcode(db));
    const bool no_memory = sqlite3_errcode(db) == SQLITE_NOMEM;
    sqlite3_close_v2(db);
    return no_memory ? E_OUTOFMEMORY : E_FAIL;
  }
  // Several pages may write the same file at once: wait for the other writer as the command
  // timeout allows rather than fail at once.
  sqlite3_busy_timeout(db, busy_timeout_ms);
  *out = new (std::nothrow) SqliteDatabase(db);
  if (!*out) {
    sqlite3_close_v2(db);
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

SqliteDatabase::~SqliteDatabase() {
  // Deferred by SQLite until the last statement is finalized.
  sqlite3_close_v2(db_);
}
