// The PostgreSQL server of the tests (tests/support/pg_server.sh, started by CTest before the
// tests that need it and stopped after them, whatever their outcome): every call gives a schema
// of its own, so tests that run at once never meet, and the connection string that works in it.
#pragma once

#include <libpq-fe.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

namespace pg_test {

// The folder the server listens in, from the environment CTest gives the tests.
inline const char* ServerDir() {
  return getenv("VANTREL_TEST_PG_DIR");
}

// libpq's connection string of the server, without a schema.
inline std::string ServerConninfo() {
  const char* dir = ServerDir();
  return std::string("host=") + (dir ? dir : "") + " port=5432 dbname=postgres user=vantrel";
}

// Makes a new empty schema; returns the libpq connection string whose tables land in it, or ""
// with *error set when the server cannot be reached (which fails the test: it never skips).
inline std::string NewSchema(std::string* error) {
  if (!ServerDir()) {
    *error =
        "VANTREL_TEST_PG_DIR is not set: run the tests through ctest, which starts the server, "
        "or start one with tests/support/pg_server.sh start DIR and set VANTREL_TEST_PG_DIR=DIR";
    return "";
  }
  static int made = 0;
  const std::string schema = "t" + std::to_string(getpid()) + "_" + std::to_string(++made);
  PGconn* connection = PQconnectdb(ServerConninfo().c_str());
  std::string conninfo;
  if (PQstatus(connection) != CONNECTION_OK) {
    *error = std::string("cannot reach the test server: ") + PQerrorMessage(connection);
  } else {
    PGresult* result = PQexec(connection, ("CREATE SCHEMA " + schema).c_str());
    if (PQresultStatus(result) != PGRES_COMMAND_OK)
      *error = std::string("cannot make a schema: ") + PQresultErrorMessage(result);
    else
      conninfo = ServerConninfo() + " options='-c search_path=" + schema + "'";
    PQclear(result);
  }
  PQfinish(connection);
  return conninfo;
}

}  // namespace pg_test
