// URL, hex and path encodings and the query-string parser of KaMsUtil. The hex and encode
// result areas are per thread, so that pages running on several threads at once never see each
// other's results.
#include "KaEncode.h"

#include <cstring>

#include "KaString.h"
#include "ka_alloc.h"

namespace {

constexpr size_t kEncodeAreaSize = 256;

thread_local char hex_area[3];
thread_local char encode_area[kEncodeAreaSize];

const char kPrefix[] = "file://localhost/";

bool is_alphanumeric(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

char hex_digit(unsigned value) {
  return static_cast<char>(value < 10 ? '0' + value : 'A' + value - 10);
}

// Appends %XX of c at encode_area[*len] when it fits within 255 bytes.
bool append_escape(unsigned char c, size_t* len) {
  if (*len + 3 > kEncodeAreaSize - 1)
    return false;
  encode_area[(*len)++] = '%';
  const char* digits = kaChar2Hex(static_cast<char>(c));
  encode_area[(*len)++] = digits[0];
  encode_area[(*len)++] = digits[1];
  return true;
}

// Releases the texts of a record and the record.
void free_element(KaElement* element) {
  kaFreeString(&element->name);
  kaFreeString(&element->aux1);
  kaFreeString(&element->aux2);
  kaFreeString(&element->value);
  ka_free(element);
}

// Makes the record of one token; null when an allocation fails (nothing is left behind).
KaElement* make_element(const char* token) {
  const char* equals = std::strchr(token, '=');
  char* name = nullptr;
  char* value = nullptr;
  if (equals) {
    int at = static_cast<int>(equals - token);
    name = kaLeftString(token, at);
    value = kaMidString(token, at + 1);
  } else {
    name = kaStringDup(token);
  }
  auto* element = static_cast<KaElement*>(ka_alloc(sizeof(KaElement)));
  if (!name || (equals && !value) || !element) {
    kaFreeString(&name);
    kaFreeString(&value);
    ka_free(element);
    return nullptr;
  }
  element->name = name;
  element->value = value;
  kaDecodeUrl(element->name);
  if (element->value) {
    kaDecodeUrl(element->value);
    element->valueLength = kaStringLen(element->value);
  }
  return element;
}

}  // namespace

char* kaChar2Hex(char c) {
  unsigned byte = static_cast<unsigned char>(c);
  hex_area[0] = hex_digit(byte >> 4);
  hex_area[1] = hex_digit(byte & 0x0F);
  hex_area[2] = '\0';
  return hex_area;
}

int kaHex2Char(const char* p) {
  auto digit = [](unsigned char d) -> unsigned {
    return d < 'A' ? static_cast<unsigned>(d - '0') : static_cast<unsigned>((d & ~0x20u) - 55);
  };
  unsigned high = digit(static_cast<unsigned char>(p[0]));
  unsigned low = digit(static_cast<unsigned char>(p[1]));
  return static_cast<int>((high * 16 + low) & 0xFF);
}

const char* kaEncodeUrl(const char* s) {
  if (kaIsEmptyString(s) == 0)
    return ka_empty_string();
  std::memset(encode_area, 0, sizeof encode_area);
  size_t len = 0;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(s); *p; ++p) {
    bool fits = true;
    if (*p == ' ') {
      fits = len + 1 <= kEncodeAreaSize - 1;
      if (fits)
        encode_area[len++] = '+';
    } else if (is_alphanumeric(*p)) {
      fits = len + 1 <= kEncodeAreaSize - 1;
      if (fits)
        encode_area[len++] = static_cast<char>(*p);
    } else {
      fits = append_escape(*p, &len);
      // The byte after a lead byte is escaped whatever it is; a lead byte at the very end has
      // none.
      if (fits && *p >= 0x80 && p[1])
        fits = append_escape(*++p, &len);
    }
    if (!fits) {
      std::memset(encode_area, 0, sizeof encode_area);
      return nullptr;
    }
  }
  return encode_area;
}

char* kaDecodeUrl(char* s) {
  if (kaIsEmptyString(s) == 0)
    return ka_empty_string();
  size_t read = 0;
  size_t write = 0;
  while (s[read]) {
    char c = s[read];
    if (c == '%' && s[read + 1] && s[read + 2]) {
      s[write++] = static_cast<char>(kaHex2Char(s + read + 1));
      read += 3;
    } else {
      s[write++] = c == '+' ? ' ' : c;
      ++read;
    }
  }
  s[write] = '\0';
  return s;
}

char* kaDosPathToURL(const char* path, char* out) {
  std::memcpy(out, kPrefix, sizeof kPrefix);
  char* w = out + sizeof kPrefix - 1;
  for (const char* p = path ? path : ""; *p; ++p)
    *w++ = *p == ':' ? '|' : *p == '\\' ? '/' : *p;
  *w = '\0';
  return out;
}

char* kaURLToDosPath(const char* url, char* out) {
  const char* rest = url ? url : "";
  if (const char* scheme_end = std::strstr(rest, "://"))
    rest = scheme_end + 3;
  if (const char* slash = std::strchr(rest, '/'))
    rest = slash + 1;
  char* w = out;
  for (; *rest; ++rest)
    *w++ = *rest == '|' ? ':' : *rest == '/' ? '\\' : *rest;
  *w = '\0';
  return out;
}

KaListHead* kaParseElement(char* text, const char* separators) {
  KaListHead* list = kaNewObList();
  if (!list || !text)
    return list;
  const char* seps = separators ? separators : "";
  char* p = text;
  while (*p) {
    p += std::strspn(p, seps);
    if (!*p)
      break;
    char* token = p;
    p += std::strcspn(p, seps);
    if (*p)
      *p++ = '\0';
    KaElement* element = make_element(token);
    if (!element)
      break;
    if (kaAddTailObList(list, element) != 0) {
      free_element(element);
      break;
    }
  }
  return list;
}

int kaDestroyElement(KaListHead* list) {
  if (!list)
    return 0;
  while (kaCountObList(list) > 0) {
    auto* element = static_cast<KaElement*>(kaRemoveAtObList(list, 0));
    if (element)
      free_element(element);
  }
  kaFreeObList(&list);
  return 0;
}
