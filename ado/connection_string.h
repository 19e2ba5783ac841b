// Connection strings: "Key=Value" items separated by ';', keys in any case, values optionally
// quoted. The SQLite provider reads "Provider=SQLite;Data Source=<path>"; the PostgreSQL
// provider "Provider=PostgreSQL;Host=...;Port=...;Database=...;User ID=...;Password=...", or a
// connection string of libpq (a URI "postgresql://...", or libpq's space-separated key=value
// pairs) after a leading "Provider=PostgreSQL;". Other keys are ignored.
#pragma once

#include <string_view>

struct ConnectionStringParts {
  std::u16string_view provider;     // empty when not given
  std::u16string_view data_source;  // empty when not given
  std::u16string_view host;         // Host, or Server
  std::u16string_view port;
  std::u16string_view database;  // Database, or Initial Catalog
  std::u16string_view user_id;   // User ID, or UID
  std::u16string_view password;  // Password, or PWD
  // libpq's own connection string, when one follows a leading "Provider=PostgreSQL;": the
  // other parts but the provider are then empty.
  std::u16string_view libpq;
};

// Splits text into its parts (views into text). Returns false for a malformed string: a key
// without '=', or a quoted value without its closing quote.
bool ParseConnectionString(std::u16string_view text, ConnectionStringParts* parts);

// Whether a provider name names the provider (ASCII case ignored).
bool IsProvider(std::u16string_view provider, std::u16string_view name);
