// VtrlSrv's module frame: the entry function, the class table and the four exports.
#include "download.h"
#include "upload.h"

// The loader finds the entry points by name. A DLL exports them through its definition file
// (VtrlSrv.def), which leaves DllMain unexported.
#if defined(_WIN32)
#define VTRL_EXPORT extern "C"
#else
#define VTRL_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

HRESULT update_upload_registry(BOOL bRegister) {
  return AtlModuleUpdateRegistryFromResourceD(&g_vtrl_module, MAKEINTRESOURCEW(101), bRegister,
                                              nullptr, nullptr);
}

HRESULT update_download_registry(BOOL bRegister) {
  return AtlModuleUpdateRegistryFromResourceD(&g_vtrl_module, MAKEINTRESOURCEW(102), bRegister,
                                              nullptr, nullptr);
}

_ATL_OBJMAP_ENTRY g_object_map[] = {
    {&CLSID_KaFileUpload, update_upload_registry,
     CComClassFactory<&g_vtrl_module>::CreateClassObject, KaFileUpload::CreateInstance, nullptr, 0,
     nullptr, nullptr, nullptr},
    {&CLSID_KaFileDownLoad, update_download_registry,
     CComClassFactory<&g_vtrl_module>::CreateClassObject, KaFileDownLoad::CreateInstance, nullptr,
     0, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr, 0, nullptr, nullptr, nullptr}};

}  // namespace

VTRL_EXPORT BOOL DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    AtlModuleInit(&g_vtrl_module, g_object_map, instance);
    DisableThreadLibraryCalls(instance);
  } else if (reason == DLL_PROCESS_DETACH) {
    AtlModuleTerm(&g_vtrl_module);
  }
  return TRUE;
}

VTRL_EXPORT HRESULT DllCanUnloadNow() {
  return g_vtrl_module.m_nLockCnt == 0 ? S_OK : S_FALSE;
}

VTRL_EXPORT HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
  return AtlModuleGetClassObject(&g_vtrl_module, rclsid, riid, ppv);
}

VTRL_EXPORT HRESULT DllRegisterServer() {
  return AtlModuleRegisterServer(&g_vtrl_module, TRUE, nullptr);
}

VTRL_EXPORT HRESULT DllUnregisterServer() {
  return AtlModuleUnregisterServerEx(&g_vtrl_module, TRUE, nullptr);
}
