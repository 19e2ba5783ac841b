// Type conversion of VARIANTs: VariantChangeType and VariantChangeTypeEx.
//
// Every scalar source is first read as a number (an exact integer, a double, or a currency
// amount), and that number is then stored into the target type with its range checks. Integer
// targets round halves to even, as the platform does. Text goes through the ANSI code page: a
// BSTR is narrowed with it before it is parsed, and formatted numbers are widened with it. The
// decimal point is always '.', whatever the locale.
#include "oleauto.h"

#include <float.h>
#include <math.h>
#include <string.h>

#include <charconv>

#include "oleaut_private.h"
#include "winnls.h"

namespace {

// Objects whose default member returns another object are followed this deep at most, so that
// an object that returns itself cannot recurse without end.
constexpr int kMaxDispatchDepth = 8;
// Longest text (in characters, after trimming white space) read as a number.
constexpr UINT kMaxNumberText = 256;

constexpr int64_t kCyScale = 10000;

struct Number {
  enum Kind { kSigned, kUnsigned, kReal, kCurrency } kind;
  int64_t i = 0;   // kSigned; kCurrency (scaled by 10,000)
  uint64_t u = 0;  // kUnsigned
  double r = 0;    // kReal
};

Number make_signed(int64_t v) {
  return Number{Number::kSigned, v, 0, 0};
}
Number make_unsigned(uint64_t v) {
  return Number{Number::kUnsigned, 0, v, 0};
}
Number make_real(double v) {
  return Number{Number::kReal, 0, 0, v};
}

bool is_space(OLECHAR c) {
  return c == u' ' || (c >= u'\t' && c <= u'\r') || c == 0x3000;
}

// Rounds to the nearest integer, halves to even, whatever the floating-point rounding mode.
double round_even(double v) {
  double low = floor(v);
  double diff = v - low;
  if (diff > 0.5)
    return low + 1;
  if (diff < 0.5)
    return low;
  return fmod(low, 2.0) == 0 ? low : low + 1;
}

// Currency scaled by 10,000 divided to an integer, halves to even.
int64_t currency_to_integer(int64_t scaled) {
  int64_t q = scaled / kCyScale;
  int64_t rem = scaled % kCyScale;
  int64_t twice = rem * 2;
  if (twice > kCyScale || (twice == kCyScale && (q & 1)))
    ++q;
  if (twice < -kCyScale || (twice == -kCyScale && (q & 1)))
    --q;
  return q;
}

// The value as an integer in [lo, hi]; DISP_E_OVERFLOW outside it.
HRESULT to_signed(const Number& n, int64_t lo, int64_t hi, int64_t* out) {
  switch (n.kind) {
    case Number::kSigned:
      if (n.i < lo || n.i > hi)
        return DISP_E_OVERFLOW;
      *out = n.i;
      return S_OK;
    case Number::kUnsigned:
      if (n.u > static_cast<uint64_t>(hi))
        return DISP_E_OVERFLOW;
      *out = static_cast<int64_t>(n.u);
      return S_OK;
    case Number::kCurrency: {
      int64_t v = currency_to_integer(n.i);
      if (v < lo || v > hi)
        return DISP_E_OVERFLOW;
      *out = v;
      return S_OK;
    }
    case Number::kReal: {
      if (isnan(n.r))
        return DISP_E_OVERFLOW;
      double r = round_even(n.r);
      // 2^63 is exact as a double; anything at or above it overflows.
      if (r < static_cast<double>(lo) || r >= 9223372036854775808.0 || r > static_cast<double>(hi))
        return DISP_E_OVERFLOW;
      *out = static_cast<int64_t>(r);
      return S_OK;
    }
  }
  return DISP_E_TYPEMISMATCH;
}

// The value as an unsigned integer in [0, hi]; DISP_E_OVERFLOW outside it.
HRESULT to_unsigned(const Number& n, uint64_t hi, uint64_t* out) {
  switch (n.kind) {
    case Number::kSigned:
      if (n.i < 0 || static_cast<uint64_t>(n.i) > hi)
        return DISP_E_OVERFLOW;
      *out = static_cast<uint64_t>(n.i);
      return S_OK;
    case Number::kUnsigned:
      if (n.u > hi)
        return DISP_E_OVERFLOW;
      *out = n.u;
      return S_OK;
    case Number::kCurrency: {
      int64_t v = currency_to_integer(n.i);
      if (v < 0 || static_cast<uint64_t>(v) > hi)
        return DISP_E_OVERFLOW;
      *out = static_cast<uint64_t>(v);
      return S_OK;
    }
    case Number::kReal: {
      if (isnan(n.r))
        return DISP_E_OVERFLOW;
      double r = round_even(n.r);
      if (r < 0 || r >= 18446744073709551616.0 || r > static_cast<double>(hi))
        return DISP_E_OVERFLOW;
      *out = static_cast<uint64_t>(r);
      return S_OK;
    }
  }
  return DISP_E_TYPEMISMATCH;
}

double to_double(const Number& n) {
  switch (n.kind) {
    case Number::kSigned:
      return static_cast<double>(n.i);
    case Number::kUnsigned:
      return static_cast<double>(n.u);
    case Number::kCurrency:
      return static_cast<double>(n.i) / kCyScale;
    case Number::kReal:
      return n.r;
  }
  return 0;
}

HRESULT to_currency(const Number& n, int64_t* out) {
  switch (n.kind) {
    case Number::kCurrency:
      *out = n.i;
      return S_OK;
    case Number::kSigned:
      if (__builtin_mul_overflow(n.i, kCyScale, out))
        return DISP_E_OVERFLOW;
      return S_OK;
    case Number::kUnsigned:
      if (n.u > static_cast<uint64_t>(INT64_MAX / kCyScale))
        return DISP_E_OVERFLOW;
      *out = static_cast<int64_t>(n.u) * kCyScale;
      return S_OK;
    case Number::kReal: {
      double r = round_even(n.r * kCyScale);
      if (isnan(r) || r < -9223372036854775808.0 || r >= 9223372036854775808.0)
        return DISP_E_OVERFLOW;
      *out = static_cast<int64_t>(r);
      return S_OK;
    }
  }
  return DISP_E_TYPEMISMATCH;
}

bool equals_ignoring_case(const char* text, size_t n, const char* word) {
  if (strlen(word) != n)
    return false;
  for (size_t i = 0; i < n; ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z')
      c = static_cast<char>(c - 'A' + 'a');
    if (c != word[i])
      return false;
  }
  return true;
}

// Narrows the trimmed text of b through the ANSI code page into buf. False when there is no
// text, it is too long, or it does not convert.
bool narrow_text(BSTR b, char* buf, size_t room, size_t* length) {
  UINT n = SysStringLen(b);
  UINT first = 0;
  while (first < n && is_space(b[first]))
    ++first;
  while (n > first && is_space(b[n - 1]))
    --n;
  if (n == first || n - first > kMaxNumberText)
    return false;
  int bytes = WideCharToMultiByte(CP_ACP, 0, b + first, static_cast<int>(n - first), buf,
                                  static_cast<int>(room), nullptr, nullptr);
  if (bytes <= 0)
    return false;
  *length = static_cast<size_t>(bytes);
  return true;
}

// Reads "[+|-]digits[.digits][(e|E)[+|-]digits]" with ',' allowed between integer digits, or
// "&H" hex / "&O" octal. DISP_E_TYPEMISMATCH when it is not a number, DISP_E_OVERFLOW when it
// does not fit a double.
HRESULT parse_number(const char* text, size_t n, Number* out) {
  const char* end = text + n;
  if (n > 2 && text[0] == '&' &&
      (text[1] == 'H' || text[1] == 'h' || text[1] == 'O' || text[1] == 'o')) {
    int base = (text[1] == 'H' || text[1] == 'h') ? 16 : 8;
    uint64_t v = 0;
    auto [ptr, ec] = std::from_chars(text + 2, end, v, base);
    if (ptr != end)
      return DISP_E_TYPEMISMATCH;
    if (ec != std::errc())
      return DISP_E_OVERFLOW;
    *out = make_unsigned(v);
    return S_OK;
  }
  char clean[kMaxNumberText * 4 + 1];
  size_t c = 0;
  const char* p = text;
  bool negative = false;
  if (p < end && (*p == '+' || *p == '-'))
    negative = *p++ == '-';
  size_t int_digits = 0;
  size_t frac_digits = 0;
  bool integral = true;
  while (p < end) {
    if (*p >= '0' && *p <= '9') {
      clean[c++] = *p++;
      ++int_digits;
    } else if (*p == ',' && int_digits > 0 && p + 1 < end && p[1] >= '0' && p[1] <= '9') {
      ++p;
    } else {
      break;
    }
  }
  if (p < end && *p == '.') {
    integral = false;
    clean[c++] = *p++;
    while (p < end && *p >= '0' && *p <= '9')
      clean[c++] = *p++, ++frac_digits;
  }
  if (int_digits + frac_digits == 0)
    return DISP_E_TYPEMISMATCH;
  if (p < end && (*p == 'e' || *p == 'E')) {
    integral = false;
    clean[c++] = *p++;
    if (p < end && (*p == '+' || *p == '-'))
      clean[c++] = *p++;
    size_t exp_digits = 0;
    while (p < end && *p >= '0' && *p <= '9')
      clean[c++] = *p++, ++exp_digits;
    if (exp_digits == 0)
      return DISP_E_TYPEMISMATCH;
  }
  if (p != end)
    return DISP_E_TYPEMISMATCH;

  if (integral) {
    uint64_t v = 0;
    auto [ptr, ec] = std::from_chars(clean, clean + c, v);
    if (ec == std::errc() && ptr == clean + c) {
      if (!negative) {
        *out = make_unsigned(v);
        return S_OK;
      }
      if (v <= static_cast<uint64_t>(INT64_MAX) + 1) {
        *out = make_signed(v == static_cast<uint64_t>(INT64_MAX) + 1 ? INT64_MIN
                                                                     : -static_cast<int64_t>(v));
        return S_OK;
      }
    }
  }
  double d = 0;
  auto [ptr, ec] = std::from_chars(clean, clean + c, d);
  if (ptr != clean + c)
    return DISP_E_TYPEMISMATCH;
  if (ec == std::errc::result_out_of_range) {
    // Too small a magnitude reads as zero; too large overflows.
    const char* e = static_cast<const char*>(memchr(clean, 'e', c));
    if (!e)
      e = static_cast<const char*>(memchr(clean, 'E', c));
    if (e && e + 1 < clean + c && e[1] == '-')
      d = 0;
    else
      return DISP_E_OVERFLOW;
  }
  *out = make_real(negative ? -d : d);
  return S_OK;
}

HRESULT number_from_bstr(BSTR b, Number* out) {
  char text[kMaxNumberText * 4];
  size_t n = 0;
  if (!narrow_text(b, text, sizeof(text), &n))
    return DISP_E_TYPEMISMATCH;
  return parse_number(text, n, out);
}

HRESULT bool_from_bstr(BSTR b, VARIANT_BOOL* out) {
  char text[kMaxNumberText * 4];
  size_t n = 0;
  if (!narrow_text(b, text, sizeof(text), &n))
    return DISP_E_TYPEMISMATCH;
  if (equals_ignoring_case(text, n, "true")) {
    *out = VARIANT_TRUE;
    return S_OK;
  }
  if (equals_ignoring_case(text, n, "false")) {
    *out = VARIANT_FALSE;
    return S_OK;
  }
  Number number;
  HRESULT hr = parse_number(text, n, &number);
  if (FAILED(hr))
    return hr;
  *out = to_double(number) != 0 ? VARIANT_TRUE : VARIANT_FALSE;
  return S_OK;
}

// Reads a plain source value as a number. DISP_E_TYPEMISMATCH for what is not one.
HRESULT number_from_variant(const VARIANT* v, Number* out) {
  switch (v->vt) {
    case VT_EMPTY:
      *out = make_signed(0);
      return S_OK;
    case VT_I1:
      *out = make_signed(v->cVal);
      return S_OK;
    case VT_I2:
      *out = make_signed(v->iVal);
      return S_OK;
    case VT_I4:
    case VT_INT:
      *out = make_signed(v->lVal);
      return S_OK;
    case VT_I8:
      *out = make_signed(v->llVal);
      return S_OK;
    case VT_UI1:
      *out = make_unsigned(v->bVal);
      return S_OK;
    case VT_UI2:
      *out = make_unsigned(v->uiVal);
      return S_OK;
    case VT_UI4:
    case VT_UINT:
      *out = make_unsigned(v->ulVal);
      return S_OK;
    case VT_UI8:
      *out = make_unsigned(v->ullVal);
      return S_OK;
    case VT_R4:
      *out = make_real(v->fltVal);
      return S_OK;
    case VT_R8:
    case VT_DATE:
      *out = make_real(v->dblVal);
      return S_OK;
    case VT_BOOL:
      *out = make_signed(v->boolVal ? -1 : 0);
      return S_OK;
    case VT_CY:
      *out = Number{Number::kCurrency, v->cyVal.int64, 0, 0};
      return S_OK;
    case VT_BSTR:
      return number_from_bstr(v->bstrVal, out);
    default:
      return DISP_E_TYPEMISMATCH;
  }
}

// Same-width integers of the other sign are reinterpreted, not range-checked, as on the
// platform (a VT_UI4 0xFFFFFFFF becomes the VT_I4 -1).
bool reinterpret_same_width(VARIANT* d, const VARIANT* s, VARTYPE vt) {
  auto width = [](VARTYPE t) -> int {
    switch (t) {
      case VT_I1:
      case VT_UI1:
        return 1;
      case VT_I2:
      case VT_UI2:
        return 2;
      case VT_I4:
      case VT_UI4:
      case VT_INT:
      case VT_UINT:
        return 4;
      case VT_I8:
      case VT_UI8:
        return 8;
      default:
        return 0;
    }
  };
  int w = width(vt);
  if (w == 0 || w != width(s->vt))
    return false;
  d->llVal = 0;
  memcpy(&d->llVal, &s->llVal, static_cast<size_t>(w));
  return true;
}

// Stores number n as vt into d.
HRESULT store_number(const Number& n, VARTYPE vt, VARIANT* d) {
  HRESULT hr = S_OK;
  int64_t i = 0;
  uint64_t u = 0;
  switch (vt) {
    case VT_I1:
      if (SUCCEEDED(hr = to_signed(n, INT8_MIN, INT8_MAX, &i)))
        d->cVal = static_cast<CHAR>(i);
      return hr;
    case VT_I2:
      if (SUCCEEDED(hr = to_signed(n, INT16_MIN, INT16_MAX, &i)))
        d->iVal = static_cast<SHORT>(i);
      return hr;
    case VT_I4:
    case VT_INT:
      if (SUCCEEDED(hr = to_signed(n, INT32_MIN, INT32_MAX, &i)))
        d->lVal = static_cast<LONG>(i);
      return hr;
    case VT_I8:
      if (SUCCEEDED(hr = to_signed(n, INT64_MIN, INT64_MAX, &i)))
        d->llVal = i;
      return hr;
    case VT_UI1:
      if (SUCCEEDED(hr = to_unsigned(n, UINT8_MAX, &u)))
        d->bVal = static_cast<BYTE>(u);
      return hr;
    case VT_UI2:
      if (SUCCEEDED(hr = to_unsigned(n, UINT16_MAX, &u)))
        d->uiVal = static_cast<USHORT>(u);
      return hr;
    case VT_UI4:
    case VT_UINT:
      if (SUCCEEDED(hr = to_unsigned(n, UINT32_MAX, &u)))
        d->ulVal = static_cast<ULONG>(u);
      return hr;
    case VT_UI8:
      if (SUCCEEDED(hr = to_unsigned(n, UINT64_MAX, &u)))
        d->ullVal = u;
      return hr;
    case VT_R4: {
      double r = to_double(n);
      if (isfinite(r) && fabs(r) > FLT_MAX)
        return DISP_E_OVERFLOW;
      d->fltVal = static_cast<float>(r);
      return S_OK;
    }
    case VT_R8:
      d->dblVal = to_double(n);
      return S_OK;
    case VT_DATE: {
      // Dates run from the year 100 to the year 9999.
      double r = to_double(n);
      if (!(r >= -657434.0 && r < 2958466.0))
        return DISP_E_OVERFLOW;
      d->date = r;
      return S_OK;
    }
    case VT_CY:
      return to_currency(n, &d->cyVal.int64);
    case VT_BOOL:
      d->boolVal = to_double(n) != 0 ? VARIANT_TRUE : VARIANT_FALSE;
      return S_OK;
    default:
      return DISP_E_TYPEMISMATCH;
  }
}

// Text of a currency amount: the shortest decimal form, up to four decimals.
size_t format_currency(int64_t scaled, char* buf, size_t room) {
  char* p = buf;
  uint64_t magnitude =
      scaled < 0 ? 0 - static_cast<uint64_t>(scaled) : static_cast<uint64_t>(scaled);
  if (scaled < 0)
    *p++ = '-';
  p = std::to_chars(p, buf + room, magnitude / kCyScale).ptr;
  unsigned frac = static_cast<unsigned>(magnitude % kCyScale);
  if (frac) {
    *p++ = '.';
    char digits[4];
    for (int k = 3; k >= 0; --k)
      digits[k] = static_cast<char>('0' + frac % 10), frac /= 10;
    int last = 3;
    while (digits[last] == '0')
      --last;
    for (int k = 0; k <= last; ++k)
      *p++ = digits[k];
  }
  return static_cast<size_t>(p - buf);
}

// "%.<digits>G" in the C locale: the shortest form with up to digits significant digits.
size_t format_real(double v, int digits, char* buf, size_t room) {
  auto [ptr, ec] = std::to_chars(buf, buf + room, v, std::chars_format::general, digits);
  if (ec != std::errc())
    return 0;
  for (char* p = buf; p < ptr; ++p) {
    if (*p == 'e')
      *p = 'E';
    if (*p == 'n' || *p == 'i' || *p == 'a' || *p == 'f')
      *p = static_cast<char>(*p - 'a' + 'A');
  }
  return static_cast<size_t>(ptr - buf);
}

HRESULT bstr_from_variant(const VARIANT* s, USHORT flags, BSTR* out) {
  char text[64];
  size_t n = 0;
  switch (s->vt) {
    case VT_EMPTY:
      break;
    case VT_BOOL:
      if (flags & (VARIANT_ALPHABOOL | VARIANT_LOCALBOOL)) {
        // The words of the user's language would be used with VARIANT_LOCALBOOL; ours are English.
        const char* word = s->boolVal ? "True" : "False";
        n = strlen(word);
        memcpy(text, word, n);
      } else {
        n = static_cast<size_t>(std::to_chars(text, text + sizeof(text), s->boolVal).ptr - text);
      }
      break;
    case VT_I1:
    case VT_I2:
    case VT_I4:
    case VT_INT:
    case VT_I8:
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
    case VT_UINT:
    case VT_UI8: {
      Number num;
      number_from_variant(s, &num);
      char* end = num.kind == Number::kSigned ? std::to_chars(text, text + sizeof(text), num.i).ptr
                                              : std::to_chars(text, text + sizeof(text), num.u).ptr;
      n = static_cast<size_t>(end - text);
      break;
    }
    case VT_R4:
      n = format_real(s->fltVal, 7, text, sizeof(text));
      break;
    case VT_R8:
      n = format_real(s->dblVal, 15, text, sizeof(text));
      break;
    case VT_CY:
      n = format_currency(s->cyVal.int64, text, sizeof(text));
      break;
    default:
      // Dates and decimals are not converted to text by this platform yet.
      return DISP_E_TYPEMISMATCH;
  }
  *out = bstr_from_acp(text, n);
  return *out ? S_OK : oom_fault();
}

HRESULT change_type(VARIANT* d, const VARIANT* s, LCID lcid, USHORT flags, VARTYPE vt, int depth);

// The value of the object's default member, converted to vt.
HRESULT from_dispatch(VARIANT* d, IDispatch* disp, LCID lcid, USHORT flags, VARTYPE vt, int depth) {
  if (!disp)
    return vt == VT_BSTR ? DISP_E_BADVARTYPE : DISP_E_TYPEMISMATCH;
  if (depth >= kMaxDispatchDepth)
    return DISP_E_TYPEMISMATCH;
  DISPPARAMS none = {/*rgvarg=*/nullptr, /*rgdispidNamedArgs=*/nullptr, /*cArgs=*/0,
                     /*cNamedArgs=*/0};
  VARIANT value;
  VariantInit(&value);
  EXCEPINFO excep{};
  HRESULT hr = disp->Invoke(DISPID_VALUE, IID_NULL, lcid, DISPATCH_PROPERTYGET, &none, &value,
                            &excep, /*puArgErr=*/nullptr);
  SysFreeString(excep.bstrSource);
  SysFreeString(excep.bstrDescription);
  SysFreeString(excep.bstrHelpFile);
  if (hr == DISP_E_EXCEPTION && excep.scode)
    hr = excep.scode;  // the default member's own status
  if (FAILED(hr)) {
    VariantClear(&value);
    // The platform reports every failure as a type mismatch; running out of memory is kept.
    return hr == E_OUTOFMEMORY ? hr : DISP_E_TYPEMISMATCH;
  }
  hr = change_type(d, &value, lcid, flags, vt, depth + 1);
  VariantClear(&value);
  return hr;
}

// Converts the by-value, non-array s to vt (vt not an array) into the empty d.
HRESULT coerce(VARIANT* d, const VARIANT* s, LCID lcid, USHORT flags, VARTYPE vt, int depth) {
  // VT_INT and VT_UINT are VT_I4 and VT_UI4 here.
  auto plain = [](VARTYPE t) -> VARTYPE {
    if (t == VT_INT)
      return VT_I4;
    if (t == VT_UINT)
      return VT_UI4;
    return t;
  };
  VARTYPE from = plain(s->vt);
  VARTYPE to = plain(vt);
  if (from == to)
    return VariantCopy(d, s);
  if ((flags & VARIANT_NOVALUEPROP) && from == VT_DISPATCH && to != VT_UNKNOWN)
    return DISP_E_TYPEMISMATCH;

  switch (to) {
    case VT_EMPTY:
    case VT_NULL:
      if (to == VT_EMPTY && from == VT_NULL)
        return DISP_E_TYPEMISMATCH;
      if (from <= VT_UINT && from != 15 && from != VT_ERROR)
        return S_OK;
      return DISP_E_TYPEMISMATCH;
    case VT_UNKNOWN:
      if (from != VT_DISPATCH)
        return DISP_E_TYPEMISMATCH;
      d->punkVal = nullptr;
      if (!s->pdispVal)
        return S_OK;
      return s->pdispVal->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&d->punkVal));
    case VT_DISPATCH:
      if (from != VT_UNKNOWN)
        return DISP_E_TYPEMISMATCH;
      d->pdispVal = nullptr;
      if (!s->punkVal)
        return S_OK;
      // An object without IDispatch cannot be one: a mismatch rather than E_NOINTERFACE.
      if (FAILED(s->punkVal->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&d->pdispVal))))
        return DISP_E_TYPEMISMATCH;
      return S_OK;
    default:
      break;
  }

  if (from == VT_DISPATCH)
    return from_dispatch(d, s->pdispVal, lcid, flags, vt, depth);
  if (from == VT_NULL || from == VT_ERROR || from == VT_UNKNOWN || from == VT_DECIMAL)
    return DISP_E_TYPEMISMATCH;  // decimals are not converted by this platform yet
  if (to == VT_BSTR) {
    // VT_DATE sources land here too and are refused in bstr_from_variant.
    return bstr_from_variant(s, flags, &d->bstrVal);
  }
  if (to == VT_BOOL && from == VT_BSTR)
    return bool_from_bstr(s->bstrVal, &d->boolVal);
  if (to == VT_DATE && from == VT_BSTR)
    return DISP_E_TYPEMISMATCH;  // no date parsing yet
  if (reinterpret_same_width(d, s, to))
    return S_OK;
  Number n;
  HRESULT hr = number_from_variant(s, &n);
  if (FAILED(hr))
    return hr;
  return store_number(n, to, d);
}

// A one-dimensional byte array copied into a BSTR of as many bytes, and back.
HRESULT coerce_array(VARIANT* d, const VARIANT* s, VARTYPE vt) {
  if (vt == VT_BSTR && s->vt == (VT_ARRAY | VT_UI1)) {
    SAFEARRAY* psa = s->parray;
    if (!psa || SafeArrayGetDim(psa) != 1 || SafeArrayGetElemsize(psa) != 1)
      return DISP_E_TYPEMISMATCH;
    void* data = nullptr;
    HRESULT hr = SafeArrayAccessData(psa, &data);
    if (FAILED(hr))
      return hr;
    d->bstrVal = SysAllocStringByteLen(static_cast<LPCSTR>(data), psa->rgsabound[0].cElements);
    SafeArrayUnaccessData(psa);
    return d->bstrVal ? S_OK : oom_fault();
  }
  if (s->vt == VT_BSTR && vt == (VT_ARRAY | VT_UI1)) {
    UINT bytes = SysStringByteLen(s->bstrVal);
    d->parray = SafeArrayCreateVector(VT_UI1, 0, bytes);
    if (!d->parray)
      return oom_fault();
    if (bytes)
      memcpy(d->parray->pvData, s->bstrVal, bytes);
    return S_OK;
  }
  if (s->vt == vt)
    return SafeArrayCopy(s->parray, &d->parray);
  return DISP_E_TYPEMISMATCH;
}

HRESULT change_type(VARIANT* pvargDest, const VARIANT* pvargSrc, LCID lcid, USHORT wFlags,
                    VARTYPE vt, int depth) {
  if (!pvargDest || !pvargSrc)
    return E_INVALIDARG;
  if ((vt & VT_TYPEMASK) == VT_CLSID)
    return DISP_E_BADVARTYPE;
  HRESULT hr = variant_validate_type(pvargSrc->vt);
  if (SUCCEEDED(hr))
    hr = variant_validate_type(vt);
  if (FAILED(hr))
    return hr;
  if (vt & VT_BYREF)
    return DISP_E_TYPEMISMATCH;
  if ((pvargSrc->vt & VT_BYREF) && !pvargSrc->byref)
    return DISP_E_TYPEMISMATCH;

  VARIANT source;
  VariantInit(&source);
  hr = VariantCopyInd(&source, pvargSrc);
  if (FAILED(hr))
    return hr;
  VARIANT result;
  VariantInit(&result);
  if ((source.vt & VT_ARRAY) || (vt & VT_ARRAY))
    hr = coerce_array(&result, &source, vt);
  else
    hr = coerce(&result, &source, lcid, wFlags, vt, depth);
  VariantClear(&source);
  if (FAILED(hr)) {
    OLEAUT_TRACE(debug_variant(pvargSrc) + " to " + debug_vt(vt) + " failed");
    return hr;
  }
  result.vt = vt;
  // The destination changes only now; converting in place frees the source here.
  hr = VariantClear(pvargDest);
  if (FAILED(hr)) {
    VariantClear(&result);
    return hr;
  }
  *pvargDest = result;
  return S_OK;
}

}  // namespace

HRESULT VariantChangeType(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc, USHORT wFlags,
                          VARTYPE vt) {
  return change_type(pvargDest, pvargSrc, LOCALE_USER_DEFAULT, wFlags, vt, 0);
}

HRESULT VariantChangeTypeEx(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc, LCID lcid,
                            USHORT wFlags, VARTYPE vt) {
  return change_type(pvargDest, pvargSrc, lcid, wFlags, vt, 0);
}
