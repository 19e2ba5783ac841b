// Parameters of part headers and of the content type (see header_params.h).
#include "header_params.h"

#include <string.h>
#include <strings.h>

namespace {

// The text a value is read from never exceeds this many bytes.
constexpr size_t kValueWindow = 255;

bool is_blank(char c) {
  return c == ' ' || c == '\t';
}

const char* skip_blanks(const char* p) {
  while (is_blank(*p))
    ++p;
  return p;
}

// The value's first byte when p starts parameter keyword ("keyword =" with optional blanks).
const char* value_after_keyword(const char* p, const char* keyword) {
  const size_t n = strlen(keyword);
  if (strncasecmp(p, keyword, n) != 0)
    return nullptr;
  p = skip_blanks(p + n);
  if (*p != '=')
    return nullptr;
  return skip_blanks(p + 1);
}

// The next parameter's start after p: past the next ';' that no quoted string holds, or null.
const char* next_parameter(const char* p) {
  for (; *p; ++p) {
    if (*p == '"') {
      p = strchr(p + 1, '"');
      if (!p)
        return nullptr;
    } else if (*p == ';') {
      return p + 1;
    }
  }
  return nullptr;
}

// Stores the n bytes at from (n <= kValueWindow) into value; false when the text could not be
// made.
bool store(const char* from, size_t n, CKaText* value) {
  char copy[kValueWindow + 1];
  memcpy(copy, from, n);
  copy[n] = '\0';
  *value = copy;
  return strcmp(*value, copy) == 0;
}

}  // namespace

HRESULT ReadParameter(const char* text, const char* keyword, ValueWindow window, CKaText* value) {
  for (const char* p = text; p; p = next_parameter(p)) {
    p = skip_blanks(p);
    const char* at = value_after_keyword(p, keyword);
    if (!at)
      continue;
    const char* window_start = window == ValueWindow::kFromKeyword ? p : at;
    const char* limit = window_start + strnlen(window_start, kValueWindow);
    const char* from = at;
    const char* stops = "; \t\r\n";
    if (*at == '"') {
      from = at + 1;
      stops = "\"\r\n";
    }
    const char* end = from;
    while (end < limit && !strchr(stops, *end))
      ++end;
    return store(from, static_cast<size_t>(end - from), value) ? S_OK : E_OUTOFMEMORY;
  }
  return S_FALSE;
}

bool IsHeaderLine(const char* line, const char* nameWithColon) {
  return strncasecmp(line, nameWithColon, strlen(nameWithColon)) == 0;
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
  CKaText cut = fileName->Mid(static_cast<int>(base - name));
  if (strcmp(cut, base) != 0)
    return E_OUTOFMEMORY;
  char* block = fileName->GetData();
  fileName->SetData(cut.GetData());
  cut.SetData(block);
  return S_OK;
}
