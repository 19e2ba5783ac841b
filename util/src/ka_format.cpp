// The printf-style formatter of CKaText: output-length estimate and count-limited printer.
// Both walk the format with one conversion parser, so they take the arguments alike.
#include "ka_format.h"

#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "winnls.h"

namespace {

constexpr long long kMaxCount = static_cast<long long>(kFormatLimit);

enum class Size { kNone, kShort, kChar, kLong, kLong64, kPointer, kWide };

struct Conversion {
  char flags[8] = {};  // printf flags other than '*', zero-terminated
  int sharp_count = 0;
  long long width = 0;
  bool has_width = false;
  long long precision = -1;  // -1: absent
  Size size = Size::kNone;
  char conv = '\0';  // '\0' when the format ends inside the conversion
};

long long abs_width(long long w) {
  return w < 0 ? -w : w;
}

// Reads one conversion after its '%'. p is left on the conversion byte (or the terminator).
void parse_conversion(const char*& p, va_list* args, Conversion& c) {
  size_t nflags = 0;
  for (; *p && strchr("#*-+0 ", *p); ++p) {
    if (*p == '#')
      ++c.sharp_count;
    if (*p == '*') {
      c.width = va_arg(*args, int);
      c.has_width = true;
    } else if (nflags + 1 < sizeof c.flags && !strchr(c.flags, *p)) {
      c.flags[nflags++] = *p;
    }
  }
  if (*p >= '0' && *p <= '9') {
    c.width = 0;
    for (; *p >= '0' && *p <= '9'; ++p)
      if (c.width < kMaxCount)
        c.width = c.width * 10 + (*p - '0');
    c.has_width = true;
  } else if (*p == '*') {
    c.width = va_arg(*args, int);
    c.has_width = true;
    ++p;
  }
  if (*p == '.') {
    ++p;
    c.precision = 0;
    if (*p >= '0' && *p <= '9') {
      for (; *p >= '0' && *p <= '9'; ++p)
        if (c.precision < kMaxCount)
          c.precision = c.precision * 10 + (*p - '0');
    } else if (*p == '*') {
      int value = va_arg(*args, int);
      c.precision = value < 0 ? 0 : value;
      ++p;
    }
  }
  // Size prefixes of the platform's formatter.
  if (p[0] == 'I' && p[1] == '6' && p[2] == '4') {
    c.size = Size::kLong64, p += 3;
  } else if (p[0] == 'I' && p[1] == '3' && p[2] == '2') {
    c.size = Size::kNone, p += 3;
  } else if (p[0] == 'l' && p[1] == 'l') {
    c.size = Size::kLong64, p += 2;
  } else if (p[0] == 'h' && p[1] == 'h') {
    c.size = Size::kChar, p += 2;
  } else if (*p == 'I' || *p == 'z' || *p == 't' || *p == 'j') {
    c.size = *p == 'j' ? Size::kLong64 : Size::kPointer, ++p;
  } else if (*p == 'h') {
    c.size = Size::kShort, ++p;
  } else if (*p == 'l') {
    c.size = Size::kLong, ++p;
  } else if (*p == 'w') {
    c.size = Size::kWide, ++p;
  } else if (*p == 'L' || *p == 'q') {
    c.size = Size::kLong64, ++p;
  }
  c.conv = *p;
}

bool wide_text(const Conversion& c) {
  return c.conv == 'S' || c.conv == 'C' ||
         ((c.conv == 's' || c.conv == 'c') && (c.size == Size::kLong || c.size == Size::kWide));
}

bool is_integer(char conv) {
  return conv && strchr("diouxX", conv);
}
bool is_floating(char conv) {
  return conv && strchr("eEfFgGaA", conv);
}

long long take_signed(va_list* args, Size size) {
  switch (size) {
    case Size::kLong64:
      return va_arg(*args, long long);
    case Size::kPointer:
      return va_arg(*args, intptr_t);
    case Size::kShort:
      return static_cast<short>(va_arg(*args, int));
    case Size::kChar:
      return static_cast<signed char>(va_arg(*args, int));
    default:  // l is 32-bit, as LONG is.
      return va_arg(*args, int32_t);
  }
}

unsigned long long take_unsigned(va_list* args, Size size) {
  switch (size) {
    case Size::kLong64:
      return va_arg(*args, unsigned long long);
    case Size::kPointer:
      return va_arg(*args, uintptr_t);
    case Size::kShort:
      return static_cast<unsigned short>(va_arg(*args, unsigned int));
    case Size::kChar:
      return static_cast<unsigned char>(va_arg(*args, unsigned int));
    default:
      return va_arg(*args, uint32_t);
  }
}

size_t wide_length(const WCHAR* s) {
  size_t n = 0;
  while (s[n])
    ++n;
  return n;
}

// Room for one conversion, and its argument taken from the list.
long long estimate_item(const Conversion& c, va_list* args) {
  const long long w = abs_width(c.width);
  const long long p = c.precision < 0 ? 0 : c.precision;
  const long long wp = w + p;
  if (is_floating(c.conv)) {
    double value = va_arg(*args, double);
    (void)value;
    // Fixed notation of a large double runs to 309 digits before the point.
    long long item = wp >= 128 ? wp : 128;
    if (c.conv == 'f' || c.conv == 'F') {
      const long long fixed = 312 + (c.precision < 0 ? 6 : p);
      if (item < fixed + w)
        item = fixed + w;
    }
    return item;
  }
  if (is_integer(c.conv)) {
    if (c.conv == 'd' || c.conv == 'i')
      take_signed(args, c.size);
    else
      take_unsigned(args, c.size);
    return wp >= 32 ? wp : 32;
  }
  switch (c.conv) {
    case 'p':
      va_arg(*args, void*);
      return wp >= 32 ? wp : 32;
    case 'n':
      va_arg(*args, void*);
      return 0;
    case '%':
      return 1;
    case 'c':
    case 'C': {
      va_arg(*args, int);
      const long long one = wide_text(c) ? 4 : 1;
      return w > one ? w : one;
    }
    case 's':
    case 'S': {
      long long n = 0;
      if (wide_text(c)) {
        const WCHAR* s = va_arg(*args, const WCHAR*);
        if (!s)
          return w > 6 ? w : 6;
        n = static_cast<long long>(wide_length(s)) * 3;  // at most 3 bytes per UTF-16 unit
      } else {
        const char* s = va_arg(*args, const char*);
        if (!s)
          return 0;
        n = static_cast<long long>(strlen(s));
      }
      if (c.precision > 0 && n > c.precision)
        n = c.precision;
      n += 1;
      return n > w ? n : w;
    }
    default:
      return 0;
  }
}

// Appends bytes to the output while room remains.
struct Sink {
  char* out;
  size_t limit;
  size_t pos = 0;

  void put(const char* s, size_t n) {
    if (pos >= limit)
      return;
    if (n > limit - pos)
      n = limit - pos;
    memcpy(out + pos, s, n);
    pos += n;
  }
  template <typename T>
  void print(const char* spec, T value) {
    if (pos >= limit)
      return;
    int n = snprintf(out + pos, limit - pos + 1, spec, value);
    if (n > 0)
      pos += static_cast<size_t>(n) < limit - pos ? static_cast<size_t>(n) : limit - pos;
  }
};

// The single-conversion format for the C library: flags, width, precision, size, conversion.
void build_spec(const Conversion& c, const char* size, char conv, char* spec, size_t room) {
  char width[24] = "";
  char precision[24] = "";
  const char* minus = "";
  if (c.has_width) {
    snprintf(width, sizeof width, "%lld", abs_width(c.width));
    if (c.width < 0 && !strchr(c.flags, '-'))
      minus = "-";
  }
  if (c.precision >= 0)
    snprintf(precision, sizeof precision, ".%lld", c.precision);
  snprintf(spec, room, "%%%s%s%s%s%s%c", c.flags, minus, width, precision, size, conv);
}

// UTF-16 text converted to the ANSI code page, in a block of the library allocator.
class NarrowCopy {
 public:
  NarrowCopy(const WCHAR* s, size_t n) {
    if (n == 0)
      return;
    const int need =
        WideCharToMultiByte(CP_ACP, 0, s, static_cast<int>(n), nullptr, 0, nullptr, nullptr);
    if (need <= 0)
      return;
    text_ = static_cast<char*>(ka_alloc(static_cast<size_t>(need) + 1));
    if (text_)
      WideCharToMultiByte(CP_ACP, 0, s, static_cast<int>(n), text_, need, nullptr, nullptr);
  }
  ~NarrowCopy() { ka_free(text_); }
  NarrowCopy(const NarrowCopy&) = delete;
  NarrowCopy& operator=(const NarrowCopy&) = delete;
  const char* get() const { return text_ ? text_ : ""; }

 private:
  char* text_ = nullptr;
};

void print_item(Sink& sink, const Conversion& c, va_list* args) {
  char spec[96];
  if (is_integer(c.conv)) {
    build_spec(c, "ll", c.conv, spec, sizeof spec);
    if (c.conv == 'd' || c.conv == 'i')
      sink.print(spec, take_signed(args, c.size));
    else
      sink.print(spec, take_unsigned(args, c.size));
    return;
  }
  if (is_floating(c.conv)) {
    build_spec(c, "", c.conv, spec, sizeof spec);
    sink.print(spec, va_arg(*args, double));  // the platform's long double is a double
    return;
  }
  switch (c.conv) {
    case 'p':
      build_spec(c, "", 'p', spec, sizeof spec);
      sink.print(spec, va_arg(*args, void*));
      return;
    case 'n':
      // The platform's formatter refuses %n; nothing is written through the pointer.
      va_arg(*args, void*);
      return;
    case '%':
      sink.put("%", 1);
      return;
    case 'c':
    case 'C':
      if (wide_text(c)) {
        const WCHAR unit = static_cast<WCHAR>(va_arg(*args, int));
        NarrowCopy narrow(&unit, 1);
        build_spec(c, "", 's', spec, sizeof spec);
        sink.print(spec, narrow.get());
      } else {
        build_spec(c, "", 'c', spec, sizeof spec);
        sink.print(spec, va_arg(*args, int));
      }
      return;
    case 's':
    case 'S':
      build_spec(c, "", 's', spec, sizeof spec);
      if (wide_text(c)) {
        const WCHAR* s = va_arg(*args, const WCHAR*);
        if (!s) {
          sink.print(spec, "(null)");
          return;
        }
        NarrowCopy narrow(s, wide_length(s));
        sink.print(spec, narrow.get());
      } else {
        const char* s = va_arg(*args, const char*);
        sink.print(spec, s ? s : "(null)");
      }
      return;
    default:
      return;
  }
}

}  // namespace

size_t ka_format_estimate(const char* fmt, va_list args) {
  if (!fmt || !*fmt)
    return 0;
  va_list walk;
  va_copy(walk, args);
  long long estimate = 0;
  for (const char* p = fmt; *p && estimate < kMaxCount; ++p) {
    if (*p != '%') {
      ++estimate;
      continue;
    }
    const char* start = p++;
    Conversion c;
    parse_conversion(p, &walk, c);
    estimate += 2 * c.sharp_count;
    if (c.conv == '\0') {
      // A format that ends inside a conversion: the printer copies it as it stands.
      estimate += p - start;
      break;
    }
    if (is_floating(c.conv) || is_integer(c.conv) || strchr("pn%cCsS", c.conv))
      estimate += estimate_item(c, &walk);
    else
      estimate += p - start + 1;  // an unknown conversion is copied as it stands
  }
  va_end(walk);
  return estimate > kMaxCount ? kFormatLimit : static_cast<size_t>(estimate);
}

void ka_format_print(char* out, size_t limit, const char* fmt, va_list args) {
  out[0] = '\0';
  if (!fmt)
    return;
  va_list walk;
  va_copy(walk, args);
  Sink sink{out, limit};
  for (const char* p = fmt; *p && sink.pos < limit; ++p) {
    if (*p != '%') {
      sink.put(p, 1);
      continue;
    }
    const char* start = p++;
    Conversion c;
    parse_conversion(p, &walk, c);
    if (c.conv == '\0') {
      sink.put(start, static_cast<size_t>(p - start));
      break;
    }
    if (is_floating(c.conv) || is_integer(c.conv) || strchr("pn%cCsS", c.conv))
      print_item(sink, c, &walk);
    else
      sink.put(start, static_cast<size_t>(p - start + 1));
  }
  va_end(walk);
  out[sink.pos] = '\0';
}
