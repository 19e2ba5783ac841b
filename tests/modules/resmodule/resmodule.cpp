// A module with a resource table and DllMain, loaded by the module-service tests.
#include "libloaderapi.h"

#define TEST_EXPORT extern "C" __attribute__((visibility("default")))

extern "C" {
__attribute__((visibility("default"))) int g_attach_count = 0;
__attribute__((visibility("default"))) int g_detach_count = 0;
__attribute__((visibility("default"))) int g_refuse_attach = 0;
}

TEST_EXPORT BOOL DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    ++g_attach_count;
    return g_refuse_attach ? FALSE : TRUE;
  }
  if (reason == DLL_PROCESS_DETACH)
    ++g_detach_count;
  return TRUE;
}

TEST_EXPORT int ModuleAnswer() {
  return 42;
}
