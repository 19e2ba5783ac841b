// The path namespace between the system and the kernel: separators, rooted and drive paths,
// and the code page of narrow paths. Drive roots come from PLATFORM_DRIVE_ROOTS or
// PlatformSetDriveRoot (platform_config.h); every drive is "/" by default.
#include "pathmap.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "errhandlingapi.h"
#include "platform_config.h"
#include "winerror.h"
#include "winnls.h"

namespace {

constexpr int kDrives = 26;
// Room for a root; the translated path itself is not limited by it.
constexpr size_t kRootSize = 1024;

std::mutex roots_mutex;
std::once_flag roots_loaded;
// An empty root stands for the default "/".
char drive_roots[kDrives][kRootSize];

bool fail(DWORD error) {
  SetLastError(error);
  return false;
}

int drive_index(char letter) {
  if (letter >= 'a' && letter <= 'z')
    return letter - 'a';
  if (letter >= 'A' && letter <= 'Z')
    return letter - 'A';
  return -1;
}

// Stores a root with its trailing slashes removed ("/" becomes the empty default).
bool store_root(int drive, const char* root, size_t len) {
  if (len == 0) {
    drive_roots[drive][0] = '\0';
    return true;
  }
  if (root[0] != '/' || len >= kRootSize)
    return false;
  while (len > 0 && root[len - 1] == '/')
    --len;
  std::memcpy(drive_roots[drive], root, len);
  drive_roots[drive][len] = '\0';
  return true;
}

// "C=/srv/c;D=/mnt/data": malformed entries are ignored.
void load_roots_from_environment() {
  const char* setting = std::getenv("PLATFORM_DRIVE_ROOTS");
  if (!setting)
    return;
  while (*setting) {
    const char* end = std::strchr(setting, ';');
    size_t len = end ? static_cast<size_t>(end - setting) : std::strlen(setting);
    if (len >= 2 && setting[1] == '=' && drive_index(setting[0]) >= 0)
      store_root(drive_index(setting[0]), setting + 2, len - 2);
    setting += len;
    if (*setting == ';')
      ++setting;
  }
}

bool has_wildcard(const char* begin, const char* end) {
  for (const char* p = begin; p < end; ++p)
    if (*p == '*' || *p == '?')
      return true;
  return false;
}

}  // namespace

BOOL PlatformSetDriveRoot(CHAR Drive, LPCSTR lpRoot) {
  int drive = drive_index(Drive);
  if (drive < 0)
    return FALSE;
  std::call_once(roots_loaded, load_roots_from_environment);
  std::lock_guard<std::mutex> lock(roots_mutex);
  return store_root(drive, lpRoot ? lpRoot : "", lpRoot ? std::strlen(lpRoot) : 0) ? TRUE : FALSE;
}

bool map_path(LPCSTR path, Wildcards wildcards, std::string* os_path) {
  if (!path)
    return fail(ERROR_INVALID_PARAMETER);
  size_t len = std::strlen(path);
  if (len == 0)
    return fail(ERROR_PATH_NOT_FOUND);
  if (len >= MAX_PATH)
    return fail(ERROR_FILENAME_EXCED_RANGE);
  const char* last = path + len;
  while (last > path && last[-1] != '\\' && last[-1] != '/')
    --last;
  if (has_wildcard(path, last) ||
      (wildcards == Wildcards::kRefused && has_wildcard(last, path + len)))
    return fail(ERROR_INVALID_NAME);

  // ASCII reads the same in every code page and in UTF-8: only other paths are converted.
  // Fewer than MAX_PATH bytes give fewer than MAX_PATH UTF-16 units and at most three UTF-8
  // bytes per unit.
  char converted[3 * MAX_PATH + 1];
  const char* utf8 = path;
  if (std::any_of(path, path + len, [](char c) { return static_cast<unsigned char>(c) >= 0x80; })) {
    WCHAR wide[MAX_PATH];
    int units = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, path, -1, wide, MAX_PATH);
    if (units <= 0)
      return fail(ERROR_INVALID_NAME);
    int bytes = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide, units, converted,
                                    sizeof converted, nullptr, nullptr);
    if (bytes <= 0)
      return fail(ERROR_INVALID_NAME);
    utf8 = converted;
  }

  std::string out;
  out.reserve(len + 1);
  const char* rest = utf8;
  if (drive_index(utf8[0]) >= 0 && utf8[1] == ':') {
    std::call_once(roots_loaded, load_roots_from_environment);
    {
      std::lock_guard<std::mutex> lock(roots_mutex);
      out = drive_roots[drive_index(utf8[0])];
    }
    out += '/';
    rest = utf8 + 2;
    while (*rest == '\\' || *rest == '/')
      ++rest;
  }
  const size_t at = out.size();
  out += rest;
  std::replace(out.begin() + static_cast<std::ptrdiff_t>(at), out.end(), '\\', '/');
  *os_path = std::move(out);
  return true;
}

bool unmap_path(const std::string& os_path, std::string* path) {
  if (os_path.empty()) {
    path->clear();
    return true;
  }
  int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, os_path.data(),
                                  static_cast<int>(os_path.size()), nullptr, 0);
  if (units <= 0)
    return false;
  std::u16string wide(static_cast<size_t>(units), u'\0');
  MultiByteToWideChar(CP_UTF8, 0, os_path.data(), static_cast<int>(os_path.size()), wide.data(),
                      units);
  int bytes = WideCharToMultiByte(CP_ACP, 0, wide.data(), units, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0)
    return false;
  std::string narrow(static_cast<size_t>(bytes), '\0');
  // Characters that the code page lacks become the default character `?`.
  WideCharToMultiByte(CP_ACP, 0, wide.data(), units, narrow.data(), bytes, nullptr, nullptr);
  for (char& c : narrow)
    if (c == '/')
      c = '\\';
  *path = std::move(narrow);
  return true;
}
