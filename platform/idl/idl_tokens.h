// The tokens of the IDL parser (idl_parser.cpp) and the error both throw.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace idl {
namespace detail {

inline constexpr size_t kMaxTokenLength = 64 * 1024;

struct ParseError {
  int line;
  std::string message;
};

enum class Tok { kIdent, kNumber, kString, kPunct, kRaw, kEnd };

struct Token {
  Tok kind = Tok::kEnd;
  std::string text;
  int line = 1;
};

[[noreturn]] inline void fail(int line, std::string message) {
  throw ParseError{line, std::move(message)};
}

// Splits the text into tokens; the last is kEnd. The argument of uuid(...) is taken raw, since a
// GUID is not made of ordinary tokens. Throws ParseError.
std::vector<Token> tokenize(std::string_view text);

}  // namespace detail
}  // namespace idl
