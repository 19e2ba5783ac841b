// Code-page conversion (MultiByteToWideChar, WideCharToMultiByte, GetACP). UTF-8 is converted
// here; every other code page goes through the operating system's converter (posix/codepage.inc).
#include "winnls.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "errhandlingapi.h"
#include "platform_config.h"

namespace {

constexpr UINT kDefaultAcp = 949;
constexpr char16_t kReplacement = 0xFFFD;

// Implemented by the operating-system unit at the end of this file.
bool os_code_page_supported(UINT code_page);
// Converts n bytes into out (room for at least n units). Returns the unit count, or -1 when
// strict is set and an invalid sequence was met. Invalid sequences become U+FFFD otherwise.
int os_to_utf16(UINT code_page, const char* in, int n, char16_t* out, bool strict);
// Converts n units into out (room for at least 4 * n bytes). Unmappable characters become
// default_char; *used_default is set when that happened.
int os_from_utf16(UINT code_page, const char16_t* in, int n, char* out, const char* default_char,
                  bool* used_default);

std::atomic<UINT> acp{0};

UINT acp_from_environment() {
  const char* value = std::getenv("PLATFORM_ACP");
  if (value && *value) {
    char* end = nullptr;
    unsigned long cp = std::strtoul(value, &end, 10);
    if (*end == '\0' && cp > 0 && cp < 65536 &&
        (cp == CP_UTF8 || os_code_page_supported(static_cast<UINT>(cp))))
      return static_cast<UINT>(cp);
  }
  return kDefaultAcp;
}

UINT current_acp() {
  UINT cp = acp.load(std::memory_order_relaxed);
  if (cp == 0) {
    UINT expected = 0;
    acp.compare_exchange_strong(expected, acp_from_environment());
    cp = acp.load();
  }
  return cp;
}

UINT resolve(UINT code_page) {
  if (code_page == CP_ACP || code_page == CP_OEMCP || code_page == CP_THREAD_ACP)
    return current_acp();
  return code_page;
}

int fail(DWORD error) {
  SetLastError(error);
  return 0;
}

int utf8_to_utf16(const unsigned char* in, int n, char16_t* out, bool strict) {
  int o = 0;
  int i = 0;
  while (i < n) {
    unsigned c = in[i];
    if (c < 0x80) {
      out[o++] = static_cast<char16_t>(c);
      ++i;
      continue;
    }
    int extra = 0;
    unsigned cp = 0;
    unsigned min = 0;
    if (c >= 0xC2 && c <= 0xDF) {
      extra = 1, cp = c & 0x1F, min = 0x80;
    } else if (c >= 0xE0 && c <= 0xEF) {
      extra = 2, cp = c & 0x0F, min = 0x800;
    } else if (c >= 0xF0 && c <= 0xF4) {
      extra = 3, cp = c & 0x07, min = 0x10000;
    }
    bool ok = extra > 0;
    if (ok) {
      for (int k = 1; k <= extra; ++k) {
        if (i + k >= n || (in[i + k] & 0xC0) != 0x80) {
          ok = false;
          break;
        }
        cp = (cp << 6) | (in[i + k] & 0x3F);
      }
    }
    if (ok && (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)))
      ok = false;
    if (!ok) {
      if (strict)
        return -1;
      out[o++] = kReplacement;
      ++i;
      continue;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out[o++] = static_cast<char16_t>(0xD800 + (cp >> 10));
      out[o++] = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out[o++] = static_cast<char16_t>(cp);
    }
    i += extra + 1;
  }
  return o;
}

int utf16_to_utf8(const char16_t* in, int n, unsigned char* out, bool strict) {
  int o = 0;
  for (int i = 0; i < n; ++i) {
    unsigned cp = in[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < n && in[i + 1] >= 0xDC00 && in[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (in[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      if (strict)
        return -1;
      cp = kReplacement;
    }
    if (cp < 0x80) {
      out[o++] = static_cast<unsigned char>(cp);
    } else if (cp < 0x800) {
      out[o++] = static_cast<unsigned char>(0xC0 | (cp >> 6));
      out[o++] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out[o++] = static_cast<unsigned char>(0xE0 | (cp >> 12));
      out[o++] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
      out[o++] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
    } else {
      out[o++] = static_cast<unsigned char>(0xF0 | (cp >> 18));
      out[o++] = static_cast<unsigned char>(0x80 | ((cp >> 12) & 0x3F));
      out[o++] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
      out[o++] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
    }
  }
  return o;
}

// Scratch space for one conversion: on the stack for short texts, on the heap otherwise.
template <typename T>
class Scratch {
 public:
  explicit Scratch(size_t count)
      : data_(count <= kInline ? inline_ : static_cast<T*>(std::malloc(count * sizeof(T)))) {}
  ~Scratch() {
    if (data_ != inline_)
      std::free(data_);
  }
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;
  T* get() const { return data_; }

 private:
  static constexpr size_t kInline = 512;
  T inline_[kInline];
  T* data_;
};

// Code pages in which every byte below 0x80 is the ASCII character itself, never part of a
// double-byte character when no byte above it is there: text of ASCII alone converts unit for
// byte, and pages' names, headers and paths mostly are ASCII alone.
bool ascii_is_itself(UINT cp) {
  switch (cp) {
    case CP_UTF8:
    case 874:
    case 936:
    case 949:
    case 950:
    case 20127:
      return true;
    default:
      return (cp >= 1250 && cp <= 1258) || (cp >= 28591 && cp <= 28605);
  }
}

template <class Unit>
bool all_ascii(const Unit* text, size_t n) {
  unsigned bits = 0;
  for (size_t i = 0; i < n; ++i)
    bits |= static_cast<unsigned>(text[i]);
  return bits < 0x80;
}

// Converts n ASCII units unit for byte into out (room units; 0 asks for the count only), as
// both conversions answer: the count, or 0 with ERROR_INSUFFICIENT_BUFFER.
template <class From, class To>
int copy_ascii(const From* text, size_t n, To* out, int room) {
  if (room == 0)
    return static_cast<int>(n);
  if (n > static_cast<size_t>(room))
    return fail(ERROR_INSUFFICIENT_BUFFER);
  for (size_t i = 0; i < n; ++i)
    out[i] = static_cast<To>(text[i]);
  return static_cast<int>(n);
}

}  // namespace

UINT GetACP(void) {
  return current_acp();
}

BOOL IsValidCodePage(UINT CodePage) {
  if (CodePage == CP_UTF8)
    return TRUE;
  if (CodePage == CP_ACP || CodePage == CP_OEMCP || CodePage == CP_THREAD_ACP)
    return FALSE;
  return os_code_page_supported(CodePage) ? TRUE : FALSE;
}

BOOL PlatformSetACP(UINT CodePage) {
  if (!IsValidCodePage(CodePage))
    return FALSE;
  acp.store(CodePage);
  return TRUE;
}

int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                        LPWSTR lpWideCharStr, int cchWideChar) {
  if (!lpMultiByteStr || cbMultiByte == 0 || cbMultiByte < -1 || cchWideChar < 0 ||
      (cchWideChar > 0 && !lpWideCharStr) ||
      (lpWideCharStr &&
       static_cast<const void*>(lpWideCharStr) == static_cast<const void*>(lpMultiByteStr)))
    return fail(ERROR_INVALID_PARAMETER);
  if (dwFlags & ~static_cast<DWORD>(MB_PRECOMPOSED | MB_ERR_INVALID_CHARS))
    return fail(ERROR_INVALID_FLAGS);
  UINT cp = resolve(CodePage);
  if (cp != CP_UTF8 && !os_code_page_supported(cp))
    return fail(ERROR_INVALID_PARAMETER);

  size_t n = cbMultiByte == -1 ? std::strlen(lpMultiByteStr) + 1 : static_cast<size_t>(cbMultiByte);
  if (n > 0x7FFFFFFE)
    return fail(ERROR_INVALID_PARAMETER);
  const auto* bytes = reinterpret_cast<const unsigned char*>(lpMultiByteStr);
  if (ascii_is_itself(cp) && all_ascii(bytes, n))
    return copy_ascii(bytes, n, lpWideCharStr, cchWideChar);
  bool strict = (dwFlags & MB_ERR_INVALID_CHARS) != 0;
  Scratch<char16_t> units(n + 1);
  if (!units.get())
    return fail(ERROR_NOT_ENOUGH_MEMORY);
  int count = cp == CP_UTF8
                  ? utf8_to_utf16(reinterpret_cast<const unsigned char*>(lpMultiByteStr),
                                  static_cast<int>(n), units.get(), strict)
                  : os_to_utf16(cp, lpMultiByteStr, static_cast<int>(n), units.get(), strict);
  if (count < 0)
    return fail(ERROR_NO_UNICODE_TRANSLATION);
  if (cchWideChar == 0)
    return count;
  if (count > cchWideChar)
    return fail(ERROR_INSUFFICIENT_BUFFER);
  std::memcpy(lpWideCharStr, units.get(), static_cast<size_t>(count) * sizeof(char16_t));
  return count;
}

int WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar,
                        LPSTR lpMultiByteStr, int cbMultiByte, LPCSTR lpDefaultChar,
                        LPBOOL lpUsedDefaultChar) {
  if (!lpWideCharStr || cchWideChar == 0 || cchWideChar < -1 || cbMultiByte < 0 ||
      (cbMultiByte > 0 && !lpMultiByteStr) ||
      (lpMultiByteStr &&
       static_cast<const void*>(lpWideCharStr) == static_cast<const void*>(lpMultiByteStr)))
    return fail(ERROR_INVALID_PARAMETER);
  UINT cp = resolve(CodePage);
  // As on the platform: UTF-8 takes no default character.
  if (cp == CP_UTF8 && (lpDefaultChar || lpUsedDefaultChar))
    return fail(ERROR_INVALID_PARAMETER);
  if (cp != CP_UTF8 && !os_code_page_supported(cp))
    return fail(ERROR_INVALID_PARAMETER);
  if (lpUsedDefaultChar)
    *lpUsedDefaultChar = FALSE;

  size_t n = 0;
  if (cchWideChar == -1) {
    while (lpWideCharStr[n])
      ++n;
    ++n;
  } else {
    n = static_cast<size_t>(cchWideChar);
  }
  if (n > 0x1FFFFFFE)
    return fail(ERROR_INVALID_PARAMETER);
  if (ascii_is_itself(cp) && all_ascii(lpWideCharStr, n))
    return copy_ascii(lpWideCharStr, n, lpMultiByteStr, cbMultiByte);
  Scratch<char> bytes(4 * n + 4);
  if (!bytes.get())
    return fail(ERROR_NOT_ENOUGH_MEMORY);
  int count = 0;
  if (cp == CP_UTF8) {
    count = utf16_to_utf8(lpWideCharStr, static_cast<int>(n),
                          reinterpret_cast<unsigned char*>(bytes.get()),
                          (dwFlags & WC_ERR_INVALID_CHARS) != 0);
    if (count < 0)
      return fail(ERROR_NO_UNICODE_TRANSLATION);
  } else {
    bool used = false;
    count = os_from_utf16(cp, lpWideCharStr, static_cast<int>(n), bytes.get(),
                          lpDefaultChar ? lpDefaultChar : "?", &used);
    if (lpUsedDefaultChar && used)
      *lpUsedDefaultChar = TRUE;
  }
  if (cbMultiByte == 0)
    return count;
  if (count > cbMultiByte)
    return fail(ERROR_INSUFFICIENT_BUFFER);
  std::memcpy(lpMultiByteStr, bytes.get(), static_cast<size_t>(count));
  return count;
}

#include "posix/codepage.inc"
