// The database module: its class table (Connection, Command, Recordset), registration from its
// registry scripts and type library, and the entry points every in-process server exports.
#include "ado_object.h"
#include "command.h"
#include "connection.h"
#include "recordset.h"

#define ADO_EXPORT extern "C" __attribute__((visibility("default")))

_ATL_MODULE g_ado_module;

namespace {

constexpr WORD kConnectionScript = 101;
constexpr WORD kCommandScript = 102;
constexpr WORD kRecordsetScript = 103;

template <WORD Script>
HRESULT update_registry(BOOL bRegister) {
  return AtlModuleUpdateRegistryFromResourceD(&g_ado_module, MAKEINTRESOURCEW(Script), bRegister,
                                              nullptr, nullptr);
}

_ATL_OBJMAP_ENTRY g_object_map[] = {
    {&CLSID_Connection, update_registry<kConnectionScript>,
     CComClassFactory<&g_ado_module>::CreateClassObject, ConnectionObject::CreateInstance, nullptr,
     0, nullptr, nullptr, nullptr},
    {&CLSID_Command, update_registry<kCommandScript>,
     CComClassFactory<&g_ado_module>::CreateClassObject, CommandObject::CreateInstance, nullptr, 0,
     nullptr, nullptr, nullptr},
    {&CLSID_Recordset, update_registry<kRecordsetScript>,
     CComClassFactory<&g_ado_module>::CreateClassObject, RecordsetObject::CreateInstance, nullptr,
     0, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr, 0, nullptr, nullptr, nullptr}};

}  // namespace

ADO_EXPORT BOOL DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    AtlModuleInit(&g_ado_module, g_object_map, instance);
    DisableThreadLibraryCalls(instance);
  } else if (reason == DLL_PROCESS_DETACH) {
    AtlModuleTerm(&g_ado_module);
  }
  return TRUE;
}

ADO_EXPORT HRESULT DllCanUnloadNow() {
  return g_ado_module.m_nLockCnt == 0 ? S_OK : S_FALSE;
}

ADO_EXPORT HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
  return AtlModuleGetClassObject(&g_ado_module, rclsid, riid, ppv);
}

ADO_EXPORT HRESULT DllRegisterServer() {
  return AtlModuleRegisterServer(&g_ado_module, TRUE, nullptr);
}

ADO_EXPORT HRESULT DllUnregisterServer() {
  return AtlModuleUnregisterServerEx(&g_ado_module, TRUE, nullptr);
}
