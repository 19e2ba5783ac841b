// Command text for PostgreSQL: statements split at their ';' and the ? placeholders numbered as
// the server wants them ($1, $2, ...). What stands inside quotes ('...', E'...', "...",
// $tag$...$tag$) and comments (-- and /* */) is neither a separator nor a placeholder.
#pragma once

#include <string_view>

struct PgStatement {
  std::u16string_view text;  // without its ';'
  int placeholders = 0;
  bool empty = true;  // white space and comments only
};

// Reads the statement that starts at text[*at] and moves *at past it; false at the end.
bool NextPgStatement(std::u16string_view text, size_t* at, PgStatement* statement);

// The most units TranslatePlaceholders writes for a statement.
size_t TranslatedCapacity(const PgStatement& statement);

// Writes statement's text to out with its placeholders numbered from first on (first +
// placeholders - 1 must not pass 99999); returns the number of units written.
size_t TranslatePlaceholders(std::u16string_view statement, int first, char16_t* out);
