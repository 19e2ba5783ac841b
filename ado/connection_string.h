// The connection string of the SQLite provider: "Provider=SQLite;Data Source=<path>", keys in
// any case, values optionally quoted, other keys (User ID, Password…) ignored.
#pragma once

#include <string_view>

struct ConnectionStringParts {
  std::u16string_view provider;     // empty when not given
  std::u16string_view data_source;  // empty when not given
};

// Splits text into its parts (views into text). Returns false for a malformed string: a key
// without '=', or a quoted value without its closing quote.
bool ParseConnectionString(std::u16string_view text, ConnectionStringParts* parts);
