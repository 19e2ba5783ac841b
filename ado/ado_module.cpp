// The database module: its class table (Connection, Command, Recordset), registration from its
// registry scripts and type library, and the entry points every in-process server exports.
#include "ado_object.h"
#include "command.h"
#include "connection.h"
#include "dll_module.h"
#include "recordset.h"

_ATL_MODULE g_ado_module;

namespace {

constexpr WORD kConnectionScript = 101;
constexpr WORD kCommandScript = 102;
constexpr WORD kRecordsetScript = 103;

_ATL_OBJMAP_ENTRY g_object_map[] = {
    dll_module_class<&g_ado_module, kConnectionScript>(&CLSID_Connection,
                                                       ConnectionObject::CreateInstance),
    dll_module_class<&g_ado_module, kCommandScript>(&CLSID_Command, CommandObject::CreateInstance),
    dll_module_class<&g_ado_module, kRecordsetScript>(&CLSID_Recordset,
                                                      RecordsetObject::CreateInstance),
    kDllModuleTableEnd,
};

}  // namespace

DLL_MODULE_ENTRY_POINTS(g_ado_module, g_object_map)
