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

}  // namespace

bool ParseConnectionString(std::u16string_view text, ConnectionStringParts* parts) {
  *parts = ConnectionStringParts{};
  size_t at = 0;
  while (at < text.size()) {
    const size_t equals = text.find(u'=', at);
    const size_t semicolon = text.find(u';', at);
    if (equals == std::u16string_view::npos || semicolon < equals) {
      // Only white space may stand between separators.
      const size_t end = semicolon == std::u16string_view::npos ? text.size() : semicolon;
      if (!trim(text.substr(at, end - at)).empty())
        return false;
      at = end + 1;
      continue;
    }
    const std::u16string_view key = trim(text.substr(at, equals - at));
    if (key.empty())
      return false;
    size_t value_start = equals + 1;
    while (value_start < text.size() && is_space(text[value_start]))
      ++value_start;
    std::u16string_view value;
    size_t next = 0;
    if (value_start < text.size() && (text[value_start] == u'"' || text[value_start] == u'\'')) {
      const size_t close = text.find(text[value_start], value_start + 1);
      if (close == std::u16string_view::npos)
        return false;
      value = text.substr(value_start + 1, close - value_start - 1);
      next = text.find(u';', close);
      if (!trim(text.substr(close + 1,
                            (next == std::u16string_view::npos ? text.size() : next) - close - 1))
               .empty())
        return false;
    } else {
      next = text.find(u';', value_start);
      value = trim(text.substr(
          value_start, (next == std::u16string_view::npos ? text.size() : next) - value_start));
    }
    if (equals_ignoring_case(key, u"Provider"))
      parts->provider = value;
    else if (equals_ignoring_case(key, u"Data Source"))
      parts->data_source = value;
    at = next == std::u16string_view::npos ? text.size() : next + 1;
  }
  return true;
}
