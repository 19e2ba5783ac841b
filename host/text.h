// Text helpers of the script host: code-page conversion between bytes and UTF-16, Duktape's
// CESU-8 strings, URL decoding and the application/x-www-form-urlencoded form, HTML and URL
// encoding, HTTP dates.
#pragma once

#include <ctime>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "windows.h"

namespace vhost {

// Bytes in code page cp to UTF-16; invalid sequences become U+FFFD.
std::u16string decode_bytes(std::string_view bytes, UINT cp);
// UTF-16 to bytes in code page cp; characters the code page lacks become '?'.
std::string encode_text(std::u16string_view text, UINT cp);

// Duktape keeps strings as CESU-8 (each UTF-16 unit on its own), so the mapping is one to one.
std::u16string from_cesu8(std::string_view s);
std::string to_cesu8(std::u16string_view s);
// Writes the CESU-8 bytes of s to out, which has room for three a unit; returns their count.
size_t write_cesu8(std::u16string_view s, char* out);

// %XX decoding; with plus_is_space a '+' is a space (query strings and forms).
std::string url_decode(std::string_view s, bool plus_is_space);

// name=value&name=value, decoded; a name without '=' has an empty value.
std::vector<std::pair<std::string, std::string>> parse_urlencoded(std::string_view s);

std::u16string html_encode(std::u16string_view s);
// Server.URLEncode: UTF-8 (or cp) bytes, letters and digits kept, space as '+', the rest %XX.
std::u16string url_encode(std::u16string_view s, UINT cp);

bool iequals(std::u16string_view a, std::u16string_view b);
bool iequals(std::string_view a, std::string_view b);
bool has_cr_or_lf(std::u16string_view s);

std::u16string to_u16(std::string_view ascii_or_utf8);
std::string to_utf8(std::u16string_view s);

// An HTTP date (IMF-fixdate): "Sun, 06 Nov 1994 08:49:37 GMT".
std::string http_date(std::time_t when);

}  // namespace vhost
