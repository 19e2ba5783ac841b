// PlatformMapPath: the path namespace's translation, handed to components outside the platform.
#include "platform_path.h"

#include <cstring>

#include "errhandlingapi.h"
#include "pathmap.h"
#include "winerror.h"

DWORD PlatformMapPath(LPCSTR lpPath, LPSTR lpBuffer, DWORD nSize) {
  if (!lpBuffer && nSize) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::string os_path;
  if (!map_path(lpPath, Wildcards::kRefused, &os_path))
    return 0;
  if (os_path.size() + 1 > nSize)
    return static_cast<DWORD>(os_path.size() + 1);
  std::memcpy(lpBuffer, os_path.c_str(), os_path.size() + 1);
  return static_cast<DWORD>(os_path.size());
}
