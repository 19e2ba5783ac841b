// Parameters of part headers and of the content type (see header_params.h).
#include "header_params.h"

#include <string.h>

#include <algorithm>

#include "KaString.h"
#include "vtrl_module.h"

namespace {

bool is_blank(char c) {
  return c == ' ' || c == '\t';
}

unsigned char ascii_lower(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u >= 'A' && u <= 'Z' ? static_cast<unsigned char>(u + ('a' - 'A')) : u;
}

// Past prefix in s when s starts with it, ASCII letters compared without case (strncasecmp is
// not in every C run time); null otherwise.
const char* past_prefix_nocase(const char* s, const char* prefix) {
  for (; *prefix; ++s, ++prefix) {
    if (ascii_lower(*s) != ascii_lower(*prefix))
      return nullptr;
  }
  return s;
}

const char* skip_blanks(const char* p) {
  while (is_blank(*p))
    ++p;
  return p;
}

// The value's first byte when p starts parameter keyword ("keyword =" with optional blanks).
const char* value_after_keyword(const char* p, const ParameterWanted& wanted) {
  p = past_prefix_nocase(p, wanted.keyword);
  if (!p)
    return nullptr;
  p = skip_blanks(p);
  if (*p != '=')
    return nullptr;
  return skip_blanks(p + 1);
}

// The next parameter's start after p: past the next ';' that no quoted string holds, or null.
const char* next_parameter(const char* p) {
  for (p = strpbrk(p, ";\""); p; p = strpbrk(p + 1, ";\"")) {
    if (*p == ';')
      return p + 1;
    p = strchr(p + 1, '"');
    if (!p)
      return nullptr;
  }
  return nullptr;
}

// The bytes that end an unquoted value (a token) and a quoted one; a zero byte ends both.
constexpr char kTokenEnds[] = "; \t\r\n";
constexpr char kQuotedEnds[] = "\"\r\n";

// Stores the n bytes at from (n <= kParameterWindow, no zero byte among them) into value; false
// when the text could not be made.
bool store(const char* from, size_t n, CKaText* value) {
  char* block = kaNewString(static_cast<unsigned>(n));
  if (!block)
    return false;
  memcpy(block, from, n);
  ResetText(value, block);
  return true;
}

// Reads the value at at of the parameter whose keyword starts at keyword.
bool read_value(const char* keyword, const char* at, ValueWindow window, CKaText* value) {
  const char* window_start = window == ValueWindow::kFromKeyword ? keyword : at;
  const char* limit = window_start + strnlen(window_start, kParameterWindow);
  const bool quoted = *at == '"';
  const char* from = quoted ? at + 1 : at;
  const char* end = from;
  if (from < limit) {
    const size_t stop = strcspn(from, quoted ? kQuotedEnds : kTokenEnds);
    end = from + std::min(stop, static_cast<size_t>(limit - from));
  }
  return store(from, static_cast<size_t>(end - from), value);
}

}  // namespace

HRESULT ReadParameters(const char* text, ParameterWanted* wanted, size_t count) {
  size_t left = count;
  for (const char* p = text; p && left; p = next_parameter(p)) {
    p = skip_blanks(p);
    for (size_t i = 0; i < count; ++i) {
      ParameterWanted& w = wanted[i];
      if (w.found)
        continue;
      const char* at = value_after_keyword(p, w);
      if (!at)
        continue;
      if (!read_value(p, at, w.window, w.value))
        return E_OUTOFMEMORY;
      w.found = true;
      --left;
      break;
    }
  }
  return S_OK;
}

bool IsHeaderLine(const char* line, const char* nameWithColon) {
  return past_prefix_nocase(line, nameWithColon) != nullptr;
}

HRESULT CutClientPath(CKaText* fileName) {
  const char* name = *fileName;
  const char* base = name;
  for (const char* p = name; *p; ++p) {
    if (*p == '\\' || *p == '/')
      base = p + 1;
  }
  if (base == name && ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z')) &&
      name[1] == ':')
    base = name + 2;
  if (strcmp(base, ".") == 0 || strcmp(base, "..") == 0)
    base = name + strlen(name);
  if (base == name)
    return S_OK;
  char* cut = kaDataDup(base, static_cast<unsigned>(strlen(base)));
  if (!cut)
    return E_OUTOFMEMORY;
  ResetText(fileName, cut);
  return S_OK;
}
