// Splitting command text into PostgreSQL statements and numbering their placeholders.
#include "pg_command_text.h"

namespace {

bool is_space(char16_t c) {
  return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\f' || c == u'\v';
}

bool is_identifier_char(char16_t c) {
  return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
         c == u'_' || c == u'$' || c >= 0x80;
}

bool starts_identifier(char16_t c) {
  return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c == u'_' || c >= 0x80;
}

// Walks text one token of interest at a time: characters of code, and quoted stretches, which
// it passes over whole. White space and comments are passed over without being reported. An
// unclosed quote or comment runs to the end of the text, where the server will find it.
class Scanner {
 public:
  Scanner(std::u16string_view text, size_t at) : text_(text), at_(at) {}

  // The position of the next character of code (*code true) or quoted stretch (*code false),
  // and moves past it; false at the end.
  bool Next(size_t* position, bool* code) {
    while (at_ < text_.size()) {
      const size_t start = at_;
      const char16_t c = text_[at_];
      const char16_t next = at_ + 1 < text_.size() ? text_[at_ + 1] : u'\0';
      if (is_space(c)) {
        ++at_;
      } else if (c == u'-' && next == u'-') {
        const size_t end = text_.find(u'\n', at_);
        at_ = end == std::u16string_view::npos ? text_.size() : end + 1;
      } else if (c == u'/' && next == u'*') {
        SkipBlockComment();
      } else if (c == u'\'' || c == u'"') {
        SkipQuoted(c, c == u'\'' && EscapeString(start));
        return Report(start, false, position, code);
      } else if (c == u'$' && (start == 0 || !is_identifier_char(text_[start - 1])) &&
                 SkipDollarQuoted()) {
        return Report(start, false, position, code);
      } else {
        ++at_;
        return Report(start, true, position, code);
      }
    }
    return false;
  }

 private:
  static bool Report(size_t start, bool is_code, size_t* position, bool* code) {
    *position = start;
    *code = is_code;
    return true;
  }

  // Whether the quote at quote opens an E'...' string, where a backslash escapes.
  bool EscapeString(size_t quote) const {
    if (quote == 0 || (text_[quote - 1] != u'E' && text_[quote - 1] != u'e'))
      return false;
    return quote == 1 || !is_identifier_char(text_[quote - 2]);
  }

  void SkipQuoted(char16_t quote, bool backslash_escapes) {
    ++at_;
    while (at_ < text_.size()) {
      const char16_t c = text_[at_++];
      if (backslash_escapes && c == u'\\') {
        ++at_;
      } else if (c == quote) {
        if (at_ < text_.size() && text_[at_] == quote)
          ++at_;  // a doubled quote stands for itself
        else
          return;
      }
    }
    at_ = text_.size();
  }

  void SkipBlockComment() {
    int depth = 0;  // block comments nest
    while (at_ < text_.size()) {
      const char16_t c = text_[at_];
      const char16_t next = at_ + 1 < text_.size() ? text_[at_ + 1] : u'\0';
      if (c == u'/' && next == u'*') {
        ++depth;
        at_ += 2;
      } else if (c == u'*' && next == u'/') {
        at_ += 2;
        if (--depth == 0)
          return;
      } else {
        ++at_;
      }
    }
  }

  // At a '$': passes over $tag$...$tag$ and returns true, or returns false when the '$' opens
  // no dollar quote ($1 is a parameter of the server's own numbering).
  bool SkipDollarQuoted() {
    size_t end = at_ + 1;
    if (end < text_.size() && starts_identifier(text_[end])) {
      while (end < text_.size() && is_identifier_char(text_[end]) && text_[end] != u'$')
        ++end;
    }
    if (end >= text_.size() || text_[end] != u'$')
      return false;
    const std::u16string_view tag = text_.substr(at_, end - at_ + 1);
    const size_t close = text_.find(tag, end + 1);
    at_ = close == std::u16string_view::npos ? text_.size() : close + tag.size();
    return true;
  }

  std::u16string_view text_;
  size_t at_;
};

size_t digits(int n) {
  size_t count = 1;
  while (n >= 10) {
    n /= 10;
    ++count;
  }
  return count;
}

}  // namespace

bool NextPgStatement(std::u16string_view text, size_t* at, PgStatement* statement) {
  if (*at >= text.size())
    return false;
  *statement = PgStatement{};
  Scanner scanner(text, *at);
  size_t position = 0;
  bool code = false;
  size_t end = text.size();
  while (scanner.Next(&position, &code)) {
    if (code && text[position] == u';') {
      end = position;
      break;
    }
    statement->empty = false;
    if (code && text[position] == u'?')
      ++statement->placeholders;
  }
  statement->text = text.substr(*at, end - *at);
  *at = end + 1;
  return true;
}

size_t TranslatedCapacity(const PgStatement& statement) {
  // "$99999" for each "?".
  return statement.text.size() + 5 * static_cast<size_t>(statement.placeholders);
}

size_t TranslatePlaceholders(std::u16string_view statement, int first, char16_t* out) {
  Scanner scanner(statement, 0);
  size_t copied = 0;  // of statement
  size_t written = 0;
  size_t position = 0;
  bool code = false;
  int number = first;
  while (scanner.Next(&position, &code)) {
    if (!code || statement[position] != u'?')
      continue;
    for (; copied < position; ++copied)
      out[written++] = statement[copied];
    ++copied;
    out[written++] = u'$';
    const size_t n = digits(number);
    for (size_t i = 0, value = static_cast<size_t>(number); i < n; ++i, value /= 10)
      out[written + n - 1 - i] = static_cast<char16_t>(u'0' + value % 10);
    written += n;
    ++number;
  }
  for (; copied < statement.size(); ++copied)
    out[written++] = statement[copied];
  return written;
}
