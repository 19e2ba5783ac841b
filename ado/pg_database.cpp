// Connecting to PostgreSQL and running command text on it.
#include "pg_database.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "ado_object.h"
#include "faultsim.h"
#include "pg_command_text.h"
#include "pg_parameters.h"
#include "pg_result.h"
#include "pg_rows.h"
#include "utf8_text.h"

namespace {

// How long a connection may take before it is given up, in seconds, unless the string says.
constexpr char kConnectTimeout[] = "10";
// The most parameters one statement may carry in the server's protocol.
constexpr size_t kMaxPlaceholders = 65535;
constexpr int kBinaryResults = 1;

// The server's notices (a table that IF EXISTS did not find…) are no errors: not printed.
void ignore_notice(void*, const char*) {}

// libpq's messages end with a line feed.
void copy_message(char* to, size_t size, const char* message) {
  std::snprintf(to, size, "%s", message ? message : "");
  size_t length = std::strlen(to);
  while (length && (to[length - 1] == '\n' || to[length - 1] == ' '))
    to[--length] = '\0';
}

}  // namespace

HRESULT PgDatabase::Open(const ConnectionStringParts& parts, REFCLSID clsid, REFIID iid,
                         PgDatabase** out) {
  *out = nullptr;
  // The keys' values in UTF-8, in the order libpq reads them: a later key overrides an earlier
  // one, and the text encoding comes last so that results are always UTF-8.
  struct Key {
    const char* keyword;
    std::u16string_view value;
  };
  const Key keys[] = {
      {"dbname", parts.libpq.empty() ? parts.database : parts.libpq},
      {"host", parts.host},
      {"port", parts.port},
      {"user", parts.user_id},
      {"password", parts.password},
  };
  constexpr size_t kKeys = sizeof keys / sizeof keys[0];
  TaskMemory utf8[kKeys];
  const char* keywords[kKeys + 3] = {"connect_timeout"};
  const char* values[kKeys + 3] = {kConnectTimeout};
  size_t used = 1;
  for (size_t i = 0; i < kKeys; ++i) {
    if (keys[i].value.empty())
      continue;
    const HRESULT hr = ToUtf8(keys[i].value, &utf8[i]);
    if (hr == E_OUTOFMEMORY)
      return ReportAdoError(clsid, iid, hr, u"Out of memory.");
    if (FAILED(hr))
      return ReportAdoError(clsid, iid, AdoErrorStatus(adErrInvalidArgument),
                            u"The connection string holds a character the server cannot take.");
    keywords[used] = keys[i].keyword;
    values[used++] = utf8[i].Get<char>();
  }
  keywords[used] = "client_encoding";
  values[used++] = "UTF8";
  keywords[used] = nullptr;
  values[used] = nullptr;
  PGconn* connection = PQconnectdbParams(keywords, values, /*expand_dbname=*/!parts.libpq.empty());
  if (!connection)
    return ReportAdoError(clsid, iid, E_OUTOFMEMORY, u"Out of memory.");
  if (PQstatus(connection) != CONNECTION_OK) {
    char message[1024];
    copy_message(message, sizeof message, PQerrorMessage(connection));
    PQfinish(connection);
    return ReportAdoErrorUtf8(clsid, iid, E_FAIL, message);
  }
  PQsetNoticeProcessor(connection, ignore_notice, nullptr);
  *out = FaultSimStep() ? nullptr : new (std::nothrow) PgDatabase(connection);
  if (!*out) {
    PQfinish(connection);
    return ReportAdoError(clsid, iid, E_OUTOFMEMORY, u"Out of memory.");
  }
  return S_OK;
}

PgDatabase::~PgDatabase() {
  PQfinish(connection_);
}

HRESULT PgDatabase::Failure(const PGresult* result, REFCLSID clsid, REFIID iid) const {
  char message[2048];
  if (PQstatus(connection_) == CONNECTION_BAD) {
    char reason[1024];
    copy_message(reason, sizeof reason, PQerrorMessage(connection_));
    std::snprintf(message, sizeof message, "The connection to the database server is broken: %s",
                  reason);
    return ReportAdoErrorUtf8(clsid, iid, AdoErrorStatus(adErrInvalidConnection), message);
  }
  const char* primary = result ? PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
  const char* state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
  if (!primary) {
    copy_message(message, sizeof message, PQerrorMessage(connection_));
    return ReportAdoErrorUtf8(clsid, iid, result ? E_FAIL : E_OUTOFMEMORY, message);
  }
  if (state)
    std::snprintf(message, sizeof message, "%s (SQLSTATE %s)", primary, state);
  else
    copy_message(message, sizeof message, primary);
  return ReportAdoErrorUtf8(clsid, iid, E_FAIL, message);
}

HRESULT PgDatabase::Run(const OLECHAR* text, UINT length, const BindValues& values, REFCLSID clsid,
                        REFIID iid, CommandResult* result) {
  result->records_affected = 0;
  result->rows.reset();
  const std::u16string_view all(text ? text : u"", text ? length : 0);
  // Placeholders and values are matched before anything runs.
  PgStatement statement;
  size_t at = 0;
  size_t placeholders = 0;
  int statements = 0;
  while (NextPgStatement(all, &at, &statement)) {
    if (statement.empty)
      continue;
    ++statements;
    placeholders += static_cast<size_t>(statement.placeholders);
    if (static_cast<size_t>(statement.placeholders) > kMaxPlaceholders)
      return ReportAdoError(clsid, iid, AdoErrorStatus(adErrInvalidArgument),
                            u"A statement has more than 65535 parameter placeholders.");
  }
  if (statements == 0)
    return ReportAdoError(clsid, iid, AdoErrorStatus(adErrInvalidArgument),
                          u"The command text is empty.");
  if (placeholders > values.Count())
    return ReportAdoError(clsid, iid, AdoErrorStatus(adErrInvalidArgument),
                          u"The command has more parameter placeholders than parameters.");
  if (placeholders < values.Count())
    return ReportAdoError(clsid, iid, AdoErrorStatus(adErrInvalidArgument),
                          u"The command has fewer parameter placeholders than parameters.");
  if (PQstatus(connection_) != CONNECTION_OK)
    return Failure(nullptr, clsid, iid);

  at = 0;
  size_t next_value = 0;
  int ran = 0;
  while (NextPgStatement(all, &at, &statement)) {
    if (statement.empty)
      continue;
    const bool last = ++ran == statements;
    TaskMemory wide;
    if (!wide.Reserve(TranslatedCapacity(statement) * sizeof(char16_t)))
      return ReportAdoError(clsid, iid, E_OUTOFMEMORY, u"Out of memory.");
    const size_t units = TranslatePlaceholders(statement.text, 1, wide.Get<char16_t>());
    TaskMemory sql;
    HRESULT hr = ToUtf8(std::u16string_view(wide.Get<char16_t>(), units), &sql);
    if (hr == E_OUTOFMEMORY)
      return ReportAdoError(clsid, iid, hr, u"Out of memory.");
    if (FAILED(hr))
      return ReportAdoError(clsid, iid, AdoErrorStatus(adErrInvalidArgument),
                            u"The command text holds a character the server cannot take.");
    PgParameters parameters;
    hr = parameters.Bind(values, next_value, statement.placeholders, clsid, iid);
    if (FAILED(hr))
      return hr;
    next_value += static_cast<size_t>(statement.placeholders);
    PgResult done(PQexecParams(connection_, sql.Get<char>(), parameters.count(), parameters.types(),
                               parameters.values(), parameters.lengths(), parameters.formats(),
                               kBinaryResults));
    const ExecStatusType status = PQresultStatus(done.Get());
    if (status == PGRES_TUPLES_OK && last) {
      hr = PgRows::Create(std::move(done), &result->rows);
      return FAILED(hr) ? ReportAdoError(clsid, iid, hr, u"Out of memory.") : S_OK;
    }
    if (status == PGRES_COMMAND_OK)
      result->records_affected += static_cast<LONG>(std::atol(PQcmdTuples(done.Get())));
    else if (status != PGRES_TUPLES_OK && status != PGRES_EMPTY_QUERY)
      return Failure(done.Get(), clsid, iid);
  }
  return S_OK;
}
