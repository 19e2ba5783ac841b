// Module loading and module resources: LoadLibrary, FreeLibrary, GetProcAddress,
// GetModuleHandle(Ex), GetModuleFileName, FindResource(Ex), LoadResource, LockResource,
// SizeofResource. The dynamic loader itself is reached in posix/module.inc.
#include "libloaderapi.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <string>

#include "errhandlingapi.h"
#include "module_resources.h"
#include "pathmap.h"
#include "winerror.h"
#include "winnls.h"

namespace {

typedef BOOL (*DllMainProc)(HINSTANCE, DWORD, LPVOID);

// Implemented at the end of this file by the operating-system unit.
HMODULE os_load(const std::string& os_path);
bool os_unload(HMODULE module);
void* os_symbol(HMODULE module, const char* name);
HMODULE os_program();
HMODULE os_find_loaded(const std::string& os_path);
HMODULE os_module_of(const void* address);
bool os_module_path(HMODULE module, std::string* os_path);
bool os_symbol_in_module(HMODULE module, const void* symbol);
void os_add_use(HMODULE module);

// Uses of each module through LoadLibrary, so that DllMain sees one attach and one detach.
std::mutex& loads_mutex() {
  static std::mutex m;
  return m;
}
std::map<HMODULE, int>& load_counts() {
  static std::map<HMODULE, int>* counts = new std::map<HMODULE, int>();
  return *counts;
}

DllMainProc dll_main(HMODULE module) {
  void* proc = os_symbol(module, "DllMain");
  if (!proc || !os_symbol_in_module(module, proc))
    return nullptr;
  return reinterpret_cast<DllMainProc>(proc);
}

// The low bit of a handle marks a module mapped for its resources only.
constexpr ULONG_PTR kDataFileTag = 1;

bool is_data_file(HMODULE module) {
  return reinterpret_cast<ULONG_PTR>(module) & kDataFileTag;
}

HMODULE loader_handle(HMODULE module) {
  return reinterpret_cast<HMODULE>(reinterpret_cast<ULONG_PTR>(module) & ~kDataFileTag);
}

template <typename T>
T fail(DWORD error, T result) {
  SetLastError(error);
  return result;
}

// Matches a resource type or name given as text or as MAKEINTRESOURCE number.
bool matches(LPCSTR wanted, LPCSTR text, WORD id) {
  if (IS_INTRESOURCE(wanted))
    return !text && id == static_cast<WORD>(reinterpret_cast<ULONG_PTR>(wanted));
  if (!text) {
    // "#101" names resource 101, as on the platform.
    if (wanted[0] != '#')
      return false;
    char* end = nullptr;
    const unsigned long n = std::strtoul(wanted + 1, &end, 10);
    return *end == '\0' && n == id;
  }
  for (; *wanted && *text; ++wanted, ++text)
    if (std::toupper(static_cast<unsigned char>(*wanted)) !=
        std::toupper(static_cast<unsigned char>(*text)))
      return false;
  return *wanted == *text;
}

const PLATFORM_RESOURCE* resource_table(HMODULE module) {
  void* table = os_symbol(module, PLATFORM_RESOURCE_TABLE_SYMBOL);
  // A dependency's table does not belong to this module.
  if (!table || !os_symbol_in_module(module, table))
    return nullptr;
  return static_cast<const PLATFORM_RESOURCE*>(table);
}

// Narrow (ANSI code page) copy of a wide resource type or name; numbers pass through.
class NarrowName {
 public:
  explicit NarrowName(LPCWSTR name) {
    if (!name || IS_INTRESOURCE(name)) {
      number_ = reinterpret_cast<LPCSTR>(name);
      return;
    }
    int n = WideCharToMultiByte(CP_ACP, 0, name, -1, nullptr, 0, nullptr, nullptr);
    if (n > 0) {
      text_.resize(static_cast<size_t>(n));
      WideCharToMultiByte(CP_ACP, 0, name, -1, text_.data(), n, nullptr, nullptr);
    }
  }
  LPCSTR get() const { return number_ ? number_ : text_.c_str(); }

 private:
  LPCSTR number_ = nullptr;
  std::string text_;
};

}  // namespace

HMODULE LoadLibraryA(LPCSTR lpLibFileName) {
  return LoadLibraryExA(lpLibFileName, nullptr, 0);
}

HMODULE LoadLibraryExA(LPCSTR lpLibFileName, HANDLE hFile, DWORD dwFlags) {
  if (!lpLibFileName || hFile)
    return fail<HMODULE>(ERROR_INVALID_PARAMETER, nullptr);
  const bool data_only = (dwFlags & (LOAD_LIBRARY_AS_DATAFILE | DONT_RESOLVE_DLL_REFERENCES)) != 0;
  try {
    std::string os_path;
    if (!map_path(lpLibFileName, Wildcards::kRefused, &os_path))
      return nullptr;
    HMODULE module = os_load(os_path);
    if (!module)
      return fail<HMODULE>(ERROR_MOD_NOT_FOUND, nullptr);
    // A mapping for resources only is marked in its handle, as on the platform, so that its
    // FreeLibrary never counts against the module's own uses.
    if (data_only)
      return reinterpret_cast<HMODULE>(reinterpret_cast<ULONG_PTR>(module) | kDataFileTag);
    std::lock_guard<std::mutex> lock(loads_mutex());
    int& count = load_counts()[module];
    if (count++ == 0) {
      DllMainProc main = dll_main(module);
      if (main && !main(module, DLL_PROCESS_ATTACH, nullptr)) {
        load_counts().erase(module);
        os_unload(module);
        return fail<HMODULE>(ERROR_DLL_INIT_FAILED, nullptr);
      }
    }
    return module;
  } catch (const std::bad_alloc&) {
    return fail<HMODULE>(ERROR_NOT_ENOUGH_MEMORY, nullptr);
  }
}

BOOL FreeLibrary(HMODULE hLibModule) {
  if (!hLibModule)
    return fail<BOOL>(ERROR_INVALID_HANDLE, FALSE);
  if (is_data_file(hLibModule))
    return os_unload(loader_handle(hLibModule)) ? TRUE : fail<BOOL>(ERROR_INVALID_HANDLE, FALSE);
  {
    std::lock_guard<std::mutex> lock(loads_mutex());
    auto it = load_counts().find(hLibModule);
    if (it != load_counts().end() && --it->second == 0) {
      load_counts().erase(it);
      if (DllMainProc main = dll_main(hLibModule))
        main(hLibModule, DLL_PROCESS_DETACH, nullptr);
    }
  }
  return os_unload(hLibModule) ? TRUE : fail<BOOL>(ERROR_INVALID_HANDLE, FALSE);
}

FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
  if (!hModule || !lpProcName)
    return fail<FARPROC>(ERROR_INVALID_PARAMETER, nullptr);
  void* symbol = os_symbol(loader_handle(hModule), lpProcName);
  if (!symbol)
    return fail<FARPROC>(ERROR_PROC_NOT_FOUND, nullptr);
  return reinterpret_cast<FARPROC>(symbol);
}

HMODULE GetModuleHandleA(LPCSTR lpModuleName) {
  if (!lpModuleName)
    return os_program();
  try {
    std::string os_path;
    if (!map_path(lpModuleName, Wildcards::kRefused, &os_path))
      return nullptr;
    HMODULE module = os_find_loaded(os_path);
    return module ? module : fail<HMODULE>(ERROR_MOD_NOT_FOUND, nullptr);
  } catch (const std::bad_alloc&) {
    return fail<HMODULE>(ERROR_NOT_ENOUGH_MEMORY, nullptr);
  }
}

BOOL GetModuleHandleExA(DWORD dwFlags, LPCSTR lpModuleName, HMODULE* phModule) {
  if (!phModule)
    return fail<BOOL>(ERROR_INVALID_PARAMETER, FALSE);
  *phModule = nullptr;
  HMODULE module = (dwFlags & GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS)
                       ? os_module_of(lpModuleName)
                       : GetModuleHandleA(lpModuleName);
  if (!module)
    return fail<BOOL>(ERROR_MOD_NOT_FOUND, FALSE);
  if (!(dwFlags & GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT))
    os_add_use(module);
  *phModule = module;
  return TRUE;
}

DWORD GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize) {
  if (!lpFilename || nSize == 0)
    return fail<DWORD>(ERROR_INSUFFICIENT_BUFFER, 0);
  try {
    std::string os_path;
    std::string path;
    if (!os_module_path(hModule ? loader_handle(hModule) : os_program(), &os_path) ||
        !unmap_path(os_path, &path))
      return fail<DWORD>(ERROR_MOD_NOT_FOUND, 0);
    if (path.size() >= nSize) {
      std::memcpy(lpFilename, path.data(), nSize - 1);
      lpFilename[nSize - 1] = '\0';
      return fail<DWORD>(ERROR_INSUFFICIENT_BUFFER, nSize);
    }
    std::memcpy(lpFilename, path.c_str(), path.size() + 1);
    return static_cast<DWORD>(path.size());
  } catch (const std::bad_alloc&) {
    return fail<DWORD>(ERROR_NOT_ENOUGH_MEMORY, 0);
  }
}

DWORD GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize) {
  if (!lpFilename || nSize == 0)
    return fail<DWORD>(ERROR_INSUFFICIENT_BUFFER, 0);
  char narrow[4 * MAX_PATH];
  const DWORD n = GetModuleFileNameA(hModule, narrow, sizeof narrow);
  if (n == 0 || n == sizeof narrow)
    return fail<DWORD>(ERROR_MOD_NOT_FOUND, 0);
  const int need = MultiByteToWideChar(CP_ACP, 0, narrow, static_cast<int>(n) + 1, nullptr, 0);
  if (need <= 0)
    return 0;
  if (static_cast<DWORD>(need) > nSize) {
    char16_t wide[4 * MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, narrow, static_cast<int>(n) + 1, wide, 4 * MAX_PATH);
    std::memcpy(lpFilename, wide, (nSize - 1) * sizeof(char16_t));
    lpFilename[nSize - 1] = u'\0';
    return fail<DWORD>(ERROR_INSUFFICIENT_BUFFER, nSize);
  }
  MultiByteToWideChar(CP_ACP, 0, narrow, static_cast<int>(n) + 1, lpFilename,
                      static_cast<int>(nSize));
  return static_cast<DWORD>(need - 1);
}

BOOL DisableThreadLibraryCalls(HMODULE hLibModule) {
  return hLibModule ? TRUE : fail<BOOL>(ERROR_INVALID_HANDLE, FALSE);
}

HRSRC FindResourceExA(HMODULE hModule, LPCSTR lpType, LPCSTR lpName, WORD wLanguage) {
  if (!lpType || !lpName)
    return fail<HRSRC>(ERROR_INVALID_PARAMETER, nullptr);
  const PLATFORM_RESOURCE* table = resource_table(hModule ? loader_handle(hModule) : os_program());
  if (!table)
    return fail<HRSRC>(ERROR_RESOURCE_DATA_NOT_FOUND, nullptr);
  bool type_seen = false;
  bool name_seen = false;
  const PLATFORM_RESOURCE* any_language = nullptr;
  for (const PLATFORM_RESOURCE* r = table; r->data; ++r) {
    if (!matches(lpType, r->type_name, r->type_id))
      continue;
    type_seen = true;
    if (!matches(lpName, r->name, r->name_id))
      continue;
    name_seen = true;
    if (r->language == wLanguage)
      return const_cast<HRSRC>(r);
    if (!any_language)
      any_language = r;
  }
  if (wLanguage == LANG_NEUTRAL && any_language)
    return const_cast<HRSRC>(any_language);
  if (!type_seen)
    return fail<HRSRC>(ERROR_RESOURCE_TYPE_NOT_FOUND, nullptr);
  if (!name_seen)
    return fail<HRSRC>(ERROR_RESOURCE_NAME_NOT_FOUND, nullptr);
  return fail<HRSRC>(ERROR_RESOURCE_LANG_NOT_FOUND, nullptr);
}

HRSRC FindResourceA(HMODULE hModule, LPCSTR lpName, LPCSTR lpType) {
  return FindResourceExA(hModule, lpType, lpName, LANG_NEUTRAL);
}

HRSRC FindResourceW(HMODULE hModule, LPCWSTR lpName, LPCWSTR lpType) {
  try {
    NarrowName name(lpName);
    NarrowName type(lpType);
    return FindResourceExA(hModule, type.get(), name.get(), LANG_NEUTRAL);
  } catch (const std::bad_alloc&) {
    return fail<HRSRC>(ERROR_NOT_ENOUGH_MEMORY, nullptr);
  }
}

HGLOBAL LoadResource(HMODULE, HRSRC hResInfo) {
  if (!hResInfo)
    return fail<HGLOBAL>(ERROR_INVALID_HANDLE, nullptr);
  return const_cast<BYTE*>(hResInfo->data);
}

LPVOID LockResource(HGLOBAL hResData) {
  return hResData;
}

DWORD SizeofResource(HMODULE, HRSRC hResInfo) {
  return hResInfo ? hResInfo->size : fail<DWORD>(ERROR_INVALID_HANDLE, 0);
}

#include "posix/module.inc"
