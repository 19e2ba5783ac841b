// An open registry key that closes itself, with the few reads and writes that activation and
// type-library registration make. Nothing here is exported.
#pragma once

#include <string>

#include "winreg.h"

class __attribute__((visibility("hidden"))) RegKeyHolder {
 public:
  RegKeyHolder() = default;
  ~RegKeyHolder() {
    if (key_)
      RegCloseKey(key_);
  }
  RegKeyHolder(const RegKeyHolder&) = delete;
  RegKeyHolder& operator=(const RegKeyHolder&) = delete;

  HKEY Get() const { return key_; }
  bool Open(HKEY parent, const std::u16string& path) {
    return RegOpenKeyExW(parent, path.c_str(), 0, KEY_READ, &key_) == ERROR_SUCCESS;
  }
  bool Create(HKEY parent, const std::u16string& path) {
    return RegCreateKeyExW(parent, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_,
                           nullptr) == ERROR_SUCCESS;
  }
  // Reads a string value (null name: the default value); false when absent or not a string.
  bool ReadString(LPCWSTR name, std::u16string* value) const {
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(key_, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
      return false;
    std::u16string text(size / sizeof(char16_t) + 1, u'\0');
    if (RegQueryValueExW(key_, name, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &size) !=
        ERROR_SUCCESS)
      return false;
    text.resize(size / sizeof(char16_t));
    while (!text.empty() && text.back() == u'\0')
      text.pop_back();
    *value = std::move(text);
    return true;
  }
  bool WriteString(LPCWSTR name, const std::u16string& value) {
    return RegSetValueExW(key_, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(char16_t))) ==
           ERROR_SUCCESS;
  }

 private:
  HKEY key_ = nullptr;
};
