// Private memory regions (VirtualAlloc, VirtualFree). The system calls are in
// posix/virtual_memory.inc; this file keeps the regions' sizes, which releasing needs.
#include <cstdint>
#include <map>
#include <mutex>
#include <new>

#include "errhandlingapi.h"
#include "memoryapi.h"
#include "winerror.h"

namespace {

void* os_reserve(size_t size);
void os_release(void* region, size_t size);
bool os_reset(void* first, size_t size);
size_t os_page_size();

struct Regions {
  std::mutex mutex;
  std::map<char*, size_t> sizes;
};

Regions& regions() {
  static Regions* r = new Regions();
  return *r;
}

LPVOID fail(DWORD error) {
  SetLastError(error);
  return nullptr;
}

}  // namespace

LPVOID VirtualAlloc(LPVOID lpAddress, SIZE_T dwSize, DWORD flAllocationType, DWORD flProtect) {
  if (dwSize == 0 || flProtect != PAGE_READWRITE)
    return fail(ERROR_INVALID_PARAMETER);
  if (flAllocationType == MEM_RESET) {
    // Whole pages of one region: the first is where lpAddress is, the last holds its last byte.
    char* const at = static_cast<char*>(lpAddress);
    const size_t page = os_page_size();
    char* const first = at - reinterpret_cast<uintptr_t>(at) % page;
    const size_t size = (static_cast<size_t>(at - first) + dwSize + page - 1) / page * page;
    Regions& r = regions();
    std::lock_guard<std::mutex> hold(r.mutex);
    auto region = r.sizes.upper_bound(first);
    if (!lpAddress || region == r.sizes.begin())
      return fail(ERROR_INVALID_PARAMETER);
    --region;
    if (first + size > region->first + region->second || !os_reset(first, size))
      return fail(ERROR_INVALID_PARAMETER);
    return lpAddress;
  }
  if (lpAddress || flAllocationType != (MEM_RESERVE | MEM_COMMIT))
    return fail(ERROR_INVALID_PARAMETER);
  Regions& r = regions();
  std::lock_guard<std::mutex> hold(r.mutex);
  void* region = os_reserve(dwSize);
  if (!region)
    return fail(ERROR_NOT_ENOUGH_MEMORY);
  try {
    r.sizes.emplace(static_cast<char*>(region), dwSize);
  } catch (const std::bad_alloc&) {
    os_release(region, dwSize);
    return fail(ERROR_NOT_ENOUGH_MEMORY);
  }
  return region;
}

BOOL VirtualFree(LPVOID lpAddress, SIZE_T dwSize, DWORD dwFreeType) {
  Regions& r = regions();
  std::lock_guard<std::mutex> hold(r.mutex);
  auto region = r.sizes.find(static_cast<char*>(lpAddress));
  if (dwFreeType != MEM_RELEASE || dwSize != 0 || region == r.sizes.end()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  os_release(region->first, region->second);
  r.sizes.erase(region);
  return TRUE;
}

#include "posix/virtual_memory.inc"
