// CKaText::Format with arbitrary formats, each called with arguments of the types its
// conversions take (a format whose arguments do not match is the caller's fault, not the
// library's). Where a format means the same to the C library, the text must be what snprintf
// prints, or a beginning of it (output past the estimate is cut).
//
// Input: the format up to the first zero byte; the bytes after it are the arguments' values.
#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <deque>
#include <string>
#include <vector>

#include "KaText.h"
#include "fuzz_check.h"

namespace {

// At most this many arguments; a format that takes more is skipped.
constexpr int kMaxArgs = 3;
// Widths and precisions above this are skipped: the block is sized by them, so a huge one is a
// huge allocation by design.
constexpr long long kMaxField = 1 << 20;

// kStar is a '*' width, kPrecision a '*' precision.
enum class Kind { kInt, kStar, kPrecision, kInt64, kIntPtr, kDouble, kText, kWide, kPointer };

struct Plan {
  Kind kinds[kMaxArgs] = {};
  int count = 0;
  bool usable = true;    // false: too many arguments or too large a field
  bool portable = true;  // snprintf reads the format the same way
};

void take(Plan& plan, Kind kind) {
  if (plan.count == kMaxArgs)
    plan.usable = false;
  else
    plan.kinds[plan.count++] = kind;
}

// Reads a run of digits at p as the formatter does; false when it passes kMaxField.
bool digits(const char*& p) {
  long long value = 0;
  for (; *p >= '0' && *p <= '9'; ++p)
    if (value <= kMaxField)
      value = value * 10 + (*p - '0');
  return value <= kMaxField;
}

// The arguments fmt takes, in order: the formatter's grammar (flags, which may hold '*', a width,
// a precision, the platform's size prefixes, the conversion).
Plan plan_of(const char* fmt) {
  Plan plan;
  for (const char* p = fmt; *p; ++p) {
    if (*p != '%')
      continue;
    const char* spec = ++p;
    bool star_in_flags = false;
    for (; *p && strchr("#*-+0 ", *p); ++p) {
      if (*p == '*') {
        take(plan, Kind::kStar);
        star_in_flags = true;
      }
    }
    if (*p >= '0' && *p <= '9') {
      plan.usable &= digits(p);
    } else if (*p == '*') {
      take(plan, Kind::kStar);
      ++p;
    }
    if (*p == '.') {
      ++p;
      if (*p >= '0' && *p <= '9') {
        const bool small = digits(p);
        // A long precision of a string is not an allocation: the text is as long as it is.
        if (!small && !strchr("sS", *p))
          plan.usable = false;
        plan.portable &= small;
      } else if (*p == '*') {
        take(plan, Kind::kPrecision);
        ++p;
      }
    }
    enum { kNone, kChar, kShort, kLong, kLong64, kPointer, kWideSize } size = kNone;
    bool c_size = true;  // a prefix snprintf reads the same way
    if (p[0] == 'I' && p[1] == '6' && p[2] == '4') {
      size = kLong64, p += 3, c_size = false;
    } else if (p[0] == 'I' && p[1] == '3' && p[2] == '2') {
      p += 3, c_size = false;
    } else if (p[0] == 'l' && p[1] == 'l') {
      size = kLong64, p += 2;
    } else if (p[0] == 'h' && p[1] == 'h') {
      size = kChar, p += 2;
    } else if (*p == 'I' || *p == 'z' || *p == 't' || *p == 'j') {
      size = *p == 'j' ? kLong64 : kPointer, ++p, c_size = false;
    } else if (*p == 'h') {
      size = kShort, ++p;
    } else if (*p == 'l') {
      size = kLong, ++p, c_size = false;  // 32-bit here, 64-bit in the C library
    } else if (*p == 'w') {
      size = kWideSize, ++p, c_size = false;
    } else if (*p == 'L' || *p == 'q') {
      size = kLong64, ++p, c_size = false;
    }
    const char conv = *p;
    if (!conv) {
      plan.portable = false;  // a format that ends inside a conversion is copied as it stands
      break;
    }
    const bool wide = conv == 'S' || conv == 'C' ||
                      ((conv == 's' || conv == 'c') && (size == kLong || size == kWideSize));
    bool known = true;
    // Only integers take a size prefix in the C library's grammar (and "ll" on a floating
    // conversion means its long double there).
    c_size &= size == kNone || strchr("diouxX", conv);
    if (strchr("eEfFgGaA", conv)) {
      take(plan, Kind::kDouble);
    } else if (strchr("diouxX", conv)) {
      take(plan, size == kLong64 ? Kind::kInt64 : size == kPointer ? Kind::kIntPtr : Kind::kInt);
    } else if (conv == 'p' || conv == 'n') {
      take(plan, Kind::kPointer);
      plan.portable &= conv == 'p';
    } else if (conv == 'c' || conv == 'C') {
      take(plan, Kind::kInt);
      plan.portable &= !wide;
    } else if (conv == 's' || conv == 'S') {
      take(plan, wide ? Kind::kWide : Kind::kText);
      plan.portable &= !wide;
    } else {
      known = false;
    }
    // The C library's grammar: no '*' among the flags, no flags or width on "%%", the sizes it
    // shares with the formatter, known conversions only.
    plan.portable &= known && c_size && !star_in_flags && !(conv == '%' && p != spec);
  }
  return plan;
}

// The arguments' values, read from the bytes after the format.
class Values {
 public:
  Values(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  template <typename T>
  T next() {
    T value{};
    unsigned char bytes[sizeof(T)] = {};
    for (size_t i = 0; i < sizeof(T) && pos_ < size_; ++i)
      bytes[i] = data_[pos_++];
    memcpy(&value, bytes, sizeof(T));
    return value;
  }

  // Text of up to 63 bytes, or null when the length byte says so.
  const char* text() {
    const unsigned length = next<uint8_t>();
    if (length == 0xFF)
      return nullptr;
    std::string& s = texts_.emplace_back();
    for (unsigned i = 0; i < (length & 63) && pos_ < size_ && data_[pos_]; ++i)
      s.push_back(static_cast<char>(data_[pos_++]));
    return s.c_str();
  }

  // UTF-16 text of up to 31 units (lone surrogates included), or null.
  const char16_t* wide() {
    const unsigned length = next<uint8_t>();
    if (length == 0xFF)
      return nullptr;
    std::u16string& s = wides_.emplace_back();
    for (unsigned i = 0; i < (length & 31); ++i) {
      const char16_t unit = next<char16_t>();
      if (!unit)
        break;
      s.push_back(unit);
    }
    return s.c_str();
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
  // Deques: the texts handed out stay where they are while more are added.
  std::deque<std::string> texts_;
  std::deque<std::u16string> wides_;
};

// The C library's printing of fmt and the arguments.
int c_print(char* out, size_t room, const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  const int n = vsnprintf(out, room, fmt, args);
  va_end(args);
  return n;
}

// One call of Format: the format, its plan, the arguments' values, and whether snprintf
// reads it the same way. A negative '*' precision is 0 to the formatter and "none" to the C
// library.
struct Run {
  const char* fmt;
  const Plan& plan;
  Values& values;
  bool portable;
};

// Formats with the arguments made, then compares with the C library.
template <typename... Args>
void format_with(const Run& run, Args... args) {
  CKaText text;
  text.Format(run.fmt, args...);
  const char* out = text;
  FUZZ_CHECK(out != nullptr, "a text is never null");
  const size_t length = strlen(out);
  FUZZ_CHECK(static_cast<size_t>(text.GetLength()) == length, "GetLength is the length");
  if (!run.portable)
    return;
  const int need = c_print(nullptr, 0, run.fmt, args...);
  if (need < 0)
    return;
  std::vector<char> expected(static_cast<size_t>(need) + 1);
  c_print(expected.data(), expected.size(), run.fmt, args...);
  // A %c of a zero byte ends the text where snprintf keeps going.
  FUZZ_CHECK(length <= static_cast<size_t>(need) && memcmp(out, expected.data(), length) == 0,
             "Format prints what snprintf prints, or the beginning of it");
}

// Makes the arguments of the plan one at a time, each of its own type, then formats.
template <typename... Args>
void call(Run& run, Args... args) {
  constexpr int made = sizeof...(Args);
  if constexpr (made == kMaxArgs) {
    format_with(run, args...);
  } else {
    if (made == run.plan.count) {
      format_with(run, args...);
      return;
    }
    static int pointee;
    Values& v = run.values;
    switch (run.plan.kinds[made]) {
      case Kind::kInt:
        return call(run, args..., v.next<int>());
      case Kind::kStar:
        return call(run, args..., static_cast<int>(v.next<int32_t>() % (kMaxField + 1)));
      case Kind::kPrecision: {
        const int precision = static_cast<int>(v.next<int32_t>() % (kMaxField + 1));
        run.portable &= precision >= 0;
        return call(run, args..., precision);
      }
      case Kind::kInt64:
        return call(run, args..., v.next<long long>());
      case Kind::kIntPtr:
        return call(run, args..., v.next<intptr_t>());
      case Kind::kDouble:
        return call(run, args..., v.next<double>());
      case Kind::kText: {
        // The C library prints a null string its own way, and only for some precisions.
        const char* text = v.text();
        run.portable &= text != nullptr;
        return call(run, args..., text);
      }
      case Kind::kWide:
        return call(run, args..., v.wide());
      case Kind::kPointer:
        return call(run, args..., static_cast<void*>(v.next<uint8_t>() & 1 ? &pointee : nullptr));
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* bytes = reinterpret_cast<const char*>(data);
  const size_t fmt_length = strnlen(bytes, size);
  const std::string fmt(bytes, fmt_length);
  const Plan plan = plan_of(fmt.c_str());
  if (!plan.usable)
    return -1;
  const size_t rest = fmt_length < size ? fmt_length + 1 : size;
  Values values(data + rest, size - rest);
  Run run{fmt.c_str(), plan, values, plan.portable};
  call(run);
  return 0;
}
