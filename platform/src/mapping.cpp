// Named shared memory (memoryapi.h): CreateFileMappingA, OpenFileMappingA, MapViewOfFile,
// UnmapViewOfFile. Names are checked and views are tracked here; the shared-memory objects of
// the kernel are in posix/mapping.inc.
#include "memoryapi.h"

#include <cstring>
#include <mutex>
#include <new>
#include <string>

#include "errhandlingapi.h"
#include "handle.h"
#include "winerror.h"

namespace {

// A mapping object of the kernel, and what its holders need: the size of the block and
// whether it may be written.
class OsMapping;
// Opens or creates the block; *created tells which. Returns 0 or an error code.
DWORD os_create_mapping(const std::string& name, size_t size, bool writable, OsMapping** mapping,
                        bool* created);
DWORD os_open_mapping(const std::string& name, bool writable, OsMapping** mapping);
// Maps the whole block; the view keeps the block alive until os_unmap.
DWORD os_map(OsMapping* mapping, bool writable, void** address, size_t* size);
bool os_unmap(void* address);
void os_close_mapping(OsMapping* mapping);

class MappingObject final : public KernelObject {
 public:
  explicit MappingObject(OsMapping* mapping) : mapping_(mapping) {}
  ~MappingObject() override { os_close_mapping(mapping_); }
  OsMapping* mapping() const { return mapping_; }

 private:
  OsMapping* mapping_;
};

// The kernel's name of a block: one leading '/', no other.
bool os_name(LPCSTR name, std::string* out) {
  size_t len = name ? std::strlen(name) : 0;
  if (len == 0 || len >= MAX_PATH || std::strchr(name, '/'))
    return false;
  out->assign(len + 1, '/');
  for (size_t i = 0; i < len; ++i)
    (*out)[i + 1] = name[i] == '\\' ? '_' : name[i];
  return true;
}

HANDLE fail_handle(DWORD error) {
  SetLastError(error);
  return nullptr;
}

HANDLE wrap(OsMapping* mapping) {
  MappingObject* object = new (std::nothrow) MappingObject(mapping);
  if (!object) {
    os_close_mapping(mapping);
    return fail_handle(ERROR_NOT_ENOUGH_MEMORY);
  }
  return object;
}

}  // namespace

HANDLE CreateFileMappingA(HANDLE hFile, LPSECURITY_ATTRIBUTES, DWORD flProtect,
                          DWORD dwMaximumSizeHigh, DWORD dwMaximumSizeLow, LPCSTR lpName) {
  std::string name;
  if (hFile != INVALID_HANDLE_VALUE ||
      (flProtect != PAGE_READWRITE && flProtect != PAGE_READONLY) || dwMaximumSizeHigh != 0 ||
      dwMaximumSizeLow == 0 || !os_name(lpName, &name))
    return fail_handle(ERROR_INVALID_PARAMETER);
  OsMapping* mapping = nullptr;
  bool created = false;
  DWORD error =
      os_create_mapping(name, dwMaximumSizeLow, flProtect == PAGE_READWRITE, &mapping, &created);
  if (error)
    return fail_handle(error);
  HANDLE handle = wrap(mapping);
  if (handle)
    SetLastError(created ? ERROR_SUCCESS : ERROR_ALREADY_EXISTS);
  return handle;
}

HANDLE OpenFileMappingA(DWORD dwDesiredAccess, BOOL, LPCSTR lpName) {
  std::string name;
  if (!os_name(lpName, &name))
    return fail_handle(ERROR_INVALID_PARAMETER);
  OsMapping* mapping = nullptr;
  DWORD error = os_open_mapping(name, (dwDesiredAccess & FILE_MAP_WRITE) != 0, &mapping);
  if (error)
    return fail_handle(error);
  return wrap(mapping);
}

LPVOID MapViewOfFile(HANDLE hFileMappingObject, DWORD dwDesiredAccess, DWORD dwFileOffsetHigh,
                     DWORD dwFileOffsetLow, SIZE_T dwNumberOfBytesToMap) {
  MappingObject* object =
      hFileMappingObject && hFileMappingObject != INVALID_HANDLE_VALUE
          ? dynamic_cast<MappingObject*>(static_cast<KernelObject*>(hFileMappingObject))
          : nullptr;
  if (!object)
    return fail_handle(ERROR_INVALID_HANDLE);
  if (dwFileOffsetHigh || dwFileOffsetLow)
    return fail_handle(ERROR_INVALID_PARAMETER);
  void* address = nullptr;
  size_t size = 0;
  DWORD error = os_map(object->mapping(), (dwDesiredAccess & FILE_MAP_WRITE) != 0, &address, &size);
  if (error)
    return fail_handle(error);
  if (dwNumberOfBytesToMap > size) {
    os_unmap(address);
    return fail_handle(ERROR_ACCESS_DENIED);
  }
  return address;
}

BOOL UnmapViewOfFile(LPCVOID lpBaseAddress) {
  if (!lpBaseAddress || !os_unmap(const_cast<void*>(lpBaseAddress))) {
    SetLastError(ERROR_INVALID_ADDRESS);
    return FALSE;
  }
  return TRUE;
}

#include "posix/mapping.inc"
