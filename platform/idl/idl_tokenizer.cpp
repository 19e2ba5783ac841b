// The tokenizer of the IDL parser (idl_tokens.h).
#include <cctype>
#include <cstring>

#include "idl_tokens.h"

namespace idl {
namespace detail {

std::vector<Token> tokenize(std::string_view text) {
  std::vector<Token> tokens;
  int line = 1;
  size_t i = 0;
  bool line_start = true;
  auto push = [&](Tok kind, std::string t, int at) {
    if (t.size() > kMaxTokenLength)
      fail(at, "token too long");
    tokens.push_back(Token{kind, std::move(t), at});
  };
  while (i < text.size()) {
    const char c = text[i];
    if (c == '\n') {
      ++line;
      ++i;
      line_start = true;
      continue;
    }
    if (c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v') {
      ++i;
      continue;
    }
    if (line_start && c == '#') {
      // A preprocessor line (#include, #define, #pragma): skipped, with its continuations.
      while (i < text.size() && text[i] != '\n') {
        if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == '\n') {
          ++line;
          ++i;
        }
        ++i;
      }
      continue;
    }
    line_start = false;
    if (c == '/' && i + 1 < text.size() && text[i + 1] == '/') {
      while (i < text.size() && text[i] != '\n')
        ++i;
      continue;
    }
    if (c == '/' && i + 1 < text.size() && text[i + 1] == '*') {
      const int start = line;
      i += 2;
      while (i + 1 < text.size() && !(text[i] == '*' && text[i + 1] == '/')) {
        if (text[i] == '\n')
          ++line;
        ++i;
      }
      if (i + 1 >= text.size())
        fail(start, "unterminated comment");
      i += 2;
      continue;
    }
    const size_t n = tokens.size();
    if (c == '(' && n >= 1 && tokens[n - 1].kind == Tok::kIdent && tokens[n - 1].text == "uuid") {
      push(Tok::kPunct, "(", line);
      ++i;
      const size_t start = i;
      while (i < text.size() && text[i] != ')' && text[i] != '\n')
        ++i;
      if (i >= text.size() || text[i] != ')')
        fail(line, "unterminated uuid");
      std::string raw(text.substr(start, i - start));
      push(Tok::kRaw, raw, line);
      continue;
    }
    if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
      const size_t start = i;
      while (i < text.size() &&
             (std::isalnum(static_cast<unsigned char>(text[i])) || text[i] == '_'))
        ++i;
      push(Tok::kIdent, std::string(text.substr(start, i - start)), line);
      continue;
    }
    if (std::isdigit(static_cast<unsigned char>(c)) ||
        (c == '.' && i + 1 < text.size() &&
         std::isdigit(static_cast<unsigned char>(text[i + 1])))) {
      const size_t start = i;
      while (i < text.size() &&
             (std::isalnum(static_cast<unsigned char>(text[i])) || text[i] == '.' ||
              ((text[i] == '+' || text[i] == '-') && (text[i - 1] == 'e' || text[i - 1] == 'E') &&
               !(text[start] == '0' && start + 1 < text.size() &&
                 (text[start + 1] == 'x' || text[start + 1] == 'X')))))
        ++i;
      push(Tok::kNumber, std::string(text.substr(start, i - start)), line);
      continue;
    }
    if (c == '"' || (c == 'L' && i + 1 < text.size() && text[i + 1] == '"')) {
      const int start = line;
      i += c == 'L' ? 2 : 1;
      std::string value;
      while (i < text.size() && text[i] != '"') {
        if (text[i] == '\n')
          fail(start, "unterminated string");
        if (text[i] == '\\' && i + 1 < text.size()) {
          const char e = text[i + 1];
          value += e == 'n' ? '\n' : e == 't' ? '\t' : e == 'r' ? '\r' : e;
          i += 2;
          continue;
        }
        value += text[i++];
        if (value.size() > kMaxTokenLength)
          fail(start, "string too long");
      }
      if (i >= text.size())
        fail(start, "unterminated string");
      ++i;
      push(Tok::kString, std::move(value), start);
      continue;
    }
    if (c == '<' && i + 1 < text.size() && text[i + 1] == '<') {
      push(Tok::kPunct, "<<", line);
      i += 2;
      continue;
    }
    if (std::strchr("[](){};,*=:.-+|~&<>", c)) {
      push(Tok::kPunct, std::string(1, c), line);
      ++i;
      continue;
    }
    fail(line, std::string("unexpected character '") +
                   (std::isprint(static_cast<unsigned char>(c)) ? std::string(1, c) : "?") + "'");
  }
  tokens.push_back(Token{Tok::kEnd, "", line});
  return tokens;
}

}  // namespace detail
}  // namespace idl
