// The frame of an in-process server over the module services, written once for every module: the
// class-table entries, the registry updater of a class, and the entry points. A module names its
// _ATL_MODULE and its class table, and expands DLL_MODULE_ENTRY_POINTS once, so that each module
// still exports its own DllCanUnloadNow, DllGetClassObject, DllRegisterServer and
// DllUnregisterServer, and has its own DllMain.
#pragma once

#include "atlcom.h"

// The loader finds the entry points by name. A Windows DLL exports them through its definition
// file, which leaves DllMain unexported.
#if defined(_WIN32)
#define DLL_MODULE_EXPORT extern "C"
#else
#define DLL_MODULE_EXPORT extern "C" __attribute__((visibility("default")))
#endif

// The registry updater of a class: runs registry script Script of Module's resources, adding
// the class's keys (bRegister nonzero) or removing them.
template <_ATL_MODULE* Module, WORD Script>
HRESULT dll_module_update_registry(BOOL bRegister) {
  return AtlModuleUpdateRegistryFromResourceD(Module, MAKEINTRESOURCEW(Script), bRegister,
                                              /*pMapEntries=*/nullptr, /*pReg=*/nullptr);
}

// The class-table entry of class clsid of Module, registered by registry script Script, whose
// instances creator makes, reached through the module's class object.
template <_ATL_MODULE* Module, WORD Script>
constexpr _ATL_OBJMAP_ENTRY dll_module_class(const CLSID* clsid, _ATL_CREATORFUNC* creator) {
  _ATL_OBJMAP_ENTRY entry{};
  entry.pclsid = clsid;
  entry.pfnUpdateRegistry = dll_module_update_registry<Module, Script>;
  entry.pfnGetClassObject = CComClassFactory<Module>::CreateClassObject;
  entry.pfnCreateInstance = creator;
  return entry;
}

// The entry that ends a class table.
inline constexpr _ATL_OBJMAP_ENTRY kDllModuleTableEnd{};

// DllMain starts module with class_table when the module is loaded and ends it when unloaded;
// DllCanUnloadNow is S_OK while no object or lock of the module is alive. The other three pass
// on to the module services.
#define DLL_MODULE_ENTRY_POINTS(module, class_table)                                           \
  DLL_MODULE_EXPORT BOOL DllMain(HINSTANCE instance, DWORD reason, LPVOID) {                   \
    if (reason == DLL_PROCESS_ATTACH) {                                                        \
      AtlModuleInit(&(module), (class_table), instance);                                       \
      DisableThreadLibraryCalls(instance);                                                     \
    } else if (reason == DLL_PROCESS_DETACH) {                                                 \
      AtlModuleTerm(&(module));                                                                \
    }                                                                                          \
    return TRUE;                                                                               \
  }                                                                                            \
  DLL_MODULE_EXPORT HRESULT DllCanUnloadNow() {                                                \
    return (module).m_nLockCnt == 0 ? S_OK : S_FALSE;                                          \
  }                                                                                            \
  DLL_MODULE_EXPORT HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {     \
    return AtlModuleGetClassObject(&(module), rclsid, riid, ppv);                              \
  }                                                                                            \
  DLL_MODULE_EXPORT HRESULT DllRegisterServer() {                                              \
    return AtlModuleRegisterServer(&(module), /*bRegTypeLib=*/TRUE, /*pCLSID=*/nullptr);       \
  }                                                                                            \
  DLL_MODULE_EXPORT HRESULT DllUnregisterServer() {                                            \
    return AtlModuleUnregisterServerEx(&(module), /*bUnRegTypeLib=*/TRUE, /*pCLSID=*/nullptr); \
  }
