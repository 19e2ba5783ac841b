// Helpers shared by the registry tests: a private registry file per test, raw access to that
// file, and a listing of a registry subtree for whole-tree comparisons.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform_config.h"
#include "winnls.h"
#include "winreg.h"

// Points the registry at a file in a fresh temporary folder for the life of the object.
class TempRegistry {
 public:
  TempRegistry() {
    std::string pattern = (std::filesystem::temp_directory_path() / "registry.XXXXXX").string();
    EXPECT_NE(nullptr, mkdtemp(pattern.data()));
    folder_ = pattern;
    path_ = folder_ + "/registry.reg";
    EXPECT_TRUE(PlatformSetRegistryPath(path_.c_str()));
    // ReplaceFile stands for another process: its changes are to be seen at the next call.
    PlatformSetRegistryRecheck(0);
  }
  ~TempRegistry() {
    PlatformSetRegistryRecheck(250);
    PlatformSetRegistryPath(nullptr);
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
  TempRegistry(const TempRegistry&) = delete;
  TempRegistry& operator=(const TempRegistry&) = delete;

  const std::string& path() const { return path_; }
  const std::string& folder() const { return folder_; }

  // Makes the registry read the file again, as a new process would.
  void Reload() const { EXPECT_TRUE(PlatformSetRegistryPath(path_.c_str())); }

  std::string ReadFile() const {
    std::ifstream in(path_, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  // Replaces the file as another writer would (a new file renamed over the old one).
  void ReplaceFile(const std::string& bytes) const {
    std::string temp = path_ + ".test";
    {
      std::ofstream out(temp, std::ios::binary);
      out << bytes;
    }
    std::filesystem::rename(temp, path_);
  }

 private:
  std::string folder_;
  std::string path_;
};

// UTF-16LE bytes of text, with a byte order mark in front when bom is set.
inline std::string Utf16le(std::u16string_view text, bool bom = true) {
  std::string out = bom ? std::string("\xFF\xFE") : std::string();
  for (char16_t c : text) {
    out.push_back(static_cast<char>(c & 0xFF));
    out.push_back(static_cast<char>(c >> 8));
  }
  return out;
}

inline std::string Utf8(std::u16string_view text) {
  if (text.empty())
    return {};
  int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                              nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                      nullptr, nullptr);
  return out;
}

// One line per key ("name") and per value ("name\@ = type: data") of the subtree below key, in
// enumeration order; string data printed as text, other data as hex.
inline void ListRegistry(HKEY key, const std::string& prefix, std::string& out) {
  for (DWORD i = 0;; ++i) {
    char16_t name[16384];
    DWORD name_size = 16384;
    DWORD type = 0;
    BYTE data[4096];
    DWORD size = sizeof data;
    LONG status = RegEnumValueW(key, i, name, &name_size, nullptr, &type, data, &size);
    if (status == ERROR_NO_MORE_ITEMS)
      break;
    EXPECT_EQ(ERROR_SUCCESS, status);
    if (status != ERROR_SUCCESS)
      return;
    out += prefix + "\\" + (name_size ? Utf8(name) : "@") + " = " + std::to_string(type) + ": ";
    if (type == REG_SZ && size >= 2) {
      out +=
          "\"" + Utf8(std::u16string_view(reinterpret_cast<char16_t*>(data), size / 2 - 1)) + "\"";
    } else {
      static const char hex[] = "0123456789abcdef";
      for (DWORD b = 0; b < size; ++b)
        out += std::string{hex[data[b] >> 4], hex[data[b] & 15]};
    }
    out += "\n";
  }
  for (DWORD i = 0;; ++i) {
    char16_t name[256];
    DWORD name_size = 256;
    LONG status = RegEnumKeyExW(key, i, name, &name_size, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_NO_MORE_ITEMS)
      break;
    EXPECT_EQ(ERROR_SUCCESS, status);
    if (status != ERROR_SUCCESS)
      return;
    std::string path = prefix + "\\" + Utf8(name);
    out += path + "\n";
    HKEY child = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(key, name, 0, KEY_READ, &child));
    ListRegistry(child, path, out);
    RegCloseKey(child);
  }
}

inline std::string ListRegistry(HKEY root, const std::string& name) {
  std::string out;
  ListRegistry(root, name, out);
  return out;
}
