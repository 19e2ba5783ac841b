// Parsing of connection strings.
#include "connection_string.h"

namespace {

bool is_space(char16_t c) {
  return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
}

std::u16string_view trim(std::u16string_view s) {
  while (!s.empty() && is_space(s.front()))
    s.remove_prefix(1);
  while (!s.empty() && is_space(s.back()))
    s.remove_suffix(1);
  return s;
}

bool equals_ignoring_case(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size())
    return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char16_t x = a[i];
    char16_t y = b[i];
    if (x >= u'A' && x <= u'Z')
      x = static_cast<char16_t>(x - u'A' + u'a');
    if (y >= u'A' && y <= u'Z')
      y = static_cast<char16_t>(y - u'A' + u'a');
    if (x != y)
      return false;
  }
  return true;
}

bool starts_with_ignoring_case(std::u16string_view s, std::u16string_view prefix) {
  return s.size() >= prefix.size() && equals_ignoring_case(s.substr(0, prefix.size()), prefix);
}

struct Item {
  std::u16string_view key;
  std::u16string_view value;
  bool quoted = false;
  size_t end = 0;  // where the next item starts
};

enum class Step { kItem, kEnd, kMalformed };

// Reads the item at text[at...], skipping empty ones.
Step next_item(std::u16string_view text, size_t at, Item* item) {
  while (at < text.size()) {
    const size_t equals = text.find(u'=', at);
    const size_t semicolon = text.find(u';', at);
    if (equals == std::u16string_view::npos || semicolon < equals) {
      // Only white space may stand between separators.
      const size_t end = semicolon == std::u16string_view::npos ? text.size() : semicolon;
      if (!trim(text.substr(at, end - at)).empty())
        return Step::kMalformed;
      at = end + 1;
      continue;
    }
    item->key = trim(text.substr(at, equals - at));
    if (item->key.empty())
      return Step::kMalformed;
    size_t value_start = equals + 1;
    while (value_start < text.size() && is_space(text[value_start]))
      ++value_start;
    size_t next = 0;
    item->quoted =
        value_start < text.size() && (text[value_start] == u'"' || text[value_start] == u'\'');
    if (item->quoted) {
      const size_t close = text.find(text[value_start], value_start + 1);
      if (close == std::u16string_view::npos)
        return Step::kMalformed;
      item->value = text.substr(value_start + 1, close - value_start - 1);
      next = text.find(u';', close);
      if (!trim(text.substr(close + 1,
                            (next == std::u16string_view::npos ? text.size() : next) - close - 1))
               .empty())
        return Step::kMalformed;
    } else {
      next = text.find(u';', value_start);
      item->value = trim(text.substr(
          value_start, (next == std::u16string_view::npos ? text.size() : next) - value_start));
    }
    item->end = next == std::u16string_view::npos ? text.size() : next + 1;
    return Step::kItem;
  }
  return Step::kEnd;
}

// The part an item's key names, or null for a key the parser does not know.
std::u16string_view* part_of(std::u16string_view key, ConnectionStringParts* parts) {
  struct Name {
    std::u16string_view key;
    std::u16string_view ConnectionStringParts::*part;
  };
  static constexpr Name kNames[] = {
      {u"Provider", &ConnectionStringParts::provider},
      {u"Data Source", &ConnectionStringParts::data_source},
      {u"Host", &ConnectionStringParts::host},
      {u"Server", &ConnectionStringParts::host},
      {u"Port", &ConnectionStringParts::port},
      {u"Database", &ConnectionStringParts::database},
      {u"Initial Catalog", &ConnectionStringParts::database},
      {u"User ID", &ConnectionStringParts::user_id},
      {u"UID", &ConnectionStringParts::user_id},
      {u"Password", &ConnectionStringParts::password},
      {u"PWD", &ConnectionStringParts::password},
  };
  for (const Name& name : kNames)
    if (equals_ignoring_case(key, name.key))
      return &(parts->*name.part);
  return nullptr;
}

// Whether rest, what follows a leading "Provider=PostgreSQL;", is libpq's own connection string:
// a URI, or text that is not made of known keys alone (libpq's pairs "host=h dbname=d" read as
// one key whose unquoted value holds a '=').
bool is_libpq_string(std::u16string_view rest) {
  rest = trim(rest);
  if (starts_with_ignoring_case(rest, u"postgresql://") ||
      starts_with_ignoring_case(rest, u"postgres://"))
    return true;
  ConnectionStringParts scratch;
  Item item;
  size_t at = 0;
  for (;;) {
    switch (next_item(rest, at, &item)) {
      case Step::kEnd:
        return false;
      case Step::kMalformed:
        return true;
      case Step::kItem:
        if (!part_of(item.key, &scratch) ||
            (!item.quoted && item.value.find(u'=') != std::u16string_view::npos))
          return true;
        at = item.end;
    }
  }
}

}  // namespace

bool IsProvider(std::u16string_view provider, std::u16string_view name) {
  return equals_ignoring_case(provider, name);
}

bool ParseConnectionString(std::u16string_view text, ConnectionStringParts* parts) {
  *parts = ConnectionStringParts{};
  Item item;
  size_t at = 0;
  bool first = true;
  for (;;) {
    const Step step = next_item(text, at, &item);
    if (step == Step::kEnd)
      return true;
    if (step == Step::kMalformed)
      return false;
    std::u16string_view* part = part_of(item.key, parts);
    if (part)
      *part = item.value;
    if (first && part == &parts->provider && IsProvider(item.value, u"PostgreSQL") &&
        is_libpq_string(text.substr(item.end))) {
      parts->libpq = trim(text.substr(item.end));
      return true;
    }
    first = false;
    at = item.end;
  }
}
