// The shared settings block of KaMsUtil, realised as one named shared-memory block, mapped when
// the library loads. Its name is "KaMsUtil.Settings", or the value that KAMSUTIL_SETTINGS_NAME
// has when the library loads, which lets separate groups of processes (test runs side by side,
// for instance) keep separate blocks.
#include "ka_settings.h"

#include <cstdlib>
#include <cstring>
#include <mutex>

// The system's headers below need windows.h first.
#include "windows.h"

#include "handleapi.h"
#include "memoryapi.h"

namespace {

constexpr char kDefaultName[] = "KaMsUtil.Settings";

std::once_flag mapped;
KaSharedSettings* shared = nullptr;
// Stands in when the shared block cannot be mapped, so the library still works in one process.
KaSharedSettings private_block;

void map_block() {
  const char* name = std::getenv("KAMSUTIL_SETTINGS_NAME");
  if (!name || !*name)
    name = kDefaultName;
  HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                      sizeof(KaSharedSettings), name);
  if (!mapping)
    return;
  // The view keeps the block alive; the handle is not needed after it.
  shared = static_cast<KaSharedSettings*>(
      MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(KaSharedSettings)));
  CloseHandle(mapping);
}

}  // namespace

KaSharedSettings* ka_settings() {
  std::call_once(mapped, map_block);
  return shared ? shared : &private_block;
}

void ka_release_settings() {
  if (!shared)
    return;
  KaSharedSettings* block = shared;
  shared = nullptr;
  UnmapViewOfFile(block);
}

void ka_set_shared_text(char* field, const char* text) {
  size_t len = text ? std::strlen(text) : 0;
  if (len > kKaTextFieldSize - 1)
    len = kKaTextFieldSize - 1;
  std::memmove(field, text ? text : "", len);
  field[len] = '\0';
}
