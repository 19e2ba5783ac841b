// KaMsUtil's hex, URL and path encodings and its query-string parser on arbitrary text, with
// the round trips they promise: hex digits give their byte back, a URL encoding decodes to its
// text, a DOS path comes back from its URL with only its separators normalised.
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "KaEncode.h"
#include "KaString.h"
#include "fuzz_check.h"

namespace {

// A library block holding text, so that a read past its end is caught.
char* block_of(const std::string& text) {
  char* block = kaDataDup(text.data(), static_cast<unsigned>(text.size()));
  FUZZ_CHECK(block != nullptr, "kaDataDup failed");
  return block;
}

void hex(const std::string& text) {
  for (unsigned char c : text) {
    const char* digits = kaChar2Hex(static_cast<char>(c));
    FUZZ_CHECK(strlen(digits) == 2, "kaChar2Hex gives two digits");
    FUZZ_CHECK(kaHex2Char(digits) == c, "hex digits give their byte back");
  }
  // Any two bytes are read as digits, unvalidated; only those two bytes are read.
  for (size_t i = 0; i + 1 < text.size(); i += 2) {
    const std::vector<char> pair(text.begin() + static_cast<ptrdiff_t>(i),
                                 text.begin() + static_cast<ptrdiff_t>(i) + 2);
    const int byte = kaHex2Char(pair.data());
    FUZZ_CHECK(byte >= 0 && byte <= 255, "kaHex2Char gives a byte");
  }
}

void url(const std::string& text) {
  const char* encoded = kaEncodeUrl(text.c_str());
  if (encoded) {
    FUZZ_CHECK(strlen(encoded) <= 255, "an encoding fits its 255 bytes");
    std::string decoded(encoded);
    kaDecodeUrl(decoded.data());
    FUZZ_CHECK(strcmp(decoded.c_str(), text.c_str()) == 0, "decoding gives the text back");
  } else {
    FUZZ_CHECK(text.size() > 85, "only an encoding past 255 bytes is refused");
  }
  char* block = block_of(text);
  const size_t before = strlen(block);
  char* decoded = kaDecodeUrl(block);
  FUZZ_CHECK(strlen(decoded) <= before, "decoding never lengthens");
  kaFreeString(&block);
}

void paths(const std::string& text) {
  std::vector<char> as_url(text.size() + 18);
  kaDosPathToURL(text.c_str(), as_url.data());
  std::vector<char> back(strlen(as_url.data()) + 1);
  kaURLToDosPath(as_url.data(), back.data());
  std::string expected = text;
  for (char& c : expected)
    c = c == '/' ? '\\' : c == '|' ? ':' : c;
  FUZZ_CHECK(expected == back.data(), "a path comes back from its URL");

  std::vector<char> as_path(text.size() + 1);
  kaURLToDosPath(text.c_str(), as_path.data());
}

void query(const std::string& text, const char* separators) {
  char* block = block_of(text);
  KaListHead* list = kaParseElement(block, separators);
  FUZZ_CHECK(list != nullptr, "kaParseElement gives a list");
  const int count = kaCountObList(list);
  for (int i = 0; i < count; ++i) {
    const auto* element = static_cast<const KaElement*>(kaFindAtObList(list, i));
    FUZZ_CHECK(element && element->name, "every record has a name");
    FUZZ_CHECK(!element->value || element->valueLength == kaStringLen(element->value),
               "valueLength is the value's length");
  }
  kaDestroyElement(list);
  kaFreeString(&block);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The functions take zero-terminated text: the input up to its first zero byte.
  const char* bytes = reinterpret_cast<const char*>(data);
  const std::string text(bytes, strnlen(bytes, size));
  hex(text);
  url(text);
  paths(text);
  query(text, "&");
  query(text, "&;= ");
  return 0;
}
