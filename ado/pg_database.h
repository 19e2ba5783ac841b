// The PostgreSQL provider: one libpq connection, spoken to in UTF-8. Command text may hold
// several statements; each runs with its own placeholders' values, and the rows of the last one
// are the command's rows. Byte arrays go to the server as bytea in binary format, and every
// result comes back in binary format.
#pragma once

#include <libpq-fe.h>

#include "connection_string.h"
#include "database.h"

class PgDatabase final : public Database {
 public:
  // Connects as parts say: libpq's own string, or the host, port, database, user and password
  // given. Failures set error information (clsid, iid) with libpq's message.
  static HRESULT Open(const ConnectionStringParts& parts, REFCLSID clsid, REFIID iid,
                      PgDatabase** out);

  HRESULT Run(const OLECHAR* text, UINT length, const BindValues& values, REFCLSID clsid,
              REFIID iid, CommandResult* result) override;

 private:
  explicit PgDatabase(PGconn* connection) : connection_(connection) {}
  ~PgDatabase() override;

  // Reports a statement that failed, with the server's message and SQLSTATE; a connection found
  // broken is told as such.
  HRESULT Failure(const PGresult* result, REFCLSID clsid, REFIID iid) const;

  PGconn* connection_;
};
