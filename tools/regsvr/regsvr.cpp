// regsvr: registers or unregisters an in-process server module by calling its
// DllRegisterServer or DllUnregisterServer.
//
//   regsvr [-u] [-s] MODULE
//
// Exit status: 0 done; 1 bad arguments; 3 the module cannot be loaded; 4 it lacks the entry
// point; 5 the entry point failed (its status is printed).
#include <cstdio>
#include <cstring>
#include <string>

#include "windows.h"

namespace {

typedef HRESULT (*RegisterProc)();

int usage() {
  std::fprintf(stderr,
               "usage: regsvr [-u] [-s] MODULE\n"
               "  Registers MODULE (calls its DllRegisterServer), or with -u unregisters it\n"
               "  (DllUnregisterServer). -s prints nothing on success. The registry file is\n"
               "  PLATFORM_REGISTRY, or the platform's default.\n");
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  bool unregister = false;
  bool silent = false;
  const char* module_path = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "-u") || !std::strcmp(argv[i], "/u")) {
      unregister = true;
    } else if (!std::strcmp(argv[i], "-s") || !std::strcmp(argv[i], "/s")) {
      silent = true;
    } else if (argv[i][0] != '-' && !module_path) {
      module_path = argv[i];
    } else {
      return usage();
    }
  }
  if (!module_path)
    return usage();

  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  HMODULE module = LoadLibraryA(module_path);
  if (!module) {
    std::fprintf(stderr, "regsvr: cannot load %s (error %u)\n", module_path,
                 static_cast<unsigned>(GetLastError()));
    return 3;
  }
  const char* entry = unregister ? "DllUnregisterServer" : "DllRegisterServer";
  auto proc =
      reinterpret_cast<RegisterProc>(reinterpret_cast<void (*)()>(GetProcAddress(module, entry)));
  if (!proc) {
    std::fprintf(stderr, "regsvr: %s has no %s\n", module_path, entry);
    FreeLibrary(module);
    return 4;
  }
  const HRESULT hr = proc();
  FreeLibrary(module);
  CoUninitialize();
  if (FAILED(hr)) {
    std::fprintf(stderr, "regsvr: %s of %s failed: 0x%08X\n", entry, module_path,
                 static_cast<unsigned>(hr));
    return 5;
  }
  if (!silent)
    std::printf("regsvr: %s of %s succeeded\n", entry, module_path);
  return 0;
}
