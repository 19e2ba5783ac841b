// UTF-16 and UTF-8 text through the platform's code-page conversions.
#include "utf8_text.h"

#include <climits>

#include "winnls.h"

HRESULT ToUtf8(std::u16string_view text, TaskMemory* out, size_t* bytes) {
  if (text.find(u'\0') != std::u16string_view::npos || text.size() > INT_MAX / 3)
    return E_INVALIDARG;
  const int length = static_cast<int>(text.size());
  const int needed = length ? WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text.data(),
                                                  length, nullptr, 0, nullptr, nullptr)
                            : 0;
  if (length && needed <= 0)
    return E_INVALIDARG;
  if (!out->Reserve(static_cast<size_t>(needed) + 1))
    return E_OUTOFMEMORY;
  char* to = out->Get<char>();
  if (length)
    WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text.data(), length, to, needed, nullptr,
                        nullptr);
  to[needed] = '\0';
  if (bytes)
    *bytes = static_cast<size_t>(needed);
  return S_OK;
}

bool FromUtf8(const char* text, size_t length, TaskMemory* out, size_t* units) {
  *units = 0;
  if (length > INT_MAX)
    return false;
  const int bytes = static_cast<int>(length);
  const int needed = bytes ? MultiByteToWideChar(CP_UTF8, 0, text, bytes, nullptr, 0) : 0;
  if (bytes && needed <= 0)
    return false;
  if (!out->Reserve((static_cast<size_t>(needed) + 1) * sizeof(char16_t)))
    return false;
  char16_t* to = out->Get<char16_t>();
  if (bytes)
    MultiByteToWideChar(CP_UTF8, 0, text, bytes, to, needed);
  to[needed] = u'\0';
  *units = static_cast<size_t>(needed);
  return true;
}
