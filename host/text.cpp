// Text helpers of the script host (see text.h).
#include "text.h"

#include <cctype>
#include <cstdio>

namespace vhost {

std::u16string decode_bytes(std::string_view bytes, UINT cp) {
  if (bytes.empty())
    return {};
  const int n =
      MultiByteToWideChar(cp, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  if (n <= 0)
    return std::u16string(bytes.begin(), bytes.end());
  std::u16string out(static_cast<size_t>(n), u'\0');
  MultiByteToWideChar(cp, 0, bytes.data(), static_cast<int>(bytes.size()),
                      reinterpret_cast<LPWSTR>(out.data()), n);
  return out;
}

std::string encode_text(std::u16string_view text, UINT cp) {
  if (text.empty())
    return {};
  auto* in = reinterpret_cast<LPCWSTR>(text.data());
  const int len = static_cast<int>(text.size());
  const int n = WideCharToMultiByte(cp, 0, in, len, nullptr, 0, nullptr, nullptr);
  if (n <= 0)
    return std::string(text.size(), '?');
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(cp, 0, in, len, out.data(), n, nullptr, nullptr);
  return out;
}

std::u16string from_cesu8(std::string_view s) {
  // Names and most values are ASCII: that run widens byte for unit.
  size_t i = 0;
  while (i < s.size() && static_cast<unsigned char>(s[i]) < 0x80)
    ++i;
  std::u16string out(s.begin(), s.begin() + static_cast<std::ptrdiff_t>(i));
  if (i == s.size())
    return out;
  out.reserve(s.size());
  while (i < s.size()) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    char32_t cp = 0;
    size_t extra = 0;
    if (c < 0x80) {
      cp = c;
    } else if ((c & 0xE0) == 0xC0) {
      cp = c & 0x1F;
      extra = 1;
    } else if ((c & 0xF0) == 0xE0) {
      cp = c & 0x0F;
      extra = 2;
    } else if ((c & 0xF8) == 0xF0) {
      cp = c & 0x07;
      extra = 3;
    } else {
      out.push_back(u'\uFFFD');
      ++i;
      continue;
    }
    if (i + extra >= s.size()) {
      out.push_back(u'\uFFFD');
      break;
    }
    for (size_t k = 1; k <= extra; ++k)
      cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    i += extra + 1;
    if (cp > 0xFFFF) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  return out;
}

size_t write_cesu8(std::u16string_view s, char* out) {
  char* p = out;
  for (char16_t u : s) {
    if (u < 0x80) {
      *p++ = static_cast<char>(u);
    } else if (u < 0x800) {
      *p++ = static_cast<char>(0xC0 | (u >> 6));
      *p++ = static_cast<char>(0x80 | (u & 0x3F));
    } else {
      *p++ = static_cast<char>(0xE0 | (u >> 12));
      *p++ = static_cast<char>(0x80 | ((u >> 6) & 0x3F));
      *p++ = static_cast<char>(0x80 | (u & 0x3F));
    }
  }
  return static_cast<size_t>(p - out);
}

std::string to_cesu8(std::u16string_view s) {
  size_t bytes = 0;
  for (char16_t u : s)
    bytes += u < 0x80 ? 1 : u < 0x800 ? 2 : 3;
  std::string out(bytes, '\0');
  write_cesu8(s, out.data());
  return out;
}

namespace {

int hex_digit(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string url_decode(std::string_view s, bool plus_is_space) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    const char c = s[i];
    if (c == '%' && i + 2 < s.size()) {
      const int hi = hex_digit(s[i + 1]);
      const int lo = hex_digit(s[i + 2]);
      if (hi >= 0 && lo >= 0) {
        out.push_back(static_cast<char>(hi * 16 + lo));
        i += 2;
        continue;
      }
    }
    out.push_back(plus_is_space && c == '+' ? ' ' : c);
  }
  return out;
}

std::vector<std::pair<std::string, std::string>> parse_urlencoded(std::string_view s) {
  std::vector<std::pair<std::string, std::string>> out;
  size_t start = 0;
  while (start <= s.size()) {
    size_t end = s.find('&', start);
    if (end == std::string_view::npos)
      end = s.size();
    const std::string_view pair = s.substr(start, end - start);
    if (!pair.empty()) {
      const size_t eq = pair.find('=');
      if (eq == std::string_view::npos)
        out.emplace_back(url_decode(pair, true), std::string());
      else
        out.emplace_back(url_decode(pair.substr(0, eq), true),
                         url_decode(pair.substr(eq + 1), true));
    }
    start = end + 1;
  }
  return out;
}

std::u16string html_encode(std::u16string_view s) {
  std::u16string out;
  out.reserve(s.size());
  for (char16_t c : s) {
    switch (c) {
      case u'<':
        out += u"&lt;";
        break;
      case u'>':
        out += u"&gt;";
        break;
      case u'&':
        out += u"&amp;";
        break;
      case u'"':
        out += u"&quot;";
        break;
      default:
        out.push_back(c);
    }
  }
  return out;
}

std::u16string url_encode(std::u16string_view s, UINT cp) {
  static const char hex[] = "0123456789ABCDEF";
  const std::string bytes = encode_text(s, cp);
  std::u16string out;
  out.reserve(bytes.size());
  for (unsigned char c : bytes) {
    if (std::isalnum(c) && c < 0x80) {
      out.push_back(c);
    } else if (c == ' ') {
      out.push_back(u'+');
    } else {
      out.push_back(u'%');
      out.push_back(static_cast<char16_t>(hex[c >> 4]));
      out.push_back(static_cast<char16_t>(hex[c & 15]));
    }
  }
  return out;
}

namespace {

char16_t fold(char16_t c) {
  return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c;
}

}  // namespace

bool iequals(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size())
    return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (fold(a[i]) != fold(b[i]))
      return false;
  return true;
}

bool iequals(std::string_view a, std::string_view b) {
  if (a.size() != b.size())
    return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (fold(static_cast<unsigned char>(a[i])) != fold(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

bool has_cr_or_lf(std::u16string_view s) {
  return s.find(u'\r') != std::u16string_view::npos || s.find(u'\n') != std::u16string_view::npos;
}

std::u16string to_u16(std::string_view s) {
  return decode_bytes(s, CP_UTF8);
}
std::string to_utf8(std::u16string_view s) {
  return encode_text(s, CP_UTF8);
}

std::string http_date(std::time_t when) {
  // Spelled out rather than through strftime, whose names follow the locale.
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::tm parts{};
  gmtime_r(&when, &parts);
  char text[64];
  std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d GMT", kDays[parts.tm_wday],
                parts.tm_mday, kMonths[parts.tm_mon], parts.tm_year + 1900, parts.tm_hour,
                parts.tm_min, parts.tm_sec);
  return text;
}

}  // namespace vhost
